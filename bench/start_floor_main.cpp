// chipsight_start_floor DIR: the least a start from the cache must do with the databases in DIR,
// as a fresh process: find the DAT files (DIR's own, and those in DIR/dats and below, links
// followed), and take the status of each and of CHIPLORE.ROM, CHIPLORE.GAM and Chipsight.dat
// (the one way to know that none changed since the cache was made). Prints the DAT files found
// and the bytes the database files hold. Plain system calls, so the floor owes nothing to the
// core.
#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

bool endsWith(const char* name, const char* suffix) {
    const std::size_t n = std::strlen(name), s = std::strlen(suffix);
    return n > s && ::strcasecmp(name + n - s, suffix) == 0;
}

bool datName(const char* name) {
    return endsWith(name, ".xml") || endsWith(name, ".dat") || endsWith(name, ".xml.gz") ||
           endsWith(name, ".dat.gz");
}

struct Walk {
    std::size_t dats = 0;
    std::set<std::pair<dev_t, ino_t>> seen;

    // The DAT files in `path` (of status `st`) and in every directory below it. Of the database
    // directory itself (`top`), only the files with a DAT's name, the custom database's aside.
    void directory(const std::string& path, const struct stat& st, bool top) {
        if (!seen.emplace(st.st_dev, st.st_ino).second) return;
        DIR* dir = ::opendir(path.c_str());
        if (!dir) return;
        std::vector<std::pair<std::string, struct stat>> below;
        while (const dirent* e = ::readdir(dir)) {
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
            // A regular file's status is wanted only when it is a DAT.
            if (top ? !datName(e->d_name) || ::strcasecmp(e->d_name, "Chipsight.dat") == 0
                    : e->d_type == DT_REG && !datName(e->d_name))
                continue;
            struct stat entry {};
            if (::fstatat(::dirfd(dir), e->d_name, &entry, 0) != 0) continue;
            if (S_ISREG(entry.st_mode) && datName(e->d_name))
                ++dats;
            else if (!top && S_ISDIR(entry.st_mode))
                below.emplace_back(path + "/" + e->d_name, entry);
        }
        ::closedir(dir);
        for (const auto& [next, status] : below) directory(next, status, false);
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string dir = argv[1];
    Walk walk;
    struct stat st {};
    if (::stat(dir.c_str(), &st) != 0) return 1;
    walk.directory(dir, st, true);
    if (::stat((dir + "/dats").c_str(), &st) == 0) walk.directory(dir + "/dats", st, false);
    std::size_t bytes = 0;
    for (const char* name : {"CHIPLORE.ROM", "CHIPLORE.GAM", "Chipsight.dat"})
        if (::stat((dir + "/" + name).c_str(), &st) == 0) bytes += std::size_t(st.st_size);
    std::printf("dats %zu bytes %zu\n", walk.dats, bytes);
    return 0;
}
