#include "core/databases/dat_loading.h"

#include <sys/stat.h>

#include <chrono>
#include <new>

#include "core/databases/dat_reader.h"

namespace chipsight {

std::optional<DatIdentity> datIdentityOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return datIdentityOf(st);
}

DatIdentity datIdentityOf(const struct stat& st) {
    return DatIdentity{std::uint64_t(st.st_size),        std::int64_t(st.st_mtim.tv_sec),
                       std::int64_t(st.st_mtim.tv_nsec), std::int64_t(st.st_ctim.tv_sec),
                       std::int64_t(st.st_ctim.tv_nsec), std::uint64_t(st.st_ino),
                       std::uint64_t(st.st_dev)};
}

LoadedDat loadDat(const std::string& path, const std::function<void(std::uint64_t)>& progress) {
    const auto start = std::chrono::steady_clock::now();
    LoadedDat loaded;
    loaded.path = path;
    if (const auto identity = datIdentityOf(path)) loaded.identity = *identity;
    try {
        DatStoreBuilder builder;
        const DatResult result = readDatFile(path, builder, progress);
        loaded.format = result.format;
        if (!result.ok) {
            loaded.failure = result.line > 0
                                 ? "line " + std::to_string(result.line) + ": " + result.reason
                                 : result.reason;
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
