#include "core/databases/dat/dat_loading.h"

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <new>

#include "core/checksum/crc32.h"
#include "core/databases/dat/dat_reader.h"
#include "core/sys/file_layer.h"

namespace chipsight {

std::optional<DatIdentity> datIdentityOf(const std::string& path) {
    struct stat st {};
    if (fileSystemCalls().stat(path.c_str(), &st) != 0) return std::nullopt;
    return datIdentityOf(st);
}

DatIdentity datIdentityOf(const struct stat& st) {
    return DatIdentity{std::uint64_t(st.st_size),        std::int64_t(st.st_mtim.tv_sec),
                       std::int64_t(st.st_mtim.tv_nsec), std::int64_t(st.st_ctim.tv_sec),
                       std::int64_t(st.st_ctim.tv_nsec), std::uint64_t(st.st_ino),
                       std::uint64_t(st.st_dev)};
}

std::int64_t timeNow() {
    struct timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return std::int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
}

bool mayHaveChangedUnseen(const DatIdentity& identity, std::int64_t readSince) {
    constexpr std::int64_t kStep = 2000000000;  // FAT's, the coarsest in use
    const std::int64_t modified =
        identity.modifiedSeconds * 1000000000 + identity.modifiedNanoseconds;
    const std::int64_t changed = identity.changedSeconds * 1000000000 + identity.changedNanoseconds;
    return std::max(modified, changed) >= readSince - kStep;
}

bool holdsTheSameBytes(const std::string& path, const LoadedDat& dat) {
    // A file that could not be read at all says nothing of its bytes.
    if (dat.contentBytes == 0 && dat.identity.size != 0) return false;
    auto file = File::open(path, File::Mode::ReadDatabase);
    if (!file || file->length() < dat.contentBytes) return false;
    constexpr std::size_t kPiece = 1 << 20;
    const std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kPiece]);
    if (!buffer) return false;
    std::uint32_t crc = 0;
    for (std::uint64_t left = dat.contentBytes; left > 0;) {
        const std::size_t got =
            file->read(buffer.get(), std::size_t(std::min<std::uint64_t>(left, kPiece)));
        if (got == 0) return false;
        crc = Crc32(crc, buffer.get(), std::uint32_t(got));
        left -= got;
    }
    return crc == dat.contentCrc;
}

LoadedDat loadDat(const std::string& path, const std::function<void(std::uint64_t)>& progress) {
    const auto start = std::chrono::steady_clock::now();
    LoadedDat loaded;
    loaded.path = path;
    loaded.readSince = timeNow();
    const std::optional<DatIdentity> identity = datIdentityOf(path);
    if (identity) loaded.identity = *identity;
    try {
        DatStoreBuilder builder;
        // Only a file written so shortly before it is read that its times cannot tell a later
        // change from this one is ever checked by its bytes (mayHaveChangedUnseen, with the
        // times kept now): only then are they checksummed as they are read.
        const bool unsure = !identity || mayHaveChangedUnseen(*identity, loaded.readSince);
        const DatResult result = readDatFile(path, builder, progress, unsure);
        loaded.format = result.format;
        loaded.contentBytes = result.fileBytes;
        loaded.contentCrc = result.fileCrc;
        if (!result.ok) {
            loaded.failure = datFailure(result);
        } else if (result.format != DatFormat::None) {
            // The store keeps the block as it was built, not a copy of it.
            const auto block =
                std::make_shared<const std::vector<std::uint8_t>>(builder.finish(result.format));
            loaded.store = DatStore::open(
                std::shared_ptr<const std::uint8_t[]>(block, block->data()), block->size());
        }
    } catch (const std::bad_alloc&) {
        // A DAT too large for this memory loads none of its entries, as a malformed one.
        loaded.store.reset();
        loaded.failure = kOutOfMemory;
    }
    loaded.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return loaded;
}

}  // namespace chipsight
