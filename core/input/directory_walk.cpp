// The walk of a directory tree, depth first, sorted, without following links.
#include "core/input/directory_walk.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace chipsight {
namespace {

void walk(const std::filesystem::path& directory, const std::string& below,
          std::vector<WalkedFile>& out) {
    std::error_code error;
    std::filesystem::directory_iterator it(directory, error), end;
    if (error) {
        out.push_back({directory.string(), below});
        return;
    }
    std::vector<std::filesystem::directory_entry> entries;
    for (; it != end; it.increment(error)) {
        if (error) {
            // Listed in part: the directory is named for the rest.
            out.push_back({directory.string(), below});
            break;
        }
        entries.push_back(*it);
    }
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.path().filename().native() < b.path().filename().native();
    });
    for (const auto& entry : entries) {
        const std::string name =
            (below.empty() ? "" : below + "/") + entry.path().filename().native();
        // The entry itself, not what a link points at.
        const auto type = entry.symlink_status(error).type();
        if (error)
            out.push_back({entry.path().string(), name});
        else if (type == std::filesystem::file_type::directory)
            walk(entry.path(), name, out);
        else if (type == std::filesystem::file_type::regular)
            out.push_back({entry.path().string(), name});
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
