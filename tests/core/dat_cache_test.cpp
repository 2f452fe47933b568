#include "core/databases/dat_cache.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/test_support.h"

namespace chipsight {
namespace {

class DatCache : public ::testing::Test {
  protected:
    DatCache() {
        testing::writeFile(dat, std::string("<datafile/>"));
        DatRom rom;
        rom.name = "u1";
        rom.setName = "set";
        rom.crc = 0x12345678;
        rom.size = 1024;
        DatStoreBuilder builder;
        builder.rom(rom);
        block = builder.finish(DatFormat::Logiqx);
    }
    DatIdentity identity() const { return *datIdentityOf(dat); }

    testing::TempDir dir;
    const std::string dat = dir.file("games.dat"), cache = dir.file("cache/chipsight");
    std::vector<std::uint8_t> block;
};

TEST_F(DatCache, IsTrustedOnlyForTheSameFileUnchangedAndWhole) {
    EXPECT_FALSE(loadCachedStore(cache, identity())) << "nothing kept yet";
    ASSERT_TRUE(storeInCache(cache, identity(), block));
    const auto store = loadCachedStore(cache, identity());
    ASSERT_TRUE(store);
    EXPECT_EQ(store->crc(0), 0x12345678u);
    EXPECT_EQ(store->info(0).name, "u1");

    DatIdentity changed = identity();
    changed.modifiedNanoseconds += 1;
    EXPECT_FALSE(loadCachedStore(cache, changed)) << "a DAT written since";
    changed = identity();
    changed.size += 1;
    EXPECT_FALSE(loadCachedStore(cache, changed));

    // Every cut and every changed byte of the header makes the cache untrusted.
    const std::string file = cacheFileFor(cache, dat);
    const auto whole = testing::readFile(file);
    for (std::size_t at = 0; at < whole.size(); at += 7) {
        auto damaged = whole;
        damaged[at] ^= 0x20;
        testing::writeFile(file, damaged);
        const auto loaded = loadCachedStore(cache, identity());
        if (at < whole.size() - block.size()) {
            EXPECT_FALSE(loaded) << at;
        }
        testing::writeFile(file, testing::Bytes(whole.begin(), whole.begin() + at));
        EXPECT_FALSE(loadCachedStore(cache, identity())) << at;
    }
}

TEST_F(DatCache, TwoProcessesBuildingAtOnceBothSucceedAndReadersSeeAWholeCache) {
    pid_t writers[2];
    for (pid_t& pid : writers) {
        pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            bool ok = true;
            for (int i = 0; i < 50; ++i) ok = storeInCache(cache, identity(), block) && ok;
            ::_exit(ok ? 0 : 1);
        }
    }
    for (int i = 0; i < 500; ++i) {
        if (const auto store = loadCachedStore(cache, identity())) {
            ASSERT_EQ(store->info(0).name, "u1");
        }
    }
    for (const pid_t pid : writers) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_TRUE(loadCachedStore(cache, identity()));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(cache), {}), 1)
        << "no temporary file left behind";
}

TEST_F(DatCache, ACacheDirectoryThatCannotBeMadeIsNoError) {
    testing::writeFile(dir.file("plain"), std::string("x"));
    EXPECT_FALSE(storeInCache(dir.file("plain/chipsight"), identity(), block));
    EXPECT_FALSE(loadCachedStore(dir.file("plain/chipsight"), identity()));
}

}  // namespace
}  // namespace chipsight
