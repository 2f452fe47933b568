// The first load of real DATs: MAME's ListXML (made by `mame -listxml` once per run) and every
// software list mame-data installs, read by our readers, next to `xmllint --stream --noout`
// over the same files; and the peak memory of that load, in a process of its own. Without
// mame and mame-data installed the figures are skipped. Also the index over a million DAT
// entries of one pair next to one over a million pairs.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <thread>

#include "bench/bench_support.h"
#include "bench/cli_timing.h"
#include "bench/real_dats.h"
#include "core/databases/dat/dat_internal.h"
#include "core/databases/dat/dat_reader.h"
#include "core/databases/dat/dat_set.h"
#include "core/sys/file_layer.h"

extern char** environ;

namespace {

constexpr const char* kMame = "/usr/games/mame";

}  // namespace

namespace bench {

const RealDats& realDats() {
    static bench::TempDir dir;
    static const RealDats dats = [] {
        RealDats found;
        if (::access(kMame, X_OK) != 0 || !std::filesystem::is_directory(kSoftwareLists) ||
            ::access(kXmllint, X_OK) != 0) {
            found.missing = "needs the Debian packages mame, mame-data and libxml2-utils";
            return found;
        }
        const std::string listXml = dir.file("mame.xml");
        if (bench::runProgram({kMame, "-listxml"}, listXml) != 0) {
            found.missing = "mame -listxml failed";
            return found;
        }
        // A DAT written within a time step of a load is looked at byte by byte at the next
        // start (see mayHaveChangedUnseen); the figures are of DATs written before that.
        std::this_thread::sleep_for(std::chrono::milliseconds(2100));
        found.paths.push_back(listXml);
        std::vector<std::string> lists;
        for (const auto& entry : std::filesystem::directory_iterator(kSoftwareLists))
            if (entry.path().extension() == ".xml") lists.push_back(entry.path().string());
        std::sort(lists.begin(), lists.end());
        found.paths.insert(found.paths.end(), lists.begin(), lists.end());
        for (const auto& path : found.paths) found.bytes += std::filesystem::file_size(path);
        return found;
    }();
    return dats;
}

std::string databaseDir(bool withDats) {
    static bench::TempDir dirs[2];
    const std::filesystem::path dir = dirs[withDats].path();
    const auto bin = std::filesystem::path(chipsight::executablePath()).parent_path();
    for (const char* name : {"CHIPLORE.ROM", "CHIPLORE.GAM"})
        std::filesystem::copy_file(bin / name, dir / name,
                                   std::filesystem::copy_options::skip_existing);
    if (withDats && !std::filesystem::exists(dir / "dats")) {
        std::filesystem::create_directory(dir / "dats");
        std::filesystem::create_symlink(realDats().paths.front(), dir / "dats/mame.xml");
        std::filesystem::create_symlink(kSoftwareLists, dir / "dats/hash");
    }
    return dir.string();
}

const std::vector<std::string>& thousandImages() {
    static bench::TempDir dir;
    static std::vector<std::string> files;
    for (std::uint64_t i = files.size(); i < 1000; ++i) {
        files.push_back(dir.file("chip" + std::to_string(i) + ".bin"));
        bench::writeFile(files.back(), bench::randomBytes(64 << 10, i));
    }
    return files;
}

}  // namespace bench

namespace {

using bench::databaseDir;
using bench::kSoftwareLists;
using bench::kXmllint;
using bench::RealDats;
using bench::realDats;

struct CountingSink : chipsight::DatSink {
    void rom(const chipsight::DatRom&) override { ++entries; }
    std::uint64_t entries = 0;
};

// The ListXML alone through each engine of the XML reader: what our scanner buys over expat.
void listXml(benchmark::State& state, chipsight::dat::XmlEngine engine) {
    const RealDats& dats = realDats();
    if (!dats.missing.empty()) return state.SkipWithError(dats.missing.c_str());
    const std::string& path = dats.paths.front();
    std::uint64_t entries = 0;
    for (auto _ : state) {
        CountingSink sink;
        if (!chipsight::dat::readDatFileWith(path, sink, {}, engine).ok)
            return state.SkipWithError(("cannot read " + path).c_str());
        entries = sink.entries;
    }
    state.SetBytesProcessed(std::int64_t(state.iterations() * std::filesystem::file_size(path)));
    state.counters["entries"] = double(entries);
}

void ours(benchmark::State& state) {
    const RealDats& dats = realDats();
    if (!dats.missing.empty()) return state.SkipWithError(dats.missing.c_str());
    std::uint64_t entries = 0;
    for (auto _ : state) {
        CountingSink sink;
        for (const auto& path : dats.paths) {
            if (!chipsight::readDatFile(path, sink).ok) {
                state.SkipWithError(("cannot read " + path).c_str());
                return;
            }
        }
        entries = sink.entries;
    }
    state.SetBytesProcessed(std::int64_t(state.iterations() * dats.bytes));
    state.counters["entries"] = double(entries);
}

void xmllint(benchmark::State& state) {
    const RealDats& dats = realDats();
    if (!dats.missing.empty()) return state.SkipWithError(dats.missing.c_str());
    std::vector<std::string> arguments = {kXmllint, "--stream", "--noout"};
    arguments.insert(arguments.end(), dats.paths.begin(), dats.paths.end());
    for (auto _ : state) {
        if (bench::runProgram(arguments) != 0) {
            state.SkipWithError("xmllint failed");
            return;
        }
    }
    state.SetBytesProcessed(std::int64_t(state.iterations() * dats.bytes));
}

// The most resident memory the same load takes, measured by chipsight_dat_read in a process
// of its own, next to the limit it must stay within.
void memory(benchmark::State& state) {
    const RealDats& dats = realDats();
    if (!dats.missing.empty()) return state.SkipWithError(dats.missing.c_str());
    const auto tool =
        std::filesystem::path(chipsight::executablePath()).parent_path() / "chipsight_dat_read";
    std::vector<std::string> arguments = {tool.string()};
    arguments.insert(arguments.end(), dats.paths.begin(), dats.paths.end());
    bench::TempDir out;
    double peak = 0;
    for (auto _ : state) {
        if (bench::runProgram(arguments, out.file("report")) != 0) {
            state.SkipWithError("chipsight_dat_read failed");
            return;
        }
        FILE* report = std::fopen(out.file("report").c_str(), "r");
        unsigned long long peakBytes = 0;
        char line[256];
        while (report && std::fgets(line, sizeof line, report))
            if (std::sscanf(line, "entries %*u bytes %*u seconds %*f peak_bytes %llu",
                            &peakBytes) == 1)
                peak = double(peakBytes);
        if (report) std::fclose(report);
    }
    state.counters["peak_bytes"] = peak;
    state.counters["limit_bytes"] = 256e6;
}

// Runs chipsight-cli on the database directory (Arg: 1 with the DATs, 0 with the sample
// database only), once before timing so that the DATs' cache is made, with `arguments` after
// it; and once after, for the most memory a run takes.
void timeCli(benchmark::State& state, const std::vector<std::string>& arguments) {
    const RealDats& dats = realDats();
    if (!dats.missing.empty()) return state.SkipWithError(dats.missing.c_str());
    static bench::TempDir cache;
    ::setenv("XDG_CACHE_HOME", cache.path().c_str(), 1);
    const auto cli =
        std::filesystem::path(chipsight::executablePath()).parent_path() / "chipsight-cli";
    std::vector<std::string> command = {cli.string(), "--db-dir", databaseDir(state.range(0))};
    command.insert(command.end(), arguments.begin(), arguments.end());
    bench::timeCachedRuns(state, command, 64e6);
}

// Args: entries, and 1 for entries that all carry one pair (as the PROMs that thousands of sets
// share do), 0 for entries of different pairs. Times making the index over them.
void datIndex(benchmark::State& state) {
    static std::map<std::pair<std::int64_t, bool>, chipsight::LoadedDat> made;
    chipsight::LoadedDat& dat = made[{state.range(0), state.range(1) != 0}];
    if (!dat.store) {
        chipsight::DatStoreBuilder builder;
        chipsight::DatRom rom;
        rom.setName = "set";
        rom.setDescription = "A set";
        rom.name = "rom";
        std::mt19937 rng(7);
        for (std::int64_t i = 0; i < state.range(0); ++i) {
            rom.crc = state.range(1) ? 0x1B4C2A35 : std::uint32_t(rng());
            rom.size = state.range(1) ? 512 : 256u << (rng() % 15);
            builder.rom(rom);
        }
        const auto block = std::make_shared<const std::vector<std::uint8_t>>(
            builder.finish(chipsight::DatFormat::ListXml));
        dat.format = chipsight::DatFormat::ListXml;
        dat.store = chipsight::DatStore::open({block, block->data()}, block->size());
    }
    for (auto _ : state) {
        const auto set = chipsight::makeDatSet({dat});
        if (set->size() != std::size_t(state.range(0)))
            return state.SkipWithError("the index did not take every entry");
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void startUp(benchmark::State& state) { timeCli(state, {"--manual", "12345678", "1024"}); }

void identifyFiles(benchmark::State& state) {
    const std::vector<std::string>& files = bench::thousandImages();
    std::vector<std::string> arguments = {"--"};
    arguments.insert(arguments.end(), files.begin(), files.end());
    timeCli(state, arguments);
}

// A ListXML of 10,000 machines, and the same with a comment of 256 MB after its first machine:
// reading the comment should cost little more than reading its bytes.
constexpr std::size_t kCommentBytes = 256 << 20;

struct CommentDats {
    std::string plain, commented;
};

const CommentDats& commentDats() {
    static bench::TempDir dir;
    static const CommentDats dats = [] {
        CommentDats made{dir.file("plain.xml"), dir.file("commented.xml")};
        std::string head = "<?xml version=\"1.0\"?>\n<mame>\n", rest;
        for (int i = 0; i < 10000; ++i) {
            const std::string n = std::to_string(i);
            std::string& out = i == 0 ? head : rest;
            out += "<machine name=\"m" + n + "\"><description>Machine " + n + "</description>\n";
            for (int r = 0; r < 3; ++r) {
                char crc[9];
                std::snprintf(crc, sizeof crc, "%08x", unsigned(i * 3 + r));
                out += "<rom name=\"m" + n + "." + std::to_string(r) + "\" size=\"1024\" crc=\"" +
                       crc + "\"/>\n";
            }
            out += "</machine>\n";
        }
        rest += "</mame>\n";
        std::ofstream(made.plain) << head << rest;
        // Lines of text, as a licence or a changelog would be written.
        std::string line = "This comment says nothing a DAT reader needs, at great length. ";
        line.back() = '\n';
        std::string block;
        while (block.size() + line.size() <= (1 << 20)) block += line;
        std::ofstream out(made.commented);
        out << head << "<!--";
        for (std::size_t done = 0; done < kCommentBytes; done += block.size())
            out.write(block.data(), std::streamsize(std::min(block.size(), kCommentBytes - done)));
        out << "-->\n" << rest;
        return made;
    }();
    return dats;
}

void readDat(benchmark::State& state, const std::string& path) {
    CountingSink sink;
    if (!chipsight::readDatFile(path, sink).ok || sink.entries != 30000)
        state.SkipWithError(("cannot read " + path).c_str());
}

void commentedDat(benchmark::State& state) {
    const CommentDats& dats = commentDats();
    for (auto _ : state) readDat(state, dats.commented);
    state.SetBytesProcessed(
        std::int64_t(state.iterations() * std::filesystem::file_size(dats.commented)));
}

// The DAT without the comment, and then as many bytes as the comment read from a file.
void plainDatAndRead(benchmark::State& state) {
    const CommentDats& dats = commentDats();
    std::unique_ptr<char[]> buffer(new char[1 << 20]);
    for (auto _ : state) {
        readDat(state, dats.plain);
        const int fd = ::open(dats.commented.c_str(), O_RDONLY);
        std::size_t total = 0;
        for (ssize_t got; total < kCommentBytes && (got = ::read(fd, buffer.get(), 1 << 20)) > 0;)
            total += std::size_t(got);
        ::close(fd);
        if (total < kCommentBytes) state.SkipWithError("cannot read the commented DAT");
    }
}

BENCHMARK(commentedDat)
    ->Name("dat-comment/commented")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(plainDatAndRead)
    ->Name("dat-comment/plain+read")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK_CAPTURE(listXml, scanner, chipsight::dat::XmlEngine::Scanner)
    ->Name("dat-xml/scanner")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(listXml, expat, chipsight::dat::XmlEngine::ExpatOnly)
    ->Name("dat-xml/expat")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(ours)->Name("dat-load/chipsight")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(xmllint)->Name("dat-load/xmllint")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(memory)
    ->Name("dat-load/memory")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

BENCHMARK(datIndex)
    ->Name("dat-index")
    ->ArgNames({"entries", "same"})
    ->Args({1000000, 0})
    ->Args({1000000, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(startUp)
    ->Name("dat-start")
    ->ArgName("dats")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(identifyFiles)
    ->Name("dat-identify")
    ->ArgName("dats")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
