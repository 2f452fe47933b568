// A board's answer as report lines: the block that follows the reports of the board's dumps.
#pragma once

#include <span>
#include <string>

#include "core/board/board.h"

namespace chipsight::board {

// The block, from the block head on, each further line after a CR LF, as report blocks are.
// `twoBitsSkipped` adds the line that says two bits off were not searched for some chip.
std::string boardText(const Catalogue& catalogue, std::span<const Dump> dumps,
                      const BoardAnswer& answer, bool twoBitsSkipped = false);

}  // namespace chipsight::board
