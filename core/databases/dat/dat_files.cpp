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

// What a walk keeps of an entry's status: a start takes thousands.
struct EntryStatus {
    mode_t mode = 0;
    DatIdentity identity;
};
EntryStatus entryStatusOf(const struct stat& st) { return {st.st_mode, datIdentityOf(st)}; }

// The entries of a directory that were wanted and have a status, in the order of their names.
struct Scanned {
    std::vector<char> buffer;  // the names, each ended by a null (moved, never copied)
    std::vector<std::string_view> names;
    std::vector<EntryStatus> status;
};

// The entries of `dir` that pass `wanted(name, type)`, where the type is the one the directory
// gives (DT_UNKNOWN where it gives none), with their status, links followed. A status call
// costs microseconds, and a start takes one for each of thousands of DATs: each is taken
// relative to the open directory, which spares resolving the whole path again, and a large
// directory's are shared with a second thread.
template <typename Wanted>
Scanned scan(const std::string& dir, Wanted&& wanted) {
    Scanned out;
    auto d = Directory::open(dir);
    if (!d) return out;
    std::vector<std::size_t> starts;
    std::string_view name;
    unsigned char type;
    while (d->next(name, type)) {
        if (!wanted(name, type)) continue;
        starts.push_back(out.buffer.size());
        out.buffer.insert(out.buffer.end(), name.begin(), name.end());
        out.buffer.push_back('\0');
    }
    std::vector<std::string_view>& names = out.names;
    names.reserve(starts.size());
    for (const std::size_t at : starts) names.emplace_back(out.buffer.data() + at);
    std::sort(names.begin(), names.end());
    std::vector<EntryStatus>& status = out.status;
    status.resize(names.size());
    std::vector<char> ok(names.size());
    const auto statRange = [&](std::size_t from, std::size_t to) {
        struct stat st {};
        for (std::size_t i = from; i < to; ++i)
            if ((ok[i] = d->status(names[i].data(), st))) status[i] = entryStatusOf(st);
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
    std::size_t kept = 0;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!ok[i]) continue;
        names[kept] = names[i];
        status[kept++] = status[i];
    }
    names.resize(kept);
    status.resize(kept);
    return out;
}

class Walk {
  public:
    explicit Walk(std::vector<DatFile>& found) : found_(found) {}

    // Every DAT file in `dir` and below, through links, each directory once.
    void directory(const std::string& dir, const EntryStatus& st) {
        if (!S_ISDIR(st.mode) || !seen_.emplace(st.identity.device, st.identity.inode).second)
            return;
        // A regular file needs its status only when it is a DAT.
        const Scanned entries = scan(dir, [](std::string_view name, unsigned char type) {
            return type != DT_REG || hasDatName(name);
        });
        found_.reserve(found_.size() + entries.names.size());
        for (std::size_t i = 0; i < entries.names.size(); ++i) {
            const EntryStatus& entry = entries.status[i];
            std::string path = dir + '/';
            path += entries.names[i];
            if (S_ISDIR(entry.mode))
                directory(path, entry);
            else if (S_ISREG(entry.mode) && hasDatName(entries.names[i]))
                found_.push_back({std::move(path), entry.identity});
        }
    }

  private:
    std::vector<DatFile>& found_;
    std::set<std::pair<std::uint64_t, std::uint64_t>> seen_;
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
    const Scanned own = scan(databaseDir, [&](std::string_view name, unsigned char) {
        return hasDatName(name) && ::strcasecmp(name.data(), customName.c_str()) != 0;
    });
    for (std::size_t i = 0; i < own.names.size(); ++i) {
        std::string path = databaseDir + '/';
        path += own.names[i];
        if (S_ISREG(own.status[i].mode)) found.push_back({std::move(path), own.status[i].identity});
    }
    Walk walk(found);
    struct stat st {};
    auto& os = fileSystemCalls();
    if (os.stat((databaseDir + "/dats").c_str(), &st) == 0)
        walk.directory(databaseDir + "/dats", entryStatusOf(st));
    for (const std::string& path : extra) {
        if (os.stat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode))
            walk.directory(path, entryStatusOf(st));
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
