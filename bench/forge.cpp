// Dumps forged to a checksum: random bytes whose last four are solved for the CRC-32 wanted.
#include "bench/forge.h"

#include <random>
#include <stdexcept>

#include "core/checksum/crc32.h"

namespace bench {

std::vector<std::uint8_t> bytesWithCrc(std::uint32_t crc, std::size_t size, std::uint32_t seed) {
    if (size < 4) throw std::invalid_argument("bytesWithCrc needs at least four bytes");
    std::uint32_t table[256];
    std::uint8_t byTopByte[256];  // the reversed table: which entry has this top byte
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t r = i;
        for (int bit = 0; bit < 8; ++bit) r = r >> 1 ^ (r & 1 ? 0xEDB88320u : 0);
        table[i] = r;
        byTopByte[r >> 24] = std::uint8_t(i);
    }
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size - 4; ++i) bytes[i] = std::uint8_t(rng());
    // A byte takes the register r to r >> 8 ^ table[(r ^ byte) & 0xFF], whose top byte is the
    // table entry's alone. Going back from the register wanted, each step's top byte therefore
    // names the entry used, and four steps back the bytes still unknown have not reached it.
    std::uint8_t entry[4];
    std::uint32_t r = ~crc;
    for (int k = 3; k >= 0; --k) {
        entry[k] = byTopByte[r >> 24];
        r = (r ^ table[entry[k]]) << 8;
    }
    // Forward from the register after the random bytes, each byte picks its entry.
    r = ~chipsight::Crc32(0, bytes.data(), std::uint32_t(size - 4));
    for (int k = 0; k < 4; ++k) {
        const std::uint8_t byte = std::uint8_t((r ^ entry[k]) & 0xFF);
        bytes[size - 4 + std::size_t(k)] = byte;
        r = r >> 8 ^ table[entry[k]];
    }
    return bytes;
}

}  // namespace bench
