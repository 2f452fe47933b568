// Tests of Crc32 and crc32Combine: known answers, the running-value contract, and one
// conformance suite that every implementation path must pass against zlib's CRC-32.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/crc32.h"
#include "core/crc32_path_selection.h"

namespace chipsight {
namespace {

const std::uint8_t* bytes(std::string_view s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}

std::uint32_t reference(std::uint32_t crc, const std::uint8_t* data, std::size_t length) {
    return static_cast<std::uint32_t>(crc32_z(crc, data, length));
}

// Readable pages between two inaccessible ones: any read before the first or after the last
// byte faults, so data placed flush against either end catches overreads.
class GuardedBuffer {
  public:
    explicit GuardedBuffer(std::size_t pages) : page_(sysconf(_SC_PAGESIZE)), size_(pages * page_) {
        void* mem = mmap(nullptr, size_ + 2 * page_, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mem == MAP_FAILED) throw std::runtime_error("mmap failed");
        base_ = static_cast<std::uint8_t*>(mem);
        mprotect(base_, page_, PROT_NONE);
        mprotect(base_ + page_ + size_, page_, PROT_NONE);
        std::mt19937 rng(7);
        for (std::size_t i = 0; i < size_; ++i) begin()[i] = static_cast<std::uint8_t>(rng());
    }
    ~GuardedBuffer() { munmap(base_, size_ + 2 * page_); }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    std::uint8_t* begin() const { return base_ + page_; }
    std::uint8_t* end() const { return begin() + size_; }
    std::size_t size() const { return size_; }

  private:
    std::size_t page_;
    std::size_t size_;
    std::uint8_t* base_ = nullptr;
};

TEST(Crc32, KnownAnswers) {
    // The check value of the CRC catalogues (CRC-32/ISO-HDLC) and a widely published pangram.
    EXPECT_EQ(Crc32(0, bytes("123456789"), 9), 0xCBF43926u);
    EXPECT_EQ(crc32Portable(0, bytes("123456789"), 9), 0xCBF43926u);
    EXPECT_EQ(Crc32(0, bytes("The quick brown fox jumps over the lazy dog"), 43), 0x414FA339u);
    // Blocks of erased EPROM bytes (all 0xFF), long enough for every vector path's main loop.
    const std::vector<std::uint8_t> blank(65536, 0xFF);
    EXPECT_EQ(Crc32(0, blank.data(), 256), 0xFEA8A821u);
    EXPECT_EQ(Crc32(0, blank.data(), 4096), 0xF154670Au);
    EXPECT_EQ(Crc32(0, blank.data(), 65536), 0xDEAB7E4Eu);
}

TEST(Crc32, RunningValueContract) {
    const std::uint8_t byte = 0x5A;
    for (std::uint32_t crc : {0u, 1u, 0xCBF43926u, 0xFFFFFFFFu}) {
        EXPECT_EQ(Crc32(crc, nullptr, 0), 0u);
        EXPECT_EQ(Crc32(crc, nullptr, 100), 0u);
        EXPECT_EQ(Crc32(crc, &byte, 0), crc);
        EXPECT_EQ(crc32Portable(crc, nullptr, 100), 0u);
        EXPECT_EQ(crc32Portable(crc, &byte, 0), crc);
    }
    // Passing the value on over consecutive pieces equals one call over the whole.
    const std::uint32_t first = Crc32(0, bytes("12345"), 5);
    EXPECT_EQ(Crc32(first, bytes("6789"), 4), 0xCBF43926u);
}

TEST(Crc32, SelectionPicksTheBestSupportedPath) {
    EXPECT_TRUE(crc32PathSupported(Crc32Path::Portable));
    EXPECT_TRUE(crc32PathSupported(crc32BestPath()));
    EXPECT_EQ(crc32ActivePath(), crc32BestPath());
    for (Crc32Path path : kAllCrc32Paths) {
        if (crc32PathSupported(path)) {
            EXPECT_LE(static_cast<int>(path), static_cast<int>(crc32BestPath()))
                << crc32PathName(path) << " is supported but not chosen";
        }
    }
}

// Every path, forced in turn, against the reference.
class Crc32PathTest : public testing::TestWithParam<Crc32Path> {
  protected:
    void SetUp() override {
        if (!crc32ForcePath(GetParam()))
            GTEST_SKIP() << crc32PathName(GetParam()) << " is not supported on this processor";
        ASSERT_EQ(crc32ActivePath(), GetParam());
    }
    void TearDown() override { crc32ForcePath(crc32BestPath()); }

    std::mt19937 rng_{12345};
    std::uint32_t randomCrc() { return static_cast<std::uint32_t>(rng_()); }
    std::size_t below(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng_);
    }
};

TEST_P(Crc32PathTest, KnownAnswers) {
    EXPECT_EQ(Crc32(0, bytes("123456789"), 9), 0xCBF43926u);
    const std::vector<std::uint8_t> blank(65536, 0xFF);
    EXPECT_EQ(Crc32(0, blank.data(), 1024), 0xB83AFFF4u);
    EXPECT_EQ(Crc32(0, blank.data(), 32768), 0x1B43EABDu);
    EXPECT_EQ(Crc32(7, nullptr, 64), 0u);
    EXPECT_EQ(Crc32(7, blank.data(), 0), 7u);
}

// Every short length at every alignment, flush against the guard page on either side: this
// covers each path's thresholds, its lane-combining steps and its tails.
TEST_P(Crc32PathTest, ShortLengthsEveryAlignmentAtBothPageEdges) {
    GuardedBuffer buffer(1);
    for (std::size_t length = 0; length <= 700; ++length) {
        const std::uint32_t crc = randomCrc();
        const std::uint8_t* atEnd = buffer.end() - length;
        ASSERT_EQ(Crc32(crc, atEnd, length), reference(crc, atEnd, length)) << "length " << length;
        for (std::size_t align = 0; align < 64; ++align) {
            const std::uint8_t* p = buffer.begin() + align;
            ASSERT_EQ(Crc32(crc, p, length), reference(crc, p, length))
                << "length " << length << ", alignment " << align;
        }
    }
}

TEST_P(Crc32PathTest, RandomLengthsAndAlignments) {
    GuardedBuffer buffer(4);
    for (int i = 0; i < 3000; ++i) {
        const std::size_t length = below(3 * 4096 + 1);
        const std::size_t align = below(64);
        const std::uint32_t crc = randomCrc();
        const std::uint8_t* p = buffer.begin() + align;
        const std::uint8_t* atEnd = buffer.end() - length - align;
        ASSERT_EQ(Crc32(crc, p, length), reference(crc, p, length))
            << "length " << length << ", alignment " << align;
        ASSERT_EQ(Crc32(crc, atEnd, length), reference(crc, atEnd, length))
            << "length " << length << ", ending " << align << " bytes before the page end";
    }
}

TEST_P(Crc32PathTest, LargeBuffersEndingAtThePageEnd) {
    GuardedBuffer buffer(1300);
    for (std::size_t length :
         {std::size_t(1) << 20, (std::size_t(1) << 20) + 77, buffer.size() - 1, buffer.size()}) {
        const std::uint8_t* p = buffer.end() - length;
        EXPECT_EQ(Crc32(0, p, length), reference(0, p, length)) << "length " << length;
    }
}

TEST_P(Crc32PathTest, SplitComputationEqualsOneCall) {
    GuardedBuffer buffer(4);
    for (int i = 0; i < 2000; ++i) {
        const std::size_t length = below(buffer.size() + 1);
        const std::uint8_t* p = buffer.end() - length;
        const std::size_t first = below(length + 1);
        const std::size_t second = first + below(length - first + 1);
        std::uint32_t crc = Crc32(0, p, first);
        crc = Crc32(crc, p + first, second - first);
        crc = Crc32(crc, p + second, length - second);
        ASSERT_EQ(crc, Crc32(0, p, length))
            << "length " << length << ", splits at " << first << " and " << second;
        ASSERT_EQ(crc, reference(0, p, length));
    }
}

INSTANTIATE_TEST_SUITE_P(EveryPath, Crc32PathTest, testing::ValuesIn(kAllCrc32Paths),
                         [](const auto& info) {
                             std::string name = crc32PathName(info.param);
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

TEST(Crc32Combine, EqualsTheCrcOfTheConcatenation) {
    GuardedBuffer buffer(3);
    std::mt19937 rng(99);
    for (int i = 0; i < 2000; ++i) {
        const std::size_t length = rng() % (buffer.size() + 1);
        const std::size_t split = i % 10 == 0 ? length : rng() % (length + 1);  // lengthB = 0 too
        const std::uint8_t* p = buffer.end() - length;
        const std::uint32_t a = Crc32(0, p, split);
        const std::uint32_t b = Crc32(0, p + split, length - split);
        ASSERT_EQ(crc32Combine(a, b, length - split), Crc32(0, p, length))
            << "length " << length << ", split at " << split;
    }
    EXPECT_EQ(crc32Combine(0x12345678u, 0, 0), 0x12345678u);
}

TEST(Crc32Combine, LengthsBeyondAnyBufferAgreeWithZlib) {
    // Lengths whose high bits use every precomputed power; zlib shifts by its own method.
    std::mt19937_64 rng(5);
    for (int i = 0; i < 500; ++i) {
        const std::uint64_t lengthB = rng() >> (1 + rng() % 63);  // stays a valid z_off64_t
        const auto a = static_cast<std::uint32_t>(rng());
        const auto b = static_cast<std::uint32_t>(rng());
        ASSERT_EQ(crc32Combine(a, b, lengthB),
                  crc32_combine64(a, b, static_cast<z_off64_t>(lengthB)))
            << "lengthB " << lengthB;
    }
}

}  // namespace
}  // namespace chipsight
