// The catalogue compiled once for a set of DAT files and mapped back by the runs that follow, so
// that a board is judged in milliseconds, not after a second of reading MAME's list again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/board/catalogue.h"
#include "core/databases/dat/dat_loading.h"

namespace chipsight::board {

// A DAT the catalogue was read from, as it was then.
struct CatalogueSource {
    std::string path;
    DatIdentity identity;
    // The bytes the catalogue was read from: how many from the file's start, and their CRC-32.
    std::uint64_t contentBytes = 0;
    std::uint32_t contentCrc = 0;
};

// The catalogue the cache file `file` holds, when it was compiled from exactly `sources` (the
// same paths in the same order, each file as it is now, its content read from the file for one
// written too soon before the compile for its identity to tell) and its header is whole; none
// otherwise. Its records are checked as they are read: one found damaged throws
// CatalogueDamaged.
std::optional<Catalogue> openCatalogueCache(const std::string& file,
                                            const std::vector<CatalogueSource>& sources);

// Writes `catalogue`, read from `sources` from the time `readSince` (nanoseconds since 1970)
// on, as the cache file `file`: under a temporary name, then renamed into place. False when it
// was not written, or when a source is no longer the file it was.
bool storeCatalogue(const std::string& file, const Catalogue& catalogue,
                    const std::vector<CatalogueSource>& sources, std::int64_t readSince);

}  // namespace chipsight::board
