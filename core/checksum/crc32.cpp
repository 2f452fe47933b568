// CRC-32 entry points: the implementation is chosen once from the processor's features, and
// two CRC values combine without touching the data again.
#include "core/checksum/crc32.h"

#include <array>
#include <atomic>
#include <mutex>

#include "core/checksum/crc32_accelerated.h"
#include "core/checksum/crc32_path_selection.h"

#if CHIPSIGHT_CRC32_X86
#include <cpuid.h>
#endif

namespace chipsight {

using crc32_detail::PathInfo;

namespace {

// In order of preference, best last.
constexpr std::array kPaths = {
    PathInfo{Crc32Path::Portable, "portable", crc32Portable},
#if CHIPSIGHT_CRC32_X86
    PathInfo{Crc32Path::Pclmul, "pclmul", crc32Pclmul},
    PathInfo{Crc32Path::VpclmulAvx2, "vpclmul-avx2", crc32VpclmulAvx2},
    PathInfo{Crc32Path::VpclmulAvx512, "vpclmul-avx512", crc32VpclmulAvx512},
#endif
};

#if CHIPSIGHT_CRC32_X86
struct Features {
    bool pclmul = false;
    bool vpclmulAvx2 = false;
    bool vpclmulAvx512 = false;
};

Features detectFeatures() {
    Features f;
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return f;
    f.pclmul = (c & bit_PCLMUL) && (c & bit_SSE4_1);
    // The instructions existing is not enough: the operating system must also save the wider
    // registers on a context switch, which XCR0 tells.
    if (!(c & bit_OSXSAVE)) return f;
    unsigned xcr0Low = 0, xcr0High = 0;
    __asm__("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
    const bool ymmSaved = (xcr0Low & 0x06) == 0x06;  // SSE and AVX state
    const bool zmmSaved = (xcr0Low & 0xE6) == 0xE6;  // plus opmask and both upper ZMM halves
    unsigned b7 = 0, c7 = 0;
    if (!__get_cpuid_count(7, 0, &a, &b7, &c7, &d)) return f;
    const bool vpclmul = f.pclmul && (c7 & bit_VPCLMULQDQ);
    f.vpclmulAvx2 = vpclmul && ymmSaved && (b7 & bit_AVX2);
    f.vpclmulAvx512 = vpclmul && zmmSaved && (b7 & bit_AVX512F) && (b7 & bit_AVX512VL);
    return f;
}
#endif

bool supported(Crc32Path path) {
#if CHIPSIGHT_CRC32_X86
    static const Features features = detectFeatures();
    switch (path) {
        case Crc32Path::Portable:
            return true;
        case Crc32Path::Pclmul:
            return features.pclmul;
        case Crc32Path::VpclmulAvx2:
            return features.vpclmulAvx2;
        case Crc32Path::VpclmulAvx512:
            return features.vpclmulAvx512;
    }
    return false;
#else
    return path == Crc32Path::Portable;
#endif
}

const PathInfo& best() {
    static const PathInfo& chosen = [&]() -> const PathInfo& {
        for (auto it = kPaths.rbegin(); it != kPaths.rend(); ++it)
            if (supported(it->path)) return *it;
        return kPaths.front();
    }();
    return chosen;
}

}  // namespace

namespace crc32_detail {

// Made on first use, not at static initialisation, so that Crc32 works from other static
// initialisers too.
std::atomic<const PathInfo*>& active() {
    static std::atomic<const PathInfo*> current{&best()};
    return current;
}

const PathInfo* find(Crc32Path path) {
    for (const PathInfo& info : kPaths)
        if (info.path == path) return &info;
    return nullptr;
}

}  // namespace crc32_detail

using crc32_detail::active;
using crc32_detail::find;

std::uint32_t Crc32(std::uint32_t crc, const std::uint8_t* data, std::uint32_t length) {
    if (data == nullptr) return 0;
    return active().load(std::memory_order_relaxed)->run(crc, data, length);
}

const char* crc32PathName(Crc32Path path) {
    const PathInfo* info = find(path);
    return info ? info->name : "unavailable";
}

bool crc32PathSupported(Crc32Path path) { return find(path) != nullptr && supported(path); }

Crc32Path crc32BestPath() { return best().path; }

Crc32Path crc32ActivePath() { return active().load(std::memory_order_relaxed)->path; }

namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;

// Product of two polynomials modulo the CRC polynomial, both in the bit-reflected form of the
// CRC register (bit 31 is the coefficient of x^0).
constexpr std::uint32_t gf2Multiply(std::uint32_t a, std::uint32_t b) {
    std::uint32_t product = 0;
    for (int i = 0; i < 32; ++i) {
        if (a & 0x80000000u) product ^= b;
        a <<= 1;
        b = (b & 1u) ? (b >> 1) ^ kPolynomial : b >> 1;
    }
    return product;
}

// kBytePowers[k] = x^(8 * 2^k) mod P: appending 2^k zero bytes multiplies the register by it.
constexpr std::array<std::uint32_t, 64> kBytePowers = [] {
    std::array<std::uint32_t, 64> powers{};
    powers[0] = 0x00800000u;  // x^8
    for (std::size_t k = 1; k < powers.size(); ++k)
        powers[k] = gf2Multiply(powers[k - 1], powers[k - 1]);
    return powers;
}();

// Multiplying by one power: the product of a register with kBytePowers[k], byte by byte from
// four tables of 256 products each (the product is linear in the register's bits). Made on
// first use, for the powers of lengths below 4 GiB only: a combination then takes four table
// reads for each bit set in the length instead of 32 steps of shifting and adding.
class PowerTables {
  public:
    static constexpr std::size_t kPowers = 32;

    std::uint32_t multiply(std::uint32_t crc, std::size_t k) {
        if (!made_[k].load(std::memory_order_acquire)) make(k);
        const auto& t = tables_[k];
        return t[0][crc & 0xFF] ^ t[1][(crc >> 8) & 0xFF] ^ t[2][(crc >> 16) & 0xFF] ^
               t[3][crc >> 24];
    }

  private:
    void make(std::size_t k) {
        const std::lock_guard<std::mutex> lock(making_);
        if (made_[k].load(std::memory_order_relaxed)) return;
        auto& t = tables_[k];
        for (std::size_t byte = 0; byte < 4; ++byte) {
            t[byte][0] = 0;
            // Each entry is the sum of the entry without its lowest bit and that bit's product.
            std::uint32_t bitProducts[8];
            for (int bit = 0; bit < 8; ++bit)
                bitProducts[bit] =
                    gf2Multiply(std::uint32_t(1) << (8 * byte + bit), kBytePowers[k]);
            for (std::uint32_t b = 1; b < 256; ++b)
                t[byte][b] = t[byte][b & (b - 1)] ^ bitProducts[__builtin_ctz(b)];
        }
        made_[k].store(true, std::memory_order_release);
    }

    std::array<std::array<std::array<std::uint32_t, 256>, 4>, kPowers> tables_{};
    std::atomic<bool> made_[kPowers] = {};
    std::mutex making_;
};

PowerTables& powerTables() {
    static PowerTables tables;
    return tables;
}

}  // namespace

std::uint32_t crc32Combine(std::uint32_t crcA, std::uint32_t crcB, std::uint64_t lengthB) {
    // The complements on entry and exit cancel out between the two pieces, so the CRC of A
    // shifted over lengthB zero bytes plus the CRC of B is the CRC of both.
    for (; lengthB != 0; lengthB &= lengthB - 1) {
        const auto k = std::size_t(__builtin_ctzll(lengthB));
        crcA = k < PowerTables::kPowers ? powerTables().multiply(crcA, k)
                                        : gf2Multiply(crcA, kBytePowers[k]);
    }
    return crcA ^ crcB;
}

}  // namespace chipsight
