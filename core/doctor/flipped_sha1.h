// The SHA-1 of an image with one bit flipped, for many flips at once and on more than one core.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/doctor/one_bit.h"

namespace chipsight::doctor {

struct FlippedSha1s {
    // For each hit in the order given, the SHA-1 of the image with its bit flipped; empty for
    // a hit that could not be hashed.
    std::vector<std::optional<std::array<std::uint8_t, 20>>> digests;
    // What the hits alone made the hashing read: from each one's 64-byte block to the end of
    // the image, summed. The bytes before the blocks are hashed once for every hit.
    std::uint64_t suffixBytes = 0;
};

// The SHA-1 of the image with each hit's bit flipped. One pass hashes the bytes before the hits
// in the order of their bytes and leaves a state at each hit's block; each state is finished
// from there on by whichever of `threads` (one at least) is free, while the pass goes on.
FlippedSha1s flippedSha1s(std::span<const std::uint8_t> image, std::span<const OneBitHit> hits,
                          unsigned threads);

}  // namespace chipsight::doctor
