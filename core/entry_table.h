// The entry table: append-only, in load order, with an index from (crc, size) to the entries
// that carry the pair, so a lookup costs the same against a million entries as against none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "core/rom_database.h"

namespace chipsight {

class EntryTable {
public:
    EntryTable() = default;
    EntryTable(std::initializer_list<RomEntry> entries);

    // Makes room for `count` entries in all, so that appending up to that many allocates
    // nothing more and cannot fail.
    void reserve(std::size_t count);
    std::size_t capacity() const { return entries_.capacity(); }
    void push_back(const RomEntry& entry);
    void clear();

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    const RomEntry& operator[](std::size_t i) const { return entries_[i]; }
    auto begin() const { return entries_.begin(); }
    auto end() const { return entries_.end(); }

    // Calls `visit` with every entry of `crc` and `size`, in table order.
    template <typename Visit>
    void forEachMatch(std::uint32_t crc, std::uint32_t size, Visit&& visit) const {
        if (heads_.empty()) return;
        for (std::uint32_t i = heads_[bucketOf(crc, size)]; i != kNone; i = next_[i]) {
            const RomEntry& e = entries_[i];
            if (e.crc == crc && e.size == size) visit(e);
        }
    }

    bool operator==(const EntryTable& other) const { return entries_ == other.entries_; }

private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    std::size_t bucketOf(std::uint32_t crc, std::uint32_t size) const {
        // CRC values are already well mixed; the size only needs spreading over them.
        const std::uint64_t key = (std::uint64_t(size) * 0x9E3779B97F4A7C15ull) ^ crc;
        return std::size_t((key * 0xBF58476D1CE4E5B9ull) >> 32) & (heads_.size() - 1);
    }
    void rebuild(std::size_t buckets);
    void link(std::uint32_t i);

    std::vector<RomEntry> entries_;
    // Chains of entry numbers per bucket, oldest first: heads_ and tails_ per bucket, next_
    // per entry.
    std::vector<std::uint32_t> heads_, tails_, next_;
};

}  // namespace chipsight
