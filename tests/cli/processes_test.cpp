// Real processes sharing one database: appenders killed at random moments, copies identifying
// at once while another appends, and a database larger than memory.
#include <gtest/gtest.h>
#include <signal.h>

#include <random>
#include <thread>

#include "core/crc32.h"
#include "tests/support/process.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using namespace testing;

TEST(Processes, KilledAppendersLeaveOnlyWholeRecords) {
    TempDir db;
    std::mt19937 rng(1234);
    std::size_t before = 0;
    // Each round starts where the last stopped: the next append realigns a cut record.
    for (int round = 0; round <= 50; ++round) {
        std::vector<std::string> args = {CHIPSIGHT_CLI, "--db-dir", db.path().string()};
        for (int k = 0; k < (round < 50 ? 400 : 1); ++k) {
            char crc[16];
            std::snprintf(crc, sizeof crc, "%X", 0x10000 * (round + 1) + k);
            args.insert(args.end(), {"--add", crc, "64", numbered("R", k), "mine"});
        }
        Child child(args);
        if (round < 50) {
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 20000));
            ::kill(child.pid(), SIGKILL);
        }
        const int status = child.finish().status;
        if (round == 50) {
            ASSERT_EQ(status, 0);
            EXPECT_EQ(std::filesystem::file_size(db.file("Chipsight.dat")) % 108, 0u);
        }
        CoreFixture f(db);
        f.core.loadDatabases();
        ASSERT_TRUE(f.frontEnd.boxes().empty());
        // Entry k of a run carries k in its name and in the low bits of its checksum (read as hex).
        for (const RomEntry& e : f.core.m_entries)
            ASSERT_EQ(std::string(e.nameText()) + "," + std::string(e.descriptionText()),
                      "R" + std::to_string(e.crc & 0xFFFF) + ",mine")
                << std::hex << e.crc;
        ASSERT_GE(f.core.m_entries.size(), before + (round == 50))
            << "round " << round << ": a record stored before was lost";
        before = f.core.m_entries.size();
    }
}

TEST(Processes, ADatabaseLargerThanMemoryGivesItsMessageAndTheFilesAreStillIdentified) {
    for (const std::string file : {"CHIPLORE.ROM", "Chipsight.dat"}) {
        TempDir db;
        writeFile(db.file("CHIPLORE.GAM"), gameBytes("Game"));
        writeFile(db.file(file), Bytes());
        std::filesystem::resize_file(db.file(file), 100ull << 30);  // sparse: costs no disk
        writeFile(db.file("a.bin"), Bytes(16, 1));
        const auto run =
            runProcess({CHIPSIGHT_CLI, "--db-dir", db.path().string(), db.file("a.bin")});
        EXPECT_EQ(run.err, "chipsight-cli: Error: Failed reading " + file + "!\n");
        EXPECT_NE(run.out.find("a.bin:[52A028B7] Not Found!"), std::string::npos) << run.out;
        EXPECT_EQ(run.status, 2) << file;
    }
}

TEST(Processes, CopiesIdentifyingAtOnceWhileAnotherAppendsAllFindTheChip) {
    TempDir db;
    Bytes image(64 * 1024);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = std::uint8_t(i * 7 + i / 251);
    writeFile(db.file("image.bin"), image);
    // A million chips, the one that matches last.
    Bytes roms;
    roms.reserve(1000000 * 28);
    for (std::uint32_t i = 1; i < 1000000; ++i)
        append(roms, romTableBytes(0, "C", i * 2654435761u, 65536));
    append(roms,
           romTableBytes(0, "KNOWN", Crc32(0, image.data(), std::uint32_t(image.size())), 65536));
    writeFile(db.file("CHIPLORE.ROM"), roms);
    writeFile(db.file("CHIPLORE.GAM"), gameBytes("The game"));
    Child appender({CHIPSIGHT_APPENDER, db.file("Chipsight.dat"), "100000", "400"});
    ASSERT_EQ(appender.readLine(), "added 00100000");
    std::vector<ProcessResult> runs(8);
    std::vector<std::thread> copies;
    for (auto& run : runs)
        copies.emplace_back([&] {
            run = runProcess({CHIPSIGHT_CLI, "--db-dir", db.path().string(), db.file("image.bin")});
        });
    for (auto& copy : copies) copy.join();
    EXPECT_EQ(appender.finish().status, 0);
    for (const auto& run : runs) {
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_NE(run.out.find("- KNOWN : The game"), std::string::npos);
    }
}

}  // namespace
}  // namespace chipsight
