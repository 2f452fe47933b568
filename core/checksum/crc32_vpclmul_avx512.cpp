// CRC-32 by folding with VPCLMULQDQ on 512-bit registers: four registers (sixteen 128-bit
// lanes) in flight, 256 bytes a step.
#include "core/checksum/crc32_accelerated.h"
#include "core/checksum/crc32_x86_folding.h"

namespace chipsight {
namespace {

// Written out rather than broadcast: GCC 12's broadcast and extraction intrinsics trip a false
// uninitialised-value warning.
inline __m512i foldConstants512(crc32_constants::Fold f) {
    const auto low = static_cast<long long>(f.low), high = static_cast<long long>(f.high);
    return _mm512_set_epi64(high, low, high, low, high, low, high, low);
}

inline __m512i load512(const std::uint8_t* p) { return _mm512_loadu_si512(p); }

inline __m512i fold512(__m512i x, __m512i k, __m512i data) {
    // 0x96: three-way exclusive or.
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00),
                                     _mm512_clmulepi64_epi128(x, k, 0x11), data, 0x96);
}

// One 128-bit lane, by the zero-masking form for the same reason.
template <int kLane>
inline __m128i lane(__m512i v) {
    return _mm512_maskz_extracti32x4_epi32(0xF, v, kLane);
}

}  // namespace

std::uint32_t crc32VpclmulAvx512(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
    using namespace crc32_constants;
    if (n < 64) return crc32Pclmul(crc, p, n);
    // Zero-extended: a plain cast from 128 bits leaves the upper lanes undefined.
    __m512i x0 = _mm512_xor_si512(
        load512(p), _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(~crc))));
    p += 64;
    n -= 64;
    if (n >= 192) {
        __m512i x1 = load512(p), x2 = load512(p + 64), x3 = load512(p + 128);
        p += 192;
        n -= 192;
        const __m512i k = foldConstants512(kFold2048);
        for (; n >= 256; p += 256, n -= 256) {
            x0 = fold512(x0, k, load512(p));
            x1 = fold512(x1, k, load512(p + 64));
            x2 = fold512(x2, k, load512(p + 128));
            x3 = fold512(x3, k, load512(p + 192));
        }
        x0 = fold512(
            x0, foldConstants512(kFold1536),
            fold512(x1, foldConstants512(kFold1024), fold512(x2, foldConstants512(kFold512), x3)));
    }
    const __m512i k = foldConstants512(kFold512);
    for (; n >= 64; p += 64, n -= 64) x0 = fold512(x0, k, load512(p));

    // Move lanes 0..2 onto lane 3 in one multiplication; lane 3 needs no move.
    const __m512i toLast = _mm512_set_epi64(
        0, 0, static_cast<long long>(kFold128.high), static_cast<long long>(kFold128.low),
        static_cast<long long>(kFold256.high), static_cast<long long>(kFold256.low),
        static_cast<long long>(kFold384.high), static_cast<long long>(kFold384.low));
    const __m512i moved = _mm512_xor_si512(_mm512_clmulepi64_epi128(x0, toLast, 0x00),
                                           _mm512_clmulepi64_epi128(x0, toLast, 0x11));
    const __m128i x = _mm_ternarylogic_epi64(lane<0>(moved), lane<1>(moved),
                                             _mm_xor_si128(lane<2>(moved), lane<3>(x0)), 0x96);
    return finish128(x, p, n);
}

}  // namespace chipsight
