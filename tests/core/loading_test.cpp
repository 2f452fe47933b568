// Loading the three database files: load order, counts, the title, and every failure.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include "core/chipsight_core.h"
#include "tests/support/expected_texts.h"
#include "tests/support/fault_injection.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using testing::box;
using testing::Bytes;
using testing::title;

class Loading : public ::testing::Test {
  protected:
    // `n` chip records, chip k named "C<k>" of game k % games.
    void writeChips(int n, int games = 2, const std::string& romName = "CHIPLORE.ROM",
                    const std::string& gamName = "CHIPLORE.GAM") {
        Bytes roms, gameTable;
        for (int k = 0; k < n; ++k)
            testing::append(
                roms, testing::romTableBytes(std::int16_t(k % games), testing::numbered("C", k),
                                             0x1000u + std::uint32_t(k), 1024));
        for (int g = 0; g < games; ++g)
            testing::append(gameTable, testing::gameBytes("Game " + std::to_string(g)));
        testing::writeFile(dir.file(romName), roms);
        if (!gamName.empty()) testing::writeFile(dir.file(gamName), gameTable);
    }
    void writeCustom(int n, std::size_t extraBytes = 0) {
        Bytes custom;
        for (int k = 0; k < n; ++k)
            testing::append(custom, testing::romEntryBytes(0x2000u + std::uint32_t(k), 2048,
                                                           testing::numbered("X", k), "Mine"));
        custom.resize(custom.size() + extraBytes, 0x55);
        testing::writeFile(dir.file("Chipsight.dat"), custom);
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& e : fixture.core.m_entries) out.emplace_back(e.nameText());
        return out;
    }
    void load() { fixture.core.loadDatabases(); }

    testing::TempDir dir;
    testing::CoreFixture fixture{dir};
    testing::BoundCore& core = fixture.core;
    testing::RecordingFrontEnd& ui = fixture.frontEnd;
};

TEST_F(Loading, NoFilesAtAllIsQuiet) {
    load();
    EXPECT_TRUE(ui.boxes().empty());
    EXPECT_TRUE(core.m_entries.empty());
    EXPECT_EQ(ui.title, title(0));
    EXPECT_EQ(core.m_programDir, dir.path().string());
}

TEST_F(Loading, CustomRecordsComeFirstThenChipsInFileOrder) {
    writeCustom(3);
    writeChips(5);
    load();
    EXPECT_TRUE(ui.boxes().empty());
    EXPECT_EQ(names(), (std::vector<std::string>{"X0", "X1", "X2", "C0", "C1", "C2", "C3", "C4"}));
    EXPECT_EQ(core.m_entries[4].descriptionText(), "Game 1");
    EXPECT_EQ(core.m_entries[5].descriptionText(), "Game 0");
    EXPECT_EQ(ui.title, title(8));
    // The split level is reset and pushed before anything is read; the title comes last.
    ASSERT_FALSE(ui.calls.empty());
    EXPECT_EQ(ui.calls.front().what, "push");
    EXPECT_EQ(ui.calls.back(), testing::Call("setTitle", title(8)));
}

TEST_F(Loading, TrailingPartialRecordsAreIgnoredSilently) {
    writeCustom(2, 34);  // 250 bytes
    Bytes roms;
    for (int k = 0; k < 3; ++k) testing::append(roms, testing::romTableBytes(0, "R", 1, 1));
    roms.resize(100, 0x77);
    testing::writeFile(dir.file("CHIPLORE.ROM"), roms);
    testing::writeFile(dir.file("CHIPLORE.GAM"), testing::gameBytes("G"));
    load();
    EXPECT_TRUE(ui.boxes().empty());
    EXPECT_EQ(core.m_entries.size(), 5u);
    EXPECT_EQ(ui.title, title(5));
}

TEST_F(Loading, OnlyTheGameTableLoadsNothing) {
    testing::writeFile(dir.file("CHIPLORE.GAM"), testing::gameBytes("G"));
    load();
    EXPECT_TRUE(ui.boxes().empty());
    EXPECT_TRUE(core.m_entries.empty());
}

TEST_F(Loading, MissingGameTableDropsTheChipsButNotTheCustomRecords) {
    writeCustom(2);
    writeChips(4, 2, "CHIPLORE.ROM", "");
    load();
    EXPECT_EQ(
        ui.boxes(),
        (std::vector<testing::Call>{box(expected::kCannotOpenGameTable, "Error", MB_ICONSTOP)}));
    EXPECT_EQ(names(), (std::vector<std::string>{"X0", "X1"}));
    EXPECT_EQ(ui.title, title(2));
}

TEST_F(Loading, EmptyChipTable) {
    testing::writeFile(dir.file("CHIPLORE.ROM"), Bytes{});
    load();
    EXPECT_EQ(ui.boxes().size(), 1u) << "the game table is still needed";
    testing::writeFile(dir.file("CHIPLORE.GAM"), Bytes{});
    testing::CoreFixture again(dir);
    again.core.loadDatabases();
    EXPECT_TRUE(again.frontEnd.boxes().empty());
    EXPECT_EQ(again.frontEnd.title, title(0));
}

TEST_F(Loading, ShortReadOfTheChipTableSkipsTheGameTable) {
    writeCustom(1);
    writeChips(5);
    testing::FileFaults faults;
    faults.limitReads("CHIPLORE.ROM", 28 * 5 - 1);
    {
        testing::InjectedFaults injected(faults);
        load();
    }
    EXPECT_EQ(
        ui.boxes(),
        (std::vector<testing::Call>{box(expected::kFailedReadingRomTable, "Error", MB_ICONSTOP)}));
    EXPECT_EQ(faults.opens("CHIPLORE.GAM"), 0);
    EXPECT_EQ(names(), (std::vector<std::string>{"X0"}));
    EXPECT_EQ(ui.title, title(1));
}

TEST_F(Loading, TrailingBytesAreNeverReadSoTheyCannotFail) {
    writeCustom(2, 30);
    testing::FileFaults faults;
    faults.limitReads("Chipsight.dat", 2 * 108, EIO);
    {
        testing::InjectedFaults injected(faults);
        load();
    }
    EXPECT_TRUE(ui.boxes().empty());
    EXPECT_EQ(ui.title, title(2));
}

TEST_F(Loading, NamesDifferingOnlyInCaseAreFound) {
    writeChips(2, 1, "chiplore.rom", "Chiplore.Gam");
    Bytes custom = testing::romEntryBytes(9, 9, "Mine", "");
    testing::writeFile(dir.file("CHIPSIGHT.DAT"), custom);
    load();
    EXPECT_TRUE(ui.boxes().empty());
    EXPECT_EQ(names(), (std::vector<std::string>{"Mine", "C0", "C1"}));
}

TEST_F(Loading, ExactNameWinsOverACaseVariant) {
    testing::writeFile(dir.file("Chipsight.dat"), testing::romEntryBytes(1, 1, "exact", ""));
    testing::writeFile(dir.file("chipsight.DAT"), testing::romEntryBytes(2, 2, "variant", ""));
    load();
    EXPECT_EQ(names(), (std::vector<std::string>{"exact"}));
}

TEST_F(Loading, DuplicatePairsStayInLoadOrder) {
    testing::writeFile(dir.file("Chipsight.dat"),
                       testing::romEntryBytes(0xAA, 16, "mine", "custom"));
    testing::writeFile(dir.file("CHIPLORE.ROM"), testing::romTableBytes(0, "theirs", 0xAA, 16));
    testing::writeFile(dir.file("CHIPLORE.GAM"), testing::gameBytes("chip"));
    load();
    ASSERT_EQ(names(), (std::vector<std::string>{"mine", "theirs"}));
    const Report r = buildManualReport(core.m_entries, 0xAA, 16, "L");
    EXPECT_EQ(r.block,
              "============================\r\nL: [AA]\r\n\t- mine : custom\r\n\t- theirs : chip");
}

}  // namespace
}  // namespace chipsight
