// The one-bit search over the carry-less multiply instruction. Built with -mpclmul; runs only
// after the processor was checked for it.
#include <immintrin.h>

#include "core/doctor/one_bit_search.h"

namespace chipsight::doctor::detail {
namespace {

struct InstructionMultiply {
    static std::uint64_t multiply(std::uint32_t a, std::uint32_t b) {
        const __m128i p =
            _mm_clmulepi64_si128(_mm_cvtsi32_si128(int(a)), _mm_cvtsi32_si128(int(b)), 0);
        return std::uint64_t(_mm_cvtsi128_si64(p));
    }
};

}  // namespace

const Tables& clmulTables() {
    static const auto tables = buildTables<InstructionMultiply>();
    return *tables;
}

void searchClmul(const Tables& t, std::uint32_t imageCrc, std::uint32_t length,
                 std::span<const std::uint32_t> entryCrcs, std::vector<OneBitHit>& hits) {
    search<InstructionMultiply>(t, imageCrc, length, entryCrcs, hits);
}

}  // namespace chipsight::doctor::detail
