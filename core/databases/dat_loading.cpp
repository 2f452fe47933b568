#include "core/databases/dat_loading.h"

#include <chrono>
#include <cstring>

#include "core/databases/dat_cache.h"
#include "core/databases/dat_reader.h"

namespace chipsight {
namespace {

std::shared_ptr<const DatStore> storeOf(const std::vector<std::uint8_t>& block) {
    std::shared_ptr<std::uint8_t[]> bytes(new std::uint8_t[block.size()]);
    std::memcpy(bytes.get(), block.data(), block.size());
    return DatStore::open(std::move(bytes), block.size());
}

}  // namespace

LoadedDat loadDat(const std::string& path, const std::string& cacheDir,
                  const std::function<void(std::uint64_t)>& progress) {
    const auto start = std::chrono::steady_clock::now();
    LoadedDat loaded;
    loaded.path = path;
    const auto finish = [&]() -> LoadedDat {
        loaded.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return std::move(loaded);
    };
    const std::optional<DatIdentity> before = datIdentityOf(path);
    if (before) loaded.size = before->size;
    if (before && !cacheDir.empty()) {
        if ((loaded.store = loadCachedStore(cacheDir, *before))) {
            loaded.format = loaded.store->format();
            loaded.fromCache = true;
            return finish();
        }
    }
    DatStoreBuilder builder;
    const DatResult result = readDatFile(path, builder, progress);
    loaded.format = result.format;
    if (!result.ok) {
        loaded.failure = result.line > 0
                             ? "line " + std::to_string(result.line) + ": " + result.reason
                             : result.reason;
        return finish();
    }
    if (result.format == DatFormat::None) return finish();
    const std::vector<std::uint8_t> block = builder.finish(result.format);
    loaded.store = storeOf(block);
    // A file that changed while it was read is not kept: the cache would name it as it is now.
    if (before && !cacheDir.empty() && datIdentityOf(path) == before)
        storeInCache(cacheDir, *before, block);
    return finish();
}

}  // namespace chipsight
