// chipsight-cli over ten thousand files of 64 KiB, next to `rhash --crc32` over the same
// files and to itself on one thread: all started as processes with the same file list, their
// output sent to /dev/null. The same files inside one archive, zip or tar.gz, show what
// unpacking costs on top.
#include <archive.h>
#include <archive_entry.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>

#include "bench/bench_support.h"
#include "core/sys/file_layer.h"

extern char** environ;

namespace {

constexpr std::int64_t kFiles = 10000;
constexpr std::size_t kFileSize = 64 << 10;

// The files, different in content, written once and read from the page cache after that.
const std::vector<std::string>& files() {
    static bench::TempDir dir;
    static std::vector<std::string> paths;
    if (paths.empty()) {
        for (std::int64_t i = 0; i < kFiles; ++i) {
            paths.push_back(dir.file("chip" + std::to_string(i) + ".bin"));
            bench::writeFile(paths.back(), bench::randomBytes(kFileSize, std::uint64_t(i)));
        }
    }
    return paths;
}

// A database directory with `entries` chip records (none: no database files at all).
std::string database(std::int64_t entries) {
    static std::map<std::int64_t, std::unique_ptr<bench::TempDir>> made;
    auto& dir = made[entries];
    if (!dir) {
        dir = std::make_unique<bench::TempDir>();
        if (entries > 0) bench::writeDatabase(dir->path(), std::size_t(entries), bench::kMaxGames);
    }
    return dir->path();
}

void timeRuns(benchmark::State& state, std::vector<std::string> arguments, int expected) {
    bench::useCacheOf("cli");
    const auto& paths = files();
    arguments.insert(arguments.end(), paths.begin(), paths.end());
    for (auto _ : state) {
        if (bench::runProgram(arguments) != expected) {
            state.SkipWithError((arguments[0] + " failed").c_str());
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}

// Arg: entries in the database. Nothing in it matches, so the exit status is 1 (not found).
void chipsightCli(benchmark::State& state) {
    const auto cli =
        std::filesystem::path(chipsight::executablePath()).parent_path() / "chipsight-cli";
    timeRuns(state, {cli.string(), "--db-dir", database(state.range(0)), "--"}, 1);
}

// The same on one thread: the figure the parallel reading is measured against.
void chipsightCliOneJob(benchmark::State& state) {
    const auto cli =
        std::filesystem::path(chipsight::executablePath()).parent_path() / "chipsight-cli";
    timeRuns(state, {cli.string(), "--jobs", "1", "--db-dir", database(state.range(0)), "--"}, 1);
}

// The files in one archive of `kind` ("zip", stored, or "tar.gz"), written once.
std::string archiveOf(const std::string& kind) {
    static bench::TempDir dir;
    static std::map<std::string, std::string> made;
    std::string& path = made[kind];
    if (!path.empty()) return path;
    path = dir.file("chips." + kind);
    archive* a = archive_write_new();
    if (kind == "zip") {
        archive_write_set_format_zip(a);
        archive_write_set_options(a, "zip:compression=store");
    } else {
        archive_write_set_format_pax_restricted(a);
        archive_write_add_filter_gzip(a);
    }
    archive_write_open_filename(a, path.c_str());
    for (std::int64_t i = 0; i < kFiles; ++i) {
        const std::vector<std::uint8_t> bytes = bench::randomBytes(kFileSize, std::uint64_t(i));
        archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, ("chip" + std::to_string(i) + ".bin").c_str());
        archive_entry_set_filetype(e, AE_IFREG);
        archive_entry_set_perm(e, 0644);
        archive_entry_set_size(e, la_int64_t(bytes.size()));
        archive_write_header(a, e);
        archive_write_data(a, bytes.data(), bytes.size());
        archive_entry_free(e);
    }
    archive_write_free(a);
    return path;
}

// Arg: 0 for a zip of stored members, 1 for a tar.gz; a database of a million entries.
void chipsightCliArchive(benchmark::State& state) {
    const auto cli =
        std::filesystem::path(chipsight::executablePath()).parent_path() / "chipsight-cli";
    const std::vector<std::string> arguments = {cli.string(), "--db-dir", database(1000000),
                                                archiveOf(state.range(0) ? "tar.gz" : "zip")};
    bench::useCacheOf("cli");
    for (auto _ : state) {
        if (bench::runProgram(arguments) != 1) {
            state.SkipWithError("chipsight-cli failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kFiles);
}

void rhash(benchmark::State& state) { timeRuns(state, {"/usr/bin/rhash", "--crc32", "--"}, 0); }

BENCHMARK(chipsightCli)
    ->Name("cli/chipsight-cli")
    ->ArgName("entries")
    ->Arg(0)
    ->Arg(1000000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(chipsightCliOneJob)
    ->Name("cli/chipsight-cli-1job")
    ->ArgName("entries")
    ->Arg(1000000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(chipsightCliArchive)
    ->Name("cli/chipsight-cli-archive")
    ->ArgName("targz")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(rhash)->Name("cli/rhash")->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
