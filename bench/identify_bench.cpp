// identifyFile through the real core, on a real file in a temporary directory (read from the
// page cache after the first run): every split level against only the whole image, and a
// table of a million entries against an empty one.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>

#include "bench/bench_support.h"

namespace {

using chipsight::Outcome;

constexpr std::int64_t k64KiB = 64 << 10;
constexpr std::int64_t k64MiB = 64 << 20;
constexpr std::int64_t kMillion = 1000000;

// The images, one file per size, and the database directories, one per table size; made once.
struct Files {
    bench::TempDir dir;
    std::map<std::int64_t, std::string> images;
    std::map<std::int64_t, std::unique_ptr<bench::TempDir>> databases;

    const std::string& image(std::int64_t size) {
        auto& path = images[size];
        if (path.empty()) {
            path = dir.file("image-" + std::to_string(size) + ".bin");
            bench::writeFile(path, bench::randomBytes(std::size_t(size), std::uint64_t(size)));
        }
        return path;
    }
    std::string database(std::int64_t entries) {
        auto& db = databases[entries];
        if (!db) {
            db = std::make_unique<bench::TempDir>();
            if (entries > 0)
                bench::writeDatabase(db->path(), std::size_t(entries), bench::kMaxGames);
        }
        return db->path();
    }
};

Files& files() {
    static Files f;
    return f;
}

// A core with the table of `entries` entries loaded, kept for the whole run.
bench::QuietCore& loadedCore(std::int64_t entries) {
    static std::map<std::int64_t, std::unique_ptr<bench::QuietCore>> cores;
    auto& core = cores[entries];
    if (!core) {
        core = std::make_unique<bench::QuietCore>(files().database(entries));
        core->core.loadDatabases();
    }
    return *core;
}

// Args: image size, split level, table entries.
void identify(benchmark::State& state) {
    const std::string& path = files().image(state.range(0));
    auto& quiet = loadedCore(state.range(2));
    if (quiet.core.m_entries.size() != std::size_t(state.range(2))) {
        state.SkipWithError("the table did not load");
        return;
    }
    quiet.core.m_splitLevel = int(state.range(1));
    if (quiet.core.identifyFile(path) != Outcome::NotFound || quiet.frontEnd.boxes != 0) {
        state.SkipWithError("identification failed");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(quiet.core.identifyFile(path));
        quiet.core.clearLog();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

BENCHMARK(identify)
    ->Name("identify")
    ->ArgNames({"bytes", "level", "entries"})
    ->Args({k64MiB, 1, 0})
    ->Args({k64MiB, 9, 0})
    ->Args({k64MiB, 9, kMillion})
    ->Args({k64KiB, 1, 0})
    ->Args({k64KiB, 9, 0})
    ->Args({k64KiB, 9, kMillion})
    ->Unit(benchmark::kMillisecond);

}  // namespace
