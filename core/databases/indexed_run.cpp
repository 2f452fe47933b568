// Making, compiling and mapping back a run of records with its own index.
//
// The compiled file (see checked_file.h) has the head: u64 records, u64 slots, u32 stride,
// u32 where the checksum and u32 where the size lie in a record, u32 zero, u64 the stamp's
// length, the stamp; and the block: keys, links, slot bytes, slot entries, filter, records.
#include "core/databases/indexed_run.h"

#include <cstring>
#include <new>

#include "core/sys/byte_order.h"

namespace chipsight {

namespace {

constexpr char kMagic[8] = {'C', 'S', 'R', 'U', 'N', 'I', 'D', 'X'};
constexpr std::uint32_t kVersion = 2;

struct Head {
    std::uint64_t count, slots;
    std::uint32_t stride, crcAt, sizeAt, zero;
    std::uint64_t stampBytes;
};

// The lengths of the block's parts, in order.
struct Parts {
    std::size_t keys, next, tags, entries, filter, records;
};
Parts partsOf(std::size_t count, std::size_t slots, RecordShape shape) {
    return {count * sizeof(IndexKey),
            count * 4,
            slots,
            slots * 4,
            KeyIndexView::filterWordsFor(slots) * 8,
            count * shape.stride};
}

}  // namespace

std::shared_ptr<const IndexedRun> IndexedRun::make(std::shared_ptr<const std::uint8_t[]> records,
                                                   std::size_t count, RecordShape shape) {
    if (count >= KeyIndexView::kMaxEntries) throw std::bad_alloc();
    auto run = std::make_shared<IndexedRun>();
    run->shape_ = shape;
    run->count_ = count;
    BuiltKeyIndex& built = run->built_;
    built.keys.resize(count);  // all written below
    const std::uint8_t* record = records.get();
    for (std::size_t i = 0; i < count; ++i, record += shape.stride)
        built.keys[i] = {load32(record + shape.crcAt), load32(record + shape.sizeAt)};
    built.link();
    run->slots_ = built.slotCount;
    run->records_ = records.get();
    run->given_ = std::move(records);
    run->keys_ = built.keys.data();
    run->next_ = built.next.data();
    run->tags_ = built.tags.data();
    run->entries_ = built.entries.data();
    run->filter_ = built.filter.data();
    run->view_ = built.view();
    return run;
}

std::shared_ptr<const IndexedRun> IndexedRun::open(const std::string& file, RecordShape shape,
                                                   const Trust& trust, Reread reread) {
    std::optional<CheckedFile> compiled = openCheckedFile(file, kMagic, kVersion);
    if (!compiled || compiled->head.size() < sizeof(Head)) return nullptr;
    Head h;
    std::memcpy(&h, compiled->head.data(), sizeof h);
    if (h.stride != shape.stride || h.crcAt != shape.crcAt || h.sizeAt != shape.sizeAt ||
        h.zero != 0 || h.count >= KeyIndexView::kMaxEntries ||
        h.slots != KeyIndexView::slotsFor(std::size_t(h.count)) ||
        h.stampBytes != compiled->head.size() - sizeof h ||
        !trust(compiled->head.subspan(sizeof h), std::size_t(h.count)))
        return nullptr;
    const Parts p = partsOf(std::size_t(h.count), std::size_t(h.slots), shape);
    const std::size_t lengths[] = {p.keys, p.next, p.tags, p.entries, p.filter, p.records};
    const std::uint8_t* at[6];
    std::size_t total = 0;
    for (std::size_t i = 0; i < 6; ++i) {
        at[i] = compiled->block.data() + total;
        total += checkedPartBytes(lengths[i]);
    }
    if (total != compiled->block.size()) return nullptr;

    auto run = std::make_shared<IndexedRun>();
    run->shape_ = shape;
    run->count_ = std::size_t(h.count);
    run->slots_ = std::size_t(h.slots);
    run->keys_ = reinterpret_cast<const IndexKey*>(at[0]);
    run->next_ = reinterpret_cast<const std::uint32_t*>(at[1]);
    run->tags_ = at[2];
    run->entries_ = reinterpret_cast<const std::uint32_t*>(at[3]);
    run->filter_ = reinterpret_cast<const std::uint64_t*>(at[4]);
    run->records_ = at[5];
    run->file_ = std::move(*compiled);
    run->checks_ = run->file_.checks.get();
    run->reread_ = std::move(reread);
    run->view_ = {run->keys_,    run->next_,   run->count_, run->tags_,
                  run->entries_, run->filter_, run->slots_, run->checks_};
    return run;
}

bool IndexedRun::store(const std::string& file, std::span<const std::uint8_t> stamp) const {
    const IndexedRun& run = mendedRun() ? *mendedRun() : *this;
    // A run mapped from a file is written only from what checks out.
    const Parts p = partsOf(run.count_, run.slots_, shape_);
    if (run.checks_ && !(run.checks_->verify(run.keys_, p.keys + p.next + p.tags + p.entries) &&
                         run.checks_->verify(run.records_, p.records)))
        return false;
    Head h{run.count_, run.slots_, shape_.stride, shape_.crcAt, shape_.sizeAt, 0, stamp.size()};
    std::vector<std::uint8_t> head(sizeof h);
    std::memcpy(head.data(), &h, sizeof h);
    head.insert(head.end(), stamp.begin(), stamp.end());
    const auto bytes = [](const void* at, std::size_t length) {
        return std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(at), length);
    };
    return storeCheckedFile(file, kMagic, kVersion, head,
                            {bytes(run.keys_, p.keys), bytes(run.next_, p.next),
                             bytes(run.tags_, p.tags), bytes(run.entries_, p.entries),
                             bytes(run.filter_, p.filter), bytes(run.records_, p.records)});
}

const IndexedRun* IndexedRun::mended() const {
    std::call_once(mendOnce_, [this] {
        std::shared_ptr<const std::uint8_t[]> records;
        if (reread_) records = reread_(count_);
        if (!records) {
            // Nothing better to be had: the copy as it is, every byte of it taken as read.
            std::shared_ptr<std::uint8_t[]> copy(new (std::nothrow)
                                                     std::uint8_t[count_ * shape_.stride + 1]);
            if (!copy) return;
            std::memcpy(copy.get(), records_, count_ * shape_.stride);
            records = std::move(copy);
        }
        try {
            mendedHeld_ = make(std::move(records), count_, shape_);
        } catch (const std::bad_alloc&) {
            return;
        }
        mended_.store(mendedHeld_.get(), std::memory_order_release);
    });
    return mendedRun();
}

}  // namespace chipsight
