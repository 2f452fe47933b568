// Folders as a source of images: every regular file under a directory, in a fixed order.
#pragma once

#include <string>
#include <vector>

namespace chipsight {

struct WalkedFile {
    std::string path;  // the directory as given, then the way down to the file
    std::string name;  // the way down from the directory: two files of one name stay apart
};

// The regular files under `directory` and its subdirectories, each directory's entries sorted
// by name (byte by byte) and a subdirectory's files where its name sorts. Symbolic links are not
// followed, nor taken as files; devices, pipes and sockets are passed over. Whatever cannot be
// looked at (a subdirectory that cannot be listed, an entry whose status cannot be had, such as
// one whose path is longer than the system takes) is in the list itself, where it sorts, so
// that whoever identifies the list hears of it in its place.
std::vector<WalkedFile> walkDirectory(const std::string& directory);

}  // namespace chipsight
