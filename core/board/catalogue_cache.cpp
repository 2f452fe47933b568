// The catalogue's cache file: a compiled file (see checked_file.h) whose head is the time the
// DATs were read from (u64), the length of the catalogue's block (u64, which the file pads) and
// the table of the DATs, and whose block is the catalogue's.
//
//   table    per source: its identity (size, last-write and change times, inode, device, as
//            seven u64), u64 bytes read, u32 path length, u32 their CRC-32, the path; each
//            padded to a multiple of 8
//
// The head is checked whole when the file is opened (a few kilobytes); the block, tens of
// megabytes for MAME's lists, a chunk at a time as it is read.
#include "core/board/catalogue_cache.h"

#include <cstring>
#include <memory>

#include "core/checksum/checked_file.h"
#include "core/sys/file_layer.h"

namespace chipsight::board {

namespace {

constexpr char kMagic[8] = {'C', 'S', 'C', 'A', 'T', 'F', 'I', 'L'};
constexpr std::uint32_t kVersion = 3;

std::uint64_t alignUp(std::uint64_t n, std::uint64_t to) { return (n + to - 1) / to * to; }

// The table of `sources`, as the file holds it.
std::vector<std::uint8_t> tableOf(const std::vector<CatalogueSource>& sources) {
    std::vector<std::uint8_t> table;
    for (const CatalogueSource& s : sources) {
        const DatIdentity& id = s.identity;
        const std::uint64_t fields[] = {id.size,
                                        std::uint64_t(id.modifiedSeconds),
                                        std::uint64_t(id.modifiedNanoseconds),
                                        std::uint64_t(id.changedSeconds),
                                        std::uint64_t(id.changedNanoseconds),
                                        id.inode,
                                        id.device,
                                        s.contentBytes,
                                        std::uint64_t(s.contentCrc) << 32 | s.path.size()};
        const auto* f = reinterpret_cast<const std::uint8_t*>(fields);
        table.insert(table.end(), f, f + sizeof fields);
        table.insert(table.end(), s.path.begin(), s.path.end());
        table.resize(alignUp(table.size(), 8));
    }
    return table;
}

}  // namespace

std::optional<Catalogue> openCatalogueCache(const std::string& file,
                                            const std::vector<CatalogueSource>& sources) {
    std::optional<CheckedFile> compiled = openCheckedFile(file, kMagic, kVersion);
    if (!compiled || compiled->head.size() < 16) return {};
    std::int64_t readSince;
    std::uint64_t blockLength;
    std::memcpy(&readSince, compiled->head.data(), 8);
    std::memcpy(&blockLength, compiled->head.data() + 8, 8);
    if (blockLength > compiled->block.size()) return {};
    const std::span<const std::uint8_t> table = compiled->head.subspan(16);
    // Every source must be the file it was, by its identity; one written within a step of the
    // read may differ with the same identity, and is known by its bytes.
    std::vector<CatalogueSource> stored = sources;
    std::uint64_t at = 0;
    for (CatalogueSource& s : stored) {
        std::uint64_t fields[9];
        if (table.size() - at < sizeof fields) return {};
        std::memcpy(fields, table.data() + at, sizeof fields);
        s.contentBytes = fields[7];
        s.contentCrc = std::uint32_t(fields[8] >> 32);
        at += alignUp(sizeof fields + std::uint32_t(fields[8]), 8);
        if (at > table.size()) return {};
    }
    if (tableOf(stored) != std::vector<std::uint8_t>(table.begin(), table.end())) return {};
    for (const CatalogueSource& s : stored) {
        if (!mayHaveChangedUnseen(s.identity, readSince)) continue;
        LoadedDat read;
        read.identity = s.identity;
        read.contentBytes = s.contentBytes;
        read.contentCrc = s.contentCrc;
        if (!holdsTheSameBytes(s.path, read)) return {};
    }
    return Catalogue::open(compiled->mapping, compiled->block.data(), std::size_t(blockLength),
                           compiled->checks);
}

bool storeCatalogue(const std::string& file, const Catalogue& catalogue,
                    const std::vector<CatalogueSource>& sources, std::int64_t readSince) {
    for (const CatalogueSource& s : sources)
        if (datIdentityOf(s.path) != s.identity) return false;
    const std::uint64_t blockLength = catalogue.block().size();
    std::vector<std::uint8_t> head(16);
    std::memcpy(head.data(), &readSince, 8);
    std::memcpy(head.data() + 8, &blockLength, 8);
    const std::vector<std::uint8_t> table = tableOf(sources);
    head.insert(head.end(), table.begin(), table.end());
    return storeCheckedFile(file, kMagic, kVersion, head, {catalogue.block()});
}

}  // namespace chipsight::board
