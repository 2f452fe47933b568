// A compiled run of table records over any bytes: the file as it lies (its header and sums
// checked), and a file whose sums are all right but whose head and parts say anything, as a
// foreign file of this format would. Every record, key and lookup reads within the run, and a
// lookup names only records it has.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "core/checksum/checked_file.h"
#include "core/databases/entry_table.h"
#include "core/databases/indexed_run.h"
#include "fuzz/fuzz_support.h"

using namespace chipsight;

namespace {

// What the head of a run's file holds before its stamp (see indexed_run.cpp).
struct Head {
    std::uint64_t count, slots;
    std::uint32_t stride, crcAt, sizeAt, zero;
    std::uint64_t stampBytes;
};
constexpr char kMagic[8] = {'C', 'S', 'R', 'U', 'N', 'I', 'D', 'X'};
constexpr std::uint32_t kVersion = 2;

void readAll(const IndexedRun& run) {
    const std::span<const IndexKey> keys = run.keys();
    if (keys.size() != run.size()) std::abort();
    for (std::size_t k = 0; k < run.size(); ++k) {
        volatile std::uint8_t first = run.record(k)[0];
        static_cast<void>(first);
        run.forEachMatch(keys[k].crc, keys[k].size, [&](std::uint32_t n) {
            if (n >= run.size()) std::abort();
        });
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static const std::string file = fuzzing::workDirectory() + "/table.runs";
    const RecordShape shape = data[0] & 1 ? EntryTable::kChipShape : EntryTable::kRecordShape;
    const auto trustAll = [](std::span<const std::uint8_t>, std::size_t) { return true; };
    if (data[0] & 2) {
        // The bytes as the file.
        FILE* out = std::fopen(file.c_str(), "wb");
        if (!out) return 0;
        std::fwrite(data + 1, 1, size - 1, out);
        std::fclose(out);
    } else {
        // A head of up to 255 records and the slots they take, or of any counts, then parts of
        // the lengths they call for, filled from the input.
        fuzzing::Input in(data + 1, size - 1);
        const std::size_t count = in.byte();
        Head h{count, KeyIndexView::slotsFor(count), shape.stride, shape.crcAt, shape.sizeAt, 0, 0};
        if (in.byte() == 0xFF) {
            h.count = in.u16();
            h.slots = in.u16();
        }
        const std::vector<std::uint8_t> rest = in.rest();
        const auto filled = [&](std::size_t length) {
            std::vector<std::uint8_t> part(length);
            for (std::size_t i = 0; i < length && !rest.empty(); ++i)
                part[i] = rest[i % rest.size()];
            return part;
        };
        std::vector<std::uint8_t> head(sizeof h);
        std::memcpy(head.data(), &h, sizeof h);
        const std::size_t slots = std::size_t(h.slots), n = std::size_t(h.count);
        const auto keys = filled(n * sizeof(IndexKey)), next = filled(n * 4), tags = filled(slots),
                   entries = filled(slots * 4),
                   filter = filled(KeyIndexView::filterWordsFor(slots) * 8),
                   records = filled(n * shape.stride);
        if (!storeCheckedFile(file, kMagic, kVersion, head,
                              {keys, next, tags, entries, filter, records}))
            return 0;
    }
    if (const auto run = IndexedRun::open(file, shape, trustAll, {})) readAll(*run);
    return 0;
}
