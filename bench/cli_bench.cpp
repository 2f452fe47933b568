// chipsight-cli over ten thousand files of 64 KiB, next to `rhash --crc32` over the same
// files and to itself on one thread: all started as processes with the same file list, their
// output sent to /dev/null.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <memory>

#include "bench/bench_support.h"
#include "core/file_layer.h"

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

// Runs `arguments` (the program first) with stdout and stderr on /dev/null; its exit status,
// or -1 when it could not be started or did not exit.
int run(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = 0;
    const int failed = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) return -1;
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

void timeRuns(benchmark::State& state, std::vector<std::string> arguments, int expected) {
    const auto& paths = files();
    arguments.insert(arguments.end(), paths.begin(), paths.end());
    for (auto _ : state) {
        if (run(arguments) != expected) {
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
BENCHMARK(rhash)->Name("cli/rhash")->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
