// The dump doctor: identifyFile of a 1 MiB image that is not found, with the doctor on and off,
// against MAME's ListXML and every software list (some 9,000 checksums of 1 MiB go through the
// one-bit search) and against a million synthetic chips; and the doctor's examination of a 1 MiB
// image against 10,000 entries of its size and against none.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <memory>
#include <random>

#include "bench/bench_support.h"
#include "bench/real_dats.h"
#include "core/checksum/crc32.h"
#include "core/doctor/doctor.h"

namespace {

using chipsight::Outcome;

constexpr std::int64_t k1MiB = 1 << 20;

// The image, and a core for each database: MAME's DATs (whose entries carry SHA-1, so the
// one-bit search's candidates are hashed) and a million synthetic chips (whose are not).
struct DoctorFiles {
    bench::TempDir dir, cache, synthetic;
    std::string image = dir.file("image.bin");
    std::unique_ptr<bench::QuietCore> cores[2];
    std::string missing;
    DoctorFiles() {
        bench::writeFile(image, bench::randomBytes(std::size_t(k1MiB), 20));
        bench::writeDatabase(synthetic.path(), 1000000, bench::kMaxGames);
        cores[0] = std::make_unique<bench::QuietCore>(synthetic.path());
        cores[0]->core.loadDatabases();
        missing = bench::realDats().missing;
        if (!missing.empty()) return;
        ::setenv("XDG_CACHE_HOME", cache.path().c_str(), 1);
        cores[1] = std::make_unique<bench::QuietCore>(bench::databaseDir(true));
        cores[1]->core.loadDatabases();
    }
};

DoctorFiles& doctorFiles() {
    static DoctorFiles f;
    return f;
}

// Args: the database (0 synthetic, 1 MAME's) and the doctor off (0) or on (1).
void identifyWithDoctor(benchmark::State& state) {
    auto& f = doctorFiles();
    const bool mame = state.range(0) != 0;
    if (mame && !f.missing.empty()) return state.SkipWithError(f.missing.c_str());
    bench::QuietCore& quiet = *f.cores[mame];
    auto& core = quiet.core;
    core.setSplitLevel(1);
    core.setDoctor(state.range(1) != 0);
    if (core.identifyFile(f.image) != Outcome::NotFound || quiet.frontEnd.boxes != 0) {
        state.SkipWithError("identification failed");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(core.identifyFile(f.image));
        core.clearLog();
    }
    core.setDoctor(false);
    state.SetBytesProcessed(state.iterations() * k1MiB);
}

BENCHMARK(identifyWithDoctor)
    ->Name("doctor/identify")
    ->ArgNames({"mame", "doctor"})
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// The examination alone, against a table of `entries` random entries of the image's size (with
// no SHA-1, so the search's candidates are weighed by their chance, not hashed). Arg: entries.
void examineOneBit(benchmark::State& state) {
    const std::vector<std::uint8_t> image = bench::randomBytes(std::size_t(k1MiB), 21);
    const std::uint32_t crc = chipsight::Crc32(0, image.data(), std::uint32_t(k1MiB));
    chipsight::EntryTable table;
    std::mt19937 rng(7);
    for (std::int64_t i = 0; i < state.range(0); ++i) {
        chipsight::RomEntry e;
        e.crc = std::uint32_t(rng());
        e.size = std::uint32_t(k1MiB);
        table.push_back(e);
    }
    chipsight::doctor::SameSizeIndex index;
    for (auto _ : state)
        benchmark::DoNotOptimize(chipsight::doctor::examine(image, crc, table, index));
    state.SetBytesProcessed(state.iterations() * k1MiB);
}

BENCHMARK(examineOneBit)
    ->Name("doctor/examine")
    ->ArgNames({"entries"})
    ->Arg(0)
    ->Arg(10000)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
