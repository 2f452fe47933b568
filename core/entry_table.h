// The entry table: append-only, in load order, with an index from (crc, size) to the entries
// that carry the pair, so a lookup costs the same against a million entries as against none.
//
// Entries come in four kinds. Those appended one by one (entries added while the program runs,
// tests) are kept whole. Chip records loaded from CHIPLORE.ROM and custom records loaded from
// Chipsight.dat stay the bytes they were read as, and an entry is made of its record (a chip
// joined with its game, as joinRecord does) only when it is looked at: a million chips then take
// their 28 bytes each instead of 108, and loading either file writes out nothing but the index.
// The entries of a DAT file stay in the block of their DatStore, mapped from the cache or built
// by its reader.
//
// The index keeps every entry's (crc, size) in entry order, and an open-addressed table of
// slots, probed linearly from the pair's home slot: for each slot a byte (free, or seven bits
// of the pair's hash) and the number of the entry in it. A lookup runs over the slot bytes,
// which are few enough to stay in the caches, compares the keys of an entry only where the
// hash bits agree, and makes the entry of its record only where the keys match. Entries of one
// pair lie along the probe in table order, since each is entered after those before it in the
// table, and slots are only ever filled.
//
// What this shape is for, as measured by scripts/bench (a simpler table breaks these):
// - loading 1,000,000 chips takes at most 3x a plain read() of the two files, and 1,000,000
//   custom records at most 1.5x as long as the chips, because nothing is copied or joined at
//   load, and the index of a large load is filled region by region (see link), so filling it
//   does not wait on memory at every entry;
// - the table of 1,000,000 entries takes at most 1.5x their 108 bytes each, because chips stay
//   28-byte records, and the index takes 19 bytes an entry (its keys, and two slots of a byte,
//   an entry number and a share of the filter);
// - identifying against 1,000,000 entries costs at most 1.1x identifying against none, and
//   1.3x in a fresh process, because a lookup reads one or two slots of the index and nothing
//   else, the lookups of an image are asked for all at once, and the index sits on huge pages
//   (see large_pages.h), where random reads do not miss the TLB at every step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/databases/dat_store.h"
#include "core/large_pages.h"
#include "core/rom_database.h"

namespace chipsight {

// An entry read from a DAT file, as a lookup hands it over: it says more than a RomEntry holds.
struct DatEntry {
    const DatStore* store;
    std::size_t index;
    DatEntryInfo info() const { return store->info(index); }
};

class EntryTable {
  public:
    EntryTable() = default;
    EntryTable(std::initializer_list<RomEntry> entries);

    // Makes room for `count` entries in all, so that push_back up to that many allocates
    // nothing more and cannot fail.
    void reserve(std::size_t count);
    // How many entries the table holds before push_back needs to allocate.
    std::size_t capacity() const;
    void push_back(const RomEntry& entry);
    // Appends the `count` chip records at the start of `roms`, RomTableRecord::kSize bytes
    // each, whose games are the first `gameBytes` bytes of `games`. The table keeps both.
    void appendChips(std::shared_ptr<const std::uint8_t[]> roms, std::size_t count,
                     std::shared_ptr<const std::uint8_t[]> games, std::size_t gameBytes);
    // Appends the `count` custom records at the start of `records`, RomEntry::kSize bytes each.
    // The table keeps them.
    void appendRecords(std::shared_ptr<const std::uint8_t[]> records, std::size_t count);
    // Appends the entries of a DAT file, which the table keeps.
    void appendDat(std::shared_ptr<const DatStore> store);
    void clear();

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // The entry as a record; a DAT entry's texts are cut to the record's fields.
    RomEntry operator[](std::size_t i) const;

    // Visits the entries in table order; each is made as it is reached.
    class Iterator {
      public:
        using iterator_category = std::input_iterator_tag;
        using value_type = RomEntry;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = RomEntry;

        Iterator() = default;
        Iterator(const EntryTable* table, std::size_t i) : table_(table), i_(i) {}
        RomEntry operator*() const { return (*table_)[i_]; }
        Iterator& operator++() {
            ++i_;
            return *this;
        }
        Iterator operator++(int) {
            Iterator before = *this;
            ++i_;
            return before;
        }
        bool operator==(const Iterator& other) const { return i_ == other.i_; }

      private:
        const EntryTable* table_ = nullptr;
        std::size_t i_ = 0;
    };
    using iterator = Iterator;
    using const_iterator = Iterator;
    Iterator begin() const { return {this, 0}; }
    Iterator end() const { return {this, size()}; }

    // Asks for the part of the index that a lookup of `crc` and `size` reads first, ahead of it.
    void prefetch(std::uint32_t crc, std::uint32_t size) const {
        if (!tags_.empty()) __builtin_prefetch(&filter_[filterWordOf(crc, size)]);
    }

    // Calls `visit` with every entry of `crc` and `size`, in table order: with a DatEntry for an
    // entry of a DAT file where `visit` takes one, else with a RomEntry.
    template <typename Visit>
    void forEachMatch(std::uint32_t crc, std::uint32_t size, Visit&& visit) const {
        if (tags_.empty() || !mayHold(crc, size)) return;
        const std::uint64_t hash = hashOf(crc, size);
        const std::uint8_t tag = tagOf(hash);
        for (std::size_t s = hash & mask_;; s = (s + 1) & mask_) {
            const std::uint8_t t = tags_[s];
            if (t == kFree) return;
            if (t != tag) continue;
            const std::uint32_t i = entries_[s];
            if (keys_[i].crc == crc && keys_[i].size == size) {
                if constexpr (std::is_invocable_v<Visit, const DatEntry&>) {
                    const Segment& segment = segmentOf(i);
                    if (segment.kind == Kind::Dat) {
                        visit(DatEntry{dats_[segment.source].get(), i - segment.first});
                        continue;
                    }
                }
                const RomEntry e = (*this)[i];
                visit(e);
            }
        }
    }

    bool operator==(const EntryTable& other) const;

  private:
    // Where a chip record and a custom record keep their checksum and size.
    static constexpr std::size_t kCrcAt = RomTableRecord::kCrcAt, kSizeAt = RomTableRecord::kSizeAt;
    static constexpr std::size_t kRecordCrcAt = 0, kRecordSizeAt = 4;

    enum class Kind : std::uint32_t { Own, Chips, Records, Dat };
    // A run of entries of one kind, from entry `first` to the next run: own_[source] on for
    // entries kept whole, the records of chips_[source], those of records_[source], or the
    // entries of dats_[source].
    struct Segment {
        std::uint32_t first;
        Kind kind;
        std::uint32_t source;
    };
    // The bytes of one load of chip records and their games.
    struct Chips {
        std::shared_ptr<const std::uint8_t[]> roms;
        std::shared_ptr<const std::uint8_t[]> games;
        std::size_t gameBytes;
    };
    // The keys of one entry, as the index compares them.
    struct Key {
        std::uint32_t crc;
        std::uint32_t size;
    };
    // A slot's byte: free, or the top seven bits of the hash of the pair in it.
    static constexpr std::uint8_t kFree = 0x80;
    // The index is never more than half full, so probes stay short.
    static constexpr std::size_t kSlotsPerEntry = 2;

    static std::uint32_t readU32(const std::uint8_t* p) {
        return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
               std::uint32_t(p[3]) << 24;
    }
    // The hash of a pair: its low bits (those of the mask) name the home slot, its top seven
    // bits are the slot's byte.
    static std::uint64_t hashOf(std::uint32_t crc, std::uint32_t size) {
        // CRC values are already well mixed; the size only needs spreading over them.
        const std::uint64_t key = (std::uint64_t(size) * 0x9E3779B97F4A7C15ull) ^ crc;
        const std::uint64_t h = key * 0xBF58476D1CE4E5B9ull;
        return h ^ (h >> 29);
    }
    static std::uint8_t tagOf(std::uint64_t hash) { return std::uint8_t(hash >> 57); }
    // The filter in front of the slots: per pair two bits of one 64-bit word, set for every
    // entry, both seen set by about one lookup in twenty of a pair that no entry has. It takes
    // four bits per slot, so it is small enough to stay in the caches that the slot bytes fall
    // out of, and most lookups of pairs the table does not hold end at it.
    static std::uint64_t filterHashOf(std::uint32_t crc, std::uint32_t size) {
        const std::uint64_t key = (std::uint64_t(crc) << 32 | size) * 0xD6E8FEB86659FD93ull;
        return key ^ (key >> 32);
    }
    static std::uint64_t filterBitsOf(std::uint64_t hash) {
        return std::uint64_t(1) << (hash >> 58) | std::uint64_t(1) << ((hash >> 52) & 63);
    }
    std::size_t filterWordOf(std::uint32_t crc, std::uint32_t size) const {
        return filterHashOf(crc, size) & (filter_.size() - 1);
    }
    bool mayHold(std::uint32_t crc, std::uint32_t size) const {
        const std::uint64_t hash = filterHashOf(crc, size);
        const std::uint64_t bits = filterBitsOf(hash);
        return (filter_[hash & (filter_.size() - 1)] & bits) == bits;
    }
    const Segment& segmentOf(std::uint32_t i) const {
        // Nearly always the last run, or the one before (custom entries, then the chips).
        std::size_t s = segments_.size() - 1;
        while (segments_[s].first > i) --s;
        return segments_[s];
    }
    // How many entries the index takes before it must grow.
    std::size_t indexRoom() const { return tags_.size() / kSlotsPerEntry; }
    // Appends a run of `count` entries of `kind`, whose bytes `keep` stores, returning their
    // number among those of the kind.
    template <typename Keep>
    void appendRun(Kind kind, std::size_t count, Keep&& keep);
    // Makes room in the index for `count` entries in all.
    void reserveIndex(std::size_t count);
    // Copies the keys of the records of the last segment, which ends at entry `end`, into keys_.
    void readKeys(std::uint32_t end);
    // Enters entries [first, end) into the slots `tags` and `entries` (mask + 1 of each) and
    // the filter `filter` that goes with them, each after those before it in the table.
    void link(std::uint32_t first, std::uint32_t end, std::uint8_t* tags, std::uint32_t* entries,
              std::uint64_t* filter, std::size_t mask) const;

    template <typename T>
    using Large = std::vector<T, LargePageAllocator<T>>;

    std::size_t size_ = 0;
    std::vector<Segment> segments_;
    std::vector<RomEntry> own_;
    std::vector<Chips> chips_;
    std::vector<std::shared_ptr<const std::uint8_t[]>> records_;
    std::vector<std::shared_ptr<const DatStore>> dats_;
    // The keys of every entry, in table order.
    Large<Key> keys_;
    // A power of two of slots, or none before the first entry; mask_ is their count less one.
    Large<std::uint8_t> tags_;
    Large<std::uint32_t> entries_;
    // One word for every sixteen slots.
    Large<std::uint64_t> filter_;
    std::size_t mask_ = 0;

  public:
    // Calls `visit` with the checksum of every entry of `size`, in table order.
    template <typename Visit>
    void forEachCrcOfSize(std::uint32_t size, Visit&& visit) const {
        for (std::size_t i = 0; i < size_; ++i)
            if (keys_[i].size == size) visit(keys_[i].crc);
    }
};

}  // namespace chipsight
