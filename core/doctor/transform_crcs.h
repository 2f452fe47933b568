// The CRC-32 of each transformed image the doctor looks up, all from one reading of the image.
#pragma once

#include <cstdint>
#include <span>

namespace chipsight::doctor {

struct TransformCrcs {
    std::uint32_t byteSwap = 0;       // the bytes of each 16-bit word swapped
    std::uint32_t wordSwap = 0;       // the 16-bit halves of each 32-bit word swapped
    std::uint32_t reversed = 0;       // D0..D7 of every byte reversed
    std::uint32_t even = 0, odd = 0;  // bytes 2i and 2i+1
    std::uint32_t lane[4]{};          // bytes 4i+j
};

// D0..D7 of `b` read as D7..D0.
constexpr std::uint8_t reverseBits(std::uint8_t b) {
    b = std::uint8_t(b << 4 | b >> 4);
    b = std::uint8_t((b & 0x33) << 2 | (b >> 2 & 0x33));
    return std::uint8_t((b & 0x55) << 1 | (b >> 1 & 0x55));
}

// The CRC-32 of `length` bytes of `value`.
std::uint32_t crcOfRepeated(std::uint8_t value, std::uint64_t length);

// For an image whose length is a power of two. A large image goes through its 32 bit streams
// (bit b of byte j of each 32-bit word): every transform above only reorders bytes, or bits
// within them, so each one's checksum follows from the checksums of those streams by a little
// arithmetic in the CRC's field, and the image is checksummed once instead of once per transform.
TransformCrcs transformCrcs(std::span<const std::uint8_t> image);

// Every transformed image made and checksummed, whatever the length and processor: the
// reference the fast path must agree with.
TransformCrcs transformCrcsDirect(std::span<const std::uint8_t> image);

}  // namespace chipsight::doctor
