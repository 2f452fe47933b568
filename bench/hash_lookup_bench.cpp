// A typed SHA-1 looked up among 1,000,000 DAT entries that each carry one, as --manual-hash does
// once in a run: no index serves it, so it is a pass over the SHA-1s of the stores mapped from
// the compiled cache, whose chunks are checked as the pass first reads them. Against the 20 ms a
// one-off lookup may take.
#include <benchmark/benchmark.h>

#include <chrono>
#include <random>

#include "bench/bench_support.h"
#include "core/databases/dat/dat_set.h"
#include "core/databases/entry_table.h"
#include "core/identify/identify.h"
#include "core/sys/number_reading.h"

namespace {

constexpr std::size_t kEntries = 1000000;

// The cache file of one DAT of kEntries entries of random checksums, SHA-1s and MD5s, and the
// SHA-1 of its last entry; made once, on first use.
struct HashCache {
    bench::TempDir dir;
    std::string file;
    std::array<std::uint8_t, 20> last{};
    bool made = false;
};

const HashCache& hashCache() {
    static HashCache c;
    static const bool made = [] {
        chipsight::DatStoreBuilder builder;
        chipsight::DatRom rom;
        rom.setName = "set";
        rom.setDescription = "A set";
        rom.name = "rom";
        std::mt19937_64 rng(11);
        std::string sha1, md5;
        for (std::size_t i = 0; i < kEntries; ++i) {
            rom.crc = std::uint32_t(rng());
            rom.size = 256u << (rng() % 15);
            std::array<std::uint8_t, 20> bytes;
            for (std::uint8_t& b : bytes) b = std::uint8_t(rng());
            sha1 = chipsight::lowerHex(bytes);
            md5 = sha1.substr(0, 32);
            rom.sha1 = sha1;
            rom.md5 = md5;
            builder.rom(rom);
            c.last = bytes;
        }
        const auto block = std::make_shared<const std::vector<std::uint8_t>>(
            builder.finish(chipsight::DatFormat::Logiqx));
        chipsight::LoadedDat dat;
        dat.path = c.dir.file("big.xml");
        dat.format = chipsight::DatFormat::Logiqx;
        dat.store = chipsight::DatStore::open({block, block->data()}, block->size());
        c.file = c.dir.file("big.dats");
        return chipsight::storeDatSet(c.file, *chipsight::makeDatSet({dat}));
    }();
    c.made = made;
    return c;
}

// Each iteration maps the cache afresh (not timed) and looks the SHA-1 up once (timed).
void hashLookup(benchmark::State& state) {
    const HashCache& c = hashCache();
    if (!c.made) return state.SkipWithError("the cache could not be written");
    double seconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const auto set = chipsight::openDatSetCache(c.file);
        if (!set) return state.SkipWithError("the cache could not be read");
        chipsight::EntryTable table;
        table.appendDats(set);
        state.ResumeTiming();
        const auto start = std::chrono::steady_clock::now();
        const chipsight::Identification found =
            chipsight::identifyHash(table, set->files(), chipsight::TypedHash(c.last), "typed");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (found.parts.size() != 1) return state.SkipWithError("the entry was not found");
    }
    state.counters["lookup_s"] = seconds / double(state.iterations());
    state.counters["limit_s"] = 0.020;
}

}  // namespace

BENCHMARK(hashLookup)->Name("hash-lookup/sha1")->Unit(benchmark::kMillisecond)->UseRealTime();
