// Loading a million chip records with their game table through loadDatabases, next to only
// reading the two files' bytes, a million custom records next to the chips, and a million chips
// of one pair next to a million of different pairs; and the memory the loaded table and its
// index take.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>

#include "bench/bench_support.h"
#include "core/sys/file_layer.h"

namespace {

constexpr std::int64_t kMillion = 1000000;

// A database of `chips` records and the most games the records can name; made once.
const std::string& database(std::int64_t chips) {
    static std::map<std::int64_t, std::unique_ptr<bench::TempDir>> made;
    auto& dir = made[chips];
    if (!dir) {
        dir = std::make_unique<bench::TempDir>();
        bench::writeDatabase(dir->path(), std::size_t(chips), bench::kMaxGames);
    }
    static std::map<std::int64_t, std::string> paths;
    return paths[chips] = dir->path();
}

// A database of nothing but `records` custom records; made once.
const std::string& customDatabase(std::int64_t records) {
    static std::map<std::int64_t, std::unique_ptr<bench::TempDir>> made;
    auto& dir = made[records];
    if (!dir) {
        dir = std::make_unique<bench::TempDir>();
        bench::writeCustomDatabase(dir->path(), std::size_t(records));
    }
    static std::map<std::int64_t, std::string> paths;
    return paths[records] = dir->path();
}

// A database of `chips` zero-filled records, all of one pair (what a table holds after some
// crashes), with the game table of database(chips); made once.
const std::string& oneKeyDatabase(std::int64_t chips) {
    static std::map<std::int64_t, std::unique_ptr<bench::TempDir>> made;
    auto& dir = made[chips];
    if (!dir) {
        dir = std::make_unique<bench::TempDir>();
        bench::writeFile(dir->file(chipsight::kRomTableFile),
                         std::vector<std::uint8_t>(std::size_t(chips) * 28, 0));
        std::filesystem::copy_file(database(chips) + "/" + chipsight::kGameTableFile,
                                   dir->file(chipsight::kGameTableFile));
        bench::settle();
    }
    static std::map<std::int64_t, std::string> paths;
    return paths[chips] = dir->path();
}

// Loads the database in `dir`, of state.range(0) entries.
void loadFrom(benchmark::State& state, const std::string& dir) {
    bench::useCacheOf("load");
    // The first load compiles the tables into the cache, and the figure is of the starts after
    // it: it comes before the timing, not into a short run's mean.
    bench::QuietCore(dir).core.loadDatabases();
    for (auto _ : state) {
        state.PauseTiming();
        auto quiet = std::make_unique<bench::QuietCore>(dir);
        state.ResumeTiming();
        quiet->core.loadDatabases();
        state.PauseTiming();
        if (quiet->core.entries().size() != std::size_t(state.range(0)) ||
            quiet->frontEnd.boxes != 0) {
            state.SkipWithError("the table did not load");
            break;
        }
        quiet.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Args: entries; chip records when `custom` is false, custom records when it is true.
void load(benchmark::State& state, bool custom) {
    loadFrom(state, custom ? customDatabase(state.range(0)) : database(state.range(0)));
}

// Args: entries, and 1 for chips that all carry one pair, 0 for the chips of database().
void loadKeys(benchmark::State& state) {
    loadFrom(state, state.range(1) ? oneKeyDatabase(state.range(0)) : database(state.range(0)));
}

// Reads the whole file at `path` into a buffer of its own with read(); returns its size.
std::size_t readAll(const std::string& path,
                    std::unique_ptr<std::uint8_t[], void (*)(void*)>& out) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    const off_t size = ::lseek(fd, 0, SEEK_END);
    ::lseek(fd, 0, SEEK_SET);
    out.reset(static_cast<std::uint8_t*>(std::malloc(std::size_t(size))));
    std::size_t done = 0;
    while (done < std::size_t(size)) {
        const ssize_t n = ::read(fd, out.get() + done, std::size_t(size) - done);
        if (n <= 0) break;
        done += std::size_t(n);
    }
    ::close(fd);
    return done;
}

// The peer: only the bytes of both files, into buffers that are new each time, as loading's are.
void readFiles(benchmark::State& state) {
    const std::string& dir = database(state.range(0));
    const std::string roms = dir + "/" + chipsight::kRomTableFile;
    const std::string games = dir + "/" + chipsight::kGameTableFile;
    const std::size_t expected = std::size_t(state.range(0)) * chipsight::RomTableRecord::kSize +
                                 bench::kMaxGames * chipsight::GameRecord::kSize;
    for (auto _ : state) {
        std::unique_ptr<std::uint8_t[], void (*)(void*)> a(nullptr, std::free),
            b(nullptr, std::free);
        const std::size_t got = readAll(roms, a) + readAll(games, b);
        benchmark::DoNotOptimize(a.get());
        benchmark::DoNotOptimize(b.get());
        if (got != expected) {
            state.SkipWithError("short read");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// What loading the table costs in resident memory: the most it adds while loading (file
// buffers included) and what stays with the table and its index, next to the entries' own
// bytes (108 each). Measured by chipsight_table_memory, a fresh process for each run.
void tableMemory(benchmark::State& state) {
    bench::useCacheOf("load");
    const std::string& dir = database(state.range(0));
    const auto tool =
        std::filesystem::path(chipsight::executablePath()).parent_path() / "chipsight_table_memory";
    double peak = 0, retained = 0;
    for (auto _ : state) {
        std::string command = "'";  // built piece by piece: GCC 12 misreads "'" + path at -O3
        command += tool.string();
        command += "' '";
        command += dir;
        command += "'";
        FILE* out = ::popen(command.c_str(), "r");
        unsigned long long entries = 0, peakBytes = 0, retainedBytes = 0;
        const bool read = out != nullptr && std::fscanf(out, "%llu %llu %llu", &entries, &peakBytes,
                                                        &retainedBytes) == 3;
        const int status = out != nullptr ? ::pclose(out) : -1;
        if (!read || status != 0 || entries != std::uint64_t(state.range(0))) {
            state.SkipWithError("chipsight_table_memory failed");
            break;
        }
        peak = double(peakBytes);
        retained = double(retainedBytes);
    }
    state.counters["peak_bytes"] = peak;
    state.counters["retained_bytes"] = retained;
    state.counters["entry_bytes"] = double(state.range(0)) * chipsight::RomEntry::kSize;
}

void loadDatabases(benchmark::State& state) { load(state, false); }
void loadCustom(benchmark::State& state) { load(state, true); }

BENCHMARK(loadDatabases)->Name("load/chiplore")->Arg(kMillion)->Unit(benchmark::kMillisecond);
BENCHMARK(loadCustom)->Name("load/custom")->Arg(kMillion)->Unit(benchmark::kMillisecond);
BENCHMARK(loadKeys)
    ->Name("load/keys")
    ->ArgNames({"entries", "same"})
    ->Args({kMillion, 0})
    ->Args({kMillion, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(readFiles)->Name("load/read-bytes")->Arg(kMillion)->Unit(benchmark::kMillisecond);
BENCHMARK(tableMemory)
    ->Name("table-memory")
    ->Arg(kMillion)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
