// The carry-less multiply instruction as the one-bit search's multiplication. Include only from
// sources built with -mpclmul, which run after the processor was checked for it.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace chipsight::doctor::detail {

struct InstructionMultiply {
    static std::uint64_t multiply(std::uint32_t a, std::uint32_t b) {
        const __m128i p =
            _mm_clmulepi64_si128(_mm_cvtsi32_si128(int(a)), _mm_cvtsi32_si128(int(b)), 0);
        return std::uint64_t(_mm_cvtsi128_si64(p));
    }
};

}  // namespace chipsight::doctor::detail
