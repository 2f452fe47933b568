// Loading one DAT file: from the compiled cache when it can be trusted, else by reading the
// file, whose compiled form is then kept for the next start.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/databases/dat_store.h"

namespace chipsight {

struct LoadedDat {
    std::string path;
    DatFormat format = DatFormat::None;
    std::shared_ptr<const DatStore> store;  // none for a file of no known format, or a failure
    bool fromCache = false;
    std::uint64_t size = 0;  // of the file, as it was when the load began
    double seconds = 0;
    // For a file that could not be read or is malformed: where and why, e.g.
    // "line 12: unclosed <rom> element". Empty otherwise.
    std::string failure;
};

// Loads the DAT at `path`. `cacheDir` empty: no cache is read or written. `progress`, when
// given, hears now and then how many bytes of the file have been read.
LoadedDat loadDat(const std::string& path, const std::string& cacheDir,
                  const std::function<void(std::uint64_t)>& progress = {});

}  // namespace chipsight
