// The dump doctor: identifyFile of a 1 MiB image that is not found, with the doctor on and off,
// against a synthetic table of a million chips (sizes from 256 bytes to 4 MiB, so some 65,000 of
// them share the image's size and go through the one-bit search); and the doctor's examination
// of a 1 MiB image against 10,000 entries of its size and against none.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>

#include "bench/bench_support.h"
#include "core/crc32.h"
#include "core/doctor/doctor.h"

namespace {

using chipsight::Outcome;

constexpr std::int64_t k1MiB = 1 << 20;

struct DoctorFiles {
    bench::TempDir dir, database;
    std::string image = dir.file("image.bin");
    std::unique_ptr<bench::QuietCore> core;
    DoctorFiles() {
        bench::writeFile(image, bench::randomBytes(std::size_t(k1MiB), 20));
        bench::writeDatabase(database.path(), 1000000, bench::kMaxGames);
        core = std::make_unique<bench::QuietCore>(database.path());
        core->core.loadDatabases();
    }
};

DoctorFiles& doctorFiles() {
    static DoctorFiles f;
    return f;
}

// Arg: the doctor off (0) or on (1).
void identifyWithDoctor(benchmark::State& state) {
    auto& f = doctorFiles();
    auto& core = f.core->core;
    core.setSplitLevel(1);
    core.setDoctor(state.range(0) != 0);
    if (core.identifyFile(f.image) != Outcome::NotFound || f.core->frontEnd.boxes != 0) {
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
    ->ArgNames({"doctor"})
    ->Arg(0)
    ->Arg(1)
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
