// identifyFile through the real core, on a real file in a temporary directory (read from the
// page cache after the first run): every split level against only the whole image, a table of
// a million entries against an empty one, and a large image against the limit of mapping the
// file and running the CRC-32 over it. Also identification in a fresh process, against a
// million entries and none.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>

#include "bench/bench_support.h"
#include "core/checksum/crc32.h"
#include "core/sys/file_layer.h"

namespace {

using chipsight::Outcome;

constexpr std::int64_t k64KiB = 64 << 10;
constexpr std::int64_t k64MiB = 64 << 20;
constexpr std::int64_t k256MiB = std::int64_t(256) << 20;
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
    if (quiet.core.entries().size() != std::size_t(state.range(2))) {
        state.SkipWithError("the table did not load");
        return;
    }
    quiet.core.setSplitLevel(int(state.range(1)));
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
    ->Args({k256MiB, 1, 0})
    ->Unit(benchmark::kMillisecond);

// The limit for reading an image from the page cache: the file mapped, the CRC-32 run over the
// mapping, the mapping dropped, nothing else. (Populating the mapping up front, or advising it
// sequential or on huge pages, measured no faster here.)
void mapAndCrc(benchmark::State& state) {
    const std::string& path = files().image(state.range(0));
    const auto size = std::size_t(state.range(0));
    std::uint32_t crc = 0;
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        void* p = fd < 0 ? MAP_FAILED : ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (p == MAP_FAILED) {
            state.SkipWithError("cannot map the image");
            break;
        }
        crc = chipsight::Crc32(0, static_cast<const std::uint8_t*>(p), std::uint32_t(size));
        benchmark::DoNotOptimize(crc);
        ::munmap(p, size);
        ::close(fd);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

BENCHMARK(mapAndCrc)->Name("map-crc")->Arg(k256MiB)->Unit(benchmark::kMillisecond);

// Identification of a thousand images of 64 KiB at split level 9, each run in a process of its
// own that loads a database of `entries` chips first (not timed): nothing the loading left in
// the caches is any help to the lookups beyond what a real start leaves. Arg: entries.
constexpr int kFreshFiles = 1000;

const std::vector<std::string>& freshImages() {
    static std::vector<std::string> paths;
    if (paths.empty()) {
        for (int i = 0; i < kFreshFiles; ++i) {
            paths.push_back(files().dir.file("fresh" + std::to_string(i) + ".bin"));
            bench::writeFile(paths.back(), bench::randomBytes(std::size_t(k64KiB), 1000 + i));
        }
    }
    return paths;
}

void identifyFresh(benchmark::State& state) {
    bench::useCacheOf("identify-fresh");
    const auto tool = std::filesystem::path(chipsight::executablePath()).parent_path() /
                      "chipsight_identify_files";
    std::string command = "'";  // built piece by piece: GCC 12 misreads "'" + path at -O3
    command += tool.string();
    command += "' '";
    command += files().database(state.range(0));
    command += "' 9";
    for (const auto& path : freshImages()) {
        command += " '";
        command += path;
        command += "'";
    }
    for (auto _ : state) {
        FILE* out = ::popen(command.c_str(), "r");
        double seconds = 0;
        unsigned long long identified = 0;
        const bool read =
            out != nullptr && std::fscanf(out, "%llu %lf", &identified, &seconds) == 2;
        const int status = out != nullptr ? ::pclose(out) : -1;
        if (!read || status != 0 || identified != kFreshFiles) {
            state.SkipWithError("chipsight_identify_files failed");
            break;
        }
        state.SetIterationTime(seconds);
    }
    state.SetItemsProcessed(state.iterations() * kFreshFiles);
}

BENCHMARK(identifyFresh)
    ->Name("identify-fresh")
    ->ArgName("entries")
    ->Arg(0)
    ->Arg(kMillion)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
