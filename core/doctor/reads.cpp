// Reads compared byte by byte; a byte where all agree is taken as it is.
#include "core/doctor/reads.h"

namespace chipsight::doctor {

ReadsComparison compareReads(std::span<const std::span<const std::uint8_t>> reads) {
    ReadsComparison c;
    c.reads = reads.size();
    if (reads.empty()) return c;
    const std::size_t n = reads[0].size();
    c.majority.assign(reads[0].begin(), reads[0].end());
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t first = reads[0][i];
        std::uint8_t differ = 0;
        for (std::size_t r = 1; r < reads.size(); ++r) differ |= std::uint8_t(reads[r][i] ^ first);
        if (differ == 0) continue;
        ++c.differingBytes;
        if (c.firstDiffering.size() < kFirstDifferingShown) c.firstDiffering.push_back(i);
        std::uint8_t majority = first;
        for (int bit = 0; bit < 8; ++bit) {
            if ((differ >> bit & 1) == 0) continue;
            ++c.flips[bit];
            std::size_t ones = 0;
            for (const auto& read : reads) ones += read[i] >> bit & 1;
            const std::size_t zeros = reads.size() - ones;
            const bool one = ones != zeros ? ones > zeros : (first >> bit & 1) != 0;
            majority = std::uint8_t(one ? majority | 1u << bit : majority & ~(1u << bit));
        }
        c.majority[i] = majority;
    }
    return c;
}

}  // namespace chipsight::doctor
