// Against one ROM the database expects: how a dump, or two dumps together, can be that ROM after
// a fault of the reading or of the dump's form. Where the whole-database doctor asks "is this
// dump any entry, somehow?", this asks "is any of these dumps this ROM?", which is cheap enough
// to try harder: two bits off as well as one, and pairs of dumps interleaved.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/doctor/doctor.h"

namespace chipsight::doctor {

struct ExpectedRom {
    std::uint32_t crc = 0, size = 0;
    std::optional<std::array<std::uint8_t, 20>> sha1;
};

struct DumpView {
    std::span<const std::uint8_t> bytes;
    std::uint32_t crc = 0;  // of all of bytes
};

// A bit of a dump that differs from the ROM.
struct BitOff {
    std::uint64_t byte;
    int bit;    // 0 for D0
    bool rose;  // the dump reads 1 where the ROM has 0, as a cell that lost its charge does
};

struct NearMatch {
    enum class Kind {
        Transformed,  // the dump, transformed (`transform`: a swap, reversal or inversion)
        Within,       // the ROM is part `part` of `parts` of the dump (`transform`: EvenOdd,
                      // ByteLanes, or Overdump for a dump of `parts` copies of it)
        Interleaved,  // the even bytes are dump `dump`, the odd bytes dump `second`
        BitsOff,      // the dump with `bits` flipped
    };
    Kind kind = Kind::Transformed;
    Transform transform = Transform::ByteSwap;
    std::uint32_t part = 1, parts = 1;
    std::size_t dump = 0, second = 0;
    std::vector<BitOff> bits;
    bool confirmed = false;  // by the ROM's SHA-1 (bits off are kept only when confirmed, or,
                             // for one bit, when the database gives no SHA-1)
};

struct NearSearch {
    std::vector<NearMatch> matches;
    // A dump of the ROM's size whose two bits off were not searched: confirming every candidate
    // by SHA-1 would cost more than kTwoBitsBudgetSeconds, or there is no SHA-1 to confirm with.
    bool twoBitsSkipped = false;
};

// What confirming the candidates of a two-bit search may cost, at most.
inline constexpr double kTwoBitsBudgetSeconds = 0.1;

// The ROM's bytes as `match` makes them from `dump` (and `second`, the odd bytes of an
// interleaved pair): the dump transformed, the share or first copy of a larger dump, the two
// interleaved, or the dump with its bits flipped back. Empty when the dumps' lengths do not fit
// the match and the ROM's `romSize`.
std::vector<std::uint8_t> madeRom(const NearMatch& match, std::span<const std::uint8_t> dump,
                                  std::span<const std::uint8_t> second, std::uint64_t romSize);

// Looks for the ROM among `dumps`: each of its size transformed or one or two bits off, each of
// twice its size (or four times) holding it as its even or odd bytes, a byte lane, or as copies,
// and each pair of half its size interleaved.
NearSearch findNear(const ExpectedRom& rom, std::span<const DumpView> dumps);

}  // namespace chipsight::doctor
