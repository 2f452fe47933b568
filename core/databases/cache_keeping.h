// Keeping the cache directory in bounds: the compiled files (DAT sets, board catalogues,
// collection indexes) that no run has used for a month go, and the least recently used go
// first while the rest are over the size the user allows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace chipsight {

// The size the cache may take unless the user says otherwise.
inline constexpr std::uint64_t kDefaultCacheLimit = std::uint64_t(2) << 30;

struct CacheSize {
    std::size_t files = 0;
    std::uint64_t bytes = 0;
};

// Marks the compiled file `path` as used now; nothing when there is none.
void markCacheFileUsed(const std::string& path);

// Removes from `dir` the compiled files (".dats", ".sets", ".roms", ".runs") last used more than
// `unusedDays` days before `now` (seconds since 1970), temporaries a write left behind a day ago
// or more, and then, least recently used first, as many as bring the rest under `limit` bytes;
// never one of `inUse`, which are marked as used. Returns what is left. A file that cannot be
// removed is left and counted.
CacheSize keepCache(const std::string& dir, const std::vector<std::string>& inUse,
                    std::uint64_t limit, std::int64_t now, int unusedDays = 30);

}  // namespace chipsight
