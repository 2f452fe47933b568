// The entry table, its three kinds of entry, and its index.
#include "core/entry_table.h"

#include <algorithm>
#include <span>

namespace chipsight {

namespace {

// Room for `count` elements, growing by at least half again so that appending one at a time
// stays linear.
template <typename Vector>
void makeRoom(Vector& v, std::size_t count) {
    if (count > v.capacity()) v.reserve(std::max(count, v.capacity() + v.capacity() / 2));
}

}  // namespace

EntryTable::EntryTable(std::initializer_list<RomEntry> entries) {
    reserve(entries.size());
    for (const RomEntry& e : entries) push_back(e);
}

void EntryTable::reserve(std::size_t count) {
    reserveIndex(count);
    if (count <= size_) return;
    makeRoom(own_, own_.size() + (count - size_));
    makeRoom(segments_, segments_.size() + 1);
}

std::size_t EntryTable::capacity() const {
    const bool runOpen = !segments_.empty() && segments_.back().kind == Kind::Own;
    if (!runOpen && segments_.size() == segments_.capacity()) return size_;
    return size_ +
           std::min({indexRoom() - size_, keys_.capacity() - size_, own_.capacity() - own_.size()});
}

void EntryTable::reserveIndex(std::size_t count) {
    makeRoom(keys_, count);
    std::size_t slots = tags_.empty() ? 16 : tags_.size();
    while (slots / kSlotsPerEntry < count) slots *= 2;
    if (slots == tags_.size()) return;
    // A new index is filled before it replaces the old, so running out of memory changes
    // nothing. The entry numbers of free slots are never read, so they are left unset.
    Large<std::uint8_t> tags(slots, kFree);
    Large<std::uint32_t> entries;
    entries.resize(slots);
    Large<std::uint64_t> filter(slots / 16, 0);
    link(0, std::uint32_t(size_), tags.data(), entries.data(), filter.data(), slots - 1);
    tags_.swap(tags);
    entries_.swap(entries);
    filter_.swap(filter);
    mask_ = slots - 1;
}

void EntryTable::push_back(const RomEntry& entry) {
    if (size_ == capacity()) reserve(size_ + 1);
    const auto i = std::uint32_t(size_);
    if (segments_.empty() || segments_.back().kind != Kind::Own)
        segments_.push_back({i, Kind::Own, std::uint32_t(own_.size())});
    own_.push_back(entry);
    keys_.push_back({entry.crc, entry.size});
    ++size_;
    link(i, i + 1, tags_.data(), entries_.data(), filter_.data(), mask_);
}

void EntryTable::appendChips(std::shared_ptr<const std::uint8_t[]> roms, std::size_t count,
                             std::shared_ptr<const std::uint8_t[]> games, std::size_t gameBytes) {
    if (count == 0) return;
    reserveIndex(size_ + count);
    makeRoom(segments_, segments_.size() + 1);
    chips_.push_back({std::move(roms), std::move(games), gameBytes});
    const auto first = std::uint32_t(size_);
    segments_.push_back({first, Kind::Chips, std::uint32_t(chips_.size() - 1)});
    readKeys(std::uint32_t(first + count));
    size_ += count;
    link(first, std::uint32_t(size_), tags_.data(), entries_.data(), filter_.data(), mask_);
}

void EntryTable::appendRecords(std::shared_ptr<const std::uint8_t[]> records, std::size_t count) {
    if (count == 0) return;
    reserveIndex(size_ + count);
    makeRoom(segments_, segments_.size() + 1);
    records_.push_back(std::move(records));
    const auto first = std::uint32_t(size_);
    segments_.push_back({first, Kind::Records, std::uint32_t(records_.size() - 1)});
    readKeys(std::uint32_t(first + count));
    size_ += count;
    link(first, std::uint32_t(size_), tags_.data(), entries_.data(), filter_.data(), mask_);
}

void EntryTable::appendDat(std::shared_ptr<const DatStore> store) {
    const std::size_t count = store->size();
    if (count == 0) return;
    reserveIndex(size_ + count);
    makeRoom(segments_, segments_.size() + 1);
    dats_.push_back(std::move(store));
    const auto first = std::uint32_t(size_);
    segments_.push_back({first, Kind::Dat, std::uint32_t(dats_.size() - 1)});
    readKeys(std::uint32_t(first + count));
    size_ += count;
    link(first, std::uint32_t(size_), tags_.data(), entries_.data(), filter_.data(), mask_);
}

void EntryTable::clear() {
    size_ = 0;
    segments_.clear();
    own_.clear();
    chips_.clear();
    records_.clear();
    dats_.clear();
    keys_.clear();
    tags_.clear();
    tags_.shrink_to_fit();
    entries_.clear();
    entries_.shrink_to_fit();
    filter_.clear();
    filter_.shrink_to_fit();
    mask_ = 0;
}

RomEntry EntryTable::operator[](std::size_t i) const {
    const Segment& segment = segmentOf(std::uint32_t(i));
    const std::size_t k = std::uint32_t(i) - segment.first;
    switch (segment.kind) {
        case Kind::Own:
            return own_[segment.source + k];
        case Kind::Chips: {
            const Chips& chips = chips_[segment.source];
            return joinRecord(
                RomTableRecord::decode(std::span<const std::uint8_t, RomTableRecord::kSize>(
                    chips.roms.get() + k * RomTableRecord::kSize, RomTableRecord::kSize)),
                {chips.games.get(), chips.gameBytes});
        }
        case Kind::Dat: {
            const DatEntryInfo info = dats_[segment.source]->info(k);
            RomEntry e;
            e.crc = dats_[segment.source]->crc(k);
            e.size = dats_[segment.source]->romSize(k);
            writeField(e.name, info.name);
            writeField(e.description, datEntryDescription(info));
            return e;
        }
        case Kind::Records:
            break;
    }
    return RomEntry::decode(std::span<const std::uint8_t, RomEntry::kSize>(
        records_[segment.source].get() + k * RomEntry::kSize, RomEntry::kSize));
}

bool EntryTable::operator==(const EntryTable& other) const {
    if (size() != other.size()) return false;
    for (std::size_t i = 0; i < size(); ++i)
        if (!((*this)[i] == other[i])) return false;
    return true;
}

void EntryTable::readKeys(std::uint32_t end) {
    // Room was made by reserveIndex; the records are read in order.
    const Segment& segment = segments_.back();
    std::size_t stride = RomEntry::kSize, crcAt = kRecordCrcAt, sizeAt = kRecordSizeAt;
    const std::uint8_t* record = nullptr;
    if (segment.kind == Kind::Chips) {
        stride = RomTableRecord::kSize;
        crcAt = kCrcAt;
        sizeAt = kSizeAt;
        record = chips_[segment.source].roms.get();
    } else if (segment.kind == Kind::Dat) {
        // A DAT's keys lie together as crc, size pairs.
        stride = 8;
        crcAt = 0;
        sizeAt = 4;
        record = dats_[segment.source]->keys();
    } else {
        record = records_[segment.source].get();
    }
    const std::size_t first = keys_.size();
    keys_.resize(end);  // all written below
    Key* key = keys_.data() + first;
    for (std::size_t i = first; i < end; ++i, record += stride, ++key)
        *key = {readU32(record + crcAt), readU32(record + sizeAt)};
}

void EntryTable::link(std::uint32_t first, std::uint32_t end, std::uint8_t* tags,
                      std::uint32_t* entries, std::uint64_t* filter, std::size_t mask) const {
    // The home slots of a large load are all over the index, so filling it waits on memory:
    // each entry is entered kAhead entries after its home slot was asked for.
    constexpr std::uint32_t kAhead = 24;
    const Key* keys = keys_.data();
    const std::size_t filterMask = mask >> 4;
    const auto ask = [&](std::uint32_t i) {
        const std::size_t at = hashOf(keys[i].crc, keys[i].size) & mask;
        __builtin_prefetch(&tags[at], 1);
        __builtin_prefetch(&entries[at], 1);
        __builtin_prefetch(&filter[filterHashOf(keys[i].crc, keys[i].size) & filterMask], 1);
    };
    for (std::uint32_t i = first; i < std::min(end, first + kAhead); ++i) ask(i);
    for (std::uint32_t i = first; i < end; ++i) {
        if (i + kAhead < end) ask(i + kAhead);
        const std::uint64_t hash = hashOf(keys[i].crc, keys[i].size);
        std::size_t at = hash & mask;
        while (tags[at] != kFree) at = (at + 1) & mask;
        tags[at] = tagOf(hash);
        entries[at] = i;
        const std::uint64_t filterHash = filterHashOf(keys[i].crc, keys[i].size);
        filter[filterHash & filterMask] |= filterBitsOf(filterHash);
    }
}

}  // namespace chipsight
