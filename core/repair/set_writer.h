// The best set of a board written as the zip an emulator takes: every chip found on the board
// under the name the set gives it, the parent's and BIOS's included (the non-merged layout), in
// the folder where MAME looks for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "core/board/board.h"
#include "core/repair/burn_plan.h"
#include "core/repair/zip_writer.h"

namespace chipsight::repair {

// Moved, never copied: its members view the bytes it holds.
struct SetPlan {
    SetPlan() = default;
    SetPlan(SetPlan&&) = default;
    SetPlan& operator=(SetPlan&&) = default;
    SetPlan(const SetPlan&) = delete;
    SetPlan& operator=(const SetPlan&) = delete;

    // Where the zip goes below the folder chosen: SET.zip, or LIST/ITEM.zip for an item of a
    // software list. Empty when the set's names cannot stand as a path (then `refused` says why).
    std::string file;
    std::vector<ZipMember> members;  // views into the dumps' bytes, or into `taken`
    // The bytes of chips no dump gives as they are, and their names: mended from the dumps by
    // undoing the doctor's find, or taken from the collection.
    std::vector<std::vector<std::uint8_t>> taken;
    std::vector<std::string> takenNames, mended, fromCollection;
    std::size_t chips = 0;  // of the set, its devices' left out
    // Chips of the set that no dump gives as the set has them, and chips whose names cannot
    // stand in a zip, each with why ("missing").
    struct Left {
        std::string name, why;
    };
    std::vector<Left> left;
    std::string refused;
};

// What of the board's best set can be written. `bytes[d]` are dump d's bytes, empty where they
// were not kept; a chip no dump gives is taken from `source` when it has it.
SetPlan planSet(const board::Catalogue& catalogue,
                std::span<const std::span<const std::uint8_t>> bytes,
                const board::BoardAnswer& answer, const RomSource& source = {});

struct SetWritten {
    std::string path;     // of the zip
    std::string line;     // what was written: "Set written: PATH, 13 of 14 chips; not in it: ..."
    std::string failure;  // else why not, naming the file
    bool exists = false;  // the failure is a zip there already, not to be replaced
};

// Writes the plan's zip below `folder` (making the list's folder when needed).
SetWritten writeSet(const std::string& folder, const SetPlan& plan, bool replace);

}  // namespace chipsight::repair
