// Real processes appending to one custom database: killed at random moments, or racing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <set>
#include <thread>

#include "core/chipsight_core.h"
#include "core/crc32.h"
#include "tests/support/expected_texts.h"
#include "tests/support/process.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

// `count` --add options: entry k has checksum base + k and the name "<tag><k>".
std::vector<std::string> additions(const std::string& db, const std::string& tag,
                                   std::uint32_t base, int count) {
    std::vector<std::string> args = {CHIPSIGHT_CLI, "--db-dir", db};
    for (int k = 0; k < count; ++k) {
        char crc[16];
        std::snprintf(crc, sizeof crc, "%X", base + std::uint32_t(k));
        args.insert(args.end(), {"--add", crc, "64", tag + std::to_string(k), "added by " + tag});
    }
    return args;
}

// Loads the directory's custom database and checks that every record is one written whole:
// entry k of a run carries k in the low bits of its checksum and in its name.
std::size_t checkedRecords(const testing::TempDir& db, const std::string& tag) {
    testing::CoreFixture f(db);
    f.core.loadDatabases();
    EXPECT_TRUE(f.frontEnd.boxes().empty());
    for (std::size_t i = 0; i < f.core.m_entries.size(); ++i) {
        const RomEntry& e = f.core.m_entries[i];
        EXPECT_EQ(e.nameText(), tag + std::to_string(e.crc & 0xFFFF)) << "record " << i;
        EXPECT_EQ(e.size, 64u);
        EXPECT_EQ(e.descriptionText(), "added by " + tag);
    }
    return f.core.m_entries.size();
}

TEST(Processes, KilledAppendersLeaveOnlyWholeRecords) {
    testing::TempDir db;
    std::mt19937 rng(1234);
    std::size_t before = 0;
    for (int round = 0; round < 50; ++round) {
        // Each round starts where the last stopped: the next append realigns a cut record.
        const std::uint32_t base = 0x10000u * std::uint32_t(round + 1);
        const pid_t child = testing::startProcess(additions(db.path().string(), "R", base, 400));
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % 20000));
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        const std::size_t now = checkedRecords(db, "R");
        ASSERT_GE(now, before) << "round " << round << ": a record stored before was lost";
        before = now;
    }
    // Whatever the last kill left, one more append lands on the grid.
    const auto run = testing::runProcess(additions(db.path().string(), "R", 0xFF0000u, 1));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(std::filesystem::file_size(db.file("Chipsight.dat")) % 108, 0u);
    EXPECT_EQ(checkedRecords(db, "R"), before + 1);
}

TEST(Processes, ADatabaseLargerThanMemoryGivesItsMessageAndTheFilesAreStillIdentified) {
    for (const std::string file : {"CHIPLORE.ROM", "Chipsight.dat"}) {
        testing::TempDir db;
        testing::writeFile(db.file("CHIPLORE.GAM"), testing::gameBytes("Game"));
        testing::writeFile(db.file(file), testing::Bytes());
        std::filesystem::resize_file(db.file(file), 100ull << 30);  // sparse: costs no disk
        testing::writeFile(db.file("a.bin"), testing::Bytes(16, 1));
        const auto run =
            testing::runProcess({CHIPSIGHT_CLI, "--db-dir", db.path().string(), db.file("a.bin")});
        EXPECT_EQ(run.status, 2) << file;
        EXPECT_EQ(run.err, "chipsight-cli: Error: Failed reading " + file + "!\n");
        EXPECT_NE(run.out.find("a.bin:[52A028B7] Not Found!"), std::string::npos) << run.out;
    }
}

TEST(Processes, CopiesIdentifyingAtOnceWhileAnotherAppendsAllFindTheChip) {
    testing::TempDir db;
    testing::Bytes image(64 * 1024);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = std::uint8_t(i * 7 + i / 251);
    testing::writeFile(db.file("image.bin"), image);
    const std::uint32_t crc = Crc32(0, image.data(), std::uint32_t(image.size()));
    // A million chips, the one that matches last.
    testing::Bytes roms;
    roms.reserve(1000000 * 28);
    for (std::uint32_t i = 1; i < 1000000; ++i)
        testing::append(
            roms, testing::romTableBytes(0, testing::numbered("C", i), i * 2654435761u, 65536));
    testing::append(roms, testing::romTableBytes(0, "KNOWN", crc, 65536));
    testing::writeFile(db.file("CHIPLORE.ROM"), roms);
    testing::writeFile(db.file("CHIPLORE.GAM"), testing::gameBytes("The game"));

    testing::Child appender({CHIPSIGHT_APPENDER, db.file("Chipsight.dat"), "100000", "400"});
    ASSERT_EQ(appender.readLine(), "added 00100000");
    std::vector<testing::ProcessResult> runs(8);
    std::vector<std::thread> copies;
    for (auto& run : runs)
        copies.emplace_back([&] {
            run = testing::runProcess(
                {CHIPSIGHT_CLI, "--db-dir", db.path().string(), db.file("image.bin")});
        });
    for (auto& copy : copies) copy.join();
    EXPECT_EQ(appender.finish().status, 0);
    for (const auto& run : runs) {
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("- KNOWN : The game"), std::string::npos) << run.out;
    }
}

}  // namespace
}  // namespace chipsight
