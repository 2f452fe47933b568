// Little-endian words in bytes, whatever the machine's byte order.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace chipsight {

// Eight bytes as one word: the doctor looks at an image eight bytes at a time.
inline std::uint64_t load64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}

inline void store64(std::uint8_t* p, std::uint64_t v) {
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    std::memcpy(p, &v, 8);
}

}  // namespace chipsight
