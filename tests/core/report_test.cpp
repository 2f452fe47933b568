// Checksums, the report of an image against the plain per-level reference, and typed sizes. (The
// fuzz targets also check every checksum path against the portable one at random lengths and split
// points, under AddressSanitizer, the number readers against sscanf, and chips joined with random
// game tables.)
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <random>

#include "core/checksum/crc32.h"
#include "core/checksum/crc32_path_selection.h"
#include "core/identify/identify.h"
#include "core/sys/number_reading.h"
#include "tests/support/reference_report.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using namespace testing;

const std::uint8_t* bytes(std::string_view s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

std::uint32_t zlib(std::uint32_t crc, const std::uint8_t* data, std::size_t length) {
    return std::uint32_t(crc32_z(crc, data, length));
}

// Random bytes on pages between two inaccessible ones: data placed flush against either end
// makes any overread fault.
struct GuardedPages {
    explicit GuardedPages(std::size_t pages)
        : page(::sysconf(_SC_PAGESIZE)),
          size(pages * page),
          base(static_cast<std::uint8_t*>(::mmap(nullptr, size + 2 * page, PROT_READ | PROT_WRITE,
                                                 MAP_PRIVATE | MAP_ANONYMOUS, -1, 0))) {
        ::mprotect(base, page, PROT_NONE);
        ::mprotect(end(), page, PROT_NONE);
        std::mt19937 rng(7);
        std::generate(begin(), end(), [&] { return std::uint8_t(rng()); });
    }
    ~GuardedPages() { ::munmap(base, size + 2 * page); }
    std::uint8_t* begin() const { return base + page; }
    std::uint8_t* end() const { return begin() + size; }
    const std::size_t page, size;
    std::uint8_t* const base;
};

TEST(Crc32, KnownAnswersRunningValueAndPathChoice) {
    // The check value of the CRC catalogues (CRC-32/ISO-HDLC), and a pangram split in two.
    EXPECT_EQ(crc32Portable(0, bytes("123456789"), 9), 0xCBF43926u);
    EXPECT_EQ(
        Crc32(Crc32(0, bytes("The quick brown "), 16), bytes("fox jumps over the lazy dog"), 27),
        0x414FA339u);
    for (std::uint32_t crc : {0u, 0xCBF43926u}) {
        EXPECT_EQ(Crc32(crc, nullptr, 100), 0u);
        EXPECT_EQ(crc32Portable(crc, nullptr, 100), 0u);
        EXPECT_EQ(crc32Portable(crc, bytes("x"), 0), crc);
    }
    EXPECT_EQ(crc32ActivePath(), crc32BestPath());
    EXPECT_TRUE(crc32PathSupported(Crc32Path::Portable));
    for (Crc32Path path : kAllCrc32Paths)
        EXPECT_TRUE(!crc32PathSupported(path) || path <= crc32BestPath()) << crc32PathName(path);
}

class Crc32Paths : public ::testing::TestWithParam<Crc32Path> {
  protected:
    void SetUp() override {
        if (!crc32ForcePath(GetParam())) GTEST_SKIP() << crc32PathName(GetParam()) << " is missing";
    }
    void TearDown() override { crc32ForcePath(crc32BestPath()); }
};

TEST_P(Crc32Paths, AgreeWithZlibAtEveryAlignmentFlushAgainstThePageEdges) {
    ASSERT_EQ(crc32ActivePath(), GetParam());
    // Erased EPROM blocks, long enough for every vector path's main loop.
    const std::vector<std::uint8_t> blank(32768, 0xFF);
    EXPECT_EQ(Crc32(0, blank.data(), 1024), 0xB83AFFF4u);
    EXPECT_EQ(Crc32(0, blank.data(), 32768), 0x1B43EABDu);
    EXPECT_EQ(Crc32(7, nullptr, 64), 0u);
    EXPECT_EQ(Crc32(7, blank.data(), 0), 7u);

    std::mt19937 rng(12345);
    // Every short length at every alignment: each path's thresholds, lane combining and tails.
    GuardedPages buffer(4);
    for (std::size_t length = 0; length <= 700; ++length)
        for (std::size_t align = 0; align < 64; ++align) {
            const std::uint32_t crc = rng();
            for (const std::uint8_t* p : {buffer.begin() + align, buffer.end() - length - align})
                ASSERT_EQ(Crc32(crc, p, length), zlib(crc, p, length)) << length << "@" << align;
        }
    GuardedPages large(1300);
    for (std::size_t length : {std::size_t(1) << 20, (std::size_t(1) << 20) + 77, large.size})
        EXPECT_EQ(Crc32(0, large.end() - length, length), zlib(0, large.end() - length, length));
}

INSTANTIATE_TEST_SUITE_P(EveryPath, Crc32Paths, ::testing::ValuesIn(kAllCrc32Paths));

// Lengths whose high bits use every precomputed power, beyond any buffer (the fuzz target checks
// combining against the checksum of the concatenation); zlib shifts its own way.
TEST(Crc32Combine, AgreesWithZlibAtEveryLength) {
    std::mt19937_64 rng(99);
    for (int i = 0; i < 2000; ++i) {
        const std::uint64_t lengthB = rng() >> (1 + rng() % 63);
        const auto a = std::uint32_t(rng()), b = std::uint32_t(rng());
        ASSERT_EQ(crc32Combine(a, b, lengthB), crc32_combine64(a, b, z_off64_t(lengthB)))
            << lengthB;
    }
    EXPECT_EQ(crc32Combine(0x12345678u, 0, 0), 0x12345678u);
}

TEST(Report, OnePassEqualsThePlainReferenceOnRandomImagesLevelsAndTables) {
    std::mt19937 rng(20261207);
    for (int round = 0; round < 400; ++round) {
        const std::size_t length = round % 7 == 0 ? 0 : std::size_t(1) << (rng() % 19);
        Bytes image(length);
        const int style = int(rng() % 4);  // blank, two bits unused, random, blank upper half
        for (auto& b : image)
            b = style == 0 ? 0xFF : style == 1 ? std::uint8_t(rng() & 0x3F) : std::uint8_t(rng());
        if (style == 3) std::fill(image.begin() + std::ptrdiff_t(length / 2), image.end(), 0xFF);
        // Entries for some real parts (twice for some), each beside a near miss.
        EntryTable entries;
        for (int k = 0; k < 6; ++k) {
            const std::size_t parts = std::size_t(1) << (rng() % 9), size = length / parts;
            const std::uint32_t crc = crc32Portable(0, image.data() + rng() % parts * size, size);
            for (int copies = 1 + int(rng() % 2); copies > 0; --copies)
                entries.push_back(makeEntry(crc, std::uint32_t(size), numbered("P", k), "d"));
            entries.push_back(makeEntry(crc ^ 1, std::uint32_t(size), "noise", "x"));
        }
        const int level = int(rng() % 12) - 1;
        const bool ignoreBad = rng() % 2;
        const std::string expected = referenceReport(entries, image, "img.bin", level, ignoreBad);
        ASSERT_EQ(buildReport(entries, image, "img.bin", level, ignoreBad).block, expected)
            << "length " << length << " level " << level << " ignoreBad " << ignoreBad;
        // The digest taken as the bytes arrive, in pieces of any size as reading a file gives.
        ImageDigest digest(std::uint32_t(length), level);
        for (std::size_t at = 0, piece; at < length; at += piece) {
            piece = std::min<std::size_t>(length - at, rng() % 4 == 0 ? rng() % 8 : rng() % 70000);
            digest.add({image.data() + at, piece});
        }
        digest.finish();
        ASSERT_EQ(buildReport(entries, digest, "img.bin", ignoreBad).block, expected)
            << "in pieces";
    }
}

TEST(Report, ErasedBlocksAreKnownAtEverySizeBut512) {
    for (std::uint32_t size = 256; size <= 65536; size *= 2) {
        const Bytes blank(size, 0xFF);
        EXPECT_EQ(isBlankBlock(size, crc32Portable(0, blank.data(), size)), size != 512) << size;
    }
    EXPECT_FALSE(isBlankBlock(2048, 0xB83AFFF4)) << "the checksum of another row";
}

TEST(NumberReading, SizesAreDecimalFirstThenHexadecimalWithItsPrefix) {
    const char* texts[] = {"100",        "0x100", "0x8000", "FF", "1A", "-1",
                           "4294967295", "0",     "0x0",    "zz", "",   "9999999999"};
    const std::uint32_t sizes[] = {100, 256, 32768, 255, 1, 0xFFFFFFFF, 0xFFFFFFFF, 0, 0, 0, 0, 0};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(readSize(texts[i]), sizes[i]) << texts[i];
    EXPECT_EQ(readChecksum("00000000"), 0u);
    EXPECT_EQ(readChecksum(" 3F55D17F"), 0x3F55D17Fu);
    EXPECT_EQ(readChecksum("100000000"), 0u);
}

}  // namespace
}  // namespace chipsight
