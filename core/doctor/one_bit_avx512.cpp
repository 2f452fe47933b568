// The one-bit search sixteen entries at a time with AVX-512: VPCLMULQDQ for the multiplications,
// GFNI for the linear map of the norm, and one table from the norm straight to the inverse
// power it asks for, so that an entry costs two gathered loads. Built with those instructions;
// runs only after the processor was checked for them.
#if defined(__GNUC__) && !defined(__clang__)
// GCC 12's unmasked AVX-512 intrinsics pass an undefined register to their masked forms, and
// then warn that it may be used uninitialized.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <algorithm>
#include <memory>

#include "core/doctor/one_bit_clmul.h"
#include "core/doctor/one_bit_search.h"

namespace chipsight::doctor::detail {

const Tables& clmulTables();

namespace {

// What this path reads besides the shared tables: by the norm's index (as Tables::normLog is
// indexed), x^-r for the norm's logarithm r; and the GF(2) matrices of Tables::frob16 for
// GF2P8AFFINEQB, the block of output byte b from input byte i in the qwords 2b and 2b + 1 of
// matrices[i].
struct WideTables {
    std::vector<std::uint32_t> inverseByNorm;
    __m512i matrices[4];
};

const WideTables& wideTables() {
    static const auto wide = [] {
        const Tables& t = clmulTables();
        const Field<InstructionMultiply> f{t};
        auto w = std::make_unique<WideTables>();
        w->inverseByNorm.assign(t.normLog.size(), 0);
        std::vector<std::uint32_t> inverse(kNormOrder);
        const std::uint32_t x1 = slowPow(2, kGroupOrder - 1);
        for (std::uint32_t r = 0, z = 1; r < kNormOrder; ++r, z = f.mul(z, x1)) inverse[r] = z;
        for (std::size_t i = 0; i < t.normLog.size(); ++i)
            w->inverseByNorm[i] = inverse[t.normLog[i]];
        for (int i = 0; i < 4; ++i) {
            alignas(64) std::uint64_t m[8];
            for (int b = 0; b < 4; ++b) {
                std::uint64_t a = 0;
                for (int j = 0; j < 8; ++j) {  // the row of output bit j is byte 7 - j
                    std::uint64_t row = 0;
                    for (int k = 0; k < 8; ++k)
                        row |= std::uint64_t(t.frob16[i][1u << k] >> (8 * b + j) & 1) << k;
                    a |= row << 8 * (7 - j);
                }
                m[2 * b] = m[2 * b + 1] = a;
            }
            w->matrices[i] = _mm512_load_si512(m);
        }
        return w;
    }();
    return *wide;
}

// Lane by lane, a times b modulo P, as one_bit_avx2.cpp does it on eight.
inline __m512i multiply16(__m512i a, __m512i b) {
    const __m512i low = _mm512_set1_epi64(0xFFFFFFFF);
    const auto g = static_cast<long long>(kGenerator), mu = static_cast<long long>(kBarrettMu);
    const __m512i k = _mm512_set_epi64(g, mu, g, mu, g, mu, g, mu);
    const auto reduce = [&](__m512i p) {
        const __m512i q =
            _mm512_srli_epi64(_mm512_clmulepi64_epi128(_mm512_srli_epi64(p, 32), k, 0x00), 32);
        return _mm512_xor_si512(p, _mm512_clmulepi64_epi128(q, k, 0x10));
    };
    const __m512i ae = _mm512_and_si512(a, low), be = _mm512_and_si512(b, low);
    const __m512i ao = _mm512_srli_epi64(a, 32), bo = _mm512_srli_epi64(b, 32);
    const __m512i p04 = reduce(_mm512_clmulepi64_epi128(ae, be, 0x00));
    const __m512i p26 = reduce(_mm512_clmulepi64_epi128(ae, be, 0x11));
    const __m512i p15 = reduce(_mm512_clmulepi64_epi128(ao, bo, 0x00));
    const __m512i p37 = reduce(_mm512_clmulepi64_epi128(ao, bo, 0x11));
    return _mm512_unpacklo_epi64(_mm512_or_si512(p04, _mm512_slli_epi64(p15, 32)),
                                 _mm512_or_si512(p26, _mm512_slli_epi64(p37, 32)));
}

// The byte-index vectors that gather byte i of each of the sixteen lanes into the qwords of
// every output byte (gather[i]), and that put the results back in lane order (scatter).
struct Shuffles {
    __m512i gather[4], scatter;
    Shuffles() {
        alignas(64) std::uint8_t g[4][64], s[64];
        for (int p = 0; p < 64; ++p) {
            const int q = p / 8, lane = (q % 2) * 8 + p % 8, b = q / 2;
            for (int i = 0; i < 4; ++i) g[i][p] = std::uint8_t(4 * lane + i);
            s[4 * lane + b] = std::uint8_t(p);
        }
        for (int i = 0; i < 4; ++i) gather[i] = _mm512_load_si512(g[i]);
        scatter = _mm512_load_si512(s);
    }
};

// The linear map of Tables::frob16 on each lane: each input byte's part of each output byte by
// one affine transformation of bytes, sixteen lanes' worth at once.
inline __m512i frobenius16(__m512i d, const WideTables& w, const Shuffles& s) {
    __m512i sum =
        _mm512_gf2p8affine_epi64_epi8(_mm512_permutexvar_epi8(s.gather[0], d), w.matrices[0], 0);
    for (int i = 1; i < 4; ++i)
        sum = _mm512_xor_si512(sum, _mm512_gf2p8affine_epi64_epi8(
                                        _mm512_permutexvar_epi8(s.gather[i], d), w.matrices[i], 0));
    return _mm512_permutexvar_epi8(s.scatter, sum);
}

inline __m512i reflect16(__m512i v) {
    // The bytes of each lane in reverse order, then the bits of each byte.
    const __m512i bytes = _mm512_set4_epi32(0x0C0D0E0F, 0x08090A0B, 0x04050607, 0x00010203);
    return _mm512_gf2p8affine_epi64_epi8(_mm512_shuffle_epi8(v, bytes),
                                         _mm512_set1_epi64(0x8040201008040201ll), 0);
}

}  // namespace

void searchAvx512(std::uint32_t imageCrc, std::uint32_t length,
                  std::span<const std::uint32_t> entryCrcs, std::vector<OneBitHit>& hits) {
    const Tables& t = clmulTables();
    const WideTables& wide = wideTables();
    static const Shuffles shuffles;
    const std::uint64_t bits = std::uint64_t(length) * 8;
    const MirrorPowers mirror = mirrorPowers<InstructionMultiply>(t, bits);
    const std::size_t whole = entryCrcs.size() / 16 * 16;
    const __m512i image = _mm512_set1_epi32(int(imageCrc));
    const __m512i half = _mm512_set1_epi32(0xFFFF);
    const __m512i slotMask = _mm512_set1_epi32(int(mirror.mask));
    const __m512i golden = _mm512_set1_epi32(int(0x9E3779B1u));
    // Each step for a batch of registers together, as one_bit_avx2.cpp does.
    constexpr std::size_t kBatch = 4;
    __m512i d[kBatch], index[kBatch], sub[kBatch];
    alignas(64) std::uint32_t norm[16], w[16];
    for (std::size_t first = 0; first < whole; first += 16 * kBatch) {
        const std::size_t count = std::min(kBatch, (whole - first) / 16);
        for (std::size_t i = 0; i < count; ++i) {
            d[i] =
                reflect16(_mm512_xor_si512(_mm512_loadu_si512(&entryCrcs[first + 16 * i]), image));
            index[i] = _mm512_and_si512(multiply16(d[i], frobenius16(d[i], wide, shuffles)), half);
        }
        for (std::size_t i = 0; i < count; ++i)
            sub[i] =
                multiply16(d[i], _mm512_i32gather_epi32(index[i], wide.inverseByNorm.data(), 4));
        for (std::size_t i = 0; i < count; ++i) {
            // Most first slots are empty: nothing to look at further.
            const __m512i slot = _mm512_and_si512(
                _mm512_srli_epi32(_mm512_mullo_epi32(sub[i], golden), 8), slotMask);
            const __mmask16 lanes =
                _mm512_test_epi32_mask(_mm512_i32gather_epi32(slot, mirror.key.data(), 4),
                                       _mm512_set1_epi32(-1)) &
                _mm512_test_epi32_mask(d[i], d[i]);
            if (lanes == 0) continue;
            _mm512_store_si512(norm, index[i]);
            _mm512_store_si512(w, sub[i]);
            for (int k = 0; k < 16; ++k)
                if (lanes >> k & 1)
                    addHit(entryCrcs[first + 16 * i + std::size_t(k)], t.normLog[norm[k]],
                           mirror.find(w[k]), bits, hits);
        }
    }
    search<InstructionMultiply>(t, mirror, imageCrc, length, entryCrcs.subspan(whole), hits);
}

}  // namespace chipsight::doctor::detail
