// Real processes appending to one custom database: killed at random moments, or racing.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <set>
#include <thread>

#include "core/chipsight_core.h"
#include "tests/support/process.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

// `count` --add options: entry k has checksum base + k and the name "<tag><k>".
std::vector<std::string> additions(const std::string& db, const std::string& tag, std::uint32_t base, int count) {
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

TEST(Processes, TwoAppendersAtOnceEndWithEveryRecordWhole) {
    testing::TempDir db;
    // Each appender adds its 500 entries one process at a time, and tries again when the other
    // holds the file ("Cannot Open Chipsight.dat!").
    const auto appender = [&](const std::string& tag, std::uint32_t base) {
        for (int k = 0; k < 500; ++k) {
            std::vector<std::string> args = additions(db.path().string(), tag, base + std::uint32_t(k), 1);
            args[args.size() - 2] = tag + std::to_string(k);
            for (int attempt = 0;; ++attempt) {
                const auto run = testing::runProcess(args);
                if (run.status == 0) break;
                ASSERT_EQ(run.err, "chipsight-cli: Error: Cannot Open Chipsight.dat!\n");
                ASSERT_LT(attempt, 1000);
            }
        }
    };
    std::thread a(appender, "A", 0x100000u), b(appender, "B", 0x200000u);
    a.join();
    b.join();
    testing::CoreFixture f(db);
    f.core.loadDatabases();
    ASSERT_EQ(f.core.m_entries.size(), 1000u);
    std::set<std::string> names;
    for (const RomEntry& e : f.core.m_entries) {
        const std::string name(e.nameText());
        EXPECT_EQ(name, std::string(e.crc >= 0x200000u ? "B" : "A") + std::to_string(e.crc & 0xFFFF));
        EXPECT_EQ(e.descriptionText(), std::string("added by ") + name[0]);
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 1000u) << "each entry exactly once";
}

}  // namespace
}  // namespace chipsight
