// Crc32 and crc32Combine: known answers, the running-value contract, and one conformance suite
// that every implementation path must pass against zlib's CRC-32.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <random>
#include <string_view>
#include <vector>

#include "core/crc32.h"
#include "core/crc32_path_selection.h"

namespace chipsight {
namespace {

const std::uint8_t* bytes(std::string_view s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

std::uint32_t zlib(std::uint32_t crc, const std::uint8_t* data, std::size_t length) {
    return std::uint32_t(crc32_z(crc, data, length));
}

// Random bytes on readable pages between two inaccessible ones: data placed flush against
// either end makes any overread fault.
class GuardedBuffer {
  public:
    explicit GuardedBuffer(std::size_t pages)
        : page_(::sysconf(_SC_PAGESIZE)), size_(pages * page_) {
        base_ =
            static_cast<std::uint8_t*>(::mmap(nullptr, size_ + 2 * page_, PROT_READ | PROT_WRITE,
                                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        ::mprotect(base_, page_, PROT_NONE);
        ::mprotect(end(), page_, PROT_NONE);
        std::mt19937 rng(7);
        for (std::uint8_t* p = begin(); p != end(); ++p) *p = std::uint8_t(rng());
    }
    ~GuardedBuffer() { ::munmap(base_, size_ + 2 * page_); }

    std::uint8_t* begin() const { return base_ + page_; }
    std::uint8_t* end() const { return begin() + size_; }
    std::size_t size() const { return size_; }

  private:
    std::size_t page_, size_;
    std::uint8_t* base_;
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

TEST_P(Crc32Paths, AgreeWithZlibAtEveryLengthAlignmentAndSplitFlushAgainstThePageEdges) {
    ASSERT_EQ(crc32ActivePath(), GetParam());
    // Erased EPROM blocks, long enough for every vector path's main loop.
    const std::vector<std::uint8_t> blank(32768, 0xFF);
    EXPECT_EQ(Crc32(0, blank.data(), 1024), 0xB83AFFF4u);
    EXPECT_EQ(Crc32(0, blank.data(), 32768), 0x1B43EABDu);
    EXPECT_EQ(Crc32(7, nullptr, 64), 0u);
    EXPECT_EQ(Crc32(7, blank.data(), 0), 7u);

    std::mt19937 rng(12345);
    // Every short length at every alignment: each path's thresholds, lane combining and tails.
    GuardedBuffer buffer(4);
    for (std::size_t length = 0; length <= 700; ++length)
        for (std::size_t align = 0; align < 64; ++align) {
            const std::uint32_t crc = rng();
            for (const std::uint8_t* p : {buffer.begin() + align, buffer.end() - length - align})
                ASSERT_EQ(Crc32(crc, p, length), zlib(crc, p, length)) << length << "@" << align;
        }
    // Random lengths in up to three pieces, passing the running value on.
    for (int i = 0; i < 3000; ++i) {
        const std::size_t length = rng() % (buffer.size() + 1), first = rng() % (length + 1);
        const std::size_t second = first + rng() % (length - first + 1);
        const std::uint8_t* p = buffer.end() - length;
        std::uint32_t crc = Crc32(0, p, first);
        crc = Crc32(Crc32(crc, p + first, second - first), p + second, length - second);
        ASSERT_EQ(crc, zlib(0, p, length)) << length << " split at " << first << ", " << second;
    }
    GuardedBuffer large(1300);
    for (std::size_t length : {std::size_t(1) << 20, (std::size_t(1) << 20) + 77, large.size()})
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

}  // namespace
}  // namespace chipsight
