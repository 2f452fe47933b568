// Archives made by the tests themselves, with libarchive's writer.
#pragma once

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace chipsight::testing {

struct Member {
    enum Kind { File, Directory, Symlink, Hardlink };
    std::string path;
    Bytes bytes{};
    Kind kind = File;
    std::string target{};  // of a link
    bool operator==(const Member&) const = default;
};

// Writes `members` in order to an archive at `path` of `kind`: "zip", "7z", "tar", "tar.gz",
// "tar.xz", "tar.bz2", or "gz", "xz", "bz2" (one member, as a single compressed stream).
void writeArchive(const std::string& path, const std::string& kind,
                  const std::vector<Member>& members);
// The regular members of the archive at `path`, in the order it holds them.
std::vector<Member> membersOf(const std::string& path);

}  // namespace chipsight::testing
