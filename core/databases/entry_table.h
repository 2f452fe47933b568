// The entry table: append-only, in load order, with an index from (crc, size) to the entries
// that carry the pair, so a lookup costs the same against a million entries as against none.
//
// Entries come in four kinds. Those appended one by one (entries added while the program runs,
// tests) are kept whole. Chip records of CHIPLORE.ROM and custom records of Chipsight.dat stay
// the bytes they were read as or mapped from the cache as, and an entry is made of its record (a
// chip joined with its game, as joinRecord does) only when it is looked at: a million chips then
// take their 28 bytes each instead of 108.
// The entries of a DAT file stay in the block of their DatStore, mapped from the cache or built
// by its reader.
//
// Each load of chips or of custom records is a run with an index of its own (see
// indexed_run.h), which the cache keeps compiled, and so are the entries of all DAT files,
// which come as one run after the chips (see dat_set.h). The table's own index (see
// key_index.h) holds only the entries kept whole. A lookup asks each index in table order.
//
// What this shape is for, as measured by scripts/bench (a simpler table breaks these):
// - loading 1,000,000 chips takes at most 3x a plain read() of the two files, and 1,000,000
//   custom records at most 1.5x as long as the chips, because a start maps their runs compiled
//   in the cache, records and index, and reads neither file; a run that must be made anew (its
//   file changed) is filled region by region (see linkKeys), so filling it does not wait on
//   memory at every entry;
// - the table of 1,000,000 entries takes at most 1.5x their 108 bytes each, because chips stay
//   28-byte records, and the index takes 23 bytes an entry (its keys, its link in its pair's
//   ring, and two slots of a byte, an entry number and a share of the filter);
// - a pair that many entries carry (a table of zero-filled records, say) costs its entries no
//   more to load or find than as many different pairs, since each pair takes one slot;
// - identifying against 1,000,000 entries costs at most 1.1x identifying against none, and
//   1.3x in a fresh process, because a lookup reads one or two slots of the index and nothing
//   else, the lookups of an image are asked for all at once, and the index sits on huge pages
//   (see large_pages.h), where random reads do not miss the TLB at every step.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "core/databases/dat/dat_set.h"
#include "core/databases/indexed_run.h"
#include "core/databases/rom_database.h"
#include "core/index/key_index.h"
#include "core/sys/large_pages.h"

namespace chipsight {

class EntryTable {
  public:
    EntryTable() = default;
    EntryTable(std::initializer_list<RomEntry> entries);

    // Makes room for `count` entries in all, so that push_back up to that many allocates
    // nothing more and cannot fail.
    void reserve(std::size_t count);
    // How many entries the table holds before push_back needs to allocate.
    std::size_t capacity() const;
    void push_back(const RomEntry& entry);
    // Appends the `count` chip records at the start of `roms`, RomTableRecord::kSize bytes
    // each, whose games are the first `gameBytes` bytes of `games`. The table keeps both.
    void appendChips(std::shared_ptr<const std::uint8_t[]> roms, std::size_t count,
                     std::shared_ptr<const std::uint8_t[]> games, std::size_t gameBytes);
    // The same for a run of chip records (of kChipShape) indexed already.
    void appendChips(std::shared_ptr<const IndexedRun> run,
                     std::shared_ptr<const std::uint8_t[]> games, std::size_t gameBytes);
    // Appends the `count` custom records at the start of `records`, RomEntry::kSize bytes each.
    // The table keeps them.
    void appendRecords(std::shared_ptr<const std::uint8_t[]> records, std::size_t count);
    // The same for a run of custom records (of kRecordShape) indexed already.
    void appendRecords(std::shared_ptr<const IndexedRun> run);
    // Where a chip record and a custom record keep their checksum and size.
    static constexpr RecordShape kChipShape{RomTableRecord::kSize, RomTableRecord::kCrcAt,
                                            RomTableRecord::kSizeAt};
    static constexpr RecordShape kRecordShape{RomEntry::kSize, 0, 4};
    // Appends the entries of every DAT file of a load, which the table keeps. A table takes
    // one such run; it throws std::logic_error when it has one already.
    void appendDats(std::shared_ptr<const DatSet> set);
    void clear();

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // The entry as a record; a DAT entry's texts are cut to the record's fields.
    RomEntry operator[](std::size_t i) const;

    // Visits the entries in table order; each is made as it is reached.
    class Iterator {
      public:
        using iterator_category = std::input_iterator_tag;
        using value_type = RomEntry;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = RomEntry;

        Iterator() = default;
        Iterator(const EntryTable* table, std::size_t i) : table_(table), i_(i) {}
        RomEntry operator*() const { return (*table_)[i_]; }
        Iterator& operator++() {
            ++i_;
            return *this;
        }
        Iterator operator++(int) {
            Iterator before = *this;
            ++i_;
            return before;
        }
        bool operator==(const Iterator& other) const { return i_ == other.i_; }

      private:
        const EntryTable* table_ = nullptr;
        std::size_t i_ = 0;
    };
    using iterator = Iterator;
    using const_iterator = Iterator;
    Iterator begin() const { return {this, 0}; }
    Iterator end() const { return {this, size()}; }

    // Asks for the parts of the indexes that a lookup of `crc` and `size` reads first, ahead
    // of it.
    void prefetch(std::uint32_t crc, std::uint32_t size) const {
        ownIndex().prefetch(crc, size);
        for (const Run& run : runs_)
            if (run.indexed) run.indexed->prefetch(crc, size);
        if (dats_) dats_->index().prefetch(crc, size);
    }

    // Calls `visit` with every entry of `crc` and `size`, in table order: with a DatEntry for an
    // entry of a DAT file where `visit` takes one, else with a RomEntry.
    template <typename Visit>
    void forEachMatch(std::uint32_t crc, std::uint32_t size, Visit&& visit) const {
        // A visitor that takes a position as well hears where in the table each entry is.
        const auto at = [&](std::size_t position) {
            if constexpr (std::is_invocable_v<Visit, const RomEntry&, std::size_t>)
                visit((*this)[position], position);
            else
                visit((*this)[position]);
        };
        // The runs come in table order between the table's own entries: a run that `ownBefore`
        // of them precede comes before own entry number ownBefore.
        std::size_t r = 0, inRuns = 0;
        const auto runsUpTo = [&](std::size_t own) {
            for (; r < runs_.size() && runs_[r].ownBefore <= own; inRuns += runs_[r++].count) {
                const Run& run = runs_[r];
                if (run.indexed) {
                    run.indexed->forEachMatch(crc, size,
                                              [&](std::uint32_t k) { at(run.first + k); });
                    continue;
                }
                dats_->forEachMatch(crc, size, [&](std::uint32_t n) {
                    if constexpr (std::is_invocable_v<Visit, const DatEntry&, std::size_t>)
                        visit(dats_->entry(n), run.first + n);
                    else if constexpr (std::is_invocable_v<Visit, const DatEntry&>)
                        visit(dats_->entry(n));
                    else
                        at(run.first + n);
                });
            }
        };
        ownIndex().forEachMatch(crc, size, [&](std::uint32_t n) {
            runsUpTo(n);
            at(n + inRuns);
        });
        runsUpTo(SIZE_MAX);
    }

    // Calls `visit` with the entry at position `at`: a DatEntry for an entry of a DAT file,
    // else a RomEntry.
    template <typename Visit>
    void visitEntry(std::size_t at, Visit&& visit) const {
        if (dats_ && at >= datFirst_ && at - datFirst_ < datCount_)
            visit(dats_->entry(std::uint32_t(at - datFirst_)));
        else
            visit((*this)[at]);
    }

    // Calls `visit` with the checksum of every entry of `size`, in table order.
    template <typename Visit>
    void forEachCrcOfSize(std::uint32_t size, Visit&& visit) const {
        const auto keys = [&](const IndexKey* key, std::size_t count) {
            for (std::size_t i = 0; i < count; ++i)
                if (key[i].size == size) visit(key[i].crc);
        };
        for (std::size_t s = 0; s < segments_.size(); ++s) {
            const Segment& segment = segments_[s];
            const std::size_t count =
                (s + 1 < segments_.size() ? segments_[s + 1].first : size_) - segment.first;
            if (segment.kind == Kind::Own) {
                keys(keys_.data() + segment.source, count);
            } else if (segment.kind == Kind::Dat) {
                keys(dats_->keys(), count);
            } else {
                const std::span<const IndexKey> run = runOf(segment).keys();
                keys(run.data(), run.size());
            }
        }
    }

    bool operator==(const EntryTable& other) const;

  private:
    enum class Kind : std::uint32_t { Own, Chips, Records, Dat };
    // A run of entries of one kind, from entry `first` to the next run: own_[source] on for
    // entries kept whole, the run of chips_[source], that of records_[source], or the entries
    // of dats_.
    struct Segment {
        std::uint32_t first;
        Kind kind;
        std::uint32_t source;
    };
    // One load of chip records and their games.
    struct Chips {
        std::shared_ptr<const IndexedRun> run;
        std::shared_ptr<const std::uint8_t[]> games;
        std::size_t gameBytes;
    };
    // A run with an index of its own (none for the DAT run), `ownBefore` of the table's own
    // entries before it.
    struct Run {
        std::size_t first, count, ownBefore;
        const IndexedRun* indexed;
    };

    KeyIndexView ownIndex() const {
        if (tags_.empty()) return {};
        return {keys_.data(),    next_.data(),   keys_.size(), tags_.data(),
                entries_.data(), filter_.data(), tags_.size()};
    }
    const Segment& segmentOf(std::uint32_t i) const {
        // Nearly always the last run, or one of the few before it.
        std::size_t s = segments_.size() - 1;
        while (segments_[s].first > i) --s;
        return segments_[s];
    }
    const IndexedRun& runOf(const Segment& segment) const {
        return segment.kind == Kind::Chips ? *chips_[segment.source].run
                                           : *records_[segment.source];
    }
    // How many of the table's own entries the index takes before it must grow.
    std::size_t indexRoom() const { return tags_.size() / KeyIndexView::kSlotsPerEntry; }
    // Appends `run`, of `kind`, whose owner `keep` stores, returning its number among those of
    // the kind.
    template <typename Keep>
    void appendRun(Kind kind, const IndexedRun& run, Keep&& keep);
    // Makes room in the index for `count` of the table's own entries in all.
    void reserveIndex(std::size_t count);
    // Enters the table's own entries from number `first` on into the index.
    void link(std::size_t first) {
        linkKeys(keys_.data(), next_.data(), std::uint32_t(first), std::uint32_t(keys_.size()),
                 tags_.data(), entries_.data(), filter_.data(), tags_.size() - 1);
    }

    template <typename T>
    using Large = std::vector<T, LargePageAllocator<T>>;

    std::size_t size_ = 0;
    std::vector<Segment> segments_;
    std::vector<RomEntry> own_;
    std::vector<Chips> chips_;
    std::vector<std::shared_ptr<const IndexedRun>> records_;
    std::vector<Run> runs_;
    // The run of DAT entries, from entry datFirst_ on.
    std::shared_ptr<const DatSet> dats_;
    std::uint32_t datFirst_ = 0, datCount_ = 0;
    // The keys of the entries kept whole, in table order, and each one's link in the ring of
    // its pair's entries.
    Large<IndexKey> keys_;
    Large<std::uint32_t> next_;
    // A power of two of slots, or none before the first entry.
    Large<std::uint8_t> tags_;
    Large<std::uint32_t> entries_;
    // One word for every sixteen slots.
    Large<std::uint64_t> filter_;
};

}  // namespace chipsight
