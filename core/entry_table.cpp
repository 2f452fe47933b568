// The entry table and its index.
#include "core/entry_table.h"

namespace chipsight {

EntryTable::EntryTable(std::initializer_list<RomEntry> entries) {
    reserve(entries.size());
    for (const RomEntry& e : entries) push_back(e);
}

void EntryTable::reserve(std::size_t count) {
    entries_.reserve(count);
    next_.reserve(count);
    std::size_t buckets = heads_.empty() ? 16 : heads_.size();
    while (buckets < count) buckets *= 2;
    if (buckets != heads_.size()) rebuild(buckets);
}

void EntryTable::push_back(const RomEntry& entry) {
    if (entries_.size() == entries_.capacity())
        reserve(entries_.empty() ? 16 : 2 * entries_.capacity());
    entries_.push_back(entry);
    next_.push_back(kNone);
    link(std::uint32_t(entries_.size() - 1));
}

void EntryTable::clear() {
    entries_.clear();
    next_.clear();
    heads_.clear();
    tails_.clear();
}

void EntryTable::rebuild(std::size_t buckets) {
    heads_.assign(buckets, kNone);
    tails_.assign(buckets, kNone);
    for (std::uint32_t i = 0; i < entries_.size(); ++i) {
        next_[i] = kNone;
        link(i);
    }
}

void EntryTable::link(std::uint32_t i) {
    const std::size_t b = bucketOf(entries_[i].crc, entries_[i].size);
    if (tails_[b] == kNone) heads_[b] = i;
    else next_[tails_[b]] = i;
    tails_[b] = i;
}

}  // namespace chipsight
