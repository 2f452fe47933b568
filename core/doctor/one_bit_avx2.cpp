// The one-bit search eight entries at a time, with AVX2 gathers for the table lookups and
// VPCLMULQDQ for the multiplications. Built with those instructions; runs only after the
// processor was checked for them.
#include <immintrin.h>

#include <algorithm>

#include "core/doctor/one_bit_clmul.h"
#include "core/doctor/one_bit_search.h"

namespace chipsight::doctor::detail {

const Tables& clmulTables();

namespace {

// Lane by lane, a times b modulo P: the eight products four registers of two, each reduced by
// Barrett's two multiplications, then put back in order.
inline __m256i multiply8(__m256i a, __m256i b) {
    const __m256i low = _mm256_set1_epi64x(0xFFFFFFFF);
    // In each 128-bit lane: the quotient factor, then the generator.
    const __m256i k =
        _mm256_set_epi64x(static_cast<long long>(kGenerator), static_cast<long long>(kBarrettMu),
                          static_cast<long long>(kGenerator), static_cast<long long>(kBarrettMu));
    const auto reduce = [&](__m256i p) {
        const __m256i q =
            _mm256_srli_epi64(_mm256_clmulepi64_epi128(_mm256_srli_epi64(p, 32), k, 0x00), 32);
        return _mm256_xor_si256(p, _mm256_clmulepi64_epi128(q, k, 0x10));
    };
    const __m256i ae = _mm256_and_si256(a, low), be = _mm256_and_si256(b, low);  // 0 2 4 6
    const __m256i ao = _mm256_srli_epi64(a, 32), bo = _mm256_srli_epi64(b, 32);  // 1 3 5 7
    const __m256i p04 = reduce(_mm256_clmulepi64_epi128(ae, be, 0x00));
    const __m256i p26 = reduce(_mm256_clmulepi64_epi128(ae, be, 0x11));
    const __m256i p15 = reduce(_mm256_clmulepi64_epi128(ao, bo, 0x00));
    const __m256i p37 = reduce(_mm256_clmulepi64_epi128(ao, bo, 0x11));
    return _mm256_unpacklo_epi64(_mm256_or_si256(p04, _mm256_slli_epi64(p15, 32)),
                                 _mm256_or_si256(p26, _mm256_slli_epi64(p37, 32)));
}

__m256i reflect8(__m256i v) {
    const __m256i bytes = _mm256_setr_epi8(3, 2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12, 3,
                                           2, 1, 0, 7, 6, 5, 4, 11, 10, 9, 8, 15, 14, 13, 12);
    // Each nibble reversed: the low one's reversal becomes the high nibble, and the other way.
    const __m256i nibble = _mm256_setr_epi8(0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15, 0,
                                            8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15);
    const __m256i lowNibble = _mm256_set1_epi8(0x0F);
    const __m256i swapped = _mm256_shuffle_epi8(v, bytes);
    const __m256i lo = _mm256_and_si256(swapped, lowNibble);
    const __m256i hi = _mm256_and_si256(_mm256_srli_epi16(swapped, 4), lowNibble);
    return _mm256_or_si256(_mm256_slli_epi16(_mm256_shuffle_epi8(nibble, lo), 4),
                           _mm256_shuffle_epi8(nibble, hi));
}

__m256i lookup8(const std::uint32_t* table, __m256i index) {
    return _mm256_i32gather_epi32(reinterpret_cast<const int*>(table), index, 4);
}

}  // namespace

void searchAvx2(std::uint32_t imageCrc, std::uint32_t length,
                std::span<const std::uint32_t> entryCrcs, std::vector<OneBitHit>& hits) {
    const Tables& t = clmulTables();
    const std::uint64_t bits = std::uint64_t(length) * 8;
    const MirrorPowers mirror = mirrorPowers<InstructionMultiply>(t, bits);
    const std::size_t whole = entryCrcs.size() / 8 * 8;
    const __m256i image = _mm256_set1_epi32(int(imageCrc));
    const __m256i byte = _mm256_set1_epi32(0xFF), half = _mm256_set1_epi32(0xFFFF);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i slotMask = _mm256_set1_epi32(int(mirror.mask));
    // Each step for a batch of registers together: a register's steps wait on one another's
    // gathers and multiplications, those of different registers do not.
    constexpr std::size_t kBatch = 4;
    __m256i d[kBatch], log[kBatch], sub[kBatch];
    alignas(32) std::uint32_t r[8], w[8];
    for (std::size_t first = 0; first < whole; first += 8 * kBatch) {
        const std::size_t count = std::min(kBatch, (whole - first) / 8);
        for (std::size_t i = 0; i < count; ++i) {
            d[i] = reflect8(_mm256_xor_si256(
                _mm256_loadu_si256(reinterpret_cast<const __m256i*>(&entryCrcs[first + 8 * i])),
                image));
            __m256i frob = lookup8(t.frob16[0], _mm256_and_si256(d[i], byte));
            for (int b = 1; b < 4; ++b)
                frob = _mm256_xor_si256(
                    frob,
                    lookup8(t.frob16[b], _mm256_and_si256(_mm256_srli_epi32(d[i], 8 * b), byte)));
            log[i] = multiply8(d[i], frob);
        }
        for (std::size_t i = 0; i < count; ++i)
            log[i] = _mm256_and_si256(
                _mm256_i32gather_epi32(reinterpret_cast<const int*>(t.normLog.data()),
                                       _mm256_and_si256(log[i], half), 2),
                half);
        for (std::size_t i = 0; i < count; ++i)
            sub[i] = multiply8(multiply8(d[i], lookup8(t.invHigh, _mm256_srli_epi32(log[i], 8))),
                               lookup8(t.invLow, _mm256_and_si256(log[i], byte)));
        for (std::size_t i = 0; i < count; ++i) {
            // Most first slots are empty: nothing to look at further.
            const __m256i slot = _mm256_and_si256(
                _mm256_srli_epi32(_mm256_mullo_epi32(sub[i], _mm256_set1_epi32(int(0x9E3779B1u))),
                                  8),
                slotMask);
            const __m256i empty =
                _mm256_or_si256(_mm256_cmpeq_epi32(lookup8(mirror.key.data(), slot), zero),
                                _mm256_cmpeq_epi32(d[i], zero));
            const int lanes = ~_mm256_movemask_ps(_mm256_castsi256_ps(empty)) & 0xFF;
            if (lanes == 0) continue;
            _mm256_store_si256(reinterpret_cast<__m256i*>(r), log[i]);
            _mm256_store_si256(reinterpret_cast<__m256i*>(w), sub[i]);
            for (int k = 0; k < 8; ++k)
                if (lanes >> k & 1)
                    addHit(entryCrcs[first + 8 * i + std::size_t(k)], r[k], mirror.find(w[k]), bits,
                           hits);
        }
    }
    search<InstructionMultiply>(t, mirror, imageCrc, length, entryCrcs.subspan(whole), hits);
}

}  // namespace chipsight::doctor::detail
