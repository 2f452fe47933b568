// The entry table: append-only, in load order, with an index from (crc, size) to the entries
// that carry the pair, so a lookup costs the same against a million entries as against none.
//
// Entries come in three kinds. Those appended one by one (entries added while the program runs,
// tests) are kept whole. Chip records loaded from CHIPLORE.ROM and custom records loaded from
// Chipsight.dat stay the bytes they were read as, and an entry is made of its record (a chip
// joined with its game, as joinRecord does) only when it is looked at: a million chips then take
// their 28 bytes each instead of 108, and loading either file writes out nothing but the index.
//
// The index is one open-addressed array of slots, each holding an entry's (crc, size) next to
// its number, probed linearly from the pair's home slot. A lookup compares the keys in the
// slots it passes and touches an entry's record only when the keys match; entries of one pair
// lie along the probe in table order, since slots are only ever filled, in table order.
//
// What this shape is for, as measured by scripts/bench (a simpler table breaks these):
// - loading 1,000,000 chips takes at most 3x a plain read() of the two files, and 1,000,000
//   custom records at most 1.5x as long as the chips, because nothing is copied or joined at
//   load: the index is filled in one pass over the records;
// - the table of 1,000,000 entries takes at most 1.5x their 108 bytes each, because chips stay
//   28-byte records and a slot takes 12 bytes;
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
#include <utility>
#include <vector>

#include "core/large_pages.h"
#include "core/rom_database.h"

namespace chipsight {

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
    void clear();

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
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

    // Asks for the part of the index that a lookup of `crc` and `size` reads, ahead of it.
    void prefetch(std::uint32_t crc, std::uint32_t size) const {
        if (!slots_.empty()) __builtin_prefetch(&slots_[homeOf(crc, size)]);
    }

    // Calls `visit` with every entry of `crc` and `size`, in table order.
    template <typename Visit>
    void forEachMatch(std::uint32_t crc, std::uint32_t size, Visit&& visit) const {
        if (slots_.empty()) return;
        for (std::size_t s = homeOf(crc, size);; s = (s + 1) & mask_) {
            const Slot& slot = slots_[s];
            if (slot.entry == kNone) return;
            if (slot.crc == crc && slot.size == size) {
                const RomEntry e = (*this)[slot.entry];
                visit(e);
            }
        }
    }

    bool operator==(const EntryTable& other) const;

  private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    // Where a chip record and a custom record keep their checksum and size.
    static constexpr std::size_t kCrcAt = RomTableRecord::kCrcAt, kSizeAt = RomTableRecord::kSizeAt;
    static constexpr std::size_t kRecordCrcAt = 0, kRecordSizeAt = 4;

    enum class Kind : std::uint32_t { Own, Chips, Records };
    // A run of entries of one kind, from entry `first` to the next run: own_[source] on for
    // entries kept whole, the records of chips_[source], or those of records_[source].
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
    // One slot of the index: an entry's keys and its number, or kNone for a free slot.
    struct Slot {
        std::uint32_t crc;
        std::uint32_t size;
        std::uint32_t entry;
    };
    // The index is never more than half full, so probes stay short.
    static constexpr std::size_t kSlotsPerEntry = 2;

    static std::uint32_t readU32(const std::uint8_t* p) {
        return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
               std::uint32_t(p[3]) << 24;
    }
    // The slot where the probe for (crc, size) starts, in an index of mask + 1 slots.
    static std::size_t homeIn(std::uint32_t crc, std::uint32_t size, std::size_t mask) {
        // CRC values are already well mixed; the size only needs spreading over them.
        const std::uint64_t key = (std::uint64_t(size) * 0x9E3779B97F4A7C15ull) ^ crc;
        return std::size_t((key * 0xBF58476D1CE4E5B9ull) >> 32) & mask;
    }
    std::size_t homeOf(std::uint32_t crc, std::uint32_t size) const {
        return homeIn(crc, size, mask_);
    }
    const Segment& segmentOf(std::uint32_t i) const {
        // Nearly always the last run, or the one before (custom entries, then the chips).
        std::size_t s = segments_.size() - 1;
        while (segments_[s].first > i) --s;
        return segments_[s];
    }
    // How many entries the index takes before it must grow.
    std::size_t indexRoom() const { return slots_.size() / kSlotsPerEntry; }
    // Makes room in the index for `count` entries in all.
    void reserveIndex(std::size_t count);
    // Enters entries [first, end) into `slots` (of size mask + 1), in table order.
    void link(std::uint32_t first, std::uint32_t end, Slot* slots, std::size_t mask) const;
    template <typename Each>
    void forEachKey(const Segment& segment, std::uint32_t first, std::uint32_t end,
                    Each&& each) const;

    template <typename T>
    using Large = std::vector<T, LargePageAllocator<T>>;

    std::size_t size_ = 0;
    std::vector<Segment> segments_;
    std::vector<RomEntry> own_;
    std::vector<Chips> chips_;
    std::vector<std::shared_ptr<const std::uint8_t[]>> records_;
    // A power of two of slots, or none before the first entry; mask_ is their count less one.
    Large<Slot> slots_;
    std::size_t mask_ = 0;
};

}  // namespace chipsight
