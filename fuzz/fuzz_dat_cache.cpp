// The compiled cache's loader over any bytes, and the round trip of what a DAT's readers send:
// a block made from any DAT opens again and gives back every field as it was sent.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    if (data[0] & 1) {
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
