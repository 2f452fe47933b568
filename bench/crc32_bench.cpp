// CRC-32 throughput: Crc32 on the path the selection picks (and on each path forced, for
// diagnosis) next to ISA-L, libdeflate and zlib over the same bytes.
#include <benchmark/benchmark.h>
#include <immintrin.h>
#include <isa-l/crc.h>
#include <libdeflate.h>
#include <sys/mman.h>
#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <new>
#include <random>
#include <span>
#include <string>
#include <utility>

#include "core/checksum/crc32.h"
#include "core/checksum/crc32_path_selection.h"

namespace {

using chipsight::Crc32Path;

// How a large buffer is backed. Streaming 64 MiB out of memory on 4 KiB pages runs at about
// 0.7x the rate on 2 MiB pages here, for every implementation alike (page walks, prefetchers
// that stop at page boundaries). The marked figures use huge pages, so they compare CRC code
// rather than page sizes; one row shows the difference.
enum class Pages { Large, Small };

constexpr std::size_t kHugePage = 2 << 20;

// One random buffer per size and backing, made before timing starts. The 4 KiB one stays in
// cache, the 64 MiB one is twice the last-level cache of the machine it was tuned on.
std::span<const std::uint8_t> buffer(std::size_t size, Pages pages = Pages::Large) {
    static std::map<std::pair<std::size_t, Pages>, std::span<std::uint8_t>> buffers;
    auto [it, made] = buffers.try_emplace({size, pages});
    if (made) {
        // Aligned to a huge page and advised before the first touch, so the kernel can back
        // it with huge pages; kept for the whole run.
        void* mem = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mem == MAP_FAILED) throw std::bad_alloc();
        auto* data = reinterpret_cast<std::uint8_t*>(
            (reinterpret_cast<std::uintptr_t>(mem) + kHugePage - 1) & ~(kHugePage - 1));
        madvise(data, size, pages == Pages::Large ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
        it->second = {data, size};
        std::mt19937_64 rng(size);
        for (auto& byte : it->second) byte = static_cast<std::uint8_t>(rng());
    }
    return it->second;
}

// Every function is used as a running CRC from 0 with the complements inside, so all of them
// do the same work; each is checked against Crc32 before it is timed.
std::uint32_t ours(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
    return chipsight::Crc32(crc, p, static_cast<std::uint32_t>(n));
}
std::uint32_t isal(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
    return crc32_gzip_refl(crc, p, n);
}
std::uint32_t libdeflate(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
    return libdeflate_crc32(crc, p, n);
}
std::uint32_t zlib(std::uint32_t crc, const std::uint8_t* p, std::size_t n) {
    return static_cast<std::uint32_t>(crc32_z(crc, p, n));
}

template <typename F>
void run(benchmark::State& state, F crc32, Pages pages = Pages::Large) {
    const auto data = buffer(static_cast<std::size_t>(state.range(0)), pages);
    // From 0 and as a continuation: both must agree for the work to be the same.
    for (std::uint32_t start : {0u, 0x9E3779B9u}) {
        const auto size = static_cast<std::uint32_t>(data.size());
        if (crc32(start, data.data(), size) != chipsight::Crc32(start, data.data(), size)) {
            state.SkipWithError("result differs from Crc32");
            return;
        }
    }
    std::uint32_t crc = 0;
    for (auto _ : state) {
        crc = crc32(crc, data.data(), data.size());
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

void crc32Ours(benchmark::State& state) { run(state, ours); }
void crc32Isal(benchmark::State& state) { run(state, isal); }
void crc32Libdeflate(benchmark::State& state) { run(state, libdeflate); }
void crc32Zlib(benchmark::State& state) { run(state, zlib); }
void crc32OursSmallPages(benchmark::State& state) { run(state, ours, Pages::Small); }

// Only reading the bytes, no CRC: the memory bandwidth that bounds every CRC of a buffer that
// does not fit in the cache. 256-bit loads into four accumulators keep the loop itself far
// faster than memory (about 2x the fastest CRC in cache).
__attribute__((target("avx2"))) std::uint64_t xorAll(const std::uint8_t* p, std::size_t n) {
    __m256i sum[4] = {_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256(),
                      _mm256_setzero_si256()};
    for (std::size_t i = 0; i + 128 <= n; i += 128)
        for (int j = 0; j < 4; ++j)
            sum[j] = _mm256_xor_si256(
                sum[j], _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i + 32 * j)));
    const __m256i all =
        _mm256_xor_si256(_mm256_xor_si256(sum[0], sum[1]), _mm256_xor_si256(sum[2], sum[3]));
    return static_cast<std::uint64_t>(_mm256_extract_epi64(all, 0) ^ _mm256_extract_epi64(all, 3));
}

void readBytes(benchmark::State& state) {
    if (!__builtin_cpu_supports("avx2")) {
        state.SkipWithError("needs AVX2");
        return;
    }
    const auto data = buffer(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(xorAll(data.data(), data.size()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}

void crc32Forced(benchmark::State& state, Crc32Path path) {
    if (!chipsight::crc32ForcePath(path)) {
        state.SkipWithError("path not supported here");
        return;
    }
    run(state, ours);
    chipsight::crc32ForcePath(chipsight::crc32BestPath());
}

// Names the path behind "ours" in the results, so a table says what it measured.
const bool kContextAdded =
    (benchmark::AddCustomContext("crc32_path",
                                 chipsight::crc32PathName(chipsight::crc32ActivePath())),
     true);

// Whether the kernel honours the huge-page advice at all ("always", "madvise" or "never").
std::string transparentHugePages() {
    std::ifstream file("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string line;
    std::getline(file, line);
    const auto open = line.find('['), close = line.find(']');
    return open == std::string::npos || close < open ? "unknown"
                                                     : line.substr(open + 1, close - open - 1);
}

const bool kPagesContextAdded =
    (benchmark::AddCustomContext("transparent_hugepage", transparentHugePages()), true);

constexpr std::int64_t k4KiB = 4 << 10;
constexpr std::int64_t k64MiB = 64 << 20;

BENCHMARK(crc32Ours)->Name("crc32/ours")->Arg(k4KiB)->Arg(k64MiB);
BENCHMARK(crc32Isal)->Name("crc32/isal")->Arg(k4KiB)->Arg(k64MiB);
BENCHMARK(crc32Libdeflate)->Name("crc32/libdeflate")->Arg(k4KiB)->Arg(k64MiB);
BENCHMARK(crc32Zlib)->Name("crc32/zlib")->Arg(k4KiB)->Arg(k64MiB);
BENCHMARK(crc32OursSmallPages)->Name("crc32/ours/4k-pages")->Arg(k64MiB);
BENCHMARK(readBytes)->Name("read")->Arg(k4KiB)->Arg(k64MiB);
BENCHMARK_CAPTURE(crc32Forced, portable, Crc32Path::Portable)->Arg(k4KiB)->Arg(k64MiB);
BENCHMARK_CAPTURE(crc32Forced, pclmul, Crc32Path::Pclmul)->Arg(k4KiB)->Arg(k64MiB);
BENCHMARK_CAPTURE(crc32Forced, vpclmul_avx2, Crc32Path::VpclmulAvx2)->Arg(k4KiB)->Arg(k64MiB);
BENCHMARK_CAPTURE(crc32Forced, vpclmul_avx512, Crc32Path::VpclmulAvx512)->Arg(k4KiB)->Arg(k64MiB);

}  // namespace
