// chipsight_dat_read [--expat] PATH...: reads every DAT given (a directory: every file in it)
// as loading does, and prints how many files of each format there were, the entries they
// give, the seconds that took, the peak resident memory, and a digest of every field of every
// entry, so two ways of reading can be compared. --expat reads XML with expat alone.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "core/databases/dat/dat_internal.h"

namespace {

class CountingSink : public chipsight::DatSink {
  public:
    void rom(const chipsight::DatRom& r) override {
        ++entries;
        for (std::string_view s : {r.name, r.setName, r.setDescription, r.listName, r.sha1,
                                   r.region, r.endianness, r.loadFlag})
            mix(s), mix("\x1f");
        const std::uint64_t numbers[] = {r.crc,       r.size,      r.offset,
                                         r.hasOffset, r.dataWidth, r.badDump};
        mix({reinterpret_cast<const char*>(numbers), sizeof numbers});
    }
    std::uint64_t entries = 0, digest = 14695981039346656037ull;

  private:
    void mix(std::string_view s) {
        for (char c : s) digest = (digest ^ std::uint8_t(c)) * 1099511628211ull;
    }
};

}  // namespace

int main(int argc, char** argv) {
    using namespace chipsight;
    auto engine = dat::XmlEngine::Scanner;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--expat") {
            engine = dat::XmlEngine::ExpatOnly;
        } else if (std::filesystem::is_directory(arg)) {
            std::vector<std::string> inside;
            for (const auto& e : std::filesystem::directory_iterator(arg))
                if (e.is_regular_file()) inside.push_back(e.path().string());
            std::sort(inside.begin(), inside.end());
            paths.insert(paths.end(), inside.begin(), inside.end());
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.empty() || !bench::resetPeak()) return 2;
    const std::size_t before = bench::residentBytes();
    CountingSink sink;
    std::uint64_t perFormat[5] = {}, bytes = 0, failed = 0;
    const auto start = std::chrono::steady_clock::now();
    for (const auto& path : paths) {
        const DatResult result = dat::readDatFileWith(path, sink, {}, engine);
        ++perFormat[int(result.format)];
        bytes += result.bytes;
        if (!result.ok) {
            ++failed;
            std::fprintf(stderr, "%s: %s, line %llu: %s\n", path.c_str(),
                         datFormatName(result.format), (unsigned long long)result.line,
                         result.reason.c_str());
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "files %zu none %llu listxml %llu softwarelist %llu logiqx %llu clrmamepro %llu "
        "failed %llu\n",
        paths.size(), (unsigned long long)perFormat[0], (unsigned long long)perFormat[1],
        (unsigned long long)perFormat[2], (unsigned long long)perFormat[3],
        (unsigned long long)perFormat[4], (unsigned long long)failed);
    std::printf("entries %llu bytes %llu seconds %.3f peak_bytes %zu digest %016llx\n",
                (unsigned long long)sink.entries, (unsigned long long)bytes, seconds,
                bench::peakResidentBytes() - before, (unsigned long long)sink.digest);
    return failed == 0 ? 0 : 1;
}
