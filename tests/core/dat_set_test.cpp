// The compiled cache of all DAT files: trusted only for the files it names, as they are, and
// whole; renewed in place by any number of processes at once.
#include "core/databases/dat_set.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "tests/support/test_support.h"

namespace chipsight {
namespace {

class DatSetCache : public ::testing::Test {
  protected:
    DatSetCache() {
        for (const char* name : {"a.dat", "b.dat"})
            testing::writeFile(dir.file(name), std::string("<datafile><game name=\"") + name +
                                                   "\"><rom name=\"u1\" size=\"1024\" "
                                                   "crc=\"12345678\"/></game></datafile>");
    }
    std::shared_ptr<const DatSet> load() {
        return loadDatSet({datFileAt(paths[0]), datFileAt(paths[1])}, cache, "key");
    }
    // The set names of the entries of 12345678/1024, in the order the index gives them.
    static std::string sets(const DatSet& set) {
        std::string names;
        set.index().forEachMatch(0x12345678, 1024, [&](std::uint32_t n) {
            names += std::string(set.entry(n).info().setName) + " ";
        });
        return names;
    }

    testing::TempDir dir;
    const std::vector<std::string> paths = {dir.file("a.dat"), dir.file("b.dat")};
    const std::string cache = dir.file("cache/chipsight"), file = datCacheFile(cache, "key");
};

TEST_F(DatSetCache, IsTrustedOnlyForTheSameFilesUnchangedAndWhole) {
    EXPECT_FALSE(load()->files()[0].fromCache);
    auto set = load();
    EXPECT_TRUE(set->files()[0].fromCache && set->files()[1].fromCache);
    EXPECT_EQ(sets(*set), "a.dat b.dat ");

    // A DAT written since is read again; the other keeps its compiled form.
    testing::writeFile(dir.file("b.dat"), std::string("<datafile/>"));
    set = load();
    EXPECT_TRUE(set->files()[0].fromCache);
    EXPECT_FALSE(set->files()[1].fromCache);
    EXPECT_EQ(sets(*set), "a.dat ");
    EXPECT_EQ(sets(*load()), "a.dat ") << "the renewed cache";

    // Any changed byte of the header or the table of files, and any cut, makes the file
    // untrusted; a changed byte anywhere else reads within bounds; the next load mends it.
    const auto whole = testing::readFile(file);
    const std::size_t checked = 72 + 2 * ((104 + dir.file("a.dat").size() + 7) / 8 * 8);
    for (std::size_t at = 0; at < whole.size(); at += 5) {
        auto damaged = whole;
        damaged[at] ^= 0x41;
        testing::writeFile(file, damaged);
        const auto opened = openDatSetCache(file);
        if (at < checked) {
            EXPECT_FALSE(opened) << at;
        } else if (opened) {
            sets(*opened);
        }
        testing::writeFile(file, testing::Bytes(whole.begin(), whole.begin() + at));
        EXPECT_FALSE(openDatSetCache(file)) << at;
    }
    EXPECT_EQ(sets(*load()), "a.dat ");
    EXPECT_TRUE(load()->files()[0].fromCache);
}

// A DAT written again too soon after the cache read it for its times to show it: on a file
// system that stamps whole seconds, a rewrite of the same length in the same second leaves its
// identity as it was, as the start finds it here. Its bytes tell: it is read again, and a DAT
// whose bytes are the same still comes from the cache.
TEST_F(DatSetCache, ADatWrittenAgainWithinATimeStepIsKnownByItsBytes) {
    const std::vector<DatFile> found = {datFileAt(paths[0]), datFileAt(paths[1])};
    EXPECT_EQ(sets(*loadDatSet(found, cache, "key")), "a.dat b.dat ");
    testing::writeFile(paths[1], std::string("<datafile><game name=\"c.dat\"><rom name=\"u1\" "
                                             "size=\"1024\" crc=\"12345678\"/></game></datafile>"));
    const auto set = loadDatSet(found, cache, "key");
    EXPECT_EQ(sets(*set), "a.dat c.dat ");
    EXPECT_TRUE(set->files()[0].fromCache);
    EXPECT_FALSE(set->files()[1].fromCache);
}

TEST_F(DatSetCache, TwoProcessesBuildingAtOnceBothSucceedAndReadersSeeAWholeCache) {
    pid_t builders[2];
    for (pid_t& pid : builders) {
        pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // Each round finds no cache, reads both DATs and writes the cache anew.
            bool ok = true;
            for (int i = 0; i < 40; ++i) {
                ::unlink(file.c_str());
                ok = sets(*load()) == "a.dat b.dat " && ok;
            }
            ::_exit(ok ? 0 : 1);
        }
    }
    for (int i = 0; i < 300; ++i) {
        if (const auto opened = openDatSetCache(file)) {
            ASSERT_EQ(sets(*opened), "a.dat b.dat ");
        }
    }
    for (const pid_t pid : builders) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_TRUE(load()->files()[1].fromCache);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(cache), {}), 1)
        << "no temporary file left behind";
}

// Leaves freed blocks of many sizes behind, each filled with `fill`, for the next allocations
// to take.
void dirtyTheHeap(std::uint8_t fill) {
    std::vector<void*> blocks;
    for (std::size_t size = 16; size <= (1 << 20); size += size / 4)
        for (int i = 0; i < 8; ++i) {
            blocks.push_back(std::malloc(size));
            std::memset(blocks.back(), fill, size);
            asm volatile("" : : "r"(blocks.back()) : "memory");
        }
    for (void* block : blocks) std::free(block);
}

// A cache holds nothing but what it was made of: made twice from the same DATs, in memory
// left with different bytes each time, it is the same bytes.
TEST_F(DatSetCache, HoldsTheSameBytesWhateverTheMemoryHeldBefore) {
    const std::vector<LoadedDat> files = {loadDat(paths[0]), loadDat(paths[1])};
    std::vector<testing::Bytes> made;
    for (const std::uint8_t fill : {0x00, 0xA5}) {
        dirtyTheHeap(fill);
        const std::string out = dir.file("made" + std::to_string(fill));
        ASSERT_TRUE(storeDatSet(out, *makeDatSet(files)));
        made.push_back(testing::readFile(out));
    }
    ASSERT_EQ(made[0].size(), made[1].size());
    const auto differ = std::mismatch(made[0].begin(), made[0].end(), made[1].begin());
    EXPECT_TRUE(differ.first == made[0].end())
        << "first differing byte at " << differ.first - made[0].begin();
}

TEST_F(DatSetCache, ACacheDirectoryThatCannotBeMadeIsNoError) {
    testing::writeFile(dir.file("plain"), std::string("x"));
    for (int i = 0; i < 2; ++i) {
        const auto set = loadDatSet({datFileAt(paths[0]), datFileAt(paths[1])},
                                    dir.file("plain/chipsight"), "key");
        EXPECT_EQ(sets(*set), "a.dat b.dat ");
        EXPECT_FALSE(set->files()[0].fromCache);
    }
}

}  // namespace
}  // namespace chipsight
