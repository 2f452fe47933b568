// The walk of a directory tree, depth first, sorted, without following links.
#include "core/input/directory_walk.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace chipsight {
namespace {

void walk(const std::filesystem::path& directory, std::vector<std::string>& out) {
    std::error_code error;
    std::filesystem::directory_iterator it(directory, error), end;
    if (error) {
        out.push_back(directory.string());
        return;
    }
    std::vector<std::filesystem::directory_entry> entries;
    for (; it != end; it.increment(error)) {
        if (error) break;
        entries.push_back(*it);
    }
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
        return a.path().filename().native() < b.path().filename().native();
    });
    for (const auto& entry : entries) {
        // The entry itself, not what a link points at.
        const auto type = entry.symlink_status(error).type();
        if (error) continue;
        if (type == std::filesystem::file_type::directory)
            walk(entry.path(), out);
        else if (type == std::filesystem::file_type::regular)
            out.push_back(entry.path().string());
    }
}

}  // namespace

std::vector<std::string> walkDirectory(const std::string& directory) {
    std::vector<std::string> files;
    walk(directory, files);
    return files;
}

}  // namespace chipsight
