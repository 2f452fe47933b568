// Adding custom entries: the checks, the record on disk, and nothing lost on any failure.
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

class CustomEntry : public ::testing::Test {
  protected:
    void SetUp() override { core.loadDatabases(); }
    std::string dat() const { return dir.file("Chipsight.dat"); }

    testing::TempDir dir;
    testing::CoreFixture fixture{dir};
    testing::BoundCore& core = fixture.core;
    testing::RecordingFrontEnd& ui = fixture.frontEnd;
};

TEST_F(CustomEntry, EveryCheckRunsInOrderAndNothingIsWritten) {
    ui.calls.clear();
    EXPECT_FALSE(core.appendCustomEntry("", "", "", ""));
    EXPECT_EQ(ui.boxes(),
              (std::vector<testing::Call>{
                  box(expected::kBadChecksum, "Validation Error!", MB_ICONEXCLAMATION),
                  box(expected::kBadSize, "Validation Error!", MB_ICONEXCLAMATION),
                  box(expected::kEmptyName, "Validation Error!", MB_ICONEXCLAMATION),
                  box(expected::kEmptyDescription, "Validation Error!", MB_ICONEXCLAMATION)}));
    EXPECT_FALSE(std::filesystem::exists(dat()));
    EXPECT_FALSE(core.appendCustomEntry("00000000", "16", "n", "d"));
    EXPECT_FALSE(core.appendCustomEntry("1", "0x0", "n", "d"));
    EXPECT_TRUE(core.m_entries.empty());
}

TEST_F(CustomEntry, TheFirstEntryCreatesTheFileAndReachesTheTable) {
    const std::string name18 = "ABCDEFGHIJKLMNOPQR";
    EXPECT_TRUE(core.appendCustomEntry("1abcd", "-1", name18, "   "));
    Bytes expected = testing::romEntryBytes(0x1ABCD, 0xFFFFFFFF, name18, "   ");
    EXPECT_EQ(testing::readFile(dat()), expected);
    ASSERT_EQ(core.m_entries.size(), 1u);
    EXPECT_EQ(core.m_entries[0].nameText(), name18);
    EXPECT_EQ(ui.title, title(1));

    // The same values again: a second record, a second entry, both reported.
    EXPECT_TRUE(core.appendCustomEntry("1ABCD", "4294967295", name18, "   "));
    testing::append(expected, expected);
    EXPECT_EQ(testing::readFile(dat()), expected);
    EXPECT_EQ(ui.title, title(2));
    EXPECT_EQ(buildManualReport(core.m_entries, 0x1ABCD, 0xFFFFFFFF, "L").block,
              "============================\r\nL: [1ABCD]\r\n\t- " + name18 + " :    \r\n\t- " +
                  name18 + " :    ");

    // After a restart they load back ahead of the chips, byte for byte.
    testing::CoreFixture restarted(dir);
    restarted.core.loadDatabases();
    EXPECT_EQ(restarted.core.m_entries, core.m_entries);
}

TEST_F(CustomEntry, AddedEntriesComeAfterLoadedOnes) {
    testing::writeFile(dir.file("CHIPLORE.ROM"), testing::romTableBytes(0, "CHIP", 0x77, 8));
    testing::writeFile(dir.file("CHIPLORE.GAM"), testing::gameBytes("Game"));
    testing::CoreFixture f(dir);
    f.core.loadDatabases();
    ASSERT_TRUE(f.core.appendCustomEntry("77", "8", "MINE", "Added"));
    EXPECT_EQ(buildManualReport(f.core.m_entries, 0x77, 8, "L").block,
              "============================\r\nL: [77]\r\n\t- CHIP : Game\r\n\t- MINE : Added");
    testing::CoreFixture restarted(dir);
    restarted.core.loadDatabases();
    EXPECT_EQ(buildManualReport(restarted.core.m_entries, 0x77, 8, "L").block,
              "============================\r\nL: [77]\r\n\t- MINE : Added\r\n\t- CHIP : Game");
}

TEST_F(CustomEntry, UnopenableFileChangesNothing) {
    lockWaitLimit() = std::chrono::milliseconds(20);
    const int fd = ::open(dat().c_str(), O_RDWR | O_CREAT, 0644);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);  // another running copy holds it
    ui.calls.clear();
    EXPECT_FALSE(core.appendCustomEntry("1234", "16", "n", "d"));
    ::close(fd);
    EXPECT_EQ(ui.calls,
              (std::vector<testing::Call>{box(expected::kCannotOpenCustom, "Error", MB_ICONSTOP)}));
    EXPECT_TRUE(core.m_entries.empty());
    EXPECT_EQ(core.m_entryCount, 0);

    std::filesystem::remove(dat());
    testing::FileFaults faults;
    faults.refuseOpen("Chipsight.dat");
    testing::InjectedFaults injected(faults);
    EXPECT_FALSE(core.appendCustomEntry("1234", "16", "n", "d"));
    EXPECT_EQ(ui.boxes().back(), box(expected::kCannotOpenCustom, "Error", MB_ICONSTOP));
    EXPECT_FALSE(std::filesystem::exists(dat()));
    lockWaitLimit() = std::chrono::milliseconds(5000);
}

TEST_F(CustomEntry, FailedWritesLeaveTheFileOnItsGrid) {
    ASSERT_TRUE(core.appendCustomEntry("AAAA", "16", "first", "kept"));
    const Bytes before = testing::readFile(dat());
    const testing::Call failed = box(expected::kFailedWritingCustom, "Error", MB_ICONSTOP);
    for (std::size_t stored = 0; stored < 108; ++stored) {
        testing::FileFaults faults;
        faults.limitWrites("Chipsight.dat", stored);
        testing::InjectedFaults injected(faults);
        ui.calls.clear();
        EXPECT_FALSE(core.appendCustomEntry("BBBB", "16", "second", "lost"));
        ASSERT_EQ(ui.boxes(), std::vector<testing::Call>{failed}) << stored;
        ASSERT_EQ(testing::readFile(dat()), before) << stored;
    }
    for (const bool flush : {true, false}) {
        testing::FileFaults faults;
        flush ? faults.failSync("Chipsight.dat") : faults.failClose("Chipsight.dat");
        testing::InjectedFaults injected(faults);
        ui.calls.clear();
        EXPECT_FALSE(core.appendCustomEntry("BBBB", "16", "second", "lost"));
        EXPECT_EQ(ui.boxes(), std::vector<testing::Call>{failed});
        EXPECT_EQ(testing::readFile(dat()), before) << (flush ? "flush" : "close");
    }
    EXPECT_EQ(core.m_entries.size(), 1u);
    EXPECT_EQ(core.m_entryCount, 1);
    EXPECT_EQ(ui.title, title(1));
}

TEST_F(CustomEntry, APartialRecordLeftByAnEarlierRunIsCutAway) {
    Bytes file = testing::romEntryBytes(1, 1, "whole", "record");
    const std::size_t whole = file.size();
    file.resize(whole + 40, 0x33);
    testing::writeFile(dat(), file);
    ASSERT_TRUE(core.appendCustomEntry("2", "2", "next", "record"));
    const Bytes after = testing::readFile(dat());
    ASSERT_EQ(after.size(), 216u);
    testing::CoreFixture restarted(dir);
    restarted.core.loadDatabases();
    ASSERT_EQ(restarted.core.m_entries.size(), 2u);
    EXPECT_EQ(restarted.core.m_entries[1].nameText(), "next");
}

}  // namespace
}  // namespace chipsight
