// Internal: 128-bit folding steps shared by the x86 CRC-32 paths. Include only from sources
// compiled with at least SSE4.1 and PCLMULQDQ enabled. Everything here has internal linkage,
// so each path gets its own copy built for its own instruction set.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "core/checksum/crc32.h"
#include "core/checksum/crc32_constants.h"

namespace chipsight {
namespace {

inline __m128i foldConstants128(crc32_constants::Fold f) {
    return _mm_set_epi64x(static_cast<long long>(f.high), static_cast<long long>(f.low));
}

inline __m128i load128(const std::uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// `x` moved forward by the distance the constants were made for, plus `data`.
inline __m128i fold128(__m128i x, __m128i k, __m128i data) {
    return _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), data);
}

// The 32-bit CRC register that a message ending in the 128-bit lane `x` leaves.
inline std::uint32_t reduce128(__m128i x) {
    using namespace crc32_constants;
    const __m128i low32 = _mm_set_epi32(0, 0, 0, -1);
    const __m128i k96 = _mm_set_epi64x(0, static_cast<long long>(kReduce96));
    const __m128i k64 = _mm_set_epi64x(0, static_cast<long long>(kReduce64));
    const __m128i barrett =
        _mm_set_epi64x(static_cast<long long>(kPolynomial), static_cast<long long>(kBarrettMu));
    // 128 -> 96 bits: the older 64 bits are multiplied down next to the newer ones.
    const __m128i w = _mm_xor_si128(_mm_clmulepi64_si128(x, k96, 0x00), _mm_srli_si128(x, 8));
    // 96 -> 64 bits, the same way with the older 32 bits.
    const __m128i u = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(w, low32), k64, 0x00),
                                    _mm_srli_si128(w, 4));
    // Barrett reduction: quotient estimate from the older 32 bits, then subtract quotient * P.
    const __m128i t = _mm_clmulepi64_si128(_mm_and_si128(u, low32), barrett, 0x00);
    const __m128i q = _mm_clmulepi64_si128(_mm_and_si128(t, low32), barrett, 0x10);
    return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(u, q), 1));
}

// Folds the remaining whole 16-byte blocks into `x`, reduces, and finishes the last bytes with
// the portable code, so no load ever reaches past the end of the data.
inline std::uint32_t finish128(__m128i x, const std::uint8_t* p, std::size_t n) {
    const __m128i k = foldConstants128(crc32_constants::kFold128);
    for (; n >= 16; p += 16, n -= 16) x = fold128(x, k, load128(p));
    return crc32Portable(~reduce128(x), p, n);
}

// The first 16 bytes with the running CRC folded in: the register enters as the first 32
// message bits, which is what the table-driven code does implicitly.
inline __m128i start128(std::uint32_t crc, const std::uint8_t* p) {
    return _mm_xor_si128(load128(p), _mm_cvtsi32_si128(static_cast<int>(~crc)));
}

}  // namespace
}  // namespace chipsight
