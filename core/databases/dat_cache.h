// The compiled form of DAT files, kept between runs so that a start maps a file instead of
// parsing hundreds of megabytes of XML.
//
// One cache file per DAT, in the user's cache directory, named by a hash of the DAT's path. It
// holds a header naming the DAT exactly (path, size, last-write time, inode, device, and the
// version of this format and of the readers) with a checksum over the header, then the block of
// a DatStore. It is trusted only when all of that agrees; anything else is compiled again. A
// cache file is written whole under a temporary name and then renamed, so a reader sees the old
// file or the new one, and two processes compiling the same DAT at once both succeed.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/databases/dat_store.h"

namespace chipsight {

// What a DAT file is, as far as the cache can tell.
struct DatIdentity {
    std::string path;
    std::uint64_t size = 0;
    std::int64_t modifiedSeconds = 0, modifiedNanoseconds = 0;
    std::uint64_t inode = 0, device = 0;
    bool operator==(const DatIdentity&) const = default;
};

// The identity of the file at `path` now (links followed); none when it has no status.
std::optional<DatIdentity> datIdentityOf(const std::string& path);

// The store compiled earlier for the DAT of `identity`, mapped from `cacheDir`; none when there
// is none that can be trusted.
std::shared_ptr<const DatStore> loadCachedStore(const std::string& cacheDir,
                                                const DatIdentity& identity);

// Keeps `block` for the DAT of `identity` in `cacheDir` (made if missing). False when it could
// not be kept, which is no error: the DAT is compiled again next time.
bool storeInCache(const std::string& cacheDir, const DatIdentity& identity,
                  const std::vector<std::uint8_t>& block);

// The path of the cache file for the DAT at `path`.
std::string cacheFileFor(const std::string& cacheDir, const std::string& path);

}  // namespace chipsight
