// The one-bit search: the tables, made once, and the choice of the multiplication.
#include "core/doctor/one_bit.h"

#include "core/checksum/crc32_path_selection.h"
#include "core/doctor/one_bit_search.h"

namespace chipsight::doctor {
namespace detail {
#if defined(__x86_64__)
// In one_bit_clmul.cpp, built with the carry-less multiply instruction, one_bit_avx2.cpp, built
// with AVX2 and VPCLMULQDQ, and one_bit_avx512.cpp, built with AVX-512, VPCLMULQDQ and GFNI.
void searchClmul(std::uint32_t imageCrc, std::uint32_t length,
                 std::span<const std::uint32_t> entryCrcs, std::vector<OneBitHit>& hits);
void searchAvx2(std::uint32_t imageCrc, std::uint32_t length,
                std::span<const std::uint32_t> entryCrcs, std::vector<OneBitHit>& hits);
void searchAvx512(std::uint32_t imageCrc, std::uint32_t length,
                  std::span<const std::uint32_t> entryCrcs, std::vector<OneBitHit>& hits);
#endif
}  // namespace detail

namespace {

struct ShiftMultiply {
    static std::uint64_t multiply(std::uint32_t a, std::uint32_t b) {
        std::uint64_t r = 0;
        for (int i = 0; i < 32; ++i) r ^= (std::uint64_t(a) << i) & (0 - std::uint64_t(b >> i & 1));
        return r;
    }
};

const detail::Tables& portableTables() {
    static const auto tables = detail::buildTables<ShiftMultiply>();
    return *tables;
}

}  // namespace

void findOneBitAwayPortable(std::uint32_t imageCrc, std::uint32_t length,
                            std::span<const std::uint32_t> entryCrcs,
                            std::vector<OneBitHit>& hits) {
    const detail::Tables& t = portableTables();
    detail::search<ShiftMultiply>(t,
                                  detail::mirrorPowers<ShiftMultiply>(t, std::uint64_t(length) * 8),
                                  imageCrc, length, entryCrcs, hits);
}

void findOneBitAway(std::uint32_t imageCrc, std::uint32_t length,
                    std::span<const std::uint32_t> entryCrcs, std::vector<OneBitHit>& hits) {
    if (entryCrcs.empty() || length == 0) return;
#if defined(__x86_64__)
    static const bool avx512 =
        crc32PathSupported(Crc32Path::VpclmulAvx512) && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("gfni");
    static const bool avx2 = crc32PathSupported(Crc32Path::VpclmulAvx2);
    if (avx512) return detail::searchAvx512(imageCrc, length, entryCrcs, hits);
    static const bool clmul = crc32PathSupported(Crc32Path::Pclmul);
    if (avx2) return detail::searchAvx2(imageCrc, length, entryCrcs, hits);
    if (clmul) return detail::searchClmul(imageCrc, length, entryCrcs, hits);
#endif
    findOneBitAwayPortable(imageCrc, length, entryCrcs, hits);
}

}  // namespace chipsight::doctor
