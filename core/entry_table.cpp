// The entry table, its two kinds of entry, and its index.
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
    const bool runOpen = !segments_.empty() && segments_.back().chips == kOwn;
    if (!runOpen && segments_.size() == segments_.capacity()) return size_;
    return size_ + std::min(chains_.capacity() - chains_.size(), own_.capacity() - own_.size());
}

void EntryTable::reserveIndex(std::size_t count) {
    std::size_t buckets = buckets_ == 0 ? 16 : buckets_;
    while (buckets < count) buckets *= 2;
    makeRoom(chains_, buckets + count);
    if (buckets != buckets_) rebuild(buckets);
}

void EntryTable::push_back(const RomEntry& entry) {
    if (size_ == capacity()) reserve(size_ + 1);
    const auto i = std::uint32_t(size_);
    if (segments_.empty() || segments_.back().chips != kOwn)
        segments_.push_back({i, kOwn, std::uint32_t(own_.size())});
    own_.push_back(entry);
    chains_.push_back(kNone);
    ++size_;
    const std::size_t b = bucketOf(entry.crc, entry.size);
    chains_[buckets_ + i] = chains_[b];
    chains_[b] = i;
}

void EntryTable::appendChips(std::shared_ptr<const std::uint8_t[]> roms, std::size_t count,
                             std::shared_ptr<const std::uint8_t[]> games, std::size_t gameBytes) {
    if (count == 0) return;
    reserveIndex(size_ + count);
    makeRoom(segments_, segments_.size() + 1);
    chips_.push_back({std::move(roms), std::move(games), gameBytes});
    const auto first = std::uint32_t(size_);
    segments_.push_back({first, std::uint32_t(chips_.size() - 1), 0});
    size_ += count;
    chains_.resize(buckets_ + size_);  // all written by relinkAll
    relinkAll();
}

void EntryTable::clear() {
    size_ = 0;
    segments_.clear();
    own_.clear();
    chips_.clear();
    buckets_ = 0;
    chains_.clear();
}

RomEntry EntryTable::chipEntry(const std::uint8_t* record, const Segment& segment) const {
    const Chips& chips = chips_[segment.chips];
    return joinRecord(RomTableRecord::decode(std::span<const std::uint8_t, RomTableRecord::kSize>(
                          record, RomTableRecord::kSize)),
                      {chips.games.get(), chips.gameBytes});
}

RomEntry EntryTable::operator[](std::size_t i) const {
    const Segment& segment = segmentOf(std::uint32_t(i));
    const std::uint32_t k = std::uint32_t(i) - segment.first;
    if (segment.chips == kOwn) return own_[segment.offset + k];
    return chipEntry(chipRecord(segment, k), segment);
}

bool EntryTable::operator==(const EntryTable& other) const {
    if (size() != other.size()) return false;
    for (std::size_t i = 0; i < size(); ++i)
        if (!((*this)[i] == other[i])) return false;
    return true;
}

void EntryTable::rebuild(std::size_t buckets) {
    buckets_ = buckets;
    chains_.resize(buckets + size_);  // all written by relinkAll
    relinkAll();
}

template <typename Each>
void EntryTable::forEachBucket(const Segment& segment, std::uint32_t first, std::uint32_t end,
                               Each&& each) const {
    if (segment.chips == kOwn) {
        for (std::uint32_t i = first; i < end; ++i) {
            const RomEntry& e = own_[segment.offset + (i - segment.first)];
            each(i, std::uint32_t(bucketOf(e.crc, e.size)));
        }
    } else {
        const std::uint8_t* record = chipRecord(segment, first - segment.first);
        // The records are read in order, asked for 2 KiB ahead.
        constexpr std::uint32_t kAhead = 2048 / RomTableRecord::kSize;
        for (std::uint32_t i = first; i < end; ++i, record += RomTableRecord::kSize) {
            if (i + kAhead < end) __builtin_prefetch(record + kAhead * RomTableRecord::kSize);
            each(i, std::uint32_t(bucketOf(readU32(record + kCrcAt), readU32(record + kSizeAt))));
        }
    }
}

void EntryTable::relinkAll() {
    // The buckets of a large load are all over the index, so linking waits on memory. The
    // buckets of a block of entries are worked out first, from bytes read in order, and each
    // entry is linked kAhead entries after its bucket's head was asked for.
    constexpr std::uint32_t kAhead = 64, kBlock = 256;
    std::fill(chains_.begin(), chains_.begin() + std::ptrdiff_t(buckets_), kNone);
    std::uint32_t* const heads = chains_.data();
    std::uint32_t* const next = chains_.data() + buckets_;
    std::uint32_t buckets[kBlock];
    for (std::size_t s = 0; s < segments_.size(); ++s) {
        const Segment& segment = segments_[s];
        const auto end = s + 1 < segments_.size() ? segments_[s + 1].first : std::uint32_t(size_);
        for (std::uint32_t bottom = segment.first; bottom < end; bottom += kBlock) {
            const std::uint32_t top = bottom + std::min(end - bottom, kBlock);
            forEachBucket(segment, bottom, top,
                          [&](std::uint32_t i, std::uint32_t b) { buckets[i - bottom] = b; });
            const std::uint32_t n = top - bottom;
            for (std::uint32_t k = 0; k < std::min(n, kAhead); ++k)
                __builtin_prefetch(&heads[buckets[k]], 1);
            for (std::uint32_t k = 0; k < n; ++k) {
                if (k + kAhead < n) __builtin_prefetch(&heads[buckets[k + kAhead]], 1);
                next[bottom + k] = heads[buckets[k]];
                heads[buckets[k]] = bottom + k;
            }
        }
    }
}

}  // namespace chipsight
