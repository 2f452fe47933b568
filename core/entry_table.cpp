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
    return size_ + std::min(indexRoom() - size_, own_.capacity() - own_.size());
}

void EntryTable::reserveIndex(std::size_t count) {
    std::size_t slots = slots_.empty() ? 16 : slots_.size();
    while (slots / kSlotsPerEntry < count) slots *= 2;
    if (slots == slots_.size()) return;
    // A new index is filled before it replaces the old, so running out of memory changes
    // nothing.
    Large<Slot> fresh(slots, Slot{0, 0, kNone});
    link(0, std::uint32_t(size_), fresh.data(), slots - 1);
    slots_.swap(fresh);
    mask_ = slots - 1;
}

void EntryTable::push_back(const RomEntry& entry) {
    if (size_ == capacity()) reserve(size_ + 1);
    const auto i = std::uint32_t(size_);
    if (segments_.empty() || segments_.back().kind != Kind::Own)
        segments_.push_back({i, Kind::Own, std::uint32_t(own_.size())});
    own_.push_back(entry);
    ++size_;
    link(i, i + 1, slots_.data(), mask_);
}

void EntryTable::appendChips(std::shared_ptr<const std::uint8_t[]> roms, std::size_t count,
                             std::shared_ptr<const std::uint8_t[]> games, std::size_t gameBytes) {
    if (count == 0) return;
    reserveIndex(size_ + count);
    makeRoom(segments_, segments_.size() + 1);
    chips_.push_back({std::move(roms), std::move(games), gameBytes});
    const auto first = std::uint32_t(size_);
    segments_.push_back({first, Kind::Chips, std::uint32_t(chips_.size() - 1)});
    size_ += count;
    link(first, std::uint32_t(size_), slots_.data(), mask_);
}

void EntryTable::appendRecords(std::shared_ptr<const std::uint8_t[]> records, std::size_t count) {
    if (count == 0) return;
    reserveIndex(size_ + count);
    makeRoom(segments_, segments_.size() + 1);
    records_.push_back(std::move(records));
    const auto first = std::uint32_t(size_);
    segments_.push_back({first, Kind::Records, std::uint32_t(records_.size() - 1)});
    size_ += count;
    link(first, std::uint32_t(size_), slots_.data(), mask_);
}

void EntryTable::clear() {
    size_ = 0;
    segments_.clear();
    own_.clear();
    chips_.clear();
    records_.clear();
    slots_.clear();
    slots_.shrink_to_fit();
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

template <typename Each>
void EntryTable::forEachKey(const Segment& segment, std::uint32_t first, std::uint32_t end,
                            Each&& each) const {
    const std::size_t k = first - segment.first;
    switch (segment.kind) {
        case Kind::Own:
            for (std::uint32_t i = first; i < end; ++i) {
                const RomEntry& e = own_[segment.source + (i - segment.first)];
                each(i, e.crc, e.size);
            }
            return;
        case Kind::Chips:
        case Kind::Records:
            break;
    }
    // Records are read in order, asked for 2 KiB ahead.
    const bool chips = segment.kind == Kind::Chips;
    const std::size_t stride = chips ? RomTableRecord::kSize : RomEntry::kSize;
    const std::size_t crcAt = chips ? kCrcAt : kRecordCrcAt;
    const std::size_t sizeAt = chips ? kSizeAt : kRecordSizeAt;
    const std::uint8_t* record =
        (chips ? chips_[segment.source].roms.get() : records_[segment.source].get()) + k * stride;
    const std::uint32_t ahead = std::uint32_t(2048 / stride);
    for (std::uint32_t i = first; i < end; ++i, record += stride) {
        if (i + ahead < end) __builtin_prefetch(record + ahead * stride);
        each(i, readU32(record + crcAt), readU32(record + sizeAt));
    }
}

void EntryTable::link(std::uint32_t first, std::uint32_t end, Slot* slots,
                      std::size_t mask) const {
    // The home slots of a large load are all over the index, so filling it waits on memory. The
    // keys of a block of entries are worked out first, from bytes read in order, and each entry
    // is entered kAhead entries after its home slot was asked for.
    constexpr std::uint32_t kAhead = 32, kBlock = 256;
    struct Key {
        std::uint32_t crc, size;
        std::size_t home;
    };
    Key keys[kBlock];
    for (std::size_t s = 0; s < segments_.size(); ++s) {
        const Segment& segment = segments_[s];
        const auto segmentEnd =
            s + 1 < segments_.size() ? segments_[s + 1].first : std::uint32_t(size_);
        const std::uint32_t from = std::max(first, segment.first);
        const std::uint32_t to = std::min(end, segmentEnd);
        for (std::uint32_t bottom = from; bottom < to; bottom += kBlock) {
            const std::uint32_t top = bottom + std::min(to - bottom, kBlock);
            forEachKey(segment, bottom, top, [&](std::uint32_t i, std::uint32_t crc,
                                                 std::uint32_t size) {
                keys[i - bottom] = {crc, size, homeIn(crc, size, mask)};
            });
            const std::uint32_t n = top - bottom;
            for (std::uint32_t k = 0; k < std::min(n, kAhead); ++k)
                __builtin_prefetch(&slots[keys[k].home], 1);
            for (std::uint32_t k = 0; k < n; ++k) {
                if (k + kAhead < n) __builtin_prefetch(&slots[keys[k + kAhead].home], 1);
                std::size_t at = keys[k].home;
                while (slots[at].entry != kNone) at = (at + 1) & mask;
                slots[at] = {keys[k].crc, keys[k].size, bottom + k};
            }
        }
    }
}

}  // namespace chipsight
