// The entry table, its three kinds of entry, and its index.
#include "core/entry_table.h"

#include <algorithm>
#include <memory>
#include <new>
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

template <typename Keep>
void EntryTable::appendRun(Kind kind, std::size_t count, Keep&& keep) {
    if (count == 0) return;
    // Everything that may fail to allocate comes before anything changes.
    reserveIndex(size_ + count);
    makeRoom(segments_, segments_.size() + 1);
    const std::uint32_t source = keep();
    const auto first = std::uint32_t(size_);
    segments_.push_back({first, kind, source});
    readKeys(std::uint32_t(first + count));
    size_ += count;
    link(first, std::uint32_t(size_), tags_.data(), entries_.data(), filter_.data(), mask_);
}

void EntryTable::appendChips(std::shared_ptr<const std::uint8_t[]> roms, std::size_t count,
                             std::shared_ptr<const std::uint8_t[]> games, std::size_t gameBytes) {
    appendRun(Kind::Chips, count, [&] {
        chips_.push_back({std::move(roms), std::move(games), gameBytes});
        return std::uint32_t(chips_.size() - 1);
    });
}

void EntryTable::appendRecords(std::shared_ptr<const std::uint8_t[]> records, std::size_t count) {
    appendRun(Kind::Records, count, [&] {
        records_.push_back(std::move(records));
        return std::uint32_t(records_.size() - 1);
    });
}

void EntryTable::appendDat(std::shared_ptr<const DatStore> store) {
    const std::size_t count = store->size();
    appendRun(Kind::Dat, count, [&] {
        dats_.push_back(std::move(store));
        return std::uint32_t(dats_.size() - 1);
    });
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
    const Key* keys = keys_.data();
    const std::size_t filterMask = mask >> 4;
    const auto enterFilter = [&](const Key& key) {
        const std::uint64_t hash = filterHashOf(key.crc, key.size);
        filter[hash & filterMask] |= filterBitsOf(hash);
    };
    // Enters entry `i` at the first free slot from `home` on.
    const auto enter = [&](std::uint32_t i, std::size_t home, std::uint8_t tag) {
        std::size_t at = home;
        while (tags[at] != kFree) at = (at + 1) & mask;
        tags[at] = tag;
        entries[at] = i;
    };

    // The home slots of a large load lie all over the index, and entering the entries in table
    // order would wait on memory at nearly every one. So the entries are first sorted, in table
    // order, by the region of 2^13 slots their home slot lies in, and each region is then filled
    // in turn while its slot bytes and entry numbers (40 KiB) stay in the cache. Entries of one
    // pair share a home slot, so they are still entered in table order. An entry sorted takes 8
    // bytes: its number, its home slot within its region and its slot byte. The filter, half a
    // byte a slot, is filled while they are sorted.
    constexpr unsigned kRegionBits = 13;
    constexpr std::size_t kWithin = (std::size_t(1) << kRegionBits) - 1;
    const std::size_t count = end - first;
    const std::size_t regions = (mask + 1) >> kRegionBits;
    std::unique_ptr<std::uint64_t[]> sorted;
    std::unique_ptr<std::size_t[]> starts;
    if (regions > 1 && count > kWithin) {
        sorted.reset(new (std::nothrow) std::uint64_t[count]);
        starts.reset(new (std::nothrow) std::size_t[regions + 1]);
    }
    if (!sorted || !starts) {
        // Few entries, or no memory to sort them in: entered one by one.
        for (std::uint32_t i = first; i < end; ++i) {
            const std::uint64_t hash = hashOf(keys[i].crc, keys[i].size);
            enter(i, hash & mask, tagOf(hash));
            enterFilter(keys[i]);
        }
        return;
    }
    std::fill_n(starts.get(), regions + 1, 0);
    for (std::uint32_t i = first; i < end; ++i)
        ++starts[((hashOf(keys[i].crc, keys[i].size) & mask) >> kRegionBits) + 1];
    for (std::size_t r = 1; r <= regions; ++r) starts[r] += starts[r - 1];
    for (std::uint32_t i = first; i < end; ++i) {
        const std::uint64_t hash = hashOf(keys[i].crc, keys[i].size);
        const std::size_t home = hash & mask;
        sorted[starts[home >> kRegionBits]++] =
            std::uint64_t(i) << 32 | (home & kWithin) << 7 | tagOf(hash);
        enterFilter(keys[i]);
    }
    // Each region's start has moved on to the next one's.
    std::size_t k = 0;
    for (std::size_t r = 0; r < regions; ++r) {
        const std::size_t base = r << kRegionBits;
        for (; k < starts[r]; ++k) {
            const std::uint64_t e = sorted[k];
            enter(std::uint32_t(e >> 32), base + ((e >> 7) & kWithin), std::uint8_t(e & 0x7F));
        }
    }
}

}  // namespace chipsight
