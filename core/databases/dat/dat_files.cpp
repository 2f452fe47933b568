#include "core/databases/dat/dat_files.h"

#include <strings.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string_view>
#include <system_error>
#include <thread>
#include <tuple>
#include <utility>

#include "core/sys/file_layer.h"

namespace chipsight {
namespace {

bool endsWithNoCase(std::string_view name, std::string_view suffix) {
    return name.size() > suffix.size() &&
           std::equal(suffix.begin(), suffix.end(), name.end() - suffix.size(),
                      [](char a, char b) { return a == std::tolower(std::uint8_t(b)); });
}

// Calls `visit(name, st)` for each entry of `dir` that passes `wanted(name, type)`, in the order
// of their names, where the type is the one the directory gives (DT_UNKNOWN where it gives
// none), with the entry's status, links followed. A status call costs microseconds, and a start
// takes one for each of thousands of DATs: each is taken relative to the open directory, which
// spares resolving the whole path again, and a large directory's are shared with a second
// thread. The names are kept in one buffer, each ended by a null, for the same reason.
template <typename Wanted, typename Visit>
void scan(const std::string& dir, Wanted&& wanted, Visit&& visit) {
    auto d = Directory::open(dir);
    if (!d) return;
    std::string buffer;
    std::vector<std::size_t> starts;
    std::string_view name;
    unsigned char type;
    while (d->next(name, type)) {
        if (!wanted(name, type)) continue;
        starts.push_back(buffer.size());
        buffer.append(name);
        buffer.push_back('\0');
    }
    std::vector<std::string_view> names;
    names.reserve(starts.size());
    for (const std::size_t at : starts) names.emplace_back(buffer.c_str() + at);
    std::sort(names.begin(), names.end());
    std::vector<struct stat> status(names.size());
    std::vector<char> ok(names.size());
    const auto statRange = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) ok[i] = d->status(names[i].data(), status[i]);
    };
    constexpr std::size_t kWorthAThread = 64;
    const std::size_t half = names.size() / 2;
    std::thread second;
    if (names.size() >= kWorthAThread) {
        try {
            second = std::thread(statRange, half, names.size());
        } catch (const std::system_error&) {
            // No thread to be had: this one takes them all.
        }
    }
    statRange(0, second.joinable() ? half : names.size());
    if (second.joinable()) second.join();
    d.reset();
    for (std::size_t i = 0; i < names.size(); ++i)
        if (ok[i]) visit(names[i], status[i]);
}

class Walk {
  public:
    explicit Walk(std::vector<DatFile>& found) : found_(found) {}

    // Every DAT file in `dir` and below, through links, each directory once.
    void directory(const std::string& dir, const struct stat& st) {
        if (!S_ISDIR(st.st_mode) || !seen_.emplace(st.st_dev, st.st_ino).second) return;
        scan(
            dir,
            // A regular file needs its status only when it is a DAT.
            [](std::string_view name, unsigned char type) {
                return type != DT_REG || hasDatName(name);
            },
            [&](std::string_view name, const struct stat& entry) {
                std::string path = dir + '/';
                path += name;
                if (S_ISDIR(entry.st_mode))
                    directory(path, entry);
                else if (S_ISREG(entry.st_mode) && hasDatName(name))
                    found_.push_back({std::move(path), datIdentityOf(entry)});
            });
    }

  private:
    std::vector<DatFile>& found_;
    std::set<std::pair<dev_t, ino_t>> seen_;
};

}  // namespace

bool hasDatName(std::string_view name) {
    return endsWithNoCase(name, ".xml") || endsWithNoCase(name, ".dat") ||
           endsWithNoCase(name, ".xml.gz") || endsWithNoCase(name, ".dat.gz");
}

DatFile datFileAt(const std::string& path) { return {path, datIdentityOf(path)}; }

std::vector<DatFile> findDatFiles(const std::string& databaseDir, const std::string& customName,
                                  const std::vector<std::string>& extra) {
    std::vector<DatFile> found;
    scan(
        databaseDir,
        [&](std::string_view name, unsigned char) {
            return hasDatName(name) && ::strcasecmp(name.data(), customName.c_str()) != 0;
        },
        [&](std::string_view name, const struct stat& st) {
            std::string path = databaseDir + '/';
            path += name;
            if (S_ISREG(st.st_mode)) found.push_back({std::move(path), datIdentityOf(st)});
        });
    Walk walk(found);
    struct stat st {};
    auto& os = fileSystemCalls();
    if (os.stat((databaseDir + "/dats").c_str(), &st) == 0)
        walk.directory(databaseDir + "/dats", st);
    for (const std::string& path : extra) {
        if (os.stat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode))
            walk.directory(path, st);
        else if (S_ISREG(st.st_mode))
            found.push_back({path, datIdentityOf(st)});
    }
    const auto byPath = [](const DatFile& a, const DatFile& b) { return a.path < b.path; };
    // Each directory was walked in the order of its names, so the files nearly always come
    // in order already.
    if (!std::is_sorted(found.begin(), found.end(), byPath))
        std::sort(found.begin(), found.end(), byPath);
    // A file is its device and inode, whatever the path it was reached by: of the paths of one
    // file, the first is kept.
    struct Seen {
        std::uint64_t device, inode;
        std::size_t at;
        bool operator<(const Seen& o) const {
            return std::tie(device, inode, at) < std::tie(o.device, o.inode, o.at);
        }
    };
    std::vector<Seen> seen;
    seen.reserve(found.size());
    for (std::size_t i = 0; i < found.size(); ++i)
        if (found[i].identity)
            seen.push_back({found[i].identity->device, found[i].identity->inode, i});
    std::sort(seen.begin(), seen.end());
    std::vector<char> again(found.size(), 0);
    for (std::size_t k = 1; k < seen.size(); ++k)
        again[seen[k].at] =
            seen[k].device == seen[k - 1].device && seen[k].inode == seen[k - 1].inode;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (again[i]) continue;
        if (kept != i) found[kept] = std::move(found[i]);
        ++kept;
    }
    found.resize(kept);
    return found;
}

}  // namespace chipsight
