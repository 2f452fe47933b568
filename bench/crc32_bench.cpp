// CRC-32 throughput: Crc32 on the path the selection picks (and on each path forced, for
// diagnosis) next to ISA-L, libdeflate and zlib over the same bytes.
#include <benchmark/benchmark.h>
#include <immintrin.h>
#include <isa-l/crc.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "core/crc32.h"
#include "core/crc32_paths.h"

namespace {

using chipsight::Crc32Path;

// One random buffer per size, made before timing starts; the 4 KiB one stays in cache, the
// 64 MiB one is twice the last-level cache of the machine it was tuned on.
const std::vector<std::uint8_t>& buffer(std::size_t size) {
    static std::map<std::size_t, std::vector<std::uint8_t>> buffers;
    auto [it, made] = buffers.try_emplace(size, size);
    if (made) {
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
void run(benchmark::State& state, F crc32) {
    const auto& data = buffer(static_cast<std::size_t>(state.range(0)));
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
    const auto& data = buffer(static_cast<std::size_t>(state.range(0)));
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

constexpr std::int64_t k4KiB = 4 << 10;
constexpr std::int64_t k64MiB = 64 << 20;

BENCHMARK(crc32Ours)->Name("crc32/ours")->Arg(k4KiB)->Arg(k64MiB);
BENCHMARK(crc32Isal)->Name("crc32/isal")->Arg(k4KiB)->Arg(k64MiB);
BENCHMARK(crc32Libdeflate)->Name("crc32/libdeflate")->Arg(k4KiB)->Arg(k64MiB);
BENCHMARK(crc32Zlib)->Name("crc32/zlib")->Arg(k4KiB)->Arg(k64MiB);
BENCHMARK(readBytes)->Name("read")->Arg(k4KiB)->Arg(k64MiB);
BENCHMARK_CAPTURE(crc32Forced, portable, Crc32Path::Portable)->Arg(k4KiB)->Arg(k64MiB);
BENCHMARK_CAPTURE(crc32Forced, pclmul, Crc32Path::Pclmul)->Arg(k4KiB)->Arg(k64MiB);
BENCHMARK_CAPTURE(crc32Forced, vpclmul_avx2, Crc32Path::VpclmulAvx2)->Arg(k4KiB)->Arg(k64MiB);
BENCHMARK_CAPTURE(crc32Forced, vpclmul_avx512, Crc32Path::VpclmulAvx512)->Arg(k4KiB)->Arg(k64MiB);

}  // namespace
