// The chip table and the custom file compiled in the cache: a start that finds them compiled
// gives the table their files give, reads of the custom file only what was appended, and
// trusts nothing damaged or made for other records.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <random>
#include <thread>

#include "core/databases/custom_db.h"
#include "tests/support/fault_injection.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using namespace testing;

class TableRuns : public ::testing::Test {
  protected:
    // `count` records of each file, of checksums drawn from `seed`: some pairs repeat, so the
    // index has rings to keep. Settled, the files are older than the step of their times, so
    // that a compiled run can know them by their identity.
    void writeTables(int count, std::uint32_t seed, bool settled = false) {
        std::mt19937 rng(seed);
        Bytes roms, custom;
        for (int i = 0; i < count; ++i) {
            const std::uint32_t crc = rng() % (count / 2);
            append(roms, romTableBytes(std::int16_t(i % 3), numbered("C", i), crc, 1024));
            append(custom, romEntryBytes(crc, 1024, numbered("X", i), "mine"));
        }
        writeFile(dir.file("CHIPLORE.ROM"), roms);
        writeFile(dir.file("CHIPLORE.GAM"), join({gameBytes("G0"), gameBytes("G1")}));
        writeFile(dir.file("Chipsight.dat"), custom);
        if (settled) std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    }

    // Loads the directory with `cache` as the cache, `faults` in force, and checks that the
    // table and every lookup are those of the files read without a cache; returns the boxes.
    Calls loadAndCompare(const std::string& cache, FileFaults faults = {}) {
        ::setenv("XDG_CACHE_HOME", dir.file("fresh" + std::to_string(fresh++)).c_str(), 1);
        CoreFixture expected(dir);
        expected.core.loadDatabases();
        ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
        CoreFixture f(dir);
        {
            InjectedFaults injected(std::move(faults));
            f.core.loadDatabases();
        }
        // The lookups first, before anything else has read (and checked) the compiled runs.
        for (std::uint32_t crc = 0; crc < 64; ++crc) {
            std::vector<std::size_t> got, want;
            f.core.m_entries.forEachMatch(
                crc, 1024, [&](const RomEntry&, std::size_t at) { got.push_back(at); });
            expected.core.m_entries.forEachMatch(
                crc, 1024, [&](const RomEntry&, std::size_t at) { want.push_back(at); });
            EXPECT_EQ(got, want) << crc;
        }
        EXPECT_TRUE(f.core.m_entries == expected.core.m_entries);
        EXPECT_EQ(f.core.m_entryCount, expected.core.m_entryCount);
        return f.frontEnd.boxes();
    }
    // Appends entry `k` to the custom file, as another program may have done since.
    void appendNew(std::uint32_t k) {
        ASSERT_EQ(
            appendRecord(dir.file("Chipsight.dat"), makeEntry(k, 1024, numbered("NEW", k), "")),
            AppendResult::Added);
    }
    std::vector<fs::path> runFiles() const {
        std::vector<fs::path> out;
        for (const auto& f : fs::directory_iterator(dir.file("cache/chipsight")))
            if (f.path().extension() == ".runs") out.push_back(f.path());
        return out;
    }

    TempDir dir;
    const ScopedEnv cacheHome{"XDG_CACHE_HOME", dir.file("cache").c_str()};
    int fresh = 0;
};

TEST_F(TableRuns, AStartReadsOnlyWhatWasAppendedAndTrustsNothingElse) {
    writeTables(120, 1, true);
    const std::string cache = dir.file("cache");
    // A cache that cannot be written (its folder would lie under a file) costs only time.
    EXPECT_TRUE(loadAndCompare(dir.file("CHIPLORE.GAM") + "/cache").empty());
    EXPECT_TRUE(loadAndCompare(cache).empty());
    ASSERT_EQ(runFiles().size(), 2u);
    // As they were: nothing of either file is read again.
    CoreFixture unread(dir);
    for (const char* name : {"CHIPLORE.ROM", "Chipsight.dat"}) {
        InjectedFaults injected({.name = name, .readLimit = 0});
        unread.core.loadDatabases();
        unread.core.m_entries.clear();
    }
    EXPECT_TRUE(unread.frontEnd.boxes().empty());

    // Appended since: the compiled start stands, and only the chunks that tell it is the same
    // start and the new records are read.
    for (std::uint32_t k = 0; k < 3; ++k) appendNew(k);
    EXPECT_TRUE(
        loadAndCompare(cache, {.name = "Chipsight.dat", .readLimit = 2 * 4096 + 3 * 108}).empty());

    // A byte changed anywhere in a compiled file costs time, never an answer. Each time the
    // files are compiled anew, and the custom file grows, so that its compiled start stands.
    std::uint32_t k = 3;
    for (const double where : {0.01, 0.2, 0.5, 0.7, 0.9, 0.99}) {
        for (const fs::path& run : runFiles()) fs::remove(run);
        loadAndCompare(cache);
        appendNew(k++);
        for (const fs::path& run : runFiles()) {
            Bytes bytes = readFile(run.string());
            bytes[std::size_t(double(bytes.size()) * where)] ^= 0x20;
            writeFile(run.string(), bytes);
        }
        EXPECT_TRUE(loadAndCompare(cache).empty()) << where;
    }
    // So does the whole index of the custom file's run, from its first key (the first record's
    // checksum and size) to its records.
    Bytes first = readFile(dir.file("Chipsight.dat"));
    first.resize(RomEntry::kSize);
    bool damaged = false;
    for (const fs::path& run : runFiles()) {
        Bytes bytes = readFile(run.string());
        const auto records = std::search(bytes.begin(), bytes.end(), first.begin(), first.end());
        if (records == bytes.end()) continue;
        const auto keys = std::search(bytes.begin(), records, first.begin(), first.begin() + 8);
        ASSERT_NE(keys, records);
        for (auto at = keys; at != records; ++at) *at ^= 0x20;
        writeFile(run.string(), bytes);
        damaged = true;
    }
    EXPECT_TRUE(damaged);
    EXPECT_TRUE(loadAndCompare(cache).empty());

    // Files of other records, the custom one made anew in the same length, are read as they are.
    writeTables(120, 2);
    EXPECT_TRUE(loadAndCompare(cache).empty());
    // And a short read of them is said, compiled or not.
    CoreFixture f(dir);
    InjectedFaults injected({.name = "Chipsight.dat", .readLimit = 500});
    f.core.loadDatabases();
    EXPECT_EQ(f.frontEnd.boxes(),
              Calls{box("Failed reading Chipsight.dat!", "Error", MB_ICONSTOP)});
    EXPECT_EQ(f.core.m_entries.size(), 4u + 120u);
}

// Every byte of a compiled file's header and head changed, and the file cut anywhere: never
// trusted for a wrong answer.
TEST_F(TableRuns, NoChangedByteOrCutOfACompiledFileIsTrusted) {
    writeTables(40, 3, true);
    const std::string cache = dir.file("cache");
    loadAndCompare(cache);
    // Grown since, so the custom file's compiled start is taken as it stands.
    appendNew(1);
    loadAndCompare(cache);
    CoreFixture expected(dir);
    ::setenv("XDG_CACHE_HOME", dir.file("elsewhere").c_str(), 1);
    expected.core.loadDatabases();
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    for (const fs::path& run : runFiles()) {
        const Bytes original = readFile(run.string());
        const auto check = [&](const Bytes& bytes, std::size_t what) {
            writeFile(run.string(), bytes);
            CoreFixture f(dir);
            f.core.loadDatabases();
            ASSERT_TRUE(f.core.m_entries == expected.core.m_entries) << run << " " << what;
            ASSERT_EQ(f.core.m_entryCount, expected.core.m_entryCount);
        };
        for (std::size_t at = 0; at < 256; ++at) {
            Bytes changed = original;
            changed[at] ^= 0x01;
            check(changed, at);
        }
        for (const std::size_t cut : {std::size_t(0), std::size_t(63), std::size_t(200),
                                      original.size() / 2, original.size() - 1})
            check(Bytes(original.begin(), original.begin() + std::ptrdiff_t(cut)), cut);
    }
}

}  // namespace
}  // namespace chipsight
