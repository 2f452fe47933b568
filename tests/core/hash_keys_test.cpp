// The SHA-1s and MD5s of DATs: typed ones looked up among the entries that carry them, and an
// entry matched by CRC-32 and size whose SHA-1 is not the bytes' said under its line.
#include <gtest/gtest.h>

#include "core/databases/dat/dat_store.h"
#include "core/identify/identify.h"
#include "core/sys/number_reading.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using namespace testing;

// The bytes 00 01 02 03 of the worked example, its halves' CRC-32s 36DE2269 and EAE621C7.
const Bytes kImage{0, 1, 2, 3};
const std::string kSha1 = "a02a05b025b928c039cf1ae7e8ee04e7c190c0db";
const std::string kMd5 = "37b59afd592725f9305e484a5d7f5168";

// A database directory of DATs only, with the compiled cache in a directory of the test's own.
class HashKeys : public ::testing::Test {
  protected:
    TempDir dir;
    const ScopedEnv cache{"XDG_CACHE_HOME", dir.file("cache").c_str()};
};

TEST_F(HashKeys, TypedSha1sAndMd5sFindTheEntriesOfLogiqxAndClrMameProDatsInTableOrder) {
    writeFile(dir.file("a.xml"),
              "<?xml version=\"1.0\"?>\n<datafile><game name=\"alpha\"><description>Alpha"
              "</description>\n<rom name=\"a1.bin\" size=\"4\" crc=\"8bb98613\" sha1=\"" +
                  kSha1 + "\" md5=\"" + kMd5 +
                  "\"/>\n<rom name=\"a2.bin\" size=\"8\" crc=\"11111111\" md5=\"not an md5\"/>\n"
                  "</game></datafile>\n");
    writeFile(
        dir.file("b.dat"),
        "clrmamepro ( name \"b\" )\ngame ( name beta description \"Beta\"\n"
        "\trom ( name b1.bin size 4 crc 8bb98613 md5 37B59AFD592725F9305E484A5D7F5168 "
        "sha1 A02A05B025B928C039CF1AE7E8EE04E7C190C0DB )\n"
        "\trom ( name b2.bin size 4 crc 33333333 md5 0123456789abcdef0123456789abcdef )\n)\n");
    const auto found = [](const std::string& hash, const std::string& lines) {
        return "============================\r\nManualy Entered: [" + hash + "]" + lines + "\r\n";
    };
    const auto notFound = [](std::size_t digits) {
        return "============================\r\nManualy Entered:[" + std::string(digits, '0') +
               "] Not Found!\r\n";
    };
    const std::string both = "\r\n\t- a1.bin : Alpha [alpha]\r\n\t- b1.bin : Beta [beta]";
    // The entries without one hold zeros where it would be: they carry none all the same.
    const std::string expected =
        found("A02A05B025B928C039CF1AE7E8EE04E7C190C0DB", both) +
        found("37B59AFD592725F9305E484A5D7F5168", both) +
        found("0123456789ABCDEF0123456789ABCDEF", "\r\n\t- b2.bin : Beta [beta]") + notFound(40) +
        notFound(32);
    // Read from the DATs, then from the cache the first load wrote.
    for (const bool cached : {false, true}) {
        CoreFixture f(dir);
        f.core.loadDatabases();
        ASSERT_EQ(f.core.dats().size(), 2u);
        EXPECT_EQ(f.core.dats()[0].fromCache, cached);
        EXPECT_TRUE(f.frontEnd.boxes().empty());
        for (const char* hash :
             {"A02A05B025B928C039CF1AE7E8EE04E7C190C0DB", kMd5.c_str(),
              "0123456789ABCDEF0123456789abcdef", "0000000000000000000000000000000000000000",
              "00000000000000000000000000000000"}) {
            const auto typed = readTypedHash(hash);
            ASSERT_TRUE(typed) << hash;
            f.core.identifyHash(*typed);
        }
        EXPECT_EQ(f.core.logText(), expected) << (cached ? "from the cache" : "read");
    }
    for (const char* bad :
         {"", "a02a05b025b928c039cf1ae7e8ee04e7c190c0d", "g02a05b025b928c039cf1ae7e8ee04e7c190c0db",
          "0x37b59afd592725f9305e484a5d7f51"})
        EXPECT_FALSE(readTypedHash(bad)) << bad;
}

// Through the window's way in (bytes kept for the SHA-1) the entry whose DAT gives another SHA-1
// has the line under it, at every level and part; the same entry without a SHA-1, or with the
// bytes', has none.
TEST_F(HashKeys, AnEntryWhoseSha1IsNotTheBytesSaysSoUnderItsLine) {
    const auto rom = [](const char* name, int size, const char* crc, const std::string& sha1) {
        return std::string("<rom name=\"") + name + "\" size=\"" + std::to_string(size) +
               "\" crc=\"" + crc + "\"" + (sha1.empty() ? "" : " sha1=\"" + sha1 + "\"") + "/>\n";
    };
    writeFile(
        dir.file("c.xml"),
        "<?xml version=\"1.0\"?>\n<datafile><game name=\"demo\"><description>Demo"
        "</description>\n" +
            rom("same", 4, "8bb98613", kSha1) + rom("other", 4, "8bb98613", std::string(40, '1')) +
            rom("plain", 4, "8bb98613", "") + rom("low", 2, "36de2269", std::string(40, '2')) +
            rom("high", 2, "eae621c7", sha1Hex(Bytes{2, 3})) + "</game></datafile>\n");
    writeFile(dir.file("test.bin"), kImage);
    CoreFixture f(dir);
    f.core.loadDatabases();
    f.core.setSplitLevel(2);
    EXPECT_EQ(f.core.identifyFile(dir.file("test.bin")), Outcome::Found);
    EXPECT_EQ(
        f.core.logText(),
        "============================\r\ntest.bin: (1/1) [8BB98613]\r\n"
        "\t- same : Demo [demo]\r\n\t- other : Demo [demo]\r\n\t  CRC matches, SHA-1 differs\r\n"
        "\t- plain : Demo [demo]\r\ntest.bin: (1/2) [36DE2269]\r\n"
        "\t- low : Demo [demo]\r\n\t  CRC matches, SHA-1 differs\r\n"
        "test.bin: (2/2) [EAE621C7]\r\n\t- high : Demo [demo]\r\n");
}

// A cache written before the SHA-1s and MD5s had parts of their own holds blocks of layout 1,
// whose entries are laid out otherwise: such a block is not opened, so its DAT is read again.
TEST(HashKeyBlocks, ABlockOfTheFormerLayoutIsNotOpened) {
    DatStoreBuilder builder;
    DatRom rom;
    rom.name = "a1.bin";
    rom.crc = 0x8BB98613;
    rom.size = 4;
    rom.sha1 = kSha1;
    rom.md5 = kMd5;
    builder.rom(rom);
    std::vector<std::uint8_t> block = builder.finish(DatFormat::Logiqx);
    const auto store = openStore(block);
    ASSERT_TRUE(store);
    EXPECT_EQ(store->info(0).md5, md5FromHex(kMd5));
    block[8] = 1;  // the layout version, little-endian
    EXPECT_FALSE(openStore(block));
}

}  // namespace
}  // namespace chipsight
