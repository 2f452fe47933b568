// Indexing the user's ROM collection: the first time against rhash over the same ROMs, and an
// unchanged collection again from the index in the cache.
#include <archive.h>
#include <archive_entry.h>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>

#include "bench/bench_support.h"
#include "core/repair/collection.h"

namespace {

using chipsight::repair::Collection;
using chipsight::repair::CollectionStats;

constexpr int kPlainFiles = 9000, kZips = 100, kMembers = 10;

// A ROM of 16 to 64 KiB: the bytes of a program, which deflate to about half, not noise.
std::vector<std::uint8_t> romBytes(std::mt19937_64& rng) {
    std::vector<std::uint8_t> bytes(16384 + rng() % (49152 + 1));
    for (auto& b : bytes) b = std::uint8_t(rng() & 0x0F);
    return bytes;
}

// plain/ holds the plain ROMs in 90 folders, zips/ the sets (deflated, as ROM managers write
// them), unpacked/ the sets' members as files: what rhash is given in place of the zips, so
// that both hash the same ROMs' bytes.
struct Fixture {
    bench::TempDir dir;
    std::string plain = dir.file("plain"), zips = dir.file("zips"), unpacked = dir.file("unpacked");
    std::chrono::steady_clock::time_point written;

    Fixture() {
        std::mt19937_64 rng(42);
        for (int i = 0; i < kPlainFiles; ++i) {
            const std::string folder = plain + "/" + std::to_string(i / 100);
            std::filesystem::create_directories(folder);
            bench::writeFile(folder + "/rom" + std::to_string(i) + ".bin", romBytes(rng));
        }
        std::filesystem::create_directories(zips);
        for (int z = 0; z < kZips; ++z) {
            const std::string name = "set" + std::to_string(z);
            std::filesystem::create_directories(unpacked + "/" + name);
            archive* a = archive_write_new();
            archive_write_set_format_zip(a);
            archive_write_set_format_option(a, "zip", "compression", "deflate");
            archive_write_open_filename(a, (zips + "/" + name + ".zip").c_str());
            for (int m = 0; m < kMembers; ++m) {
                const auto bytes = romBytes(rng);
                const std::string member = "chip" + std::to_string(m) + ".bin";
                bench::writeFile(unpacked + "/" + name + "/" + member, bytes);
                archive_entry* e = archive_entry_new();
                archive_entry_set_pathname(e, member.c_str());
                archive_entry_set_filetype(e, AE_IFREG);
                archive_entry_set_perm(e, 0644);
                archive_entry_set_size(e, la_int64_t(bytes.size()));
                archive_write_header(a, e);
                archive_write_data(a, bytes.data(), bytes.size());
                archive_entry_free(e);
            }
            archive_write_close(a);
            archive_write_free(a);
        }
        written = std::chrono::steady_clock::now();
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// The first time: no index in the cache, every file read (from the page cache, as rhash's are).
void indexFirst(benchmark::State& state) {
    Fixture& f = fixture();
    static bench::TempDir cache;
    const std::string file =
        chipsight::repair::collectionIndexFile(cache.path(), {f.plain, f.zips});
    CollectionStats stats;
    for (auto _ : state) {
        std::remove(file.c_str());
        const Collection c = Collection::index({f.plain, f.zips}, cache.path(), &stats);
        benchmark::DoNotOptimize(c.size());
    }
    if (stats.roms != kPlainFiles + kZips * kMembers || stats.fromCache != 0)
        state.SkipWithError("not every ROM was read");
}

// Arg 0: the zips' members unpacked as files, the same ROMs' bytes as ours hash (the honest
// peer); 1: the zip files themselves, hashed whole and not unpacked (for context).
void rhash(benchmark::State& state) {
    Fixture& f = fixture();
    const std::vector<std::string> command = {
        "/usr/bin/rhash", "--crc32", "--sha1", "-r", f.plain, state.range(0) ? f.zips : f.unpacked};
    for (auto _ : state)
        if (bench::runProgram(command) != 0) return state.SkipWithError("rhash failed");
}

// Again, unchanged: every file known by its identity from the index in the cache.
void indexAgain(benchmark::State& state) {
    Fixture& f = fixture();
    // A file written within two seconds of its reading is read again next time (the clock of a
    // file system steps that coarsely): the collection settles first, as a user's has.
    std::this_thread::sleep_until(f.written + std::chrono::milliseconds(2100));
    static bench::TempDir cache;
    Collection::index({f.plain, f.zips}, cache.path());
    CollectionStats stats;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const Collection c = Collection::index({f.plain, f.zips}, cache.path(), &stats);
        benchmark::DoNotOptimize(c.size());
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (stats.fromCache != stats.files || stats.roms != kPlainFiles + kZips * kMembers)
        return state.SkipWithError("files were read again");
    state.counters["again_s"] = took.count() / double(state.iterations());
    state.counters["limit_s"] = 0.05;
}

}  // namespace

BENCHMARK(indexFirst)->Name("collection/first")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(rhash)
    ->Name("collection/rhash")
    ->ArgName("zips")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(indexAgain)->Name("collection/again")->Unit(benchmark::kMillisecond)->UseRealTime();
