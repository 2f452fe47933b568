// The images to burn for a board: for each chip of its best set that is missing, bad or bits off,
// the ROM's bytes from a source that has them exactly as the database gives them, fitted to the
// part that takes its place.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/board/board.h"
#include "core/repair/burn.h"

namespace chipsight::repair {

// Where a ROM's bytes can come from besides the board (the user's collection): the bytes of
// `rom` exactly, verified against its checksums, or none.
using RomSource =
    std::function<std::optional<std::vector<std::uint8_t>>(const board::CatalogueRom& rom)>;

struct BurnChip {
    std::string rom;                // its name in the set
    std::vector<BurnImage> images;  // empty when it cannot be burnt (`why` says why)
    std::string from;               // where the bytes came from, in words
    std::string why;
};

// The chips of the answer's best set to burn, in the set's order: missing, bad dump known, and
// bits off. A chip with bits off is burnt from its dump with those bits put back, when the
// database's checksums confirm the result; else, like the others, from `source`.
std::vector<BurnChip> planBurn(const board::Catalogue& catalogue,
                               std::span<const std::span<const std::uint8_t>> bytes,
                               const board::BoardAnswer& answer,
                               const std::optional<EpromPart>& part, const RomSource& source);

struct BurnWritten {
    struct Image {
        std::string path, from;
        std::uint32_t crc = 0;
        ByteSums sums;
    };
    std::vector<Image> images;  // each image written
    struct Left {
        std::string name, why;
    };
    std::vector<Left> left;          // the chips not burnt
    std::vector<std::string> lines;  // one per image written, then one per chip not burnt
    std::string failure;             // the first write that failed, naming the file and why
};

// Writes the images as FOLDER/SET/IMAGE, each whole or not at all, a file there already
// replaced only when `replace`.
BurnWritten writeBurn(const std::string& folder, const std::string& setName,
                      const std::vector<BurnChip>& chips, bool replace);

}  // namespace chipsight::repair
