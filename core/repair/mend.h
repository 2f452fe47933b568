// A chip's ROM made from the board's dumps by undoing what the doctor found: a dump transformed,
// a ROM within a larger dump, two dumps interleaved, bits off. Kept only when the result is the
// ROM by the database's checksums, so a fix never puts wrong bytes in a set or a burn.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/board/board.h"

namespace chipsight::repair {

// Whether `bytes` are the ROM of this CRC-32 and size, and SHA-1 where one is given.
bool isTheRom(std::span<const std::uint8_t> bytes, std::uint32_t crc, std::uint32_t size,
              const std::optional<std::array<std::uint8_t, 20>>& sha1);
// The same for a ROM of the catalogue.
bool isTheRom(std::span<const std::uint8_t> bytes, const board::CatalogueRom& rom);

// The ROM of `line` (found transformed, or bits off) from `bytes` (each dump's, empty where not
// kept) with the doctor's find undone; none when that does not give the ROM.
std::optional<std::vector<std::uint8_t>> mendedRom(
    const board::ChipLine& line, std::span<const std::span<const std::uint8_t>> bytes,
    const board::CatalogueRom& rom);

}  // namespace chipsight::repair
