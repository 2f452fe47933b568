// Folders as a source of images: every regular file under a directory, in a fixed order.
#pragma once

#include <string>
#include <vector>

namespace chipsight {

// The paths of the regular files under `directory` and its subdirectories, each directory's
// entries sorted by name (byte by byte) and a subdirectory's files where its name sorts.
// Symbolic links are not followed, nor taken as files; devices, pipes and sockets are passed
// over. A subdirectory that cannot be listed is in the list itself, where it sorts, so that
// whoever identifies the list hears of it in its place.
std::vector<std::string> walkDirectory(const std::string& directory);

}  // namespace chipsight
