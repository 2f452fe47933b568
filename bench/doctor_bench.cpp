// The dump doctor: identifyFile of a 1 MiB image that is not found, with the doctor on and off,
// against MAME's ListXML and every software list (some 9,000 checksums of 1 MiB go through the
// one-bit search) and against a million synthetic chips, with the SHA-1 speed that the
// confirmations of the search's candidates are bound by; the doctor's examination of a 1 MiB
// image against 10,000 entries of its size and against none; and the one-bit search alone.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <memory>
#include <random>

#include "bench/bench_support.h"
#include "bench/real_dats.h"
#include "core/checksum/crc32.h"
#include "core/doctor/doctor.h"
#include "core/doctor/one_bit.h"

namespace {

using chipsight::Outcome;

constexpr std::int64_t k1MiB = 1 << 20;

// The image, and a core for each database: MAME's DATs (whose entries carry SHA-1, so the
// one-bit search's candidates are hashed) and a million synthetic chips (whose are not).
struct DoctorFiles {
    bench::TempDir dir, cache, synthetic;
    std::string image = dir.file("image.bin");
    std::vector<std::uint8_t> bytes = bench::randomBytes(std::size_t(k1MiB), 20);
    std::unique_ptr<bench::QuietCore> cores[2];
    std::string missing;
    DoctorFiles() {
        bench::writeFile(image, bytes);
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
    if (state.range(1) != 0) {
        // What the confirmations hashed, from the examination the doctor made in each iteration.
        chipsight::doctor::SameSizeIndex index;
        const auto findings = chipsight::doctor::examine(
            f.bytes, chipsight::Crc32(0, f.bytes.data(), std::uint32_t(k1MiB)), core.entries(),
            index);
        state.counters["hashed_bytes"] = double(findings.oneBitHashedBytes);
    }
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

namespace {

// OpenSSL's SHA-1 of 1 MiB, through the same calls as the doctor's confirmations.
void sha1Speed(benchmark::State& state) {
    const std::vector<std::uint8_t> bytes = bench::randomBytes(std::size_t(k1MiB), 22);
    for (auto _ : state) benchmark::DoNotOptimize(chipsight::doctor::sha1(bytes));
    state.SetBytesProcessed(state.iterations() * k1MiB);
}

BENCHMARK(sha1Speed)->Name("doctor/sha1")->UseRealTime()->Unit(benchmark::kMillisecond);

// The one-bit search alone, of a 1 MiB image against `entries` random checksums of its size.
void oneBitSearch(benchmark::State& state) {
    std::mt19937 rng(8);
    std::vector<std::uint32_t> crcs(std::size_t(state.range(0)));
    for (auto& c : crcs) c = std::uint32_t(rng());
    std::vector<chipsight::doctor::OneBitHit> hits;
    for (auto _ : state) {
        hits.clear();
        chipsight::doctor::findOneBitAway(0x12345678u, std::uint32_t(k1MiB), crcs, hits);
        benchmark::DoNotOptimize(hits.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(oneBitSearch)
    ->Name("doctor/one-bit")
    ->ArgNames({"entries"})
    ->Arg(10000)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
