// Reads compared byte by byte; a byte where all agree is taken as it is.
#include "core/doctor/reads.h"

#include <algorithm>

namespace chipsight::doctor {

ReadsComparison startComparison(std::size_t reads, std::size_t length, ReadsRule rule) {
    ReadsComparison c;
    c.reads = reads;
    c.rule = rule;
    c.majority.resize(length);
    return c;
}

void compareBlock(ReadsComparison& c, std::span<const std::span<const std::uint8_t>> blocks,
                  std::size_t offset) {
    if (blocks.empty()) return;
    const std::span<const std::uint8_t> first = blocks[0];
    std::copy(first.begin(), first.end(), c.majority.begin() + std::ptrdiff_t(offset));
    for (std::size_t i = 0; i < first.size(); ++i) {
        std::uint8_t differ = 0;
        for (std::size_t r = 1; r < blocks.size(); ++r)
            differ |= std::uint8_t(blocks[r][i] ^ first[i]);
        if (differ == 0) continue;
        ++c.differingBytes;
        if (c.firstDiffering.size() < kFirstDifferingShown) c.firstDiffering.push_back(offset + i);
        std::uint8_t majority = first[i];
        if (c.rule == ReadsRule::And)
            for (const auto& block : blocks) majority &= block[i];
        for (int bit = 0; bit < 8; ++bit) {
            if ((differ >> bit & 1) == 0) continue;
            ++c.flips[bit];
            if (c.rule == ReadsRule::And) continue;
            std::size_t ones = 0;
            for (const auto& block : blocks) ones += block[i] >> bit & 1;
            const std::size_t zeros = blocks.size() - ones;
            const bool one = ones != zeros ? ones > zeros : (first[i] >> bit & 1) != 0;
            majority = std::uint8_t(one ? majority | 1u << bit : majority & ~(1u << bit));
        }
        c.majority[offset + i] = majority;
    }
}

}  // namespace chipsight::doctor
