// The entries of every DAT file of a load as one run of the entry table, with one index over
// them all; and the compiled cache that keeps both between runs.
//
// A start with hundreds of DATs (every software list MAME ships) must not parse hundreds of
// megabytes of XML, nor even enter half a million entries into an index: it maps one cache
// file, whose index is ready to probe. That file names each DAT it was made from exactly (path,
// size, last-write and change times, inode, device, and the checksum of the bytes it was read
// from, which tells for a DAT written too soon before its load for its times to) and holds the
// block of each DatStore; a start uses it whole only when it names exactly the files found now,
// as they are now.
// Otherwise the DATs it still names as they are keep their blocks, the others are read again,
// and a new cache file is written under a temporary name and renamed into place, so a reader
// sees the old file or the new one, and two processes compiling at once both succeed.
//
// A cache may cost time, never an answer. The header and the table of files are checksummed
// and checked when the file is opened, and every offset is checked before it is used. The rest
// (the blocks and the index, 50 MB for MAME's lists) carries a CRC-32 for every 4 KiB, and a
// chunk is checked the first time anything in it is read, so a start pays for the few chunks
// it reads. A chunk found damaged is forgotten with the file: an index found damaged gives way
// to one made anew from the entries, a block to its DAT read again, and the file is removed,
// to be written anew by the next start. A renewal checks every block it keeps.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/databases/dat/dat_files.h"
#include "core/databases/dat/dat_loading.h"
#include "core/index/key_index.h"

namespace chipsight {

// An entry of a DAT file, as a lookup hands it over: it says more than a RomEntry holds.
struct DatEntry {
    const DatStore* store;
    std::size_t index;
    DatEntryInfo info() const { return store->info(index); }
};

// The cache file a set is mapped from (see dat_set.cpp).
struct MappedCacheFile;

class DatSet {
  public:
    // Every file of the load, in load order, those of no known format included.
    const std::vector<LoadedDat>& files() const { return files_; }
    // The entries of all files, in load order.
    std::size_t size() const { return count_; }
    DatEntry entry(std::size_t n) const;
    // The checksum and size of each entry, in order.
    const IndexKey* keys() const;
    // The index over the entries, by their numbers in the set; where it is checked as it is
    // read, a lookup that finds it damaged ends early (see forEachMatch).
    const KeyIndexView& index() const {
        const DatSet* other = rebuilt();
        return other ? other->index_ : index_;
    }
    // Calls `visit` with the number of every entry of the pair, in increasing order.
    template <typename Visit>
    void forEachMatch(std::uint32_t crc, std::uint32_t size, Visit&& visit) const {
        std::int64_t last = -1;
        if (index().forEachMatch(crc, size, [&](std::uint32_t n) {
                last = n;
                visit(n);
            }))
            return;
        // The index was found damaged on the way: the rest comes from one made anew.
        mended().forEachMatch(crc, size, [&](std::uint32_t n) {
            if (std::int64_t(n) > last) visit(n);
        });
    }

    DatSet() = default;
    DatSet(const DatSet&) = delete;
    DatSet& operator=(const DatSet&) = delete;

  private:
    friend class DatSetLoad;
    friend bool storeDatSet(const std::string& file, const DatSet& set);

    const DatSet* rebuilt() const { return rebuilt_.load(std::memory_order_acquire); }
    // The index made anew from the entries, for one found damaged; the damaged one, taken as
    // it is, when there is no memory to make another.
    KeyIndexView mended() const;

    std::vector<LoadedDat> files_;
    // The stores that hold entries, and the number of the first entry of each.
    std::vector<const DatStore*> stores_;
    std::vector<std::size_t> firsts_;
    std::size_t count_ = 0;
    // The index's arrays, in the mapped cache file or in those below.
    const IndexKey* keyData_ = nullptr;
    const std::uint32_t* nextData_ = nullptr;
    const std::uint8_t* tagData_ = nullptr;
    const std::uint32_t* entryData_ = nullptr;
    const std::uint64_t* filterData_ = nullptr;
    std::size_t slots_ = 0;
    KeyIndexView index_;
    std::shared_ptr<const void> mapping_;
    // For a set mapped from a cache: the file, which checks its chunks and knows where its
    // DATs are read again from.
    std::shared_ptr<MappedCacheFile> cacheFile_;
    mutable std::once_flag rebuildOnce_;
    mutable std::shared_ptr<const DatSet> rebuiltSet_;
    mutable std::atomic<const DatSet*> rebuilt_{nullptr};
    mutable std::atomic<bool> keysChecked_{false};
    // The index made in memory, when it is not the cache file's.
    BuiltKeyIndex built_;
};

// Hears, while DATs are read, the file being read and how many bytes of all files are done.
using DatProgress =
    std::function<void(const std::string& file, std::uint64_t done, std::uint64_t total)>;

// Loads the DATs `files`, in that order, using and then renewing the cache file for `key`
// (what names the load, see datCacheKey) in `cacheDir`. The cache knows a DAT by its identity,
// whatever path it was reached by, and the set names each by its path in `files`. `cacheDir`
// empty, or a cache that cannot be written: the DATs are read, and nothing else goes wrong.
std::shared_ptr<const DatSet> loadDatSet(std::vector<DatFile> files, const std::string& cacheDir,
                                         const std::string& key, const DatProgress& progress = {});

// The set of `files`, read already, with an index made for it.
std::shared_ptr<const DatSet> makeDatSet(const std::vector<LoadedDat>& files);

// The set the cache file `file` holds, or none when it is missing or cannot be trusted.
std::shared_ptr<const DatSet> openDatSetCache(const std::string& file);

// What names the cache of a load that searched `databaseDir` and `extra`: each by its canonical
// path, so that every name of one folder (a trailing slash, a relative path, a link) comes to
// the same cache file.
std::string datCacheKey(const std::string& databaseDir, const std::vector<std::string>& extra);

// The cache file for `key` in `cacheDir`.
std::string datCacheFile(const std::string& cacheDir, const std::string& key);

// Writes `set` as the cache file `file`. False when it could not be written.
bool storeDatSet(const std::string& file, const DatSet& set);

}  // namespace chipsight
