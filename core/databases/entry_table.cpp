// The entry table, its three kinds of entry, and its index.
#include "core/databases/entry_table.h"

#include <algorithm>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>

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
    if (count <= size_) return;
    reserveIndex(keys_.size() + (count - size_));
    makeRoom(own_, own_.size() + (count - size_));
    makeRoom(segments_, segments_.size() + 1);
}

std::size_t EntryTable::capacity() const {
    const bool runOpen = !segments_.empty() && segments_.back().kind == Kind::Own;
    if (!runOpen && segments_.size() == segments_.capacity()) return size_;
    return size_ + std::min({indexRoom() - keys_.size(), keys_.capacity() - keys_.size(),
                             next_.capacity() - next_.size(), own_.capacity() - own_.size()});
}

void EntryTable::reserveIndex(std::size_t count) {
    // More entries than the index can number are as many as this memory cannot hold.
    if (count >= KeyIndexView::kMaxEntries) throw std::bad_alloc();
    makeRoom(keys_, count);
    makeRoom(next_, count);
    const std::size_t slots = std::max(KeyIndexView::slotsFor(count), tags_.size());
    if (slots == tags_.size()) return;
    // New slots are filled before they replace the old, so running out of memory changes
    // nothing; the rings come out as they were. The entry numbers of free slots are never
    // read, so they are left unset.
    Large<std::uint8_t> tags(slots, KeyIndexView::kFree);
    Large<std::uint32_t> entries;
    entries.resize(slots);
    Large<std::uint64_t> filter(KeyIndexView::filterWordsFor(slots), 0);
    linkKeys(keys_.data(), next_.data(), 0, std::uint32_t(keys_.size()), tags.data(),
             entries.data(), filter.data(), slots - 1);
    tags_.swap(tags);
    entries_.swap(entries);
    filter_.swap(filter);
}

void EntryTable::push_back(const RomEntry& entry) {
    if (size_ == capacity()) reserve(size_ + 1);
    if (segments_.empty() || segments_.back().kind != Kind::Own)
        segments_.push_back({std::uint32_t(size_), Kind::Own, std::uint32_t(own_.size())});
    own_.push_back(entry);
    keys_.push_back({entry.crc, entry.size});
    next_.push_back(0);  // linked below, if ever
    ++size_;
    link(keys_.size() - 1);
}

template <typename Keep>
void EntryTable::appendRun(Kind kind, const IndexedRun& run, Keep&& keep) {
    if (run.size() == 0) return;
    // More entries than a position can name are as many as this memory cannot hold.
    if (run.size() >= KeyIndexView::kMaxEntries - size_) throw std::bad_alloc();
    // Everything that may fail to allocate comes before anything changes.
    makeRoom(segments_, segments_.size() + 1);
    makeRoom(runs_, runs_.size() + 1);
    const std::uint32_t source = keep();
    segments_.push_back({std::uint32_t(size_), kind, source});
    runs_.push_back({size_, run.size(), own_.size(), &run});
    size_ += run.size();
}

void EntryTable::appendChips(std::shared_ptr<const std::uint8_t[]> roms, std::size_t count,
                             std::shared_ptr<const std::uint8_t[]> games, std::size_t gameBytes) {
    if (count == 0) return;
    appendChips(IndexedRun::make(std::move(roms), count, kChipShape), std::move(games), gameBytes);
}

void EntryTable::appendChips(std::shared_ptr<const IndexedRun> run,
                             std::shared_ptr<const std::uint8_t[]> games, std::size_t gameBytes) {
    if (!run) return;
    const IndexedRun& indexed = *run;
    appendRun(Kind::Chips, indexed, [&] {
        chips_.push_back({std::move(run), std::move(games), gameBytes});
        return std::uint32_t(chips_.size() - 1);
    });
}

void EntryTable::appendRecords(std::shared_ptr<const std::uint8_t[]> records, std::size_t count) {
    if (count == 0) return;
    appendRecords(IndexedRun::make(std::move(records), count, kRecordShape));
}

void EntryTable::appendRecords(std::shared_ptr<const IndexedRun> run) {
    if (!run) return;
    const IndexedRun& indexed = *run;
    appendRun(Kind::Records, indexed, [&] {
        records_.push_back(std::move(run));
        return std::uint32_t(records_.size() - 1);
    });
}

void EntryTable::appendDats(std::shared_ptr<const DatSet> set) {
    if (dats_) throw std::logic_error("the entry table has its DAT entries already");
    if (set->size() == 0) return;
    makeRoom(segments_, segments_.size() + 1);
    makeRoom(runs_, runs_.size() + 1);
    segments_.push_back({std::uint32_t(size_), Kind::Dat, 0});
    runs_.push_back({size_, set->size(), own_.size(), nullptr});
    datFirst_ = std::uint32_t(size_);
    datCount_ = std::uint32_t(set->size());
    size_ += set->size();
    dats_ = std::move(set);
}

void EntryTable::clear() {
    size_ = 0;
    segments_.clear();
    own_.clear();
    chips_.clear();
    records_.clear();
    runs_.clear();
    dats_.reset();
    datFirst_ = datCount_ = 0;
    keys_.clear();
    next_.clear();
    tags_.clear();
    tags_.shrink_to_fit();
    entries_.clear();
    entries_.shrink_to_fit();
    filter_.clear();
    filter_.shrink_to_fit();
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
                    chips.run->record(k), RomTableRecord::kSize)),
                {chips.games.get(), chips.gameBytes});
        }
        case Kind::Dat: {
            const DatEntry d = dats_->entry(k);
            const DatEntryInfo info = d.info();
            RomEntry e;
            e.crc = d.store->crc(d.index);
            e.size = d.store->romSize(d.index);
            writeField(e.name, info.name);
            writeField(e.description, datEntryDescription(info));
            return e;
        }
        case Kind::Records:
            break;
    }
    return RomEntry::decode(std::span<const std::uint8_t, RomEntry::kSize>(
        records_[segment.source]->record(k), RomEntry::kSize));
}

bool EntryTable::operator==(const EntryTable& other) const {
    if (size() != other.size()) return false;
    for (std::size_t i = 0; i < size(); ++i)
        if (!((*this)[i] == other[i])) return false;
    return true;
}

}  // namespace chipsight
