// The entry table: append-only, in load order, with an index from (crc, size) to the entries
// that carry the pair, so a lookup costs the same against a million entries as against none.
//
// Entries come in two kinds. Those appended one by one (custom entries, tests) are kept whole.
// Chip records loaded from CHIPLORE.ROM stay the bytes they were read as, and an entry is
// joined with its game (as joinRecord does) only when it is looked at: a million chips then
// take their 28 bytes each instead of 108, and loading them writes out nothing but the index.
//
// What this shape is for, as measured by scripts/bench (a simpler table breaks these):
// - loading 1,000,000 chips takes at most 3x a plain read() of the two files, because nothing
//   is copied or joined at load: the index is linked in one pass over the records;
// - the table of 1,000,000 entries takes at most 1.5x their 108 bytes each, because chips stay
//   28-byte records and the index links runs of entries, not each entry;
// - identifying against 1,000,000 entries costs at most 1.1x identifying against none, because
//   a lookup walks one short chain, and the index sits on huge pages (see large_pages.h), where
//   random reads do not miss the TLB at every step.
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

    // Calls `visit` with every entry of `crc` and `size`, in table order.
    template <typename Visit>
    void forEachMatch(std::uint32_t crc, std::uint32_t size, Visit&& visit) const {
        if (buckets_ == 0) return;
        // The chain holds the newest entry first: the matches are gathered, then visited
        // oldest first.
        std::uint32_t few[16];
        std::vector<std::uint32_t> many;
        std::size_t found = 0;
        for (std::uint32_t i = chains_[bucketOf(crc, size)]; i != kNone;
             i = chains_[buckets_ + i]) {
            if (!matches(i, crc, size)) continue;
            if (found < std::size(few)) {
                few[found] = i;
            } else {
                if (many.empty()) many.assign(few, few + found);
                many.push_back(i);
            }
            ++found;
        }
        for (std::size_t n = found; n-- > 0;) {
            const std::uint32_t i = many.empty() ? few[n] : many[n];
            const Segment& segment = segmentOf(i);
            const std::uint32_t k = i - segment.first;
            if (segment.chips == kOwn) {
                visit(own_[segment.offset + k]);
            } else {
                const RomEntry e = chipEntry(chipRecord(segment, k), segment);
                visit(e);
            }
        }
    }

    bool operator==(const EntryTable& other) const;

  private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    static constexpr std::uint32_t kOwn = 0xFFFFFFFFu;
    // Where a chip record keeps its checksum and size.
    static constexpr std::size_t kCrcAt = RomTableRecord::kCrcAt, kSizeAt = RomTableRecord::kSizeAt;

    // A run of entries of one kind, from entry `first` to the next run: own_[offset] on for
    // entries kept whole (chips == kOwn), or the records of chips_[chips].
    struct Segment {
        std::uint32_t first;
        std::uint32_t chips;
        std::uint32_t offset;
    };
    // The bytes of one load of chip records and their games.
    struct Chips {
        std::shared_ptr<const std::uint8_t[]> roms;
        std::shared_ptr<const std::uint8_t[]> games;
        std::size_t gameBytes;
    };

    static std::uint32_t readU32(const std::uint8_t* p) {
        return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
               std::uint32_t(p[3]) << 24;
    }
    std::size_t bucketOf(std::uint32_t crc, std::uint32_t size) const {
        // CRC values are already well mixed; the size only needs spreading over them.
        const std::uint64_t key = (std::uint64_t(size) * 0x9E3779B97F4A7C15ull) ^ crc;
        return std::size_t((key * 0xBF58476D1CE4E5B9ull) >> 32) & (buckets_ - 1);
    }
    const Segment& segmentOf(std::uint32_t i) const {
        // Nearly always the last run, or the one before (custom entries, then the chips).
        std::size_t s = segments_.size() - 1;
        while (segments_[s].first > i) --s;
        return segments_[s];
    }
    const std::uint8_t* chipRecord(const Segment& segment, std::uint32_t k) const {
        return chips_[segment.chips].roms.get() + std::size_t(k) * RomTableRecord::kSize;
    }
    RomEntry chipEntry(const std::uint8_t* record, const Segment& segment) const;
    bool matches(std::uint32_t i, std::uint32_t crc, std::uint32_t size) const {
        const Segment& segment = segmentOf(i);
        const std::uint32_t k = i - segment.first;
        if (segment.chips == kOwn) {
            const RomEntry& e = own_[segment.offset + k];
            return e.crc == crc && e.size == size;
        }
        const std::uint8_t* record = chipRecord(segment, k);
        return readU32(record + kCrcAt) == crc && readU32(record + kSizeAt) == size;
    }
    // Makes room in the index for `count` entries in all, and a bucket for each.
    void reserveIndex(std::size_t count);
    void rebuild(std::size_t buckets);
    // Links every entry anew.
    void relinkAll();
    template <typename Each>
    void forEachBucket(const Segment& segment, std::uint32_t first, std::uint32_t end,
                       Each&& each) const;

    template <typename T>
    using Large = std::vector<T, LargePageAllocator<T>>;

    std::size_t size_ = 0;
    std::vector<Segment> segments_;
    std::vector<RomEntry> own_;
    std::vector<Chips> chips_;
    // Chains of entry numbers per bucket, newest first, in one array: first the head of each
    // bucket, then the next of each entry (kNone ends a chain). Linking an entry touches
    // nothing but its bucket's head and its own next.
    std::size_t buckets_ = 0;
    Large<std::uint32_t> chains_;
};

}  // namespace chipsight
