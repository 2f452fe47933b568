// The compiled cache's loaders over any bytes, a store's block and the whole cache file, and the
// round trip of what a DAT's readers send: a block made from any DAT opens again and gives back
// every field as it was sent.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include <cstdio>

#include "core/checksum/chunk_checks.h"
#include "core/checksum/crc32.h"
#include "core/databases/dat/dat_set.h"
#include "core/databases/dat/dat_store.h"

using namespace chipsight;

namespace {

// Keeps a copy of every field sent, to compare with what the block gives back.
struct Copies : DatSink {
    struct Rom {
        std::string name, setName, setDescription, listName, region, endianness, loadFlag;
        std::uint32_t crc, size, dataWidth;
        bool badDump;
    };
    void rom(const DatRom& r) override {
        builder.rom(r);
        roms.push_back({std::string(r.name), std::string(r.setName), std::string(r.setDescription),
                        std::string(r.listName), std::string(r.region), std::string(r.endianness),
                        std::string(r.loadFlag), r.crc, r.size, r.dataWidth, r.badDump});
    }
    DatStoreBuilder builder;
    std::vector<Rom> roms;
};

std::shared_ptr<const DatStore> open(const std::uint8_t* data, std::size_t size) {
    std::shared_ptr<std::uint8_t[]> copy(new std::uint8_t[size]);
    if (size > 0) std::memcpy(copy.get(), data, size);
    return DatStore::open(std::move(copy), size);
}

// Any bytes as a cache file, with the checksums of its chunks, its header and its table made
// right so that what lies behind them is reached: every entry and every lookup reads within
// the file.
void cacheFile(const std::uint8_t* data, std::size_t size) {
    static const std::string path = [] {
        char name[] = "/tmp/fuzz_dat_cache.XXXXXX";
        ::close(::mkstemp(name));
        return std::string(name);
    }();
    constexpr std::size_t kHeader = 88, kChecksummed = 80;
    std::vector<std::uint8_t> bytes(data, data + size);
    std::uint64_t table = 0, sumsAt = 0;
    if (bytes.size() >= kHeader &&
        (std::memcpy(&table, &bytes[40], 8), table <= bytes.size() - kHeader)) {
        std::memcpy(&sumsAt, &bytes[56], 8);
        // Each file's record: the copy of its block's header.
        constexpr std::size_t kRecord = 112 + DatStore::kHeaderBytes;
        for (std::uint64_t at = kHeader;
             at <= kHeader + table && kHeader + table - at >= kRecord;) {
            std::uint64_t blockAt = 0, blockLength = 0;
            std::uint32_t pathLength = 0, failureLength = 0;
            std::memcpy(&blockAt, &bytes[at + 56], 8);
            std::memcpy(&blockLength, &bytes[at + 64], 8);
            std::memcpy(&pathLength, &bytes[at + 92], 4);
            std::memcpy(&failureLength, &bytes[at + 96], 4);
            const std::uint64_t head = std::min<std::uint64_t>(blockLength, DatStore::kHeaderBytes);
            if (blockAt <= bytes.size() && head <= bytes.size() - blockAt)
                std::memmove(&bytes[at + 112], bytes.data() + blockAt, head);
            at += (kRecord + std::uint64_t(pathLength) + failureLength + 7) / 8 * 8;
        }
        const std::uint64_t dataAt = (kHeader + table + 7) / 8 * 8;
        if (dataAt <= sumsAt && sumsAt <= bytes.size() &&
            bytes.size() - sumsAt == ChunkChecks::chunksFor(sumsAt - dataAt) * 4) {
            ChunkSums sums;
            sums.add(bytes.data() + dataAt, sumsAt - dataAt);
            const std::vector<std::uint32_t> made = sums.finish();
            if (!made.empty()) std::memcpy(&bytes[sumsAt], made.data(), made.size() * 4);
            const std::uint32_t crc =
                Crc32(0, bytes.data() + sumsAt, std::uint32_t(made.size() * 4));
            std::memcpy(&bytes[72], &crc, 4);
        }
        const std::uint32_t crc = Crc32(Crc32(0, bytes.data(), kChecksummed),
                                        bytes.data() + kHeader, std::uint32_t(table));
        std::memcpy(&bytes[kChecksummed], &crc, 4);
    }
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    const auto set = openDatSetCache(path);
    if (!set) return;
    for (std::size_t n = 0; n < set->size() && n < 4096; ++n) {
        const DatEntry e = set->entry(n);
        static_cast<void>(datEntryDescription(e.info()));
        set->index().forEachMatch(e.store->crc(e.index), e.store->romSize(e.index),
                                  [&](std::uint32_t m) {
                                      if (m >= set->size()) std::abort();
                                  });
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    if (data[0] % 3 == 2) {
        cacheFile(data + 1, size - 1);
        return 0;
    }
    if (data[0] % 3 == 1) {
        // Any bytes as a cache block: every entry reads without leaving the block.
        if (const auto store = open(data + 1, size - 1)) {
            for (std::size_t i = 0; i < store->size() && i < 4096; ++i) {
                const DatEntryInfo info = store->info(i);
                if (datEntryDescription(info).size() < info.setDescription.size()) std::abort();
                static_cast<void>(store->crc(i) ^ store->romSize(i));
            }
        }
        return 0;
    }
    Copies copies;
    const DatResult result =
        readDatBytes(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1), copies);
    if (!result.ok || copies.roms.empty()) return 0;
    const std::vector<std::uint8_t> block = copies.builder.finish(result.format);
    const auto store = open(block.data(), block.size());
    if (!store || store->size() != copies.roms.size() || store->format() != result.format)
        std::abort();
    for (std::size_t i = 0; i < store->size(); ++i) {
        const auto& sent = copies.roms[i];
        const DatEntryInfo got = store->info(i);
        if (store->crc(i) != sent.crc || store->romSize(i) != sent.size || got.name != sent.name ||
            got.setName != sent.setName || got.setDescription != sent.setDescription ||
            got.listName != sent.listName || got.region != sent.region ||
            got.endianness != sent.endianness || got.loadFlag != sent.loadFlag ||
            got.badDump != sent.badDump ||
            (sent.dataWidth <= 255 && got.dataWidth != sent.dataWidth))
            std::abort();
    }
    return 0;
}
