// The index from a (crc, size) pair to the numbers of the entries that carry it, over arrays
// kept elsewhere: the entry table's own, grown as entries come, and the one made for all DAT
// entries at once, which the compiled cache keeps and maps back.
//
// Each pair has one slot of an open-addressed table, probed linearly from the pair's home slot:
// for each slot a byte (free, or seven bits of the pair's hash) and the number of the pair's
// last entry. The entries of a pair that has more than one (which the slot marks) form a ring
// through `next`, in entry order, whose last entry leads back to the first. A lookup goes from
// the slot to the last entry, on to the first and along the ring; an entry appended is linked
// in after the last and takes its place in the slot. The link of a pair's only entry is never
// read or written, so most pairs cost a lookup or a load no more than a slot. So a pair that a
// million entries carry (a table of zero-filled records, a PROM that thousands of sets share) takes
// one slot, and neither entering nor finding it walks past other entries. A lookup runs over the
// slot bytes, which are few enough to stay in the caches, and compares an entry's pair only where
// the hash bits agree. In front of the slots sits a filter of two bits per pair, at which most
// lookups of pairs that no entry has end.
#pragma once

#include <cstddef>
#include <cstdint>

#include <vector>

#include "core/checksum/chunk_checks.h"
#include "core/sys/large_pages.h"

namespace chipsight {

struct IndexKey {
    std::uint32_t crc;
    std::uint32_t size;
};

class KeyIndexView {
  public:
    // A slot's byte: free, or the top seven bits of the hash of the pair in it.
    static constexpr std::uint8_t kFree = 0x80;
    // An index has at least two slots for each entry, so probes stay short.
    static constexpr std::size_t kSlotsPerEntry = 2;
    // The top bit of a slot's entry number: the pair has a ring of entries.
    static constexpr std::uint32_t kRing = 0x80000000;
    // An index holds fewer entries than this.
    static constexpr std::size_t kMaxEntries = kRing;

    KeyIndexView() = default;
    // `slotCount` is a power of two; the filter has a sixteenth as many words. Slots and rings
    // naming an entry at or past `count` are passed over, a probe ends after every slot even
    // when none is free, and a ring is followed only while it climbs towards the entry in the
    // slot, so a damaged index can give wrong entries at worst, never a read out of bounds or a
    // walk without end. With `checks`, every byte is checked before it is read.
    KeyIndexView(const IndexKey* keys, const std::uint32_t* next, std::size_t count,
                 const std::uint8_t* tags, const std::uint32_t* entries,
                 const std::uint64_t* filter, std::size_t slotCount,
                 const ChunkChecks* checks = nullptr)
        : keys_(keys),
          next_(next),
          count_(count),
          tags_(tags),
          entries_(entries),
          filter_(filter),
          mask_(slotCount - 1),
          checks_(checks) {}

    // The same index, its bytes taken as they are.
    KeyIndexView unchecked() const {
        KeyIndexView view = *this;
        view.checks_ = nullptr;
        return view;
    }

    // The fewest slots (a power of two, at least 16) for `count` entries.
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

    // Calls `visit` with the number of every entry of the pair, in increasing order. False when
    // the checks found bytes damaged before the lookup was done: it stops there.
    template <typename Visit>
    bool forEachMatch(std::uint32_t crc, std::uint32_t size, Visit&& visit) const {
        if (!tags_) return true;
        const std::uint64_t filterHash = filterHashOf(crc, size);
        const std::uint64_t bits = filterBitsOf(filterHash);
        const std::uint64_t* word = &filter_[filterHash & (mask_ >> 4)];
        if (!intact(word, sizeof *word)) return false;
        if ((*word & bits) != bits) return true;
        const std::uint64_t hash = hashOf(crc, size);
        const std::uint8_t tag = tagOf(hash);
        for (std::size_t s = hash & mask_, left = mask_ + 1; left != 0;
             s = (s + 1) & mask_, --left) {
            if (!intact(&tags_[s], 1)) return false;
            const std::uint8_t t = tags_[s];
            if (t == kFree) return true;
            if (t != tag) continue;
            if (!intact(&entries_[s], sizeof entries_[s])) return false;
            const std::uint32_t last = entries_[s] & ~kRing;
            if (last >= count_) continue;
            if (!intact(&keys_[last], sizeof(IndexKey))) return false;
            if (keys_[last].crc != crc || keys_[last].size != size) continue;
            if (entries_[s] & kRing) return walk(last, crc, size, visit);
            visit(last);
            return true;
        }
        return true;
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
    bool intact(const void* at, std::size_t length) const {
        return !checks_ || checks_->verify(at, length);
    }

    // Visits the ring of the pair whose last entry is `last`, from its first entry on. Every
    // step climbs, and one that would not (only in a damaged index) goes straight to `last`.
    template <typename Visit>
    bool walk(std::uint32_t last, std::uint32_t crc, std::uint32_t size, Visit& visit) const {
        if (!intact(&next_[last], sizeof next_[last])) return false;
        const std::uint32_t first = next_[last];
        for (std::uint32_t i = first <= last ? first : last;;) {
            if (!intact(&keys_[i], sizeof(IndexKey))) return false;
            if (keys_[i].crc == crc && keys_[i].size == size) visit(i);
            if (i == last) return true;
            if (!intact(&next_[i], sizeof next_[i])) return false;
            const std::uint32_t n = next_[i];
            i = n > i && n <= last ? n : last;
        }
    }

    const IndexKey* keys_ = nullptr;
    const std::uint32_t* next_ = nullptr;
    std::size_t count_ = 0;
    const std::uint8_t* tags_ = nullptr;
    const std::uint32_t* entries_ = nullptr;
    const std::uint64_t* filter_ = nullptr;
    std::size_t mask_ = 0;
    const ChunkChecks* checks_ = nullptr;
};

// Enters entries [first, end) of `keys` (fewer than KeyIndexView::kMaxEntries in all) into the
// slots `tags` and `entries` (mask + 1 of each, free ones holding KeyIndexView::kFree), the rings
// `next` (one link for each entry, set only for pairs of several) and the filter `filter`, each
// after those before it. Entries before `first` are there already. Returns the
// number of slots looked at, which stays below a few for each entry entered, however many
// entries share a pair.
std::size_t linkKeys(const IndexKey* keys, std::uint32_t* next, std::uint32_t first,
                     std::uint32_t end, std::uint8_t* tags, std::uint32_t* entries,
                     std::uint64_t* filter, std::size_t mask);

// An index made whole in memory over keys given all at once (a DAT set's, a run of records'), in
// the arrays a view reads, on huge pages like the rest of the tables.
struct BuiltKeyIndex {
    template <typename T>
    using Large = std::vector<T, LargePageAllocator<T>>;
    // Filled by the caller before link().
    Large<IndexKey> keys;
    Large<std::uint32_t> next;
    Large<std::uint8_t> tags;
    Large<std::uint32_t> entries;
    Large<std::uint64_t> filter;
    std::size_t slotCount = 0;

    // Makes the slots, rings and filter for every key. Every array is written whole, free
    // slots and unlinked entries included, since a cache may write them out. Throws
    // std::bad_alloc when there is no memory for them, or more keys than an index can number.
    void link();
    KeyIndexView view() const {
        return {keys.data(),    next.data(),   keys.size(), tags.data(),
                entries.data(), filter.data(), slotCount};
    }
};

}  // namespace chipsight
