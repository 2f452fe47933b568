// The catalogue's cache file: a header, the table of the DATs it was compiled from, the
// catalogue's block, and a CRC-32 for every 4 KiB of the block.
//
//   header   magic "CSCATFIL", u32 version, u32 byte-order mark, u64 the time the DATs were
//            read from, u64 sources, u64 table bytes, u64 where the block starts, u64 its
//            length, u32 CRC-32 of the chunk sums, u32 CRC-32 of the header before it and of
//            the table
//   table    per source: its identity (size, last-write and change times, inode, device, as
//            seven u64), u64 bytes read, u32 path length, u32 their CRC-32, the path; each
//            padded to a multiple of 8
//   block    at a multiple of 64
//   sums     a u32 for every chunk of the block
//
// The header and the table are checked whole when the file is opened (a few kilobytes); the
// block, tens of megabytes for MAME's lists, a chunk at a time as it is read.
#include "core/board/catalogue_cache.h"

#include <cstring>
#include <memory>

#include "core/checksum/crc32.h"
#include "core/sys/file_layer.h"

namespace chipsight::board {

namespace {

constexpr char kMagic[8] = {'C', 'S', 'C', 'A', 'T', 'F', 'I', 'L'};
constexpr std::uint32_t kVersion = 1;
constexpr std::uint32_t kByteOrderMark = 0x01020304;
constexpr std::size_t kHeaderBytes = 64;
constexpr std::size_t kChecksummed = 60;

std::uint64_t alignUp(std::uint64_t n, std::uint64_t to) { return (n + to - 1) / to * to; }

std::uint32_t crcOf(const void* bytes, std::size_t length) {
    return Crc32(0, static_cast<const std::uint8_t*>(bytes), std::uint32_t(length));
}

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

struct Header {
    char magic[8];
    std::uint32_t version, byteOrderMark;
    std::int64_t readSince;
    std::uint64_t sources, tableBytes, blockAt, blockLength;
    std::uint32_t sumsCrc, headerCrc;
};
static_assert(sizeof(Header) == kHeaderBytes);

// What keeps a mapped catalogue's bytes: the mapping, for as long as the catalogue lives.
struct MappedFile {
    File::Mapping mapping;
};

}  // namespace

std::optional<Catalogue> openCatalogueCache(const std::string& file,
                                            const std::vector<CatalogueSource>& sources) {
    std::optional<File> opened = File::open(file, File::Mode::ReadDatabase);
    if (!opened || opened->length() < kHeaderBytes) return {};
    std::optional<File::Mapping> mapping = opened->map(std::size_t(opened->length()));
    if (!mapping) return {};
    auto kept = std::make_shared<MappedFile>(MappedFile{std::move(*mapping)});
    const std::uint8_t* bytes = kept->mapping.bytes();
    const std::size_t length = kept->mapping.length();
    Header h;
    std::memcpy(&h, bytes, sizeof h);
    if (std::memcmp(h.magic, kMagic, sizeof kMagic) != 0 || h.version != kVersion ||
        h.byteOrderMark != kByteOrderMark || h.sources != sources.size() ||
        h.tableBytes > length - kHeaderBytes ||
        Crc32(crcOf(bytes, kChecksummed), bytes + kHeaderBytes, std::uint32_t(h.tableBytes)) !=
            h.headerCrc)
        return {};
    // Every source must be the file it was, by its identity; one written within a step of the
    // read may differ with the same identity, and is known by its bytes.
    std::vector<CatalogueSource> stored = sources;
    std::uint64_t at = kHeaderBytes;
    for (CatalogueSource& s : stored) {
        std::uint64_t fields[9];
        if (h.tableBytes - (at - kHeaderBytes) < sizeof fields) return {};
        std::memcpy(fields, bytes + at, sizeof fields);
        s.contentBytes = fields[7];
        s.contentCrc = std::uint32_t(fields[8] >> 32);
        at += alignUp(sizeof fields + std::uint32_t(fields[8]), 8);
    }
    if (tableOf(stored) !=
        std::vector<std::uint8_t>(bytes + kHeaderBytes, bytes + kHeaderBytes + h.tableBytes))
        return {};
    for (const CatalogueSource& s : stored) {
        if (!mayHaveChangedUnseen(s.identity, h.readSince)) continue;
        LoadedDat read;
        read.identity = s.identity;
        read.contentBytes = s.contentBytes;
        read.contentCrc = s.contentCrc;
        if (!holdsTheSameBytes(s.path, read)) return {};
    }
    const std::uint64_t sumsAt = alignUp(h.blockAt + h.blockLength, 8);
    const std::uint64_t sumsBytes = ChunkChecks::chunksFor(h.blockLength) * 4;
    if (h.blockAt % 64 != 0 || h.blockAt > length || h.blockLength > length - h.blockAt ||
        sumsAt > length || sumsBytes != length - sumsAt ||
        crcOf(bytes + sumsAt, sumsBytes) != h.sumsCrc)
        return {};
    const std::uint8_t* block = bytes + h.blockAt;
    auto checks = std::make_shared<const ChunkChecks>(
        block, h.blockLength, reinterpret_cast<const std::uint32_t*>(bytes + sumsAt));
    return Catalogue::open(std::move(kept), block, h.blockLength, std::move(checks));
}

bool storeCatalogue(const std::string& file, const Catalogue& catalogue,
                    const std::vector<CatalogueSource>& sources, std::int64_t readSince) {
    for (const CatalogueSource& s : sources)
        if (datIdentityOf(s.path) != s.identity) return false;
    const std::span<const std::uint8_t> block = catalogue.block();
    const std::vector<std::uint8_t> table = tableOf(sources);
    Header h{};
    std::memcpy(h.magic, kMagic, sizeof kMagic);
    h.version = kVersion;
    h.byteOrderMark = kByteOrderMark;
    h.readSince = readSince;
    h.sources = sources.size();
    h.tableBytes = table.size();
    h.blockAt = alignUp(kHeaderBytes + table.size(), 64);
    h.blockLength = block.size();
    ChunkSums sums;
    sums.add(block.data(), block.size());
    const std::vector<std::uint32_t> chunkSums = sums.finish();
    h.sumsCrc = crcOf(chunkSums.data(), chunkSums.size() * 4);
    h.headerCrc = Crc32(crcOf(&h, kChecksummed), table.data(), std::uint32_t(table.size()));

    static const std::uint8_t zeros[64] = {};
    return replaceFileWith(file, [&](File& out) {
        out.write(&h, sizeof h);
        out.write(table.data(), table.size());
        out.write(zeros, h.blockAt - kHeaderBytes - table.size());
        out.write(block.data(), block.size());
        out.write(zeros, alignUp(block.size(), 8) - block.size());
        out.write(chunkSums.data(), chunkSums.size() * 4);
    });
}

}  // namespace chipsight::board
