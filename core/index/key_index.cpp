// Filling the (crc, size) index.
#include "core/index/key_index.h"

#include <algorithm>
#include <memory>
#include <new>

namespace chipsight {

std::size_t linkKeys(const IndexKey* keys, std::uint32_t* next, std::uint32_t first,
                     std::uint32_t end, std::uint8_t* tags, std::uint32_t* entries,
                     std::uint64_t* filter, std::size_t mask) {
    using View = KeyIndexView;
    std::size_t probes = 0;
    const std::size_t filterMask = mask >> 4;
    const auto enterFilter = [&](const IndexKey& key) {
        const std::uint64_t hash = View::filterHashOf(key.crc, key.size);
        filter[hash & filterMask] |= View::filterBitsOf(hash);
    };
    // Enters entry `i` into its pair's slot, from `home` on: after the pair's last entry, or
    // alone in a free slot when the pair has none yet; returns the slots it looked at. (What
    // it works on is taken by value: its byte stores could otherwise change any of it, and it
    // would be read again at every step.)
    const auto enter = [keys, next, tags, entries, mask](std::uint32_t i, std::size_t home,
                                                         std::uint8_t tag) -> std::size_t {
        for (std::size_t at = home, looked = 1;; at = (at + 1) & mask, ++looked) {
            if (tags[at] == View::kFree) {
                tags[at] = tag;
                entries[at] = i;
                return looked;
            }
            if (tags[at] != tag) continue;
            // The keys are read only here, where the slot bytes agree: the entries come in the
            // order of their slots, and their keys lie all over memory.
            const std::uint32_t slot = entries[at], last = slot & ~View::kRing;
            if (keys[last].crc == keys[i].crc && keys[last].size == keys[i].size) {
                // A pair's second entry starts its ring: the first is the last so far.
                next[i] = slot & View::kRing ? next[last] : last;
                next[last] = i;
                entries[at] = i | View::kRing;
                return looked;
            }
        }
    };

    // The home slots of a large load lie all over the index, and entering the entries in order
    // would wait on memory at nearly every one. So the entries are first sorted, in order, by
    // the region of 2^13 slots their home slot lies in, and each region is then filled in turn
    // while its slot bytes and entry numbers (40 KiB) stay in the cache. Entries of one pair
    // share a home slot, so they are still entered in order, each ring in entry order. An entry
    // sorted takes 8 bytes: its number, its home slot within its region and its slot byte. The
    // filter, half a byte a slot, is filled while they are sorted.
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
            const std::uint64_t hash = View::hashOf(keys[i].crc, keys[i].size);
            probes += enter(i, hash & mask, View::tagOf(hash));
            enterFilter(keys[i]);
        }
        return probes;
    }
    std::fill_n(starts.get(), regions + 1, 0);
    for (std::uint32_t i = first; i < end; ++i)
        ++starts[((View::hashOf(keys[i].crc, keys[i].size) & mask) >> kRegionBits) + 1];
    for (std::size_t r = 1; r <= regions; ++r) starts[r] += starts[r - 1];
    for (std::uint32_t i = first; i < end; ++i) {
        const std::uint64_t hash = View::hashOf(keys[i].crc, keys[i].size);
        const std::size_t home = hash & mask;
        sorted[starts[home >> kRegionBits]++] =
            std::uint64_t(i) << 32 | (home & kWithin) << 7 | View::tagOf(hash);
        enterFilter(keys[i]);
    }
    // Each region's start has moved on to the next one's.
    std::size_t k = 0;
    for (std::size_t r = 0; r < regions; ++r) {
        const std::size_t base = r << kRegionBits;
        for (; k < starts[r]; ++k) {
            const std::uint64_t e = sorted[k];
            probes +=
                enter(std::uint32_t(e >> 32), base + ((e >> 7) & kWithin), std::uint8_t(e & 0x7F));
        }
    }
    return probes;
}

void BuiltKeyIndex::link() {
    if (keys.size() >= KeyIndexView::kMaxEntries) throw std::bad_alloc();
    slotCount = KeyIndexView::slotsFor(keys.size());
    next.assign(keys.size(), 0);
    tags.assign(slotCount, KeyIndexView::kFree);
    entries.assign(slotCount, 0);
    filter.assign(KeyIndexView::filterWordsFor(slotCount), 0);
    linkKeys(keys.data(), next.data(), 0, std::uint32_t(keys.size()), tags.data(), entries.data(),
             filter.data(), slotCount - 1);
}

}  // namespace chipsight
