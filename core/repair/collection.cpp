#include "core/repair/collection.h"

#include <openssl/evp.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "core/checksum/crc32.h"
#include "core/databases/dat/dat_loading.h"
#include "core/doctor/doctor.h"
#include "core/input/archive.h"
#include "core/input/directory_walk.h"
#include "core/repair/mend.h"
#include "core/sys/byte_order.h"
#include "core/sys/file_layer.h"

namespace chipsight::repair {
namespace {

using Sha1 = std::array<std::uint8_t, 20>;

// One file of the collection as the index keeps it: what it was when it was read, and its ROMs.
struct IndexedFile {
    std::string path;
    DatIdentity identity;
    std::int64_t readSince = 0;
    std::vector<CollectionRom> roms;
};

// CRC-32 and SHA-1 of the same bytes, taken piece by piece in one pass.
class Hasher {
  public:
    Hasher() : sha_(EVP_MD_CTX_new()) {
        if (!sha_ || EVP_DigestInit_ex(sha_.get(), EVP_sha1(), nullptr) != 1)
            throw std::bad_alloc();
    }
    void add(const std::uint8_t* bytes, std::size_t n) {
        crc_ = Crc32(crc_, bytes, std::uint32_t(n));
        EVP_DigestUpdate(sha_.get(), bytes, n);
        size_ += n;
    }
    void finish(CollectionRom& rom) {
        unsigned length = 0;
        EVP_DigestFinal_ex(sha_.get(), rom.sha1.data(), &length);
        rom.crc = crc_;
        rom.size = std::uint32_t(size_);
    }

  private:
    struct Free {
        void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
    };
    std::unique_ptr<EVP_MD_CTX, Free> sha_;
    std::uint32_t crc_ = 0;
    std::uint64_t size_ = 0;
};

constexpr std::size_t kPiece = 1 << 20;

std::uint8_t* pieceBuffer() {
    thread_local std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kPiece]);
    return buffer.get();
}

std::string openFailure(OpenFailure failure) {
    return failure == OpenFailure::Busy ? "it is being written" : "it cannot be opened";
}

enum class PlainRead { Done, Archive, Failed };

// Digests the file at `path` as one ROM; with `lookForArchive`, stops at its first piece when
// that starts as an archive does, for the archive reader to open instead.
PlainRead digestPlainFile(const std::string& path, bool lookForArchive, CollectionRom& rom,
                          std::string& why) {
    OpenFailure failure{};
    auto file = File::open(path, File::Mode::Read, &failure);
    if (!file) {
        why = openFailure(failure);
        return PlainRead::Failed;
    }
    if (file->length() > 0xFFFFFFFFull) {
        why = "it is 4 GiB or larger, larger than any ROM";
        return PlainRead::Failed;
    }
    std::uint8_t* const buffer = pieceBuffer();
    Hasher hasher;
    for (std::uint64_t left = file->length(), at = 0; left > 0;) {
        const std::size_t got =
            file->read(buffer, std::size_t(std::min<std::uint64_t>(left, kPiece)));
        if (got == 0) {
            why = "it could not be read whole";
            return PlainRead::Failed;
        }
        if (at == 0 && lookForArchive && looksLikeArchive({buffer, got})) return PlainRead::Archive;
        hasher.add(buffer, got);
        left -= got;
        at += got;
    }
    if (!file->unchangedSinceOpen()) {
        why = "it changed while it was read";
        return PlainRead::Failed;
    }
    hasher.finish(rom);
    return PlainRead::Done;
}

// The bytes of the file at `path`, when it can be read whole and did not change meanwhile.
std::optional<std::vector<std::uint8_t>> readWholeFile(const std::string& path) {
    auto file = File::open(path, File::Mode::Read);
    if (!file || file->length() > 0xFFFFFFFFull) return std::nullopt;
    std::vector<std::uint8_t> bytes(std::size_t(file->length()));
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t got = file->read(bytes.data() + at, bytes.size() - at);
        if (got == 0) return std::nullopt;
        at += got;
    }
    if (!file->unchangedSinceOpen()) return std::nullopt;
    return bytes;
}

std::string collectionKey(const std::vector<std::string>& paths) {
    std::string key = "collection";
    for (const std::string& path : paths) {
        key += '\n';
        key += canonicalPath(path);
    }
    return key;
}

// The index file: a magic, the collection's key, each file with its identity and ROMs, and the
// CRC-32 of everything before it. Numbers are little-endian.
constexpr char kMagic[8] = {'C', 'S', 'R', 'O', 'M', 'S', '\0', '\1'};

class Writer {
  public:
    void bytes(const void* p, std::size_t n) {
        const auto* b = static_cast<const std::uint8_t*>(p);
        out.insert(out.end(), b, b + n);
    }
    void u32(std::uint32_t v) {
        std::uint8_t b[4];
        store32(b, v);
        bytes(b, 4);
    }
    void u64(std::uint64_t v) {
        std::uint8_t b[8];
        store64(b, v);
        bytes(b, 8);
    }
    void text(const std::string& s) {
        u32(std::uint32_t(s.size()));
        bytes(s.data(), s.size());
    }
    std::vector<std::uint8_t> out;
};

// Reads what Writer wrote, every length checked against the bytes left.
class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> in) : in_(in) {}
    bool bytes(void* p, std::size_t n) {
        if (n > in_.size() - at_) return false;
        std::memcpy(p, in_.data() + at_, n);
        at_ += n;
        return true;
    }
    bool u32(std::uint32_t& v) {
        if (4 > in_.size() - at_) return false;
        v = load32(in_.data() + at_);
        at_ += 4;
        return true;
    }
    bool u64(std::uint64_t& v) {
        if (8 > in_.size() - at_) return false;
        v = load64(in_.data() + at_);
        at_ += 8;
        return true;
    }
    bool i64(std::int64_t& v) {
        std::uint64_t u = 0;
        if (!u64(u)) return false;
        v = std::int64_t(u);
        return true;
    }
    bool text(std::string& s) {
        std::uint32_t n = 0;
        if (!u32(n) || n > in_.size() - at_) return false;
        s.assign(reinterpret_cast<const char*>(in_.data() + at_), n);
        at_ += n;
        return true;
    }
    bool atEnd() const { return at_ == in_.size(); }

  private:
    std::span<const std::uint8_t> in_;
    std::size_t at_ = 0;
};

std::vector<std::uint8_t> encodeIndex(const std::string& key,
                                      const std::vector<IndexedFile>& files) {
    Writer w;
    w.bytes(kMagic, sizeof kMagic);
    w.text(key);
    w.u32(std::uint32_t(files.size()));
    for (const IndexedFile& f : files) {
        w.text(f.path);
        const DatIdentity& id = f.identity;
        for (const std::uint64_t v :
             {id.size, std::uint64_t(id.modifiedSeconds), std::uint64_t(id.modifiedNanoseconds),
              std::uint64_t(id.changedSeconds), std::uint64_t(id.changedNanoseconds), id.inode,
              id.device, std::uint64_t(f.readSince)})
            w.u64(v);
        w.u32(std::uint32_t(f.roms.size()));
        for (const CollectionRom& rom : f.roms) {
            w.text(rom.member);
            w.u32(rom.crc);
            w.u32(rom.size);
            w.bytes(rom.sha1.data(), rom.sha1.size());
        }
    }
    w.u32(Crc32(0, w.out.data(), std::uint32_t(w.out.size())));
    return std::move(w.out);
}

// The files of the index at `file`, by path; none when it is missing, damaged or of another
// collection: then every file is read again, which costs time and never gives a wrong answer.
std::unordered_map<std::string, IndexedFile> decodeIndex(const std::string& file,
                                                         const std::string& key) {
    std::unordered_map<std::string, IndexedFile> files;
    const auto bytes = readWholeFile(file);
    if (!bytes || bytes->size() < sizeof kMagic + 4 ||
        std::memcmp(bytes->data(), kMagic, sizeof kMagic) != 0)
        return files;
    const std::size_t body = bytes->size() - 4;
    if (Crc32(0, bytes->data(), std::uint32_t(body)) != load32(bytes->data() + body)) return files;
    Reader r({bytes->data() + sizeof kMagic, body - sizeof kMagic});
    std::string storedKey;
    std::uint32_t count = 0;
    if (!r.text(storedKey) || storedKey != key || !r.u32(count)) return files;
    for (std::uint32_t i = 0; i < count; ++i) {
        IndexedFile f;
        DatIdentity& id = f.identity;
        std::uint32_t roms = 0;
        if (!r.text(f.path) || !r.u64(id.size) || !r.i64(id.modifiedSeconds) ||
            !r.i64(id.modifiedNanoseconds) || !r.i64(id.changedSeconds) ||
            !r.i64(id.changedNanoseconds) || !r.u64(id.inode) || !r.u64(id.device) ||
            !r.i64(f.readSince) || !r.u32(roms))
            return {};
        for (std::uint32_t j = 0; j < roms; ++j) {
            CollectionRom rom;
            rom.path = f.path;
            if (!r.text(rom.member) || !r.u32(rom.crc) || !r.u32(rom.size) ||
                !r.bytes(rom.sha1.data(), rom.sha1.size()))
                return {};
            f.roms.push_back(std::move(rom));
        }
        std::string path = f.path;
        files.emplace(std::move(path), std::move(f));
    }
    if (!r.atEnd()) return {};
    return files;
}

// Reads the file at `path` into `into`: its members when it is an archive, else itself as one
// ROM. False when it cannot be indexed whole (then what it gave is kept, but not in the cache).
bool readCollectionFile(const std::string& path, IndexedFile& into, CollectionStats& stats) {
    const auto problem = [&](const std::string& what) {
        stats.problems.push_back(path + ": " + what);
        ++stats.skipped;
    };
    CollectionRom rom;
    rom.path = path;
    std::string why;
    PlainRead read = digestPlainFile(path, true, rom, why);
    if (read == PlainRead::Archive) {
        // A member's name is only ever compared and shown: nothing is written where it points.
        const ArchiveEnd end = readArchive(
            path, 0, true,
            [&](ArchiveMember& m) {
                if (!m.bytesKept) {
                    problem(m.path + ": " +
                            (m.image.status == ImageStatus::TooLarge
                                 ? "it is 4 GiB or larger, larger than any ROM"
                                 : "it is too large to be held in memory"));
                    return;
                }
                CollectionRom member;
                member.path = path;
                member.member = m.path;
                member.size = std::uint32_t(m.bytes.size());
                member.crc = m.image.status == ImageStatus::Read
                                 ? m.image.digest.crc()
                                 : Crc32(0, m.bytes.data(), member.size);
                member.sha1 = doctor::sha1(m.bytes);
                into.roms.push_back(std::move(member));
            },
            kMaxUnpacked, true);
        switch (end) {
            case ArchiveEnd::Done:
                return true;
            case ArchiveEnd::CannotOpen:
                problem("it cannot be opened");
                return false;
            case ArchiveEnd::Damaged:
                problem("the archive is damaged; only the members before the damage are indexed");
                return false;
            case ArchiveEnd::TooLarge:
                problem(
                    "the archive unpacks to more than 16 GiB; only the members before are indexed");
                return false;
            case ArchiveEnd::NotAnArchive:
                // It only starts as an archive does: a ROM like any other.
                read = digestPlainFile(path, false, rom, why);
                break;
        }
    }
    if (read != PlainRead::Done) {
        problem(why);
        return false;
    }
    into.roms.push_back(std::move(rom));
    return true;
}

}  // namespace

std::string collectionIndexFile(const std::string& cacheDir,
                                const std::vector<std::string>& paths) {
    // FNV-1a: a name, not a safeguard; the file names its collection in full.
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (const char c : collectionKey(paths)) hash = (hash ^ std::uint8_t(c)) * 0x100000001B3ull;
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.roms", static_cast<unsigned long long>(hash));
    return cacheDir + "/" + name;
}

Collection Collection::index(const std::vector<std::string>& paths, const std::string& cacheDir,
                             CollectionStats* statsOut) {
    CollectionStats stats;
    const std::string key = collectionKey(paths);
    const std::string indexFile =
        cacheDir.empty() ? std::string() : collectionIndexFile(cacheDir, paths);
    auto cached = indexFile.empty() ? std::unordered_map<std::string, IndexedFile>()
                                    : decodeIndex(indexFile, key);
    const std::size_t cachedFiles = cached.size();
    // Every file read now holds its bytes of this moment or later.
    const std::int64_t readSince = timeNow();

    std::vector<IndexedFile> kept;
    Collection collection;
    std::unordered_set<std::string> seen;
    const auto take = [&](const std::string& path) {
        if (!seen.insert(path).second) return;
        ++stats.files;
        IndexedFile file;
        file.path = path;
        const auto identity = datIdentityOf(path);
        if (!identity) {
            stats.problems.push_back(path + ": it cannot be found");
            ++stats.skipped;
            return;
        }
        const auto old = cached.find(path);
        // A file written within a step of its last read may hold other bytes under the same
        // times: it is read again until its identity alone can tell.
        if (old != cached.end() && old->second.identity == *identity &&
            !mayHaveChangedUnseen(old->second.identity, old->second.readSince)) {
            file = std::move(old->second);
            ++stats.fromCache;
        } else {
            file.identity = *identity;
            file.readSince = readSince;
            if (!readCollectionFile(path, file, stats)) {
                collection.roms_.insert(collection.roms_.end(), file.roms.begin(), file.roms.end());
                return;
            }
        }
        collection.roms_.insert(collection.roms_.end(), file.roms.begin(), file.roms.end());
        kept.push_back(std::move(file));
    };
    for (const std::string& given : paths) {
        const std::string path = canonicalPath(given);
        struct stat st {};
        if (fileSystemCalls().stat(path.c_str(), &st) != 0) {
            stats.problems.push_back(given + ": no file or folder of that name can be looked at");
            ++stats.skipped;
        } else if (S_ISDIR(st.st_mode)) {
            for (const WalkedFile& walked : walkDirectory(path)) take(walked.path);
        } else {
            take(path);
        }
    }

    // The cache is written again only when it would say something else.
    if (!indexFile.empty() && (stats.fromCache != kept.size() || stats.fromCache != cachedFiles)) {
        int error = 0;
        const std::vector<std::uint8_t> bytes = encodeIndex(key, kept);
        if (!makeDirectories(cacheDir) ||
            !replaceFileWith(
                indexFile, [&](File& f) { f.write(bytes.data(), bytes.size()); }, true, &error))
            stats.problems.push_back("the collection's index cannot be kept in " + indexFile +
                                     (error ? std::string(": ") + std::strerror(error) : ""));
    }

    auto& roms = collection.roms_;
    collection.byKey_.resize(roms.size());
    for (std::size_t i = 0; i < roms.size(); ++i) collection.byKey_[i] = i;
    std::sort(
        collection.byKey_.begin(), collection.byKey_.end(), [&](std::size_t a, std::size_t b) {
            return std::tie(roms[a].crc, roms[a].size, a) < std::tie(roms[b].crc, roms[b].size, b);
        });
    stats.roms = roms.size();
    if (statsOut) *statsOut = std::move(stats);
    return collection;
}

const CollectionRom* Collection::find(std::uint32_t crc, std::uint32_t size,
                                      const std::optional<Sha1>& sha1) const {
    auto at =
        std::lower_bound(byKey_.begin(), byKey_.end(), std::pair(crc, size),
                         [&](std::size_t i, const std::pair<std::uint32_t, std::uint32_t>& k) {
                             return std::pair(roms_[i].crc, roms_[i].size) < k;
                         });
    for (; at != byKey_.end() && roms_[*at].crc == crc && roms_[*at].size == size; ++at)
        if (!sha1 || roms_[*at].sha1 == *sha1) return &roms_[*at];
    return nullptr;
}

std::optional<std::vector<std::uint8_t>> Collection::bytesOf(const CollectionRom& rom) const {
    if (rom.member.empty()) {
        auto bytes = readWholeFile(rom.path);
        if (!bytes || !isTheRom(*bytes, rom.crc, rom.size, rom.sha1)) return std::nullopt;
        return bytes;
    }
    std::optional<std::vector<std::uint8_t>> found;
    const ArchiveEnd end = readArchive(
        rom.path, 0, true,
        [&](ArchiveMember& m) {
            if (!found && m.bytesKept && m.path == rom.member &&
                isTheRom(m.bytes, rom.crc, rom.size, rom.sha1))
                found = std::move(m.bytes);
        },
        kMaxUnpacked, true);
    // Bytes that checked out are the ROM's even when the archive is damaged further on.
    (void)end;
    return found;
}

}  // namespace chipsight::repair
