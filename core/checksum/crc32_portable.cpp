// The portable CRC-32: slicing by eight bytes, with the tables built once at compile time.
#include <array>

#include "core/checksum/crc32.h"
#include "core/sys/byte_order.h"

namespace chipsight {
namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;

using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Tables makeTables() {
    Tables t{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t r = n;
        for (int k = 0; k < 8; ++k) r = (r & 1u) ? (r >> 1) ^ kPolynomial : r >> 1;
        t[0][n] = r;
    }
    for (std::size_t s = 1; s < 8; ++s)
        for (std::size_t n = 0; n < 256; ++n)
            t[s][n] = (t[s - 1][n] >> 8) ^ t[0][t[s - 1][n] & 0xFF];
    return t;
}

constexpr Tables kTables = makeTables();

}  // namespace

const std::uint32_t* crc32ByteTable() { return kTables[0].data(); }

std::uint32_t crc32Portable(std::uint32_t crc, const std::uint8_t* data, std::size_t length) {
    if (data == nullptr) return 0;
    std::uint32_t r = ~crc;
    while (length >= 8) {
        const std::uint32_t lo = r ^ load32(data);
        r = kTables[7][lo & 0xFF] ^ kTables[6][(lo >> 8) & 0xFF] ^ kTables[5][(lo >> 16) & 0xFF] ^
            kTables[4][lo >> 24] ^ kTables[3][data[4]] ^ kTables[2][data[5]] ^ kTables[1][data[6]] ^
            kTables[0][data[7]];
        data += 8;
        length -= 8;
    }
    while (length--) r = kTables[0][(r ^ *data++) & 0xFF] ^ (r >> 8);
    return ~r;
}

}  // namespace chipsight
