// Reading the table files, and the compiled runs of their records.
#include "core/databases/table_files.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

#include "core/checksum/crc32.h"
#include "core/databases/dat/dat_loading.h"
#include "core/sys/file_layer.h"
#include "core/sys/large_pages.h"

namespace chipsight {

namespace {

std::uint32_t crcOf(const std::uint8_t* bytes, std::uint64_t length) {
    std::uint32_t crc = 0;
    for (std::uint64_t done = 0; done < length;) {
        const std::uint32_t piece = std::uint32_t(std::min<std::uint64_t>(length - done, 1u << 30));
        crc = Crc32(crc, bytes + done, piece);
        done += piece;
    }
    return crc;
}

template <typename T>
std::span<const std::uint8_t> bytesOf(const T& t) {
    return {reinterpret_cast<const std::uint8_t*>(&t), sizeof t};
}

// A block on huge pages when large: a table of a million records would otherwise have the
// kernel fault in and clear tens of thousands of small pages.
std::shared_ptr<std::uint8_t[]> largeBlock(std::size_t bytes) {
    return std::shared_ptr<std::uint8_t[]>(
        static_cast<std::uint8_t*>(allocateLargePages(std::max<std::size_t>(bytes, 1))),
        [](std::uint8_t* p) { freeLargePages(p); });
}

// What a compiled run of a table file is made for: the file (its device and inode) as it was,
// its first `bytes`, the checksums of their first and last chunk, and when it was read.
struct TableStamp {
    std::uint64_t device, inode, length, bytes;
    std::int64_t modifiedSeconds, modifiedNanoseconds, changedSeconds, changedNanoseconds;
    std::int64_t readSince;
    std::uint32_t firstCrc, lastCrc;
};
constexpr std::uint64_t kEndChunk = 4096;

// The checksums of the first and the last chunk of the first `bytes` of `file`; none when
// they cannot be read.
std::optional<std::pair<std::uint32_t, std::uint32_t>> endCrcs(File& file, std::uint64_t bytes) {
    const std::uint64_t take = std::min(bytes, kEndChunk);
    std::uint8_t chunk[kEndChunk];
    std::uint32_t crcs[2];
    for (int end = 0; end < 2; ++end) {
        file.seek(end == 0 ? 0 : bytes - take);
        if (file.read(chunk, take) != take) return std::nullopt;
        crcs[end] = crcOf(chunk, take);
    }
    return std::pair(crcs[0], crcs[1]);
}

// The table file at `path`, opened to be read; `opened` says whether it exists, which a file
// that a writer holds for too long does.
std::optional<File> openTable(const std::string& path, bool& opened) {
    OpenFailure failure = OpenFailure::Unavailable;
    std::optional<File> file = File::open(path, File::Mode::ReadDatabase, &failure);
    opened = file || failure == OpenFailure::Busy;
    return file;
}

}  // namespace

WholeFile readWholeFile(const std::string& path, std::size_t recordSize) {
    WholeFile result;
    std::optional<File> file = openTable(path, result.opened);
    if (!file) return result;
    // Trailing bytes short of a record are never read, so they can never make a read fail.
    const std::uint64_t wanted = file->length() / recordSize * recordSize;
    if (wanted > physicalMemory()) return result;
    try {
        result.bytes = largeBlock(wanted);
    } catch (const std::bad_alloc&) {
        return result;
    }
    result.size = file->read(result.bytes.get(), wanted);
    result.complete = result.size == wanted;
    return result;
}

TableRecords readTableRecords(const std::string& path, const std::string& cacheFile,
                              RecordShape shape, bool grows) {
    const std::size_t kRecord = shape.stride;
    TableRecords out;
    std::optional<File> file = openTable(path, out.opened);
    if (!file) return out;
    const std::uint64_t whole = file->length() / kRecord * kRecord;
    if (whole > physicalMemory()) return out;
    const std::int64_t readSince = timeNow();
    // The status by the path, taken for the open file only.
    std::optional<DatIdentity> identity = datIdentityOf(path);
    if (identity && (identity->device != file->device() || identity->inode != file->inode()))
        identity.reset();

    const auto trust = [&](std::span<const std::uint8_t> stored, std::size_t count) {
        TableStamp s;
        if (stored.size() != sizeof s) return false;
        std::memcpy(&s, stored.data(), sizeof s);
        if (s.device != file->device() || s.inode != file->inode() || s.bytes == 0 ||
            s.bytes != count * kRecord || s.bytes > whole)
            return false;
        if (s.bytes == whole) {
            // The same length: the very file it was, by its times, unless they cannot tell.
            const DatIdentity then{s.length,         s.modifiedSeconds,    s.modifiedNanoseconds,
                                   s.changedSeconds, s.changedNanoseconds, s.inode,
                                   s.device};
            return identity == then && !mayHaveChangedUnseen(then, s.readSince);
        }
        // Grown: the same start, unless so much was appended that compiling it all pays.
        if (!grows || (whole - s.bytes) * 8 > s.bytes) return false;
        return endCrcs(*file, s.bytes) == std::pair(s.firstCrc, s.lastCrc);
    };
    // Should the compiled copy prove damaged, the file's start is read again.
    const auto reread = [path,
                         kRecord](std::size_t count) -> std::shared_ptr<const std::uint8_t[]> {
        WholeFile again = readWholeFile(path, kRecord);
        if (again.size < count * kRecord) return nullptr;
        return again.bytes;
    };
    out.run = IndexedRun::open(cacheFile, shape, trust, reread);

    const std::uint64_t from = out.run ? out.run->size() * kRecord : 0;
    try {
        out.rest = largeBlock(whole - from);
    } catch (const std::bad_alloc&) {
        return out;
    }
    file->seek(from);
    const std::size_t got = file->read(out.rest.get(), whole - from);
    out.complete = got == whole - from;
    out.restCount = got / kRecord;
    if (out.run || !out.complete || out.restCount == 0) return out;

    // All of it read: compiled for the next start.
    std::shared_ptr<const IndexedRun> run;
    try {
        run = IndexedRun::make(out.rest, out.restCount, shape);
    } catch (const std::bad_alloc&) {
        return out;
    }
    if (identity && identity->size == file->length()) {
        const std::uint64_t take = std::min(whole, kEndChunk);
        const TableStamp stamp{identity->device,
                               identity->inode,
                               identity->size,
                               whole,
                               identity->modifiedSeconds,
                               identity->modifiedNanoseconds,
                               identity->changedSeconds,
                               identity->changedNanoseconds,
                               readSince,
                               crcOf(out.rest.get(), take),
                               crcOf(out.rest.get() + whole - take, take)};
        run->store(cacheFile, bytesOf(stamp));
    }
    out.run = std::move(run);
    out.rest.reset();
    out.restCount = 0;
    return out;
}

}  // namespace chipsight
