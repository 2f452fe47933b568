// CRC-32 by folding with VPCLMULQDQ on 256-bit registers: four registers (eight 128-bit lanes)
// in flight, 128 bytes a step. For processors that have VPCLMULQDQ but not AVX-512.
#include "core/checksum/crc32_accelerated.h"
#include "core/checksum/crc32_x86_folding.h"

namespace chipsight {
namespace {

inline __m256i foldConstants256(crc32_constants::Fold f) {
    return _mm256_broadcastsi128_si256(foldConstants128(f));
}

// How far ahead of the folds the next bytes are asked for from memory.
constexpr std::size_t kPrefetchAhead = 2048;

inline __m256i load256(const std::uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

inline __m256i fold256(__m256i x, __m256i k, __m256i data) {
    return _mm256_xor_si256(_mm256_xor_si256(_mm256_clmulepi64_epi128(x, k, 0x00),
                                             _mm256_clmulepi64_epi128(x, k, 0x11)),
                            data);
}

}  // namespace

std::uint32_t crc32VpclmulAvx2(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
    using namespace crc32_constants;
    if (n < 32) return crc32Pclmul(crc, p, n);
    // Zero-extended: a plain cast from 128 bits leaves the upper lanes undefined.
    __m256i x0 = _mm256_xor_si256(
        load256(p), _mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<int>(~crc))));
    p += 32;
    n -= 32;
    if (n >= 96) {
        __m256i x1 = load256(p), x2 = load256(p + 32), x3 = load256(p + 64);
        p += 96;
        n -= 96;
        const __m256i k = foldConstants256(kFold1024);
        for (; n >= 128; p += 128, n -= 128) {
            // Asked for well ahead: the folds alone do not keep enough reads from memory in
            // flight.
            _mm_prefetch(reinterpret_cast<const char*>(p + kPrefetchAhead), _MM_HINT_T0);
            _mm_prefetch(reinterpret_cast<const char*>(p + kPrefetchAhead + 64), _MM_HINT_T0);
            x0 = fold256(x0, k, load256(p));
            x1 = fold256(x1, k, load256(p + 32));
            x2 = fold256(x2, k, load256(p + 64));
            x3 = fold256(x3, k, load256(p + 96));
        }
        x0 = fold256(
            x0, foldConstants256(kFold768),
            fold256(x1, foldConstants256(kFold512), fold256(x2, foldConstants256(kFold256), x3)));
    }
    const __m256i k = foldConstants256(kFold256);
    for (; n >= 32; p += 32, n -= 32) x0 = fold256(x0, k, load256(p));

    const __m128i x = fold128(_mm256_castsi256_si128(x0), foldConstants128(kFold128),
                              _mm256_extracti128_si256(x0, 1));
    return finish128(x, p, n);
}

}  // namespace chipsight
