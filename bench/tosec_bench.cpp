// The large database: MAME's ListXML, every software list and a TOSEC-shaped corpus of a million
// ROMs in 3,764 DATs (bench/tosec_corpus.py, written once into the build directory), then with
// a million chips and a million custom records beside them. Its first compile next to
// `xmllint --stream --noout` over the same files, with the compile's peak memory; a start from
// its cache and 1,000 files of 64 KiB identified by a fresh process, each set against the same
// with the sample database (dat-start, dat-identify); and the floor of such a start: finding the
// DATs, taking the status of each and reading the database files. Without mame and mame-data
// installed, or without python3 for the corpus, the figures are skipped.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "bench/bench_support.h"
#include "bench/cli_timing.h"
#include "bench/real_dats.h"
#include "core/sys/file_layer.h"

namespace {

namespace fs = std::filesystem;

fs::path binDir() { return fs::path(chipsight::executablePath()).parent_path(); }

// The corpus's DATs, after MAME's: every file the large database reads, or the reason it cannot.
struct Sources {
    std::vector<std::string> paths;
    std::string corpus;  // its directory
    std::uint64_t bytes = 0;
    std::string missing;
};

const Sources& sources() {
    static const Sources made = [] {
        Sources s;
        const bench::RealDats& dats = bench::realDats();
        if (!dats.missing.empty()) {
            s.missing = dats.missing;
            return s;
        }
        // Kept in the build directory: writing it takes longer than most figures.
        s.corpus = (binDir().parent_path() / "tosec-corpus").string();
        bench::TempDir log;
        const std::string script = CHIPSIGHT_BENCH_SOURCE_DIR "/tosec_corpus.py";
        if (bench::runProgram(
                {"/bin/sh", "-c", "exec python3 \"$0\" \"$1\" 2>&1", script, s.corpus},
                log.file("log")) != 0) {
            std::ifstream in(log.file("log"));
            std::string line, last = "python3 could not be started";
            while (std::getline(in, line)) last = line;
            s.missing = "bench/tosec_corpus.py failed: " + last;
            return s;
        }
        std::vector<std::string> corpus;
        for (const auto& entry : fs::directory_iterator(s.corpus))
            if (entry.path().extension() == ".dat") corpus.push_back(entry.path().string());
        std::sort(corpus.begin(), corpus.end());
        s.paths = dats.paths;
        s.paths.insert(s.paths.end(), corpus.begin(), corpus.end());
        for (const auto& path : s.paths) s.bytes += fs::file_size(path);
        // A DAT written within a time step of a load is looked at byte by byte at the next
        // start (see mayHaveChangedUnseen); the figures are of DATs written before that. The
        // stamp is the corpus's last file.
        struct stat stamp {};
        if (::stat((s.corpus + "/tosec-corpus.stamp").c_str(), &stamp) == 0) {
            const auto written = std::chrono::system_clock::time_point(
                std::chrono::seconds(stamp.st_ctim.tv_sec) +
                std::chrono::nanoseconds(stamp.st_ctim.tv_nsec));
            std::this_thread::sleep_until(written + std::chrono::milliseconds(2100));
        }
        return s;
    }();
    return made;
}

// A database directory with every DAT of sources() in its dats directory, and with the sample
// database (`large` false) or a million chips and a million custom records; made once.
std::string databaseDir(bool large) {
    static bench::TempDir dirs[2];
    const fs::path dir = dirs[large].path();
    if (fs::exists(dir / "dats")) return dir.string();
    if (large) {
        bench::writeDatabase(dir.string(), 1000000, bench::kMaxGames);
        bench::writeCustomDatabase(dir.string(), 1000000);
    } else {
        for (const char* name : {chipsight::kRomTableFile, chipsight::kGameTableFile})
            fs::copy_file(binDir() / name, dir / name);
    }
    fs::create_directory(dir / "dats");
    fs::create_symlink(bench::realDats().paths.front(), dir / "dats/mame.xml");
    fs::create_symlink(bench::kSoftwareLists, dir / "dats/hash");
    fs::create_symlink(sources().corpus, dir / "dats/tosec");
    return dir.string();
}

std::vector<std::string> cli(bool large, const std::vector<std::string>& arguments) {
    std::vector<std::string> command = {(binDir() / "chipsight-cli").string(), "--db-dir",
                                        databaseDir(large)};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return command;
}

const std::vector<std::string> kManual = {"--manual", "12345678", "1024"};

// chipsight-cli on the sample database and every DAT, each time with an empty cache: the
// first compile, with the most memory it took (a starter of a millisecond is nothing to a
// compile of seconds, so every run gives its peak).
void compile(benchmark::State& state) {
    const Sources& s = sources();
    if (!s.missing.empty()) return state.SkipWithError(s.missing.c_str());
    bench::TempDir caches;
    const std::string cache = caches.file("cache");
    ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    const auto command = cli(false, kManual);
    std::size_t peak = 0;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove_all(cache);
        state.ResumeTiming();
        std::size_t runPeak = 0;
        // Nothing asked for is found: exit status 1.
        if (bench::runProgram(command, "/dev/null", &runPeak) != 1)
            return state.SkipWithError("chipsight-cli failed");
        peak = std::max(peak, runPeak);
    }
    // A compile that could not write its cache would have been spared the writing.
    std::uintmax_t written = 0;
    for (const auto& entry : fs::recursive_directory_iterator(cache))
        if (entry.is_regular_file()) written += entry.file_size();
    if (written == 0) return state.SkipWithError("the compile wrote no cache");
    state.SetBytesProcessed(std::int64_t(state.iterations() * s.bytes));
    state.counters["cache_bytes"] = double(written);
    state.counters["peak_bytes"] = double(peak);
    state.counters["limit_bytes"] = 512e6;
}

void xmllint(benchmark::State& state) {
    const Sources& s = sources();
    if (!s.missing.empty()) return state.SkipWithError(s.missing.c_str());
    std::vector<std::string> arguments = {bench::kXmllint, "--stream", "--noout"};
    arguments.insert(arguments.end(), s.paths.begin(), s.paths.end());
    for (auto _ : state)
        if (bench::runProgram(arguments) != 0) return state.SkipWithError("xmllint failed");
    state.SetBytesProcessed(std::int64_t(state.iterations() * s.bytes));
}

// chipsight-cli on the large database with `arguments`, from the cache it made once before
// timing; and once after, for the most memory a run takes, next to `limit` bytes.
void timeLarge(benchmark::State& state, const std::vector<std::string>& arguments, double limit) {
    const Sources& s = sources();
    if (!s.missing.empty()) return state.SkipWithError(s.missing.c_str());
    static bench::TempDir cache;
    ::setenv("XDG_CACHE_HOME", cache.path().c_str(), 1);
    bench::timeCachedRuns(state, cli(true, arguments), limit);
}

void startUp(benchmark::State& state) { timeLarge(state, kManual, 128e6); }

void identifyFiles(benchmark::State& state) {
    std::vector<std::string> arguments = {"--"};
    const auto& files = bench::thousandImages();
    arguments.insert(arguments.end(), files.begin(), files.end());
    timeLarge(state, arguments, 0);
}

// The sample database alone, no DAT beside it; made once.
std::string sampleDir() {
    static bench::TempDir dir;
    const fs::path path = dir.path();
    if (!fs::exists(path / chipsight::kRomTableFile))
        for (const char* name : {chipsight::kRomTableFile, chipsight::kGameTableFile})
            fs::copy_file(binDir() / name, path / name);
    return path.string();
}

// The least the 1,000 files with all of that loaded can take, however a program overlaps its
// start with reading them: the floor of the large start and the sample database's run of the
// same files, as two processes side by side.
void identifyBeside(benchmark::State& state) {
    const Sources& s = sources();
    if (!s.missing.empty()) return state.SkipWithError(s.missing.c_str());
    const std::vector<std::string> floor = {(binDir() / "chipsight_start_floor").string(),
                                            databaseDir(true)};
    std::vector<std::string> sample = {(binDir() / "chipsight-cli").string(), "--db-dir",
                                       sampleDir(), "--"};
    const auto& files = bench::thousandImages();
    sample.insert(sample.end(), files.begin(), files.end());
    static bench::TempDir cache;
    ::setenv("XDG_CACHE_HOME", cache.path().c_str(), 1);
    // Nothing is found: exit status 1. The first run compiles the sample's chips.
    if (bench::runProgram(sample) != 1) return state.SkipWithError("chipsight-cli failed");
    for (auto _ : state) {
        const pid_t first = bench::startProgram(floor), second = bench::startProgram(sample);
        const int floorStatus = bench::waitProgram(first),
                  sampleStatus = bench::waitProgram(second);
        if (floorStatus != 0 || sampleStatus != 1)
            return state.SkipWithError("chipsight_start_floor or chipsight-cli failed");
    }
}

// chipsight_start_floor on the large database (Arg 1), checked to have found every DAT, or on
// the sample database alone (Arg 0): what the DATs and tables add to a start is the difference.
void startFloor(benchmark::State& state) {
    const Sources& s = sources();
    if (!s.missing.empty()) return state.SkipWithError(s.missing.c_str());
    const bool large = state.range(0) != 0;
    const std::vector<std::string> command = {(binDir() / "chipsight_start_floor").string(),
                                              large ? databaseDir(true) : sampleDir()};
    bench::TempDir out;
    for (auto _ : state) {
        unsigned long long dats = 0, bytes = 0;
        FILE* report = nullptr;
        if (bench::runProgram(command, out.file("report")) != 0 ||
            !(report = std::fopen(out.file("report").c_str(), "r")) ||
            std::fscanf(report, "dats %llu bytes %llu", &dats, &bytes) != 2 ||
            dats != (large ? s.paths.size() : 0)) {
            if (report) std::fclose(report);
            return state.SkipWithError("chipsight_start_floor did not find every DAT");
        }
        std::fclose(report);
        state.counters["table_bytes"] = double(bytes);
    }
    state.counters["dats"] = double(large ? s.paths.size() : 0);
}

BENCHMARK(compile)->Name("tosec-compile/chipsight")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(xmllint)->Name("tosec-compile/xmllint")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(startUp)->Name("tosec-start/chipsight")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(startFloor)
    ->Name("tosec-start/floor")
    ->ArgName("large")
    ->Arg(1)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(identifyFiles)
    ->Name("tosec-identify/chipsight")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(identifyBeside)
    ->Name("tosec-identify/beside")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
