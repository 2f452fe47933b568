// CRC-32 by folding 128-bit lanes with PCLMULQDQ: eight lanes in flight, 128 bytes a step.
#include "core/checksum/crc32_accelerated.h"
#include "core/checksum/crc32_x86_folding.h"

namespace chipsight {

std::uint32_t crc32Pclmul(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
    using namespace crc32_constants;
    if (n < 16) return crc32Portable(crc, p, n);
    __m128i x = start128(crc, p);
    p += 16;
    n -= 16;
    if (n >= 112) {
        // Eight independent lanes, enough to keep the multiplier busy despite its latency.
        __m128i lane[8] = {x};
        for (int i = 1; i < 8; ++i) lane[i] = load128(p + 16 * (i - 1));
        p += 112;
        n -= 112;
        const __m128i k = foldConstants128(kFold1024);
        for (; n >= 128; p += 128, n -= 128)
            for (int i = 0; i < 8; ++i) lane[i] = fold128(lane[i], k, load128(p + 16 * i));
        // Each lane moves forward by its distance from the last one.
        constexpr Fold kToLast[7] = {kFold896, kFold768, kFold640, kFold512,
                                     kFold384, kFold256, kFold128};
        x = lane[7];
        for (int i = 0; i < 7; ++i) x = fold128(lane[i], foldConstants128(kToLast[i]), x);
    }
    return finish128(x, p, n);
}

}  // namespace chipsight
