// The one-bit search over the carry-less multiply instruction. Built with -mpclmul; runs only
// after the processor was checked for it.
#include "core/doctor/one_bit_clmul.h"

#include "core/doctor/one_bit_search.h"

namespace chipsight::doctor::detail {

const Tables& clmulTables() {
    static const auto tables = buildTables<InstructionMultiply>();
    return *tables;
}

void searchClmul(std::uint32_t imageCrc, std::uint32_t length,
                 std::span<const std::uint32_t> entryCrcs, std::vector<OneBitHit>& hits) {
    const Tables& t = clmulTables();
    search<InstructionMultiply>(t, mirrorPowers<InstructionMultiply>(t, std::uint64_t(length) * 8),
                                imageCrc, length, entryCrcs, hits);
}

}  // namespace chipsight::doctor::detail
