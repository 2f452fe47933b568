// Several reads of one chip compared: where they differ, and the per-bit majority image.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace chipsight::doctor {

// How the image is made of reads that differ: each bit as most reads have it (a tie as the first
// read has it), or, for an EPROM, 0 wherever any read has it 0, since a cell that loses its
// charge only ever reads 1 where it was programmed 0.
enum class ReadsRule { Majority, And };

struct ReadsComparison {
    std::size_t reads = 0;
    ReadsRule rule = ReadsRule::Majority;
    std::vector<std::uint8_t> majority;  // the image the rule makes of the reads
    std::uint64_t differingBytes = 0;    // addresses where the reads do not all agree
    std::uint64_t flips[8]{};            // for each data line: the addresses where it disagrees
    std::vector<std::uint64_t> firstDiffering;  // the first few of those addresses
};

inline constexpr std::size_t kFirstDifferingShown = 8;

// A comparison of `reads` reads of `length` bytes each, none compared yet. Throws
// std::bad_alloc when the majority does not fit.
ReadsComparison startComparison(std::size_t reads, std::size_t length,
                                ReadsRule rule = ReadsRule::Majority);
// Compares the bytes from `offset` on of every read, `blocks` holding one span per read, all of
// one length: the reads are compared block by block, so no more than a block of each is held.
void compareBlock(ReadsComparison& c, std::span<const std::span<const std::uint8_t>> blocks,
                  std::size_t offset);

}  // namespace chipsight::doctor
