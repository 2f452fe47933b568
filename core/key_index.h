// The index from a (crc, size) pair to the numbers of the entries that carry it, over arrays
// kept elsewhere: the entry table's own, grown as entries come, and the one made for all DAT
// entries at once, which the compiled cache keeps and maps back.
//
// It keeps every entry's pair in entry order, and an open-addressed table of slots, probed
// linearly from the pair's home slot: for each slot a byte (free, or seven bits of the pair's
// hash) and the number of the entry in it. A lookup runs over the slot bytes, which are few
// enough to stay in the caches, and compares an entry's pair only where the hash bits agree.
// Entries of one pair lie along the probe in entry order, since each is entered after those
// before it, and slots are only ever filled. In front of the slots sits a filter of two bits
// per pair, at which most lookups of pairs that no entry has end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace chipsight {

struct IndexKey {
    std::uint32_t crc;
    std::uint32_t size;
};

class KeyIndexView {
  public:
    // A slot's byte: free, or the top seven bits of the hash of the pair in it.
    static constexpr std::uint8_t kFree = 0x80;
    // An index is never more than half full, so probes stay short.
    static constexpr std::size_t kSlotsPerEntry = 2;

    KeyIndexView() = default;
    // `slotCount` is a power of two; the filter has a sixteenth as many words. Slots naming an
    // entry at or past `count` are passed over, and a probe ends after every slot even when
    // none is free, so a damaged index can give wrong entries at worst, never a read out of
    // bounds or a probe without end.
    KeyIndexView(const IndexKey* keys, std::size_t count, const std::uint8_t* tags,
                 const std::uint32_t* entries, const std::uint64_t* filter, std::size_t slotCount)
        : keys_(keys),
          count_(count),
          tags_(tags),
          entries_(entries),
          filter_(filter),
          mask_(slotCount - 1) {}

    // The fewest slots (a power of two, at least 16) that hold `count` entries.
    static std::size_t slotsFor(std::size_t count) {
        std::size_t slotCount = 16;
        while (slotCount / kSlotsPerEntry < count) slotCount *= 2;
        return slotCount;
    }
    static std::size_t filterWordsFor(std::size_t slotCount) { return slotCount / 16; }

    // Asks for the part of the index that a lookup of the pair reads first, ahead of it.
    void prefetch(std::uint32_t crc, std::uint32_t size) const {
        if (tags_) __builtin_prefetch(&filter_[filterHashOf(crc, size) & (mask_ >> 4)]);
    }

    // Calls `visit` with the number of every entry of the pair, in increasing order.
    template <typename Visit>
    void forEachMatch(std::uint32_t crc, std::uint32_t size, Visit&& visit) const {
        if (!tags_ || !mayHold(crc, size)) return;
        const std::uint64_t hash = hashOf(crc, size);
        const std::uint8_t tag = tagOf(hash);
        for (std::size_t s = hash & mask_, left = mask_ + 1; left != 0;
             s = (s + 1) & mask_, --left) {
            const std::uint8_t t = tags_[s];
            if (t == kFree) return;
            if (t != tag) continue;
            const std::uint32_t i = entries_[s];
            if (i < count_ && keys_[i].crc == crc && keys_[i].size == size) visit(i);
        }
    }

    // The hash of a pair: its low bits (those of the mask) name the home slot, its top seven
    // bits are the slot's byte.
    static std::uint64_t hashOf(std::uint32_t crc, std::uint32_t size) {
        // CRC values are already well mixed; the size only needs spreading over them.
        const std::uint64_t key = (std::uint64_t(size) * 0x9E3779B97F4A7C15ull) ^ crc;
        const std::uint64_t h = key * 0xBF58476D1CE4E5B9ull;
        return h ^ (h >> 29);
    }
    static std::uint8_t tagOf(std::uint64_t hash) { return std::uint8_t(hash >> 57); }
    // The filter: per pair two bits of one 64-bit word, both seen set by about one lookup in
    // twenty of a pair that no entry has. It takes four bits per slot, so it is small enough to
    // stay in the caches that the slot bytes fall out of.
    static std::uint64_t filterHashOf(std::uint32_t crc, std::uint32_t size) {
        const std::uint64_t key = (std::uint64_t(crc) << 32 | size) * 0xD6E8FEB86659FD93ull;
        return key ^ (key >> 32);
    }
    static std::uint64_t filterBitsOf(std::uint64_t hash) {
        return std::uint64_t(1) << (hash >> 58) | std::uint64_t(1) << ((hash >> 52) & 63);
    }

  private:
    bool mayHold(std::uint32_t crc, std::uint32_t size) const {
        const std::uint64_t hash = filterHashOf(crc, size);
        const std::uint64_t bits = filterBitsOf(hash);
        return (filter_[hash & (mask_ >> 4)] & bits) == bits;
    }

    const IndexKey* keys_ = nullptr;
    std::size_t count_ = 0;
    const std::uint8_t* tags_ = nullptr;
    const std::uint32_t* entries_ = nullptr;
    const std::uint64_t* filter_ = nullptr;
    std::size_t mask_ = 0;
};

// Enters entries [first, end) of `keys` into the slots `tags` and `entries` (mask + 1 of each,
// free ones holding KeyIndexView::kFree) and the filter `filter`, each after those before it.
// Entries before `first` are there already.
void linkKeys(const IndexKey* keys, std::uint32_t first, std::uint32_t end, std::uint8_t* tags,
              std::uint32_t* entries, std::uint64_t* filter, std::size_t mask);

}  // namespace chipsight
