// The transformed images' checksums: made and checksummed piece by piece, or derived from the
// image's 32 bit streams.
//
// Write a byte sequence's CRC without its constant part (that of as many zero bytes) as the
// polynomial S(x) * x^32 mod P, S having the sequence's first bit as its highest term. Bit b of
// byte k of an m-byte sequence sits at x^(8(m-1-k) + 7-b), so S(x) = sum over b of x^(7-b) *
// S_b(x^8), where S_b has bit b of each byte as its coefficients. Those are 0 or 1, so
// S_b(x^8) = S_b(x)^8: the checksum of the packed stream of bit b, raised to the 8th power,
// gives that stream's part. A lane of the image (byte j of each 32-bit word) is one such
// sequence; even bytes interleave lanes 0 and 2, so a lane's stream then steps by x^16 instead
// (its 16th power); the whole image and its swaps interleave all four lanes at x^32 in some
// order; reversing the bits of every byte exchanges x^(7-b) for x^b. Squaring is linear over
// GF(2), so each power is a few table lookups.
#include "core/doctor/transform_crcs.h"

#include <algorithm>
#include <initializer_list>
#include <memory>

#include "core/checksum/crc32.h"
#include "core/checksum/crc32_path_selection.h"
#include "core/doctor/one_bit_search.h"
#include "core/sys/byte_order.h"

namespace chipsight::doctor {
namespace detail {
#if defined(__x86_64__)
// In transform_crcs_avx2.cpp: the CRC registers, started at zero, of the 32 bit streams of `n`
// bytes (a multiple of 512): register 8j + b of bit b of byte j of each 32-bit word, word k's
// bit as bit k % 8 of the stream's byte k / 8.
void bitStreamRegisters(const std::uint8_t* image, std::size_t n, std::uint32_t (&registers)[32]);
#endif
}  // namespace detail

namespace {

// The image length from which the bit streams are used; below it making each transform costs
// less than the set-up.
constexpr std::size_t kStreamsFrom = 4096;
// The bytes the direct path makes each transform of at a time.
constexpr std::size_t kChunk = 16 << 10;

#if defined(__x86_64__)
// Field elements with bit t the coefficient of x^t, modulo the generator P.
constexpr std::uint32_t kLowGenerator = std::uint32_t(detail::kGenerator);

std::uint32_t timesX(std::uint32_t v, int times) {
    for (; times > 0; --times) v = v << 1 ^ (v >> 31 != 0 ? kLowGenerator : 0);
    return v;
}

// v -> v^2 * x^-32, which takes T^(2^k) * x^32 to T^(2^(k+1)) * x^32; linear over GF(2).
struct SquareMap {
    std::uint32_t byByte[4][256];
    SquareMap() {
        detail::linearByBytes(byByte, [](int i) {
            return detail::slowPow(
                2, (2 * std::uint64_t(i) + detail::kGroupOrder - 32) % detail::kGroupOrder);
        });
    }
    std::uint32_t operator()(std::uint32_t v) const { return detail::Tables::byBytes(byByte, v); }
};

// Stream (lane j, bit b) as T(x)^(2^k) * x^32, for k up to 5 (x^32 steps: four lanes).
using Streams = std::uint32_t[4][8][6];

// The checksum of the bytes that take, period after period, one byte of each lane in `order`;
// `zeros` is that of as many zero bytes.
std::uint32_t sequenceCrc(const Streams& s, std::initializer_list<int> order, bool reversedBits,
                          std::uint32_t zeros) {
    const int level = order.size() == 1 ? 3 : order.size() == 2 ? 4 : 5;
    std::uint32_t sum = 0;
    for (int b = 0; b < 8; ++b) {
        std::uint32_t plane = 0;
        for (const int j : order) plane = timesX(plane, 8) ^ s[j][b][level];
        sum ^= timesX(plane, reversedBits ? b : 7 - b);
    }
    return detail::reflect32(sum) ^ zeros;
}

TransformCrcs fromBitStreams(std::span<const std::uint8_t> image) {
    const std::size_t n = image.size();
    std::uint32_t registers[32];
    detail::bitStreamRegisters(image.data(), n, registers);
    static const SquareMap square;
    Streams s;
    for (int j = 0; j < 4; ++j)
        for (int b = 0; b < 8; ++b) {
            s[j][b][0] = detail::reflect32(registers[8 * j + b]);
            for (int k = 1; k < 6; ++k) s[j][b][k] = square(s[j][b][k - 1]);
        }
    const std::uint32_t lane = crcOfRepeated(0, n / 4), half = crcOfRepeated(0, n / 2),
                        whole = crcOfRepeated(0, n);
    TransformCrcs c;
    for (int j = 0; j < 4; ++j) c.lane[j] = sequenceCrc(s, {j}, false, lane);
    c.even = sequenceCrc(s, {0, 2}, false, half);
    c.odd = sequenceCrc(s, {1, 3}, false, half);
    c.byteSwap = sequenceCrc(s, {1, 0, 3, 2}, false, whole);
    c.wordSwap = sequenceCrc(s, {2, 3, 0, 1}, false, whole);
    c.reversed = sequenceCrc(s, {0, 1, 2, 3}, true, whole);
    return c;
}
#endif

}  // namespace

std::uint32_t crcOfRepeated(std::uint8_t value, std::uint64_t length) {
    std::uint32_t crc = 0;
    std::uint32_t piece = Crc32(0, &value, 1);  // of `step` bytes
    for (std::uint64_t step = 1; length != 0; step *= 2, length >>= 1) {
        if (length & 1) crc = crc32Combine(crc, piece, step);
        piece = crc32Combine(piece, piece, step);
    }
    return crc;
}

TransformCrcs transformCrcs(std::span<const std::uint8_t> image) {
#if defined(__x86_64__)
    static const bool fast = crc32PathSupported(Crc32Path::VpclmulAvx2);
    if (fast && image.size() >= kStreamsFrom) return fromBitStreams(image);
#endif
    return transformCrcsDirect(image);
}

TransformCrcs transformCrcsDirect(std::span<const std::uint8_t> image) {
    TransformCrcs c;
    const std::size_t n = image.size();
    if (n < 8) {  // too short for words: byte by byte
        std::uint8_t swap[8]{}, word[8]{}, rev[8]{};
        for (std::size_t i = 0; i < n; ++i) {
            swap[i] = image[n >= 2 ? i ^ 1 : i];
            word[i] = n >= 4 ? image[i ^ 2] : image[i];
            rev[i] = reverseBits(image[i]);
        }
        const auto len = std::uint32_t(n);
        c.byteSwap = Crc32(0, swap, len);
        c.wordSwap = Crc32(0, word, len);
        c.reversed = Crc32(0, rev, len);
        std::uint8_t even[4]{}, odd[4]{};
        for (std::size_t i = 0; i < n / 2; ++i) even[i] = image[2 * i], odd[i] = image[2 * i + 1];
        c.even = Crc32(0, even, len / 2);
        c.odd = Crc32(0, odd, len / 2);
        for (std::size_t j = 0; j < 4 && n == 4; ++j) c.lane[j] = Crc32(0, &image[j], 1);
        return c;
    }
    constexpr std::uint64_t kLow8 = 0x00FF00FF00FF00FFull, kLow16 = 0x0000FFFF0000FFFFull;
    auto buffer = std::make_unique<std::uint8_t[]>(kChunk * 5);
    std::uint8_t* swap = buffer.get();
    std::uint8_t* word = swap + kChunk;
    std::uint8_t* rev = word + kChunk;
    std::uint8_t* even = rev + kChunk;
    std::uint8_t* odd = even + kChunk / 2;
    std::uint8_t* lanes = odd + kChunk / 2;  // four lanes of kChunk / 4
    for (std::size_t at = 0; at < n; at += kChunk) {
        const std::size_t len = std::min(kChunk, n - at);
        const std::uint8_t* p = image.data() + at;
        for (std::size_t i = 0; i < len; i += 8) {
            const std::uint64_t v = load64(p + i);
            store64(swap + i, (v & kLow8) << 8 | (v >> 8 & kLow8));
            store64(word + i, (v & kLow16) << 16 | (v >> 16 & kLow16));
            std::uint64_t r = (v & 0x0F0F0F0F0F0F0F0Full) << 4 | (v >> 4 & 0x0F0F0F0F0F0F0F0Full);
            r = (r & 0x3333333333333333ull) << 2 | (r >> 2 & 0x3333333333333333ull);
            store64(rev + i, (r & 0x5555555555555555ull) << 1 | (r >> 1 & 0x5555555555555555ull));
            std::uint64_t e = v & kLow8, o = v >> 8 & kLow8;
            e = (e | e >> 8) & kLow16;
            o = (o | o >> 8) & kLow16;
            store32(even + i / 2, std::uint32_t(e | e >> 16));
            store32(odd + i / 2, std::uint32_t(o | o >> 16));
            for (int j = 0; j < 4; ++j) {
                lanes[j * (kChunk / 4) + i / 4] = std::uint8_t(v >> 8 * j);
                lanes[j * (kChunk / 4) + i / 4 + 1] = std::uint8_t(v >> (32 + 8 * j));
            }
        }
        const auto l = std::uint32_t(len);
        c.byteSwap = Crc32(c.byteSwap, swap, l);
        c.wordSwap = Crc32(c.wordSwap, word, l);
        c.reversed = Crc32(c.reversed, rev, l);
        c.even = Crc32(c.even, even, l / 2);
        c.odd = Crc32(c.odd, odd, l / 2);
        for (int j = 0; j < 4; ++j) c.lane[j] = Crc32(c.lane[j], lanes + j * (kChunk / 4), l / 4);
    }
    return c;
}

}  // namespace chipsight::doctor
