// Many dumps read from one board, judged together: which sets they come from (ranked, families
// kept together), the state of each chip of the best set, and the dumps it does not explain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/board/catalogue.h"
#include "core/doctor/near_rom.h"

namespace chipsight::board {

// One chip as read from the board.
struct Dump {
    std::string name;  // as the user knows it: a file name, an archive member
    std::uint32_t crc = 0, size = 0;
    std::optional<Sha1> sha1;  // when given, a ROM whose SHA-1 differs is not this dump
};

enum class ChipState : std::uint8_t {
    Found,         // `dump` is this ROM
    BadDumpKnown,  // the database's dump of it is marked bad; `dump` says whether one matched it
    NoGoodDump,    // nobody has dumped it (nodump): nothing to find
    Missing,       // no dump is this ROM
    // Filled by the dump doctor: `dump` (with `second`) is this ROM once `near` is undone, or
    // differs from it in the bits `near` says.
    FoundTransformed,
    BitsOff,
};

enum class ChipFrom : std::uint8_t { Own, Inherited, Device };

// One ROM of the best set, in the set's order: its own ROMs, then those it takes from its
// parent or BIOS, then each device's.
struct ChipLine {
    RomId rom = 0;  // name, size, region, data width and offset are the catalogue's
    ChipFrom from = ChipFrom::Own;
    // The set the ROM is listed under: the set itself, the parent or BIOS it is taken from
    // (kNoSet where the catalogue does not say), or the device.
    SetId origin = kNoSet;
    ChipState state = ChipState::Missing;
    std::optional<std::size_t> dump;  // index into the dumps given
    // What the doctor found the ROM to be, for FoundTransformed and BitsOff.
    std::optional<doctor::NearMatch> near;
};

struct Candidate {
    SetId set = kNoSet;
    std::string_view name, description;
    // Its dumpable ROMs (own and taken over, nodump ones left out) and how many a dump matched:
    // "14 of 14". `missing` lists the others in the set's order.
    std::size_t matched = 0, dumpable = 0;
    std::vector<RomId> missing;
    // Its devices' ROMs, counted apart.
    std::size_t deviceMatched = 0, deviceDumpable = 0;
    // The evidence the dumps give for it: each matched dump counts one over the number of
    // families that hold it.
    double weight = 0;
    // Sets holding exactly the same (crc, size) ROMs: the dumps cannot tell them apart.
    std::vector<SetId> tiedWith;
};

// Dumps of the board that the best set does not explain.
struct Unexplained {
    // A mixed board: these dumps are from that set (the best set for them).
    struct FromOtherSet {
        SetId set = kNoSet;
        std::vector<std::size_t> dumps;
    };
    // A chip some sets hold, none of them identified by the dumps: the first few of them
    // (parents first, then by name) and how many there are.
    struct KnownChip {
        std::size_t dump = 0;
        std::vector<SetId> sets;
        std::size_t setCount = 0;
    };
    std::vector<FromOtherSet> otherSets;
    std::vector<KnownChip> knownChips;
    std::vector<std::size_t> unknown;  // dumps no set holds
};

struct BoardAnswer {
    std::vector<Candidate> candidates;  // best first; empty when no set holds any dump
    std::vector<ChipLine> chips;        // of candidates[0]
    Unexplained unexplained;
};

struct BoardOptions {
    std::size_t candidates = 5;
    std::size_t knownChipSets = 3;  // sets named for a known chip
};

// Judges the dumps of one board against the catalogue. Only sets holding a dump are looked at.
// The answer's names and descriptions are the catalogue's: it is read while the catalogue lives.
BoardAnswer judgeBoard(const Catalogue& catalogue, std::span<const Dump> dumps,
                       const BoardOptions& options = {});

}  // namespace chipsight::board
