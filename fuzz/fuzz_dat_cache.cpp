// The compiled cache's loaders over any bytes, a store's block and the whole cache file, and the
// round trip of what a DAT's readers send: a block made from any DAT opens again and gives back
// every field as it was sent.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include <cstdio>

#include "core/crc32.h"
#include "core/databases/dat_set.h"
#include "core/databases/dat_store.h"

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

// Any bytes as a cache file, with the checksum of its header and table made right so that what
// lies behind it is reached: every entry and every lookup reads within the file.
void cacheFile(const std::uint8_t* data, std::size_t size) {
    static const std::string path = [] {
        char name[] = "/tmp/fuzz_dat_cache.XXXXXX";
        ::close(::mkstemp(name));
        return std::string(name);
    }();
    std::vector<std::uint8_t> bytes(data, data + size);
    std::uint64_t table = 0;
    if (bytes.size() >= 72 && (std::memcpy(&table, &bytes[40], 8), table <= bytes.size() - 72)) {
        const std::uint32_t crc =
            Crc32(Crc32(0, bytes.data(), 64), bytes.data() + 72, std::uint32_t(table));
        std::memcpy(&bytes[64], &crc, 4);
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
