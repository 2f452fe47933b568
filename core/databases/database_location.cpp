// Choosing between the program's directory and the per-user data directory.
#include "core/databases/database_location.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "core/sys/file_layer.h"

namespace chipsight {
namespace {

bool holdsDatabaseFile(const std::string& directory) {
    struct stat st {};
    for (const char* name : {kRomTableFile, kGameTableFile, kCustomFile}) {
        if (fileSystemCalls().stat(resolveInDirectory(directory, name).c_str(), &st) == 0)
            return true;
    }
    return false;
}

// An installed copy brings its desktop entry beside the directory of its programs. Seeing it,
// even a user who may write among the system's programs (root) gets the per-user directory.
bool installedLayout(const std::string& programDir) {
    struct stat st {};
    const std::string entry = programDir + "/../share/applications/chipsight.desktop";
    return fileSystemCalls().stat(entry.c_str(), &st) == 0;
}

std::string homeDirectory() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    if (const passwd* user = ::getpwuid(::geteuid()); user != nullptr && user->pw_dir != nullptr)
        return user->pw_dir;
    return {};
}

}  // namespace

namespace {

// $VARIABLE/chipsight, or ~/FALLBACK/chipsight. The convention says a relative path in the
// variable is to be ignored.
std::string userDirectory(const char* variable, const char* fallback) {
    if (const char* dir = std::getenv(variable); dir != nullptr && dir[0] == '/')
        return std::string(dir) + "/chipsight";
    const std::string home = homeDirectory();
    return home.empty() ? std::string() : home + "/" + fallback + "/chipsight";
}

}  // namespace

std::string userDataDirectory() { return userDirectory("XDG_DATA_HOME", ".local/share"); }

std::string userCacheDirectory() { return userDirectory("XDG_CACHE_HOME", ".cache"); }

DatabaseLocation locateDatabases(const std::string& programDir) {
    if (holdsDatabaseFile(programDir)) return {programDir, false};
    if (!installedLayout(programDir) && fileSystemCalls().access(programDir.c_str(), W_OK) == 0)
        return {programDir, false};
    const std::string data = userDataDirectory();
    // Without a home directory there is nowhere else to look.
    if (data.empty()) return {programDir, false};
    return {data, true};
}

}  // namespace chipsight
