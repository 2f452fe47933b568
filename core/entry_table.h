// The entry table: append-only, in load order, with an index from (crc, size) to the entries
// that carry the pair, so a lookup costs the same against a million entries as against none.
//
// Entries come in two kinds. Those appended one by one (custom entries, tests) are kept whole.
// Chip records loaded from CHIPLORE.ROM stay the bytes they were read as, and an entry is
// joined with its game (as joinRecord does) only when it is looked at: a million chips then
// take their 28 bytes each instead of 108, and loading them writes out nothing but the index.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <vector>

#include "core/rom_database.h"

namespace chipsight {

// Allocates as std::allocator does, except that a block of 2 MiB or more is aligned to 2 MiB and
// advised for huge pages: the index is written and read at random, and on small pages nearly
// every access to a large one misses the TLB, and every 4 KiB of it costs a page fault.
void* allocateLargePages(std::size_t bytes);  // throws std::bad_alloc
void freeLargePages(void* p) noexcept;

template <typename T>
struct LargePageAllocator {
    using value_type = T;
    LargePageAllocator() = default;
    template <typename U>
    LargePageAllocator(const LargePageAllocator<U>&) {}

    T* allocate(std::size_t n) { return static_cast<T*>(allocateLargePages(n * sizeof(T))); }
    void deallocate(T* p, std::size_t) noexcept { freeLargePages(p); }
    template <typename U>
    bool operator==(const LargePageAllocator<U>&) const {
        return true;
    }
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
    void clear();

    std::size_t size() const { return rows_.size(); }
    bool empty() const { return rows_.empty(); }
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
        for (std::uint32_t i = chains_[bucketOf(crc, size)]; i != kNone;
             i = chains_[buckets_ + i]) {
            const Row& row = rows_[i];
            if (row.crc != crc || row.size != size) continue;
            if (row.source == kOwn) {
                visit(own_[row.index]);
            } else {
                const RomEntry entry = chipEntry(row);
                visit(entry);
            }
        }
    }

    bool operator==(const EntryTable& other) const;

  private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;
    static constexpr std::uint32_t kOwn = 0xFFFFFFFFu;

    // One entry: its key, and where the rest of it is: own_[index] for an entry kept whole,
    // record `index` of chips_[source] for a chip.
    struct Row {
        std::uint32_t crc;
        std::uint32_t size;
        std::uint32_t source;
        std::uint32_t index;
    };
    // The bytes of one load of chip records and their games.
    struct Chips {
        std::shared_ptr<const std::uint8_t[]> roms;
        std::shared_ptr<const std::uint8_t[]> games;
        std::size_t gameBytes;
    };

    std::size_t bucketOf(std::uint32_t crc, std::uint32_t size) const {
        // CRC values are already well mixed; the size only needs spreading over them.
        const std::uint64_t key = (std::uint64_t(size) * 0x9E3779B97F4A7C15ull) ^ crc;
        return std::size_t((key * 0xBF58476D1CE4E5B9ull) >> 32) & (buckets_ - 1);
    }
    RomEntry chipEntry(const Row& row) const;
    // Makes room for `count` rows in all, and a bucket for each.
    void reserveRows(std::size_t count);
    void rebuild(std::size_t buckets);
    void link(std::uint32_t first, std::uint32_t end);

    template <typename T>
    using Large = std::vector<T, LargePageAllocator<T>>;

    Large<Row> rows_;
    std::vector<RomEntry> own_;
    std::vector<Chips> chips_;
    // Chains of entry numbers per bucket, oldest first, in one array: first the head of each
    // bucket, then the next of each entry (kNone ends a chain). tails_[b] is the position in
    // chains_ that the next entry of bucket b is written to, so linking an entry never asks
    // whether its bucket was empty.
    std::size_t buckets_ = 0;
    Large<std::uint32_t> chains_, tails_;
};

}  // namespace chipsight
