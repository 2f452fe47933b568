// A board's figures against MAME's ListXML and every software list: chipsight-cli --board over
// 64 dumps next to plain chipsight-cli over the same files, and the ranking alone.
#include <benchmark/benchmark.h>

#include <chrono>

#include "bench/bench_support.h"
#include "bench/forge.h"
#include "bench/real_dats.h"
#include "core/board/board.h"
#include "core/board/catalogue_loading.h"
#include "core/repair/zip_writer.h"
#include "core/sys/file_layer.h"

namespace {

constexpr std::size_t kDumps = 64;

// 64 dumps forged to the checksums of the first machine with that many plain ROMs of at most
// 64 KiB (no BIOS choice, no nodump), as files, and as the ranking takes them.
struct Board {
    bench::TempDir dir;
    std::vector<chipsight::board::Dump> dumps;
    chipsight::board::Catalogue catalogue;
    std::string missing;
};

// Made once, on first use.
const Board& board() {
    static Board b;
    static const bool made = [] {
        const bench::RealDats& dats = bench::realDats();
        if (!dats.missing.empty()) return b.missing = dats.missing, false;
        std::vector<chipsight::board::CatalogueFile> files;
        b.catalogue = chipsight::board::loadCatalogue(dats.paths, files);
        using namespace chipsight::board;
        for (SetId s = 0; s < b.catalogue.setCount() && b.dumps.empty(); ++s) {
            const CatalogueSet set = b.catalogue.set(s);
            if (set.kind != SetKind::Machine || set.isBios || set.isDevice) continue;
            std::vector<CatalogueRom> roms;
            for (const CatalogueRom& rom : b.catalogue.roms(s))
                if (rom.status == RomStatus::Good && rom.biosChoice == 0 && rom.size >= 4 &&
                    rom.size <= (64u << 10))
                    roms.push_back(rom);
            if (roms.size() < kDumps) continue;
            for (std::size_t i = 0; i < kDumps; ++i) {
                // Appended piece by piece: GCC 12 at -O3 misreads "u" + text as overlapping.
                std::string name = "u";
                name.append(std::to_string(i)).append(".bin");
                bench::writeFile(b.dir.file(name),
                                 bench::bytesWithCrc(roms[i].crc, roms[i].size, 1 + i));
                b.dumps.push_back({name, roms[i].crc, roms[i].size, std::nullopt});
            }
        }
        if (b.dumps.empty()) b.missing = "no machine has 64 plain ROMs";
        return true;
    }();
    static_cast<void>(made);
    return b;
}

// Arg 0: chipsight-cli on the 64 files; 1: the same files as one board, with its catalogue
// from the cache (compiled by the first, untimed run).
void boardCli(benchmark::State& state) {
    const Board& b = board();
    if (!b.missing.empty()) return state.SkipWithError(b.missing.c_str());
    static bench::TempDir cache;
    ::setenv("XDG_CACHE_HOME", cache.path().c_str(), 1);
    const auto cli =
        std::filesystem::path(chipsight::executablePath()).parent_path() / "chipsight-cli";
    std::vector<std::string> command = {cli.string(), "--db-dir", bench::databaseDir(true)};
    if (state.range(0)) {
        command.insert(command.end(), {"--board", b.dir.path()});
    } else {
        command.push_back("--");
        for (const auto& dump : b.dumps) command.push_back(b.dir.file(dump.name));
    }
    // Every dump is found.
    if (bench::runProgram(command) != 0) return state.SkipWithError("chipsight-cli failed");
    for (auto _ : state)
        if (bench::runProgram(command) != 0) return state.SkipWithError("chipsight-cli failed");
}

// judgeBoard alone, the catalogue in memory: against the 5 ms it may take.
void ranking(benchmark::State& state) {
    const Board& b = board();
    if (!b.missing.empty()) return state.SkipWithError(b.missing.c_str());
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        const auto answer = chipsight::board::judgeBoard(b.catalogue, b.dumps);
        if (answer.candidates.empty()) return state.SkipWithError("no set ranked");
        benchmark::DoNotOptimize(answer);
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    state.counters["ranking_s"] = took.count() / double(state.iterations());
    state.counters["limit_s"] = 0.005;
}

// The 64 dumps read from their files and written as one zip, as --write-set writes a set
// (synced before it is renamed into place); against zip -0 of the same files.
void writeSet(benchmark::State& state) {
    const Board& b = board();
    if (!b.missing.empty()) return state.SkipWithError(b.missing.c_str());
    static bench::TempDir out;
    const std::string zip = out.file("set.zip");
    for (auto _ : state) {
        std::vector<std::vector<std::uint8_t>> bytes;
        std::vector<chipsight::repair::ZipMember> members;
        for (const auto& dump : b.dumps) {
            auto file = chipsight::File::open(b.dir.file(dump.name), chipsight::File::Mode::Read);
            if (!file) return state.SkipWithError("cannot read a dump");
            bytes.emplace_back(file->length());
            file->read(bytes.back().data(), bytes.back().size());
        }
        for (std::size_t i = 0; i < bytes.size(); ++i)
            members.push_back({b.dumps[i].name, bytes[i]});
        if (!chipsight::repair::writeZip(zip, members, true).empty())
            return state.SkipWithError("cannot write the zip");
    }
}

void zipStored(benchmark::State& state) {
    const Board& b = board();
    if (!b.missing.empty()) return state.SkipWithError(b.missing.c_str());
    static bench::TempDir out;
    std::vector<std::string> command = {"/usr/bin/zip", "-q", "-0",
                                        "-j",           "-X", out.file("set.zip")};
    for (const auto& dump : b.dumps) command.push_back(b.dir.file(dump.name));
    for (auto _ : state) {
        std::filesystem::remove(out.file("set.zip"));
        if (bench::runProgram(command) != 0) return state.SkipWithError("zip failed");
    }
}

}  // namespace

BENCHMARK(writeSet)->Name("write-set/chipsight")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(zipStored)->Name("write-set/zip-0")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(boardCli)
    ->Name("board/cli")
    ->ArgName("board")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(ranking)->Name("board/ranking")->Unit(benchmark::kMillisecond)->UseRealTime();
