// Where the database files live: beside the program for a portable copy, in the user's data
// directory for an installed one.
#pragma once

#include <string>

namespace chipsight {

// The database files, as the program names them; the letter case on disk does not matter.
inline constexpr const char* kRomTableFile = "CHIPLORE.ROM";
inline constexpr const char* kGameTableFile = "CHIPLORE.GAM";
inline constexpr const char* kCustomFile = "Chipsight.dat";

struct DatabaseLocation {
    // The directory the three database files are read from and Chipsight.dat is written to.
    std::string directory;
    // True for the per-user data directory, which need not exist yet: it is made when the first
    // custom entry is written, and not before.
    bool perUser = false;
};

// The location for a program whose executable lies in `programDir`. A portable copy (a build
// tree, an unpacked archive) keeps its files beside the executable: its directory is writable by
// the user (and it is not an installed layout, with share/applications/chipsight.desktop beside
// it), or it already holds one of the database files. Any other copy is installed, and uses
// the user's data directory.
DatabaseLocation locateDatabases(const std::string& programDir);

// $XDG_DATA_HOME/chipsight, or ~/.local/share/chipsight when that variable is unset, empty or
// not an absolute path. Empty when not even the home directory is known.
std::string userDataDirectory();
// $XDG_CACHE_HOME/chipsight, or ~/.cache/chipsight, by the same rules.
std::string userCacheDirectory();

}  // namespace chipsight
