// Filling a board's catalogue from DAT files: MAME's machines and software-list items, and the
// games of Logiqx and ClrMamePro DATs, each with every ROM and relation its DAT gives.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "core/board/catalogue.h"
#include "core/databases/dat/dat_reader.h"

namespace chipsight::board {

// What one DAT gave the catalogue.
struct CatalogueFile {
    std::string path;
    DatFormat format = DatFormat::None;  // None: of no known format, so nothing came from it
    std::size_t sets = 0, roms = 0;
    // The bytes the sets were read from: how many from the file's start, and their CRC-32.
    std::uint64_t fileBytes = 0;
    std::uint32_t fileCrc = 0;
    // Why nothing came from it, as the DAT loading says it: "line 12: unclosed <rom> element",
    // "out of memory", or why the file could not be read. Empty when it was read.
    std::string failure;
};

// Reads every DAT of `datPaths` into one catalogue. `files` gets one line per path, in order;
// a file that fails gives the catalogue none of its sets. The sets of a Logiqx or ClrMamePro
// DAT have the DAT's path as their list, so their names resolve within that DAT alone.
// Throws std::bad_alloc only when the catalogue itself does not fit in memory.
Catalogue loadCatalogue(const std::vector<std::string>& datPaths,
                        std::vector<CatalogueFile>& files);

}  // namespace chipsight::board
