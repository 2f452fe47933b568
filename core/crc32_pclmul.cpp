// CRC-32 by folding 128-bit lanes with PCLMULQDQ: four lanes in flight, 64 bytes a step.
#include "core/crc32_impl.h"
#include "core/crc32_x86.h"

namespace chipsight {

std::uint32_t crc32Pclmul(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
    using namespace crc32_constants;
    if (n < 16) return crc32Portable(crc, p, n);
    __m128i x0 = start128(crc, p);
    p += 16;
    n -= 16;
    if (n >= 48) {
        // Four independent lanes hide the multiplier's latency.
        __m128i x1 = load128(p), x2 = load128(p + 16), x3 = load128(p + 32);
        p += 48;
        n -= 48;
        const __m128i k = foldConstants128(kFold512);
        for (; n >= 64; p += 64, n -= 64) {
            x0 = fold128(x0, k, load128(p));
            x1 = fold128(x1, k, load128(p + 16));
            x2 = fold128(x2, k, load128(p + 32));
            x3 = fold128(x3, k, load128(p + 48));
        }
        x0 = fold128(
            x0, foldConstants128(kFold384),
            fold128(x1, foldConstants128(kFold256), fold128(x2, foldConstants128(kFold128), x3)));
    }
    return finish128(x0, p, n);
}

}  // namespace chipsight
