// The cache's housekeeping, through the file layer's directory listing.
#include "core/databases/cache_keeping.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <string_view>

#include "core/sys/file_layer.h"

namespace chipsight {

void markCacheFileUsed(const std::string& path) {
    // The time of its last use is its last-write time: a compiled file is written once, whole.
    const struct timespec times[2] = {{0, UTIME_OMIT}, {0, UTIME_NOW}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

CacheSize keepCache(const std::string& dir, const std::vector<std::string>& inUse,
                    std::uint64_t limit, std::int64_t now, int unusedDays) {
    struct Entry {
        std::string path;
        std::int64_t used;
        std::uint64_t bytes;
    };
    std::vector<Entry> entries;
    CacheSize left;
    auto d = Directory::open(dir);
    if (!d) return left;
    const std::int64_t unused = now - std::int64_t(unusedDays) * 86400, stale = now - 86400;
    std::string_view name;
    unsigned char type;
    while (d->next(name, type)) {
        const bool compiled = name.ends_with(".dats") || name.ends_with(".sets") ||
                              name.ends_with(".roms") || name.ends_with(".runs");
        const bool temporary = name.ends_with(".tmp");
        struct stat st {};
        if ((!compiled && !temporary) || !d->status(std::string(name), st, true) ||
            !S_ISREG(st.st_mode))
            continue;
        const std::string path = dir + "/" + std::string(name);
        const bool busy = std::find(inUse.begin(), inUse.end(), path) != inUse.end();
        const std::int64_t used = st.st_mtim.tv_sec;
        // A file in use is marked so only when its mark is an hour old: a start does not write
        // to the file system to say what it said a minute ago.
        if (busy && used < now - 3600) markCacheFileUsed(path);
        if (!busy && (compiled ? used < unused : used < stale) && removeFile(path)) continue;
        entries.push_back({path, busy ? now : used, std::uint64_t(st.st_size)});
        left.bytes += std::uint64_t(st.st_size);
    }
    d.reset();
    // Over the limit: the least recently used go first, those in use never.
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.used < b.used; });
    for (Entry& e : entries) {
        if (left.bytes <= limit) break;
        if (std::find(inUse.begin(), inUse.end(), e.path) == inUse.end() && removeFile(e.path)) {
            left.bytes -= e.bytes;
            e.path.clear();
        }
    }
    left.files = std::size_t(std::count_if(entries.begin(), entries.end(),
                                           [](const Entry& e) { return !e.path.empty(); }));
    return left;
}

}  // namespace chipsight
