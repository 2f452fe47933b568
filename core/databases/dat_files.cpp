#include "core/databases/dat_files.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <utility>

namespace chipsight {
namespace {

bool endsWithNoCase(const std::string& name, const char* suffix) {
    const std::size_t n = std::char_traits<char>::length(suffix);
    return name.size() > n && ::strcasecmp(name.c_str() + name.size() - n, suffix) == 0;
}

std::vector<std::string> namesIn(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return names;
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(d);
    return names;
}

class Walk {
  public:
    explicit Walk(std::vector<std::string>& found) : found_(found) {}

    // Every DAT file in `dir` and below, through links, each directory once.
    void directory(const std::string& dir) {
        struct stat st {};
        if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return;
        if (!seen_.emplace(st.st_dev, st.st_ino).second) return;
        for (const std::string& name : namesIn(dir)) {
            const std::string path = dir + "/" + name;
            if (::stat(path.c_str(), &st) != 0) continue;
            if (S_ISDIR(st.st_mode))
                directory(path);
            else if (S_ISREG(st.st_mode) && hasDatName(name))
                found_.push_back(path);
        }
    }

  private:
    std::vector<std::string>& found_;
    std::set<std::pair<dev_t, ino_t>> seen_;
};

}  // namespace

bool hasDatName(const std::string& name) {
    return endsWithNoCase(name, ".xml") || endsWithNoCase(name, ".dat") ||
           endsWithNoCase(name, ".xml.gz") || endsWithNoCase(name, ".dat.gz");
}

std::vector<std::string> findDatFiles(const std::string& databaseDir, const std::string& customName,
                                      const std::vector<std::string>& extra) {
    std::vector<std::string> found;
    for (const std::string& name : namesIn(databaseDir)) {
        const std::string path = databaseDir + "/" + name;
        struct stat st {};
        if (hasDatName(name) && ::strcasecmp(name.c_str(), customName.c_str()) != 0 &&
            ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            found.push_back(path);
    }
    Walk walk(found);
    walk.directory(databaseDir + "/dats");
    for (const std::string& path : extra) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode))
            walk.directory(path);
        else if (S_ISREG(st.st_mode))
            found.push_back(path);
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    return found;
}

}  // namespace chipsight
