// The entry table, its two kinds of entry, and its index.
#include "core/entry_table.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <span>

namespace chipsight {

void* allocateLargePages(std::size_t bytes) {
    constexpr std::size_t kHugePage = std::size_t(2) << 20;
    void* p = nullptr;
    if (bytes >= kHugePage) {
        const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        p = std::aligned_alloc(kHugePage, rounded);
        if (p != nullptr) ::madvise(p, rounded, MADV_HUGEPAGE);  // a hint; refused is fine
    } else {
        p = std::malloc(std::max<std::size_t>(bytes, 1));
    }
    if (p == nullptr) throw std::bad_alloc();
    return p;
}

void freeLargePages(void* p) noexcept { std::free(p); }

namespace {

// Room for `count` elements, growing by at least half again so that appending one at a time
// stays linear.
template <typename Vector>
void makeRoom(Vector& v, std::size_t count) {
    if (count > v.capacity()) v.reserve(std::max(count, v.capacity() + v.capacity() / 2));
}

std::uint32_t getU32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

}  // namespace

EntryTable::EntryTable(std::initializer_list<RomEntry> entries) {
    reserve(entries.size());
    for (const RomEntry& e : entries) push_back(e);
}

void EntryTable::reserve(std::size_t count) {
    reserveRows(count);
    if (count > size()) makeRoom(own_, own_.size() + (count - size()));
}

std::size_t EntryTable::capacity() const {
    const std::size_t spare =
        std::min({rows_.capacity() - rows_.size(), chains_.capacity() - chains_.size(),
                  own_.capacity() - own_.size()});
    return size() + spare;
}

void EntryTable::reserveRows(std::size_t count) {
    std::size_t buckets = buckets_ == 0 ? 16 : buckets_;
    while (buckets < count) buckets *= 2;
    makeRoom(rows_, count);
    makeRoom(chains_, buckets + count);
    if (buckets != buckets_) rebuild(buckets);
}

void EntryTable::push_back(const RomEntry& entry) {
    if (size() == capacity()) reserve(size() + 1);
    const auto i = std::uint32_t(rows_.size());
    rows_.push_back({entry.crc, entry.size, kOwn, std::uint32_t(own_.size())});
    own_.push_back(entry);
    chains_.push_back(kNone);
    link(i, i + 1);
}

void EntryTable::appendChips(std::shared_ptr<const std::uint8_t[]> roms, std::size_t count,
                             std::shared_ptr<const std::uint8_t[]> games, std::size_t gameBytes) {
    if (count == 0) return;
    reserveRows(size() + count);
    const auto source = std::uint32_t(chips_.size());
    chips_.push_back({std::move(roms), std::move(games), gameBytes});
    const std::uint8_t* record = chips_.back().roms.get();
    const auto first = std::uint32_t(rows_.size());
    for (std::size_t k = 0; k < count; ++k, record += RomTableRecord::kSize)
        rows_.push_back({getU32(record + 20), getU32(record + 24), source, std::uint32_t(k)});
    chains_.resize(buckets_ + rows_.size(), kNone);
    link(first, std::uint32_t(rows_.size()));
}

void EntryTable::clear() {
    rows_.clear();
    own_.clear();
    chips_.clear();
    buckets_ = 0;
    chains_.clear();
    tails_.clear();
}

RomEntry EntryTable::chipEntry(const Row& row) const {
    const Chips& chips = chips_[row.source];
    const auto record = RomTableRecord::decode(std::span<const std::uint8_t, RomTableRecord::kSize>(
        chips.roms.get() + std::size_t(row.index) * RomTableRecord::kSize, RomTableRecord::kSize));
    return joinRecord(record, {chips.games.get(), chips.gameBytes});
}

RomEntry EntryTable::operator[](std::size_t i) const {
    const Row& row = rows_[i];
    return row.source == kOwn ? own_[row.index] : chipEntry(row);
}

bool EntryTable::operator==(const EntryTable& other) const {
    if (size() != other.size()) return false;
    for (std::size_t i = 0; i < size(); ++i)
        if (!((*this)[i] == other[i])) return false;
    return true;
}

void EntryTable::rebuild(std::size_t buckets) {
    buckets_ = buckets;
    chains_.assign(buckets + rows_.size(), kNone);
    tails_.resize(buckets);
    for (std::size_t b = 0; b < buckets; ++b) tails_[b] = std::uint32_t(b);
    link(0, std::uint32_t(rows_.size()));
}

void EntryTable::link(std::uint32_t first, std::uint32_t end) {
    // The buckets of a large load are all over the index, so each entry would wait for its
    // bucket's tail to come from memory. The tails of the entries kAhead further on are fetched
    // while this one is linked, and the places their links go to kAhead / 2 further on; both
    // are only hints, so an entry ahead whose bucket is linked to meanwhile is still right.
    constexpr std::uint32_t kAhead = 64;
    std::uint32_t ahead[kAhead];
    const auto buckets = std::uint32_t(buckets_);
    const auto bucketAt = [&](std::uint32_t i) {
        return std::uint32_t(bucketOf(rows_[i].crc, rows_[i].size));
    };
    for (std::uint32_t i = first; i < end && i < first + kAhead; ++i) {
        ahead[i % kAhead] = bucketAt(i);
        __builtin_prefetch(&tails_[ahead[i % kAhead]]);
    }
    for (std::uint32_t i = first; i < end; ++i) {
        const std::uint32_t b = ahead[i % kAhead];
        if (i + kAhead < end) {
            ahead[i % kAhead] = bucketAt(i + kAhead);
            __builtin_prefetch(&tails_[ahead[i % kAhead]]);
        }
        if (i + kAhead / 2 < end)
            __builtin_prefetch(&chains_[tails_[ahead[(i + kAhead / 2) % kAhead]]], 1);
        chains_[tails_[b]] = i;
        tails_[b] = buckets + i;
    }
}

}  // namespace chipsight
