// The user's collection of ROMs: found by checksum in folders and archives, kept in the cache.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <algorithm>
#include <filesystem>

#include "core/checksum/crc32.h"
#include "core/repair/collection.h"
#include "core/sys/file_layer.h"
#include "tests/support/archive_writer.h"
#include "tests/support/test_support.h"

namespace chipsight::repair {
namespace {

using namespace testing;
using Sha1 = std::array<std::uint8_t, 20>;

Sha1 sha1Of(const Bytes& b) {
    Sha1 d{};
    unsigned n = 0;
    EVP_Digest(b.data(), b.size(), d.data(), &n, EVP_sha1(), nullptr);
    return d;
}

// Files made by a test are as new as the run that indexes them, and the index trusts no file
// written within a step of the file system's clock of its reading. Seen an hour older, they are
// settled, as a user's collection is.
class SettledFiles {
  public:
    SettledFiles() : scoped_(settled()) {}

  private:
    static int aged(int result, struct stat* st) {
        if (result == 0) st->st_mtim.tv_sec -= 3600, st->st_ctim.tv_sec -= 3600;
        return result;
    }
    static FileSystemCalls settled() {
        FileSystemCalls calls = FileSystemCalls::posix();
        calls.stat = [](const char* path, struct stat* st) { return aged(::stat(path, st), st); };
        calls.fstat = [](int fd, struct stat* st) { return aged(::fstat(fd, st), st); };
        return calls;
    }
    ScopedFileSystemCalls scoped_;
};

struct Expected {
    std::string path, member;
    Bytes bytes;
};

class CollectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(dir.path() / "roms" / "sub");
        roms = fs::canonical(dir.path() / "roms").string();
        // Lengths of every kind: a power of two, and not, plain and inside an archive.
        expected = {{roms + "/a.bin", "", randomBytes(4096, 1)},
                    {roms + "/set.zip", "x.bin", randomBytes(8192, 2)},
                    {roms + "/set.zip", "dir/odd.bin", randomBytes(1000, 3)},
                    {roms + "/sub/b.rom", "", randomBytes(3000, 4)}};
        writeFile(expected[0].path, expected[0].bytes);
        writeArchive(
            expected[1].path, "zip",
            {{expected[1].member, expected[1].bytes}, {expected[2].member, expected[2].bytes}});
        writeFile(expected[3].path, expected[3].bytes);
    }
    // "files ROMs from-the-cache skipped" of an indexing.
    static std::string counts(const CollectionStats& s) {
        return numbered("", long(s.files)) + numbered(" ", long(s.roms)) +
               numbered(" ", long(s.fromCache)) + numbered(" ", long(s.skipped));
    }
    // Every ROM is found by its checksums at its place, and read back.
    void expectFound(const Collection& c) {
        ASSERT_EQ(c.size(), expected.size());
        for (const Expected& e : expected) {
            const std::uint32_t crc = crcOf(e.bytes), size = std::uint32_t(e.bytes.size());
            const CollectionRom* rom = c.find(crc, size, sha1Of(e.bytes));
            ASSERT_NE(rom, nullptr) << e.path << " " << e.member;
            EXPECT_EQ(rom->path, e.path);
            EXPECT_EQ(rom->member, e.member);
            EXPECT_EQ(c.find(crc, size, std::nullopt), rom);
            EXPECT_EQ(c.find(crc, size, Sha1{}), nullptr);
            EXPECT_EQ(c.find(crc, size + 1, std::nullopt), nullptr);
            EXPECT_EQ(c.bytesOf(*rom), e.bytes);
        }
    }
    TempDir dir;
    std::string roms, cache = dir.file("cache");
    std::vector<Expected> expected;
    SettledFiles settled;
};

TEST_F(CollectionTest, FindsRomsOfFoldersAndArchivesAndReadsOnlyWhatChanged) {
    CollectionStats stats;
    expectFound(Collection::index({roms}, cache, &stats));
    EXPECT_EQ(counts(stats), "3 4 0 0");
    const Collection second = Collection::index({roms}, cache, &stats);
    EXPECT_EQ(counts(stats), "3 4 3 0");
    expectFound(second);

    // Same length, other bytes: read again, and the old entry no longer gives bytes.
    const Bytes old = expected[3].bytes;
    expected[3].bytes = randomBytes(3000, 5);
    writeFile(expected[3].path, expected[3].bytes);
    const Collection third = Collection::index({roms}, cache, &stats);
    EXPECT_EQ(counts(stats), "3 4 2 0");
    expectFound(third);
    EXPECT_EQ(third.find(crcOf(old), 3000, std::nullopt), nullptr);
    EXPECT_EQ(second.bytesOf(*second.find(crcOf(old), 3000, std::nullopt)), std::nullopt);
}

TEST_F(CollectionTest, DamagedIndexIsReadAgainNotTrusted) {
    Collection::index({roms}, cache, nullptr);
    // One bit off in a stored checksum: trusted, it would lose a.bin and name another ROM.
    const std::string file = collectionIndexFile(cache, {roms});
    Bytes index = readFile(file);
    const std::uint32_t crc = crcOf(expected[0].bytes);
    const std::uint8_t le[4] = {std::uint8_t(crc), std::uint8_t(crc >> 8), std::uint8_t(crc >> 16),
                                std::uint8_t(crc >> 24)};
    const auto at = std::search(index.begin(), index.end(), le, le + 4);
    ASSERT_NE(at, index.end());
    *at ^= 1;
    writeFile(file, index);

    CollectionStats stats;
    const Collection c = Collection::index({roms}, cache, &stats);
    EXPECT_EQ(counts(stats), "3 4 0 0");
    expectFound(c);
    EXPECT_EQ(c.find(crc ^ 1, 4096, std::nullopt), nullptr);
}

}  // namespace
}  // namespace chipsight::repair
