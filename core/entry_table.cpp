// The entry table, its two kinds of entry, and its index.
#include "core/entry_table.h"

#include <algorithm>
#include <span>

namespace chipsight {
namespace {

// Room for `count` elements, growing by at least half again so that appending one at a time
// stays linear.
template <typename T>
void makeRoom(std::vector<T>& v, std::size_t count) {
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
        std::min({rows_.capacity() - rows_.size(), next_.capacity() - next_.size(),
                  own_.capacity() - own_.size()});
    return size() + spare;
}

void EntryTable::reserveRows(std::size_t count) {
    makeRoom(rows_, count);
    makeRoom(next_, count);
    std::size_t buckets = heads_.empty() ? 16 : heads_.size();
    while (buckets < count) buckets *= 2;
    if (buckets != heads_.size()) rebuild(buckets);
}

void EntryTable::push_back(const RomEntry& entry) {
    if (size() == capacity()) reserve(size() + 1);
    const auto i = std::uint32_t(rows_.size());
    rows_.push_back({entry.crc, entry.size, kOwn, std::uint32_t(own_.size())});
    own_.push_back(entry);
    next_.push_back(kNone);
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
    next_.resize(rows_.size(), kNone);
    link(first, std::uint32_t(rows_.size()));
}

void EntryTable::clear() {
    rows_.clear();
    own_.clear();
    chips_.clear();
    next_.clear();
    heads_.clear();
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
    heads_.assign(buckets, kNone);
    tails_.assign(buckets, kNone);
    std::fill(next_.begin(), next_.end(), kNone);
    link(0, std::uint32_t(rows_.size()));
}

void EntryTable::link(std::uint32_t first, std::uint32_t end) {
    for (std::uint32_t i = first; i < end; ++i) {
        const std::size_t b = bucketOf(rows_[i].crc, rows_[i].size);
        if (tails_[b] == kNone)
            heads_[b] = i;
        else
            next_[tails_[b]] = i;
        tails_[b] = i;
    }
}

}  // namespace chipsight
