// The arithmetic of the one-bit search in GF(2^32) modulo the CRC-32 generator, over a
// carry-less multiplication that each including file supplies, so that the instructions of the
// processor-specific file stay in that file. Polynomials are held with bit t the coefficient
// of x^t (the CRC's reflected values are turned around first).
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/doctor/one_bit.h"

namespace chipsight::doctor::detail {

inline constexpr std::uint64_t kGenerator = 0x104C11DB7ull;  // x^32 + ...
inline constexpr std::uint64_t kGroupOrder = 0xFFFFFFFFull;  // 65535 * 65537
inline constexpr std::uint32_t kNormOrder = 65535, kMirrorOrder = 65537;

// x^64 / P, rounded down: a product's high half times it, over x^32, is the product's quotient
// by P (Barrett's reduction, for the paths that multiply with an instruction).
constexpr std::uint64_t barrettMu() {
    std::uint64_t rest = (kGenerator & 0xFFFFFFFFu) << 32, quotient = std::uint64_t(1) << 32;
    for (int d = 63; d >= 32; --d)
        if (rest >> d & 1) {
            rest ^= kGenerator << (d - 32);
            quotient |= std::uint64_t(1) << (d - 32);
        }
    return quotient;
}
inline constexpr std::uint64_t kBarrettMu = barrettMu();

inline std::uint32_t reflect32(std::uint32_t v) {
    v = __builtin_bswap32(v);
    v = (v & 0x0F0F0F0Fu) << 4 | (v >> 4 & 0x0F0F0F0Fu);
    v = (v & 0x33333333u) << 2 | (v >> 2 & 0x33333333u);
    return (v & 0x55555555u) << 1 | (v >> 1 & 0x55555555u);
}

// x^4: multiplied into a subfield element, the product's low 16 bits tell the subfield's
// elements apart (its elements' own low 16 bits do not).
inline constexpr std::uint32_t kNormScale = 0x10;

// The tables the search reads; the same whichever multiplication made them.
struct Tables {
    std::uint32_t reduce[4][256];  // (v << 8b) * x^32 mod P: the high half of a product folded
    std::uint32_t frob16[4][256];  // y -> x^4 * y^65536, which is linear over GF(2)
    // By the low 16 bits of x^4 times a subfield element, its logarithm; one more entry, so
    // that a 32-bit load at the last one stays inside.
    std::vector<std::uint16_t> normLog;
    std::uint32_t invLow[256], invHigh[256];  // x^-r for r below 256, x^-256h for h below 256
    std::uint32_t mirrorBase = 0;             // x^65535, which generates the subgroup

    static std::uint32_t byBytes(const std::uint32_t (&t)[4][256], std::uint32_t v) {
        return t[0][v & 0xFF] ^ t[1][v >> 8 & 0xFF] ^ t[2][v >> 16 & 0xFF] ^ t[3][v >> 24];
    }
};

// The powers (x^65535)^t that the subgroup part of a change within `bits` bits can be: a
// logarithm r + 65535 t lies among the changes x^32 to x^(32 + bits - 1) only for t below
// `powers`. Open addressing, mostly empty, so that a probe seldom goes past its first slot; at
// the lengths most images have it fits the first-level cache.
struct MirrorPowers {
    std::size_t mask = 0;
    std::vector<std::uint32_t> key, log;
    static std::size_t slotOf(std::uint32_t key, std::size_t mask) {
        return std::size_t((key * 0x9E3779B1u) >> 8) & mask;
    }
    // t for key (x^65535)^t, or -1.
    std::int64_t find(std::uint32_t w) const {
        std::size_t s = slotOf(w, mask);
        while (key[s] != w && key[s] != 0) s = (s + 1) & mask;
        return key[s] == 0 ? -1 : std::int64_t(log[s]);
    }
};

template <typename ClMul>
struct Field {
    const Tables& t;
    std::uint32_t mul(std::uint32_t a, std::uint32_t b) const {
        const std::uint64_t p = ClMul::multiply(a, b);
        const auto high = std::uint32_t(p >> 32);
        return std::uint32_t(p) ^ t.reduce[0][high & 0xFF] ^ t.reduce[1][high >> 8 & 0xFF] ^
               t.reduce[2][high >> 16 & 0xFF] ^ t.reduce[3][high >> 24];
    }
};

// Multiplication and powers by shifting, for building the tables.
inline std::uint32_t slowMul(std::uint32_t a, std::uint32_t b) {
    std::uint64_t x = a, r = 0;
    for (; b != 0; b >>= 1, x <<= 1) {
        if (x >> 32 & 1) x ^= kGenerator;
        if (b & 1) r ^= x;
    }
    return std::uint32_t(r);
}
inline std::uint32_t slowPow(std::uint32_t a, std::uint64_t e) {
    std::uint32_t r = 1;
    for (; e != 0; e >>= 1, a = slowMul(a, a))
        if (e & 1) r = slowMul(r, a);
    return r;
}

// The byte tables (for Tables::byBytes) of the GF(2)-linear map that takes bit i to ofBit(i).
template <typename OfBit>
void linearByBytes(std::uint32_t (&table)[4][256], OfBit&& ofBit) {
    std::uint32_t bits[32];
    for (int i = 0; i < 32; ++i) bits[i] = ofBit(i);
    for (int b = 0; b < 4; ++b)
        for (std::uint32_t v = 0; v < 256; ++v) {
            std::uint32_t r = 0;
            for (int i = 0; i < 8; ++i)
                if (v >> i & 1) r ^= bits[8 * b + i];
            table[b][v] = r;
        }
}

template <typename ClMul>
std::unique_ptr<Tables> buildTables() {
    auto t = std::make_unique<Tables>();
    linearByBytes(t->reduce, [](int i) { return slowPow(2, 32 + std::uint64_t(i)); });
    linearByBytes(t->frob16,
                  [](int i) { return slowMul(kNormScale, slowPow(2, std::uint64_t(i) << 16)); });
    const Field<ClMul> f{*t};

    // x^65537 generates the subfield.
    const std::uint32_t normBase = slowPow(2, kMirrorOrder);
    t->normLog.assign(65537, 0);
    for (std::uint32_t k = 0, z = 1; k < kNormOrder; ++k, z = f.mul(z, normBase))
        t->normLog[f.mul(z, kNormScale) & 0xFFFF] = std::uint16_t(k);
    const std::uint32_t inverse = slowPow(2, kGroupOrder - 1), inverse256 = slowPow(inverse, 256);
    for (std::uint32_t r = 0, low = 1, high = 1; r < 256; ++r) {
        t->invLow[r] = low, t->invHigh[r] = high;
        low = f.mul(low, inverse), high = f.mul(high, inverse256);
    }
    t->mirrorBase = slowPow(2, kNormOrder);
    return t;
}

template <typename ClMul>
MirrorPowers mirrorPowers(const Tables& t, std::uint64_t bits) {
    const Field<ClMul> f{t};
    const std::uint64_t powers =
        std::min<std::uint64_t>((32 + bits) / kNormOrder + 1, kMirrorOrder);
    MirrorPowers m;
    m.mask = std::bit_ceil(std::size_t(powers) * (powers <= 4096 ? 32 : 4)) - 1;
    m.key.assign(m.mask + 1, 0);
    m.log.assign(m.mask + 1, 0);
    for (std::uint32_t k = 0, y = 1; k < powers; ++k, y = f.mul(y, t.mirrorBase)) {
        std::size_t s = MirrorPowers::slotOf(y, m.mask);
        while (m.key[s] != 0) s = (s + 1) & m.mask;
        m.key[s] = y;
        m.log[s] = k;
    }
    return m;
}

// The hit of an entry whose change d (not the image's own checksum) has logarithm
// r + 65535 t, when that change is one of a bit of the image.
inline void addHit(std::uint32_t entryCrc, std::uint32_t r, std::int64_t t, std::uint64_t bits,
                   std::vector<OneBitHit>& hits) {
    if (t < 0) return;  // a change of no bit of this length
    const std::uint64_t log = r + std::uint64_t(kNormOrder) * std::uint64_t(t);
    // The change of bit k is x^(32 + 8n-1-k).
    if (log < 32 || log - 32 >= bits) return;
    const std::uint64_t bit = bits - 1 - (log - 32);
    hits.push_back({entryCrc, bit / 8, int(bit % 8)});
}

template <typename ClMul>
void search(const Tables& t, const MirrorPowers& mirror, std::uint32_t imageCrc,
            std::uint32_t length, std::span<const std::uint32_t> entryCrcs,
            std::vector<OneBitHit>& hits) {
    const Field<ClMul> f{t};
    const std::uint64_t bits = std::uint64_t(length) * 8;
    // The subfield's logarithm table is the one that misses the first-level cache: a batch of
    // entries asks for their lookups in it ahead of their use.
    constexpr std::size_t kBatch = 32;
    std::uint32_t d[kBatch], index[kBatch];
    for (std::size_t first = 0; first < entryCrcs.size(); first += kBatch) {
        const std::size_t count = std::min(kBatch, entryCrcs.size() - first);
        for (std::size_t k = 0; k < count; ++k) {
            d[k] = reflect32(imageCrc ^ entryCrcs[first + k]);
            index[k] = f.mul(d[k], Tables::byBytes(t.frob16, d[k])) & 0xFFFF;
            __builtin_prefetch(&t.normLog[index[k]]);
        }
        for (std::size_t k = 0; k < count; ++k) {
            if (d[k] == 0) continue;  // the image's own checksum
            const std::uint32_t r = t.normLog[index[k]];
            const std::uint32_t w = f.mul(f.mul(d[k], t.invHigh[r >> 8]), t.invLow[r & 0xFF]);
            addHit(entryCrcs[first + k], r, mirror.find(w), bits, hits);
        }
    }
}

}  // namespace chipsight::doctor::detail
