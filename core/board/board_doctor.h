// The dump doctor within a board: each chip of the best set that no dump is, looked for among
// the dumps the set does not explain, transformed, interleaved or a bit or two off.
#pragma once

#include <cstdint>
#include <span>

#include "core/board/board.h"

namespace chipsight::board {

// Looks for every missing chip of `answer`'s best set among the dumps it leaves unexplained,
// whose bytes are `bytes` (empty for a dump whose bytes were not kept): a chip found so takes its
// state and its match, and the dumps it takes leave the unexplained ones. Says in
// `twoBitsSkipped` whether some chip's two-bit search was too dear to run.
void examineBoard(const Catalogue& catalogue, std::span<const Dump> dumps,
                  std::span<const std::span<const std::uint8_t>> bytes, BoardAnswer& answer,
                  bool* twoBitsSkipped = nullptr);

}  // namespace chipsight::board
