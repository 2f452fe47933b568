// A run of fixed-size records (the chips of CHIPLORE.ROM, the records of Chipsight.dat) with a
// (crc, size) index of its own, which the cache keeps compiled: a start with a million records
// maps the records and their index instead of reading the one and making the other.
//
// A compiled run is checked a chunk at a time as it is read (see checked_file.h). A chunk found
// damaged makes the run anew in memory, once, from the records read again from their file;
// lookups then go on in the run made anew, so damage costs time, never an answer.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "core/checksum/checked_file.h"
#include "core/index/key_index.h"

namespace chipsight {

// Where a record of a run keeps its checksum and size.
struct RecordShape {
    std::uint32_t stride, crcAt, sizeAt;
};

class IndexedRun {
  public:
    // The records of a run read again from their file (`count` of them); none when they cannot
    // be had as they were.
    using Reread = std::function<std::shared_ptr<const std::uint8_t[]>(std::size_t count)>;
    // Whether a compiled run of `count` records whose file was stamped `stamp` may stand for the
    // records a start has.
    using Trust = std::function<bool(std::span<const std::uint8_t> stamp, std::size_t count)>;

    // The run over the `count` records at `records`, its index made now. Throws std::bad_alloc
    // when there is no memory for it.
    static std::shared_ptr<const IndexedRun> make(std::shared_ptr<const std::uint8_t[]> records,
                                                  std::size_t count, RecordShape shape);
    // The run compiled in `file`, when it is whole and `trust` takes its stamp; none otherwise.
    // `reread` gives its records again should the compiled copy prove damaged.
    static std::shared_ptr<const IndexedRun> open(const std::string& file, RecordShape shape,
                                                  const Trust& trust, Reread reread);
    // Writes the run, its records and index, to `file` under `stamp`. False when it could not
    // be written.
    bool store(const std::string& file, std::span<const std::uint8_t> stamp) const;

    std::size_t size() const { return count_; }
    RecordShape shape() const { return shape_; }
    // The bytes of record `k`.
    const std::uint8_t* record(std::size_t k) const {
        if (const IndexedRun* m = mendedRun()) return m->record(k);
        const std::uint8_t* at = records_ + k * shape_.stride;
        if (checks_ && !checks_->verify(at, shape_.stride))
            if (const IndexedRun* m = mended()) return m->record(k);
        return at;
    }
    void prefetch(std::uint32_t crc, std::uint32_t size) const { view_.prefetch(crc, size); }
    // Calls `visit` with the number of every record of the pair, in increasing order.
    template <typename Visit>
    void forEachMatch(std::uint32_t crc, std::uint32_t size, Visit&& visit) const {
        // A run made anew is in memory and whole: its index needs no checks.
        if (const IndexedRun* m = mendedRun()) {
            m->view_.forEachMatch(crc, size, visit);
            return;
        }
        std::int64_t last = -1;
        if (view_.forEachMatch(crc, size, [&](std::uint32_t n) {
                last = n;
                visit(n);
            }))
            return;
        // Found damaged on the way: the rest comes from the run made anew, or, without memory
        // to make it, from the damaged one taken as it is.
        const auto rest = [&](std::uint32_t n) {
            if (std::int64_t(n) > last) visit(n);
        };
        if (const IndexedRun* m = mended())
            m->view_.forEachMatch(crc, size, rest);
        else
            view_.unchecked().forEachMatch(crc, size, rest);
    }
    // The checksum and size of every record, in order.
    std::span<const IndexKey> keys() const {
        if (const IndexedRun* m = mendedRun()) return m->keys();
        if (checks_ && !checks_->verify(keys_, count_ * sizeof(IndexKey)))
            if (const IndexedRun* m = mended()) return m->keys();
        return {keys_, count_};
    }

    IndexedRun() = default;
    IndexedRun(const IndexedRun&) = delete;
    IndexedRun& operator=(const IndexedRun&) = delete;

  private:
    const IndexedRun* mendedRun() const { return mended_.load(std::memory_order_acquire); }
    // The run made anew from trusted records; none when there is no memory for it.
    const IndexedRun* mended() const;

    RecordShape shape_{};
    std::size_t count_ = 0, slots_ = 0;
    const std::uint8_t* records_ = nullptr;
    const IndexKey* keys_ = nullptr;
    const std::uint32_t* next_ = nullptr;
    const std::uint8_t* tags_ = nullptr;
    const std::uint32_t* entries_ = nullptr;
    const std::uint64_t* filter_ = nullptr;
    KeyIndexView view_;
    // The records a run made was given; those of a compiled run are its file's.
    std::shared_ptr<const std::uint8_t[]> given_;
    CheckedFile file_;
    const ChunkChecks* checks_ = nullptr;
    Reread reread_;
    mutable std::once_flag mendOnce_;
    mutable std::shared_ptr<const IndexedRun> mendedHeld_;
    mutable std::atomic<const IndexedRun*> mended_{nullptr};
    // The index of a run made in memory.
    BuiltKeyIndex built_;
};

}  // namespace chipsight
