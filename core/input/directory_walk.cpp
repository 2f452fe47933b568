// The walk of a directory tree, depth first, sorted, without following links.
#include "core/input/directory_walk.h"

#include <dirent.h>
#include <sys/stat.h>
#include <algorithm>

#include <utility>

#include "core/sys/file_layer.h"

namespace chipsight {
namespace {

void walk(const std::string& directory, const std::string& below, std::vector<WalkedFile>& out) {
    auto d = Directory::open(directory);
    if (!d) {
        out.push_back({directory, below});
        return;
    }
    std::vector<std::pair<std::string, unsigned char>> entries;
    std::string_view name;
    unsigned char type;
    while (d->next(name, type)) entries.emplace_back(name, type);
    // Listed in part: the directory is named for the rest.
    if (d->failed()) out.push_back({directory, below});
    std::sort(entries.begin(), entries.end());
    for (auto& [entryName, entryType] : entries) {
        const std::string path =
            directory.ends_with('/') ? directory + entryName : directory + "/" + entryName;
        const std::string named = below.empty() ? entryName : below + "/" + entryName;
        // The entry itself, not what a link points at.
        if (entryType == DT_UNKNOWN) {
            struct stat st {};
            if (!d->status(entryName, st, true)) {
                out.push_back({path, named});
                continue;
            }
            entryType = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (entryType == DT_DIR)
            walk(path, named, out);
        else if (entryType == DT_REG)
            out.push_back({path, named});
    }
}

}  // namespace

std::vector<WalkedFile> walkDirectory(const std::string& directory) {
    std::vector<WalkedFile> files;
    walk(directory, "", files);
    // A folder that could not be listed at all is named by its path.
    for (WalkedFile& file : files)
        if (file.name.empty()) file.name = file.path;
    return files;
}

}  // namespace chipsight
