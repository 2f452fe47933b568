// CRC-32 entry points. Faster processor-specific paths are chosen here once they exist.
#include "core/crc32.h"

namespace chipsight {

std::uint32_t Crc32(std::uint32_t crc, const std::uint8_t* data, std::uint32_t length) {
    return crc32Portable(crc, data, length);
}

namespace {
// Multiplies two polynomials modulo the CRC polynomial (bit-reflected representation).
std::uint32_t gf2Multiply(std::uint32_t a, std::uint32_t b) {
    std::uint32_t product = 0;
    for (int i = 0; i < 32; ++i) {
        if (a & 0x80000000u) product ^= b;
        a <<= 1;
        b = (b & 1u) ? (b >> 1) ^ 0xEDB88320u : b >> 1;
    }
    return product;
}
}  // namespace

std::uint32_t crc32Combine(std::uint32_t crcA, std::uint32_t crcB, std::uint64_t lengthB) {
    // Shift crcA over lengthB zero bytes, i.e. multiply by x^(8*lengthB), by squaring powers.
    std::uint32_t power = 0x00800000u;  // x^8 in the reflected representation: one byte
    std::uint32_t factor = 0x80000000u; // x^0
    for (std::uint64_t n = lengthB; n != 0; n >>= 1) {
        if (n & 1u) factor = gf2Multiply(factor, power);
        power = gf2Multiply(power, power);
    }
    return gf2Multiply(crcA, factor) ^ crcB;
}

}  // namespace chipsight
