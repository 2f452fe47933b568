// Little-endian words in bytes, whatever the machine's byte order.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace chipsight {

// Each is one unaligned load or store on a little-endian machine: the DAT blocks, the chip
// records and the checksum loops read their numbers through these in their inner loops.
template <typename T>
inline T swapped(T v) {
    if constexpr (sizeof v == 2)
        return T(__builtin_bswap16(v));
    else if constexpr (sizeof v == 4)
        return T(__builtin_bswap32(v));
    else
        return T(__builtin_bswap64(v));
}
template <typename T>
inline T loadLittle(const std::uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = swapped(v);
    return v;
}
template <typename T>
inline void storeLittle(std::uint8_t* p, T v) {
    if constexpr (std::endian::native == std::endian::big) v = swapped(v);
    std::memcpy(p, &v, sizeof v);
}

inline std::uint16_t load16(const std::uint8_t* p) { return loadLittle<std::uint16_t>(p); }
inline std::uint32_t load32(const std::uint8_t* p) { return loadLittle<std::uint32_t>(p); }
// Eight bytes as one word: the doctor looks at an image eight bytes at a time.
inline std::uint64_t load64(const std::uint8_t* p) { return loadLittle<std::uint64_t>(p); }

inline void store16(std::uint8_t* p, std::uint16_t v) { storeLittle(p, v); }
inline void store32(std::uint8_t* p, std::uint32_t v) { storeLittle(p, v); }
inline void store64(std::uint8_t* p, std::uint64_t v) { storeLittle(p, v); }

}  // namespace chipsight
