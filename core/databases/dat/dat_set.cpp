#include "core/databases/dat/dat_set.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

#include "core/checksum/crc32.h"
#include "core/databases/database_location.h"
#include "core/sys/file_layer.h"

namespace chipsight {

// The cache file a set was mapped from, as its blocks and its index see it: the checks of its
// chunks, and the DATs its blocks were read from, to read again for a block found damaged.
// Found damaged, the file is removed (when its path still names the very file mapped), so that
// the next start writes it anew instead of mending the same damage again.
struct MappedCacheFile final : DatBlockSource {
    MappedCacheFile(const std::uint8_t* data, std::size_t length, const std::uint32_t* sums)
        : checks(data, length, sums) {}
    const ChunkChecks& chunks() const override { return checks; }
    std::shared_ptr<const DatStore> reread(std::size_t file) const override {
        forget();
        const LoadedDat again = loadDat(std::string(paths[file]));
        return again.identity == identities[file] ? again.store : nullptr;
    }
    void forget() const {
        std::call_once(forgotten, [&] {
            struct stat st {};
            if (fileSystemCalls().lstat(path.c_str(), &st) == 0 &&
                std::uint64_t(st.st_dev) == device && std::uint64_t(st.st_ino) == inode)
                removeFile(path);
        });
    }

    ChunkChecks checks;
    std::string path;
    std::uint64_t device = 0, inode = 0;
    // The mapped file, which the paths below point into.
    std::shared_ptr<const void> mapping;
    // Each file's path, as the start names it (as the cache does, unless `renamed` holds
    // another), and its identity, as the cache does.
    std::vector<std::string_view> paths;
    std::deque<std::string> renamed;
    std::vector<DatIdentity> identities;
    mutable std::once_flag forgotten;
};

namespace {

// The cache file, all numbers in this machine's byte order:
//   header  magic "CSDATSET", u32 version, u32 byte-order mark, u64 files, u64 entries,
//           u64 slots, u64 table bytes, u64 offset of the keys, u64 offset of the sums, u64
//           file length, u32 CRC-32 of the sums, u32 zero, u32 CRC-32 of the header's first 80
//           bytes and the table, u32 zero
//   table   per file: u64 size, i64 modified seconds and nanoseconds, i64 changed seconds
//           and nanoseconds, u64 inode, u64 device (its identity), u64 block offset, u64 block
//           length, i64 read since, u64 content bytes, u32 format, u32 path length, u32 failure
//           length, u32 content CRC-32, u32 zero, u32 zero, a copy of the block's header (so
//           that a start touches no block it does not look into); then the path and the
//           failure text; padded to 8
//   blocks  from the end of the table on, each file's DatStore block, at a multiple of 8
//   index   at multiples of 64: the keys (u32 crc, u32 size per entry), the rings (u32 per
//           entry), the slot bytes, the slots' entry numbers (u32), the filter (u64 per 16
//           slots)
//   sums    right after the filter: the CRC-32 (u32) of each 4 KiB of the blocks and the index
//           (see ChunkChecks), from the end of the table to the sums
// Every byte between the parts is zero. The index is read in place as this machine's own
// arrays, which is why the numbers are in its byte order and a file of the other order (the
// mark reads differently) is not trusted.
constexpr char kMagic[8] = {'C', 'S', 'D', 'A', 'T', 'S', 'E', 'T'};
// Changes whenever this layout, a store's block or what the readers make of a DAT changes, so
// that a cache made by another version is compiled again.
constexpr std::uint32_t kVersion = 8;
constexpr std::uint32_t kByteOrderMark = 0x01020304;
constexpr std::size_t kHeaderBytes = 88, kChecksummedHeader = 80,
                      kRecordBytes = 112 + DatStore::kHeaderBytes, kAlign = 64;

std::uint64_t alignUp(std::uint64_t v, std::uint64_t to) { return (v + to - 1) / to * to; }

template <typename T>
T get(const std::uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <typename T>
void put(std::vector<std::uint8_t>& out, T v) {
    const std::size_t at = out.size();
    out.resize(at + sizeof v);
    std::memcpy(out.data() + at, &v, sizeof v);
}
template <typename T>
void putAt(std::vector<std::uint8_t>& out, std::size_t at, T v) {
    std::memcpy(out.data() + at, &v, sizeof v);
}

// Where the index's parts lie, from the offset of the keys and the counts.
struct Layout {
    std::uint64_t keys, next, tags, entries, filter, end;
};
Layout layoutOf(std::uint64_t keysAt, std::uint64_t count, std::uint64_t slots) {
    Layout l{};
    l.keys = keysAt;
    l.next = alignUp(keysAt + count * sizeof(IndexKey), kAlign);
    l.tags = alignUp(l.next + count * 4, kAlign);
    l.entries = alignUp(l.tags + slots, kAlign);
    l.filter = alignUp(l.entries + slots * 4, kAlign);
    l.end = l.filter + KeyIndexView::filterWordsFor(slots) * 8;
    return l;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

DatEntry DatSet::entry(std::size_t n) const {
    const std::size_t at =
        std::size_t(std::upper_bound(firsts_.begin(), firsts_.end(), n) - firsts_.begin()) - 1;
    return {stores_[at], n - firsts_[at]};
}

// Makes a DatSet: from the cache file, or from the DATs and what of the cache still holds.
class DatSetLoad {
  public:
    // The set the cache file `file` holds, or none when there is none that can be trusted. Its
    // files are named by their paths in the cache, or left to be named by rename().
    static std::shared_ptr<DatSet> readCache(const std::string& file, bool named = true);
    // The set of `files`, with an index made for it here.
    static std::shared_ptr<DatSet> build(const std::vector<LoadedDat>& files);

    // Names the files of `set`, read from its cache, by the paths of `files`, which are the
    // same files; the paths are taken.
    static void rename(DatSet& set, std::vector<DatFile>& files) {
        MappedCacheFile& cache = *set.cacheFile_;
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (cache.paths[i] != files[i].path)
                cache.paths[i] = cache.renamed.emplace_back(files[i].path);
            set.files_[i].path = std::move(files[i].path);
        }
    }

  private:
    // Takes `files` into `set`, numbering the entries of their stores in order.
    static void takeFiles(DatSet& set, std::vector<LoadedDat> files);
    // Points the set's index at its arrays, once they are in place.
    static void makeView(DatSet& set) {
        set.index_ = KeyIndexView(set.keyData_, set.nextData_, set.count_, set.tagData_,
                                  set.entryData_, set.filterData_, set.slots_,
                                  set.cacheFile_ ? &set.cacheFile_->checks : nullptr);
    }
};

void DatSetLoad::takeFiles(DatSet& set, std::vector<LoadedDat> files) {
    set.files_ = std::move(files);
    for (const LoadedDat& dat : set.files_) {
        if (dat.store && dat.store->size() > 0) {
            set.firsts_.push_back(set.count_);
            set.stores_.push_back(dat.store.get());
            set.count_ += dat.store->size();
        }
    }
}

std::shared_ptr<DatSet> DatSetLoad::readCache(const std::string& file, bool named) {
    // Never written in place, only renamed into place whole: no writer ever holds it.
    auto opened = File::open(file, File::Mode::Read);
    if (!opened || opened->length() < kHeaderBytes) return nullptr;
    const std::uint64_t length = opened->length();
    auto mapped = opened->map(std::size_t(length));
    if (!mapped) return nullptr;
    auto set = std::make_shared<DatSet>();
    const auto mapping = std::make_shared<const File::Mapping>(std::move(*mapped));
    set->mapping_ = std::shared_ptr<const void>(mapping, mapping->bytes());
    const std::uint8_t* p = mapping->bytes();

    if (std::memcmp(p, kMagic, sizeof kMagic) != 0 || get<std::uint32_t>(p + 8) != kVersion ||
        get<std::uint32_t>(p + 12) != kByteOrderMark)
        return nullptr;
    const auto files = get<std::uint64_t>(p + 16), count = get<std::uint64_t>(p + 24),
               slots = get<std::uint64_t>(p + 32), tableBytes = get<std::uint64_t>(p + 40),
               keysAt = get<std::uint64_t>(p + 48), sumsAt = get<std::uint64_t>(p + 56);
    if (get<std::uint64_t>(p + 64) != length || get<std::uint32_t>(p + 76) != 0 ||
        get<std::uint32_t>(p + 84) != 0 || tableBytes > length - kHeaderBytes ||
        tableBytes > UINT32_MAX)
        return nullptr;
    const std::uint32_t crc =
        Crc32(Crc32(0, p, kChecksummedHeader), p + kHeaderBytes, std::uint32_t(tableBytes));
    if (crc != get<std::uint32_t>(p + kChecksummedHeader)) return nullptr;
    // Every count is below the file's length (under 2^48), so nothing below overflows.
    const std::uint64_t tableEnd = kHeaderBytes + tableBytes, dataAt = alignUp(tableEnd, 8);
    if (files > tableBytes / kRecordBytes || count > length || count >= KeyIndexView::kMaxEntries ||
        slots > length || slots != KeyIndexView::slotsFor(std::max<std::uint64_t>(count, 1)) ||
        keysAt % kAlign != 0 || keysAt < dataAt)
        return nullptr;
    const Layout layout = layoutOf(keysAt, count, slots);
    if (layout.end != sumsAt || sumsAt > length ||
        length - sumsAt != ChunkChecks::chunksFor(sumsAt - dataAt) * 4 ||
        length - sumsAt > UINT32_MAX ||
        Crc32(0, p + sumsAt, std::uint32_t(length - sumsAt)) != get<std::uint32_t>(p + 72))
        return nullptr;
    set->cacheFile_ = std::make_shared<MappedCacheFile>(
        p + dataAt, sumsAt - dataAt, reinterpret_cast<const std::uint32_t*>(p + sumsAt));
    set->cacheFile_->path = file;
    set->cacheFile_->device = opened->device();
    set->cacheFile_->inode = opened->inode();
    set->cacheFile_->mapping = set->mapping_;
    set->cacheFile_->paths.reserve(files);
    set->cacheFile_->identities.reserve(files);

    // A start opens thousands of files here: they share the time it takes, and the stores
    // are made in one allocation.
    const auto start = std::chrono::steady_clock::now();
    const std::shared_ptr<DatStore[]> stores = DatStore::room(files);
    std::uint64_t at = kHeaderBytes;
    std::vector<LoadedDat> loaded;
    loaded.reserve(files);
    for (std::uint64_t i = 0; i < files; ++i) {
        if (tableEnd - at < kRecordBytes) return nullptr;
        const std::uint8_t* r = p + at;
        LoadedDat dat;
        dat.fromCache = true;
        dat.identity = {get<std::uint64_t>(r),     get<std::int64_t>(r + 8),
                        get<std::int64_t>(r + 16), get<std::int64_t>(r + 24),
                        get<std::int64_t>(r + 32), get<std::uint64_t>(r + 40),
                        get<std::uint64_t>(r + 48)};
        const auto blockAt = get<std::uint64_t>(r + 56), blockLength = get<std::uint64_t>(r + 64);
        dat.readSince = get<std::int64_t>(r + 72);
        dat.contentBytes = get<std::uint64_t>(r + 80);
        const auto format = get<std::uint32_t>(r + 88), pathLength = get<std::uint32_t>(r + 92),
                   failureLength = get<std::uint32_t>(r + 96);
        dat.contentCrc = get<std::uint32_t>(r + 100);
        if (format > std::uint32_t(DatFormat::ClrMamePro) || get<std::uint32_t>(r + 104) != 0 ||
            get<std::uint32_t>(r + 108) != 0 ||
            std::uint64_t(pathLength) + failureLength > tableEnd - at - kRecordBytes)
            return nullptr;
        dat.format = DatFormat(format);
        const std::string_view path(reinterpret_cast<const char*>(r + kRecordBytes), pathLength);
        if (named) dat.path = path;
        dat.failure.assign(reinterpret_cast<const char*>(r + kRecordBytes + pathLength),
                           failureLength);
        at += alignUp(kRecordBytes + pathLength + failureLength, 8);
        set->cacheFile_->paths.push_back(path);
        set->cacheFile_->identities.push_back(dat.identity);
        if (blockLength > 0) {
            if (blockAt % 8 != 0 || blockAt < dataAt || blockAt > keysAt ||
                blockLength > keysAt - blockAt ||
                !DatStore::openIn(
                    stores[i], std::shared_ptr<const std::uint8_t[]>(set->mapping_, p + blockAt),
                    std::size_t(blockLength), set->cacheFile_, std::size_t(i), r + 112))
                return nullptr;
            dat.store = std::shared_ptr<const DatStore>(stores, &stores[i]);
        }
        loaded.push_back(std::move(dat));
    }
    if (at != tableEnd) return nullptr;
    const double seconds = secondsSince(start) / double(std::max<std::uint64_t>(files, 1));
    for (LoadedDat& dat : loaded) dat.seconds = seconds;
    takeFiles(*set, std::move(loaded));
    if (set->count_ != count) return nullptr;
    set->keyData_ = reinterpret_cast<const IndexKey*>(p + layout.keys);
    set->nextData_ = reinterpret_cast<const std::uint32_t*>(p + layout.next);
    set->tagData_ = p + layout.tags;
    set->entryData_ = reinterpret_cast<const std::uint32_t*>(p + layout.entries);
    set->filterData_ = reinterpret_cast<const std::uint64_t*>(p + layout.filter);
    set->slots_ = slots;
    makeView(*set);
    return set;
}

std::shared_ptr<DatSet> DatSetLoad::build(const std::vector<LoadedDat>& files) {
    auto set = std::make_shared<DatSet>();
    takeFiles(*set, files);
    // More entries than an index can number are as many as this memory cannot hold.
    if (set->count_ >= KeyIndexView::kMaxEntries) throw std::bad_alloc();
    BuiltKeyIndex& built = set->built_;
    built.keys.resize(set->count_);  // all written below
    IndexKey* key = built.keys.data();
    for (const DatStore* store : set->stores_)
        for (std::size_t i = 0; i < store->size(); ++i) *key++ = {store->crc(i), store->romSize(i)};
    built.link();
    set->slots_ = built.slotCount;
    set->keyData_ = built.keys.data();
    set->nextData_ = built.next.data();
    set->tagData_ = built.tags.data();
    set->entryData_ = built.entries.data();
    set->filterData_ = built.filter.data();
    makeView(*set);
    return set;
}

KeyIndexView DatSet::mended() const {
    std::call_once(rebuildOnce_, [&] {
        if (cacheFile_) cacheFile_->forget();
        try {
            // Over the same stores, which check their own bytes.
            rebuiltSet_ = DatSetLoad::build(files_);
            rebuilt_.store(rebuiltSet_.get(), std::memory_order_release);
        } catch (const std::bad_alloc&) {
            // No memory for another index: the damaged one is read as it is, within bounds.
        }
    });
    const DatSet* other = rebuilt();
    return other ? other->index_ : index_.unchecked();
}

const IndexKey* DatSet::keys() const {
    if (const DatSet* other = rebuilt()) return other->keyData_;
    if (!cacheFile_ || keysChecked_.load(std::memory_order_relaxed)) return keyData_;
    if (cacheFile_->checks.verify(keyData_, count_ * sizeof(IndexKey))) {
        keysChecked_.store(true, std::memory_order_relaxed);
        return keyData_;
    }
    mended();
    const DatSet* other = rebuilt();
    return other ? other->keyData_ : keyData_;
}

std::shared_ptr<const DatSet> makeDatSet(const std::vector<LoadedDat>& files) {
    return DatSetLoad::build(files);
}

std::shared_ptr<const DatSet> openDatSetCache(const std::string& file) {
    return DatSetLoad::readCache(file);
}

std::string datCacheKey(const std::string& databaseDir, const std::vector<std::string>& extra) {
    std::string key = canonicalPath(databaseDir);
    for (const std::string& path : extra) {
        key += '\n';  // piece by piece: GCC 12 misreads "\n" + text at -O3
        key += canonicalPath(path);
    }
    return key;
}

std::string datCacheFile(const std::string& cacheDir, const std::string& key) {
    // FNV-1a: a name, not a safeguard; the file names its DATs in full.
    std::uint64_t hash = 0xCBF29CE484222325ull;
    for (const char c : key) hash = (hash ^ std::uint8_t(c)) * 0x100000001B3ull;
    char name[32];
    std::snprintf(name, sizeof name, "%016llx.dats", static_cast<unsigned long long>(hash));
    return cacheDir + "/" + name;
}

bool storeDatSet(const std::string& file, const DatSet& set) {
    // What is written is checked first: a cache never carries damage into the next.
    for (const LoadedDat& dat : set.files())
        if (dat.store && !dat.store->intact()) return false;
    const DatSet* index = set.rebuilt() ? set.rebuilt() : &set;
    const std::uint64_t filterBytes = KeyIndexView::filterWordsFor(set.slots_) * 8;
    if (set.cacheFile_ && index == &set) {
        const auto* from = reinterpret_cast<const std::uint8_t*>(set.keyData_);
        const auto* to = reinterpret_cast<const std::uint8_t*>(set.filterData_) + filterBytes;
        if (!set.cacheFile_->checks.verify(from, std::size_t(to - from))) {
            set.mended();
            if (!set.rebuilt()) return false;
            index = set.rebuilt();
        }
    }

    std::uint64_t tableBytes = 0;
    for (const LoadedDat& dat : set.files())
        tableBytes += alignUp(kRecordBytes + dat.path.size() + dat.failure.size(), 8);
    if (tableBytes > UINT32_MAX) return false;
    std::vector<std::uint8_t> head(kHeaderBytes);
    const std::uint64_t dataAt = alignUp(kHeaderBytes + tableBytes, 8);
    std::uint64_t at = dataAt;
    for (const LoadedDat& dat : set.files()) {
        const std::uint64_t blockLength = dat.store ? dat.store->blockLength() : 0;
        for (const std::uint64_t v :
             {dat.identity.size, std::uint64_t(dat.identity.modifiedSeconds),
              std::uint64_t(dat.identity.modifiedNanoseconds),
              std::uint64_t(dat.identity.changedSeconds),
              std::uint64_t(dat.identity.changedNanoseconds), dat.identity.inode,
              dat.identity.device, blockLength > 0 ? at : 0, blockLength,
              std::uint64_t(dat.readSince), dat.contentBytes})
            put(head, v);
        for (const std::uint32_t v : {std::uint32_t(dat.format), std::uint32_t(dat.path.size()),
                                      std::uint32_t(dat.failure.size()), dat.contentCrc,
                                      std::uint32_t(0), std::uint32_t(0)})
            put(head, v);
        std::uint8_t header[DatStore::kHeaderBytes] = {};
        if (blockLength >= DatStore::kHeaderBytes)
            std::memcpy(header, dat.store->block(), DatStore::kHeaderBytes);
        head.insert(head.end(), header, header + DatStore::kHeaderBytes);
        head.insert(head.end(), dat.path.begin(), dat.path.end());
        head.insert(head.end(), dat.failure.begin(), dat.failure.end());
        head.resize(alignUp(head.size(), 8));
        at = alignUp(at + blockLength, 8);
    }
    const std::uint64_t keysAt = alignUp(at, kAlign);
    const Layout layout = layoutOf(keysAt, set.size(), set.slots_);

    // Written whole under a name of its own, then renamed into place: a reader finds the old
    // cache or the new one, never a part of one, and a write that fails leaves nothing behind.
    return replaceFileWith(file, [&](File& out) {
        static const std::uint8_t zeros[kAlign] = {};
        // The table now, the header once the sums are known; the blocks and the index are
        // summed as they are written.
        out.write(head.data(), head.size());
        ChunkSums sums;
        std::uint64_t written = dataAt;
        // Writes `length` bytes at `offset`, after zeros up to there.
        const auto place = [&](std::uint64_t offset, const void* data, std::uint64_t length) {
            const auto* bytes = static_cast<const std::uint8_t*>(data);
            sums.add(zeros, offset - written);
            sums.add(bytes, length);
            out.write(zeros, offset - written);
            out.write(bytes, length);
            written = offset + length;
        };
        at = dataAt;
        for (const LoadedDat& dat : set.files()) {
            if (!dat.store || dat.store->blockLength() == 0) continue;
            place(at, dat.store->block(), dat.store->blockLength());
            at = alignUp(at + dat.store->blockLength(), 8);
        }
        place(layout.keys, index->keyData_, set.size() * sizeof(IndexKey));
        place(layout.next, index->nextData_, set.size() * 4);
        place(layout.tags, index->tagData_, set.slots_);
        place(layout.entries, index->entryData_, set.slots_ * 4);
        place(layout.filter, index->filterData_, filterBytes);
        const std::vector<std::uint32_t> chunkSums = sums.finish();
        const std::uint64_t sumsBytes = chunkSums.size() * 4;
        if (sumsBytes > UINT32_MAX) throw FileError("too many chunks", EFBIG);
        out.write(chunkSums.data(), sumsBytes);

        std::uint8_t* h = head.data();
        std::memcpy(h, kMagic, sizeof kMagic);
        putAt(head, 8, kVersion);
        putAt(head, 12, kByteOrderMark);
        const std::uint64_t fields[] = {
            set.files().size(),    set.size(), set.slots_, tableBytes, keysAt, layout.end,
            layout.end + sumsBytes};
        std::memcpy(h + 16, fields, sizeof fields);
        putAt(head, 72,
              Crc32(0, reinterpret_cast<const std::uint8_t*>(chunkSums.data()),
                    std::uint32_t(sumsBytes)));
        putAt(head, kChecksummedHeader,
              Crc32(Crc32(0, h, kChecksummedHeader), h + kHeaderBytes, std::uint32_t(tableBytes)));
        out.seek(0);
        out.write(h, kHeaderBytes);
    });
}

std::shared_ptr<const DatSet> loadDatSet(std::vector<DatFile> dats, const std::string& cacheDir,
                                         const std::string& key, const DatProgress& progress) {
    if (dats.empty()) return std::make_shared<DatSet>();
    // Taken before anything is read.
    const std::int64_t now = timeNow();
    std::uint64_t total = 0;
    for (const DatFile& dat : dats) total += dat.identity ? dat.identity->size : 0;
    const std::string file = cacheDir.empty() ? std::string() : datCacheFile(cacheDir, key);
    // Named below by the paths of this load.
    std::shared_ptr<DatSet> cached = file.empty() ? nullptr : DatSetLoad::readCache(file, false);

    // What the cache still holds of each DAT: a file of the same identity (whichever path
    // reached it this time) that cannot have been written unseen since it was read, or that is
    // seen to hold the same bytes. Either way it holds them still after `now`.
    // Nearly always each file is where it was; the others are looked up by device and inode.
    std::map<std::pair<std::uint64_t, std::uint64_t>, const LoadedDat*> byFile;
    const auto cachedFile = [&](std::size_t i) -> const LoadedDat* {
        if (!cached || !dats[i].identity) return nullptr;
        const std::vector<LoadedDat>& files = cached->files();
        if (i < files.size() && files[i].identity == dats[i].identity) return &files[i];
        if (byFile.empty())
            for (const LoadedDat& dat : files)
                byFile.emplace(std::pair(dat.identity.device, dat.identity.inode), &dat);
        const auto found = byFile.find({dats[i].identity->device, dats[i].identity->inode});
        return found != byFile.end() ? found->second : nullptr;
    };
    std::vector<const LoadedDat*> held(dats.size(), nullptr);
    bool whole = cached && cached->files().size() == dats.size();
    // Whether a DAT was looked at byte by byte and need not be from now on: the cache is then
    // written anew, so that it is not looked at again at every start.
    bool renew = false;
    for (std::size_t i = 0; i < dats.size(); ++i) {
        const LoadedDat* dat = cachedFile(i);
        if (dat && dats[i].identity == dat->identity &&
            mayHaveChangedUnseen(dat->identity, dat->readSince)) {
            if (holdsTheSameBytes(dats[i].path, *dat))
                renew = renew || !mayHaveChangedUnseen(dat->identity, now);
            else
                dat = nullptr;
        }
        held[i] = dat && dats[i].identity == dat->identity ? dat : nullptr;
        whole = whole && held[i] == &cached->files()[i];
    }
    if (whole && !renew) {
        DatSetLoad::rename(*cached, dats);
        return cached;
    }
    // A block kept for the next cache is checked whole first, so that no damage is carried on.
    for (const LoadedDat*& dat : held)
        if (dat && dat->store && !dat->store->intact()) dat = nullptr;

    // The DATs the cache still holds keep what it holds; the others are read, each on its own,
    // so on every core but one a worker reads ahead while this thread reads too, and takes them
    // in load order. Only this thread tells of progress, in load order, and within a file only
    // of the one it reads itself when that is the next.
    std::vector<std::size_t> toRead;
    for (std::size_t i = 0; i < dats.size(); ++i)
        if (!held[i]) toRead.push_back(i);
    std::vector<LoadedDat> read(dats.size());
    std::vector<bool> ready(dats.size(), false);
    std::mutex mutex;
    std::condition_variable readyChanged;
    std::atomic<std::size_t> claimed{0};
    std::atomic<bool> stop{false};
    std::uint64_t done = 0;
    const auto readOne = [&](std::size_t k, bool report) {
        const std::size_t i = toRead[k];
        LoadedDat loaded = loadDat(dats[i].path, [&](std::uint64_t bytes) {
            if (report && progress) progress(dats[i].path, std::min(done + bytes, total), total);
        });
        const std::lock_guard<std::mutex> lock(mutex);
        read[i] = std::move(loaded);
        ready[i] = true;
        readyChanged.notify_all();
    };
    std::vector<std::thread> workers;
    // However this thread leaves, the workers stop at their next file and are waited for.
    struct Joined {
        std::atomic<bool>& stop;
        std::vector<std::thread>& workers;
        ~Joined() {
            stop = true;
            for (std::thread& worker : workers) worker.join();
        }
    } joined{stop, workers};
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    try {
        for (unsigned t = 1; t < std::min(cores, 4u) && t < toRead.size(); ++t)
            workers.emplace_back([&] {
                for (std::size_t k; !stop && (k = claimed++) < toRead.size();) readOne(k, false);
            });
    } catch (const std::system_error&) {
        // Fewer workers than cores: those that started and this thread read them all.
    }
    std::vector<LoadedDat> files;
    // Whether the cache may name what was read: not when a file changed while it was read,
    // which the cache would name as it is now, nor when one failed for want of memory.
    bool keep = true;
    for (std::size_t i = 0; i < dats.size(); ++i) {
        const DatFile& dat = dats[i];
        if (held[i]) {
            files.push_back(*held[i]);
            files.back().path = dat.path;
            files.back().readSince = now;
        } else {
            for (std::unique_lock<std::mutex> lock(mutex); !ready[i];) {
                // While file i is not read, this thread reads the next file nobody has begun.
                lock.unlock();
                const std::size_t k = claimed++;
                if (k < toRead.size()) {
                    readOne(k, toRead[k] == i);
                    lock.lock();
                    continue;
                }
                lock.lock();
                readyChanged.wait(lock, [&] { return bool(ready[i]); });
            }
            files.push_back(std::move(read[i]));
            keep = keep && (!dat.identity || datIdentityOf(dat.path) == dat.identity) &&
                   files.back().failure != kOutOfMemory;
        }
        done += dat.identity ? dat.identity->size : 0;
        if (progress) progress(dat.path, std::min(done, total), total);
    }
    std::shared_ptr<DatSet> set;
    try {
        set = DatSetLoad::build(files);
    } catch (const std::bad_alloc&) {
        // No room for the index: every DAT fails, as one too large for this memory.
        for (LoadedDat& dat : files) {
            if (!dat.store) continue;
            dat.store.reset();
            dat.failure = kOutOfMemory;
        }
        return DatSetLoad::build(files);
    }
    if (!file.empty() && keep && makeDirectories(cacheDir)) storeDatSet(file, *set);
    return set;
}

}  // namespace chipsight
