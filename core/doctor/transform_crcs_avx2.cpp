// The CRC registers of an image's 32 bit streams, with AVX2 and VPCLMULQDQ: 512 bytes at a
// time are split into 16 bytes of each stream, which are folded into that stream's register at
// once. Built with those instructions; runs only after the processor was checked for them.
#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/checksum/crc32_x86_folding.h"

namespace chipsight::doctor::detail {

void bitStreamRegisters(const std::uint8_t* image, std::size_t n, std::uint32_t (&registers)[32]) {
    // In each 16 bytes (four words), byte j of every word together: lane 0 first.
    const __m256i byLane = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 0,
                                            4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
    // Then the two halves' four bytes of a lane next to each other: eight bytes a lane.
    const __m256i halves = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const __m256i k = _mm256_broadcastsi128_si256(foldConstants128(crc32_constants::kFold128));
    // Two streams a register, each folded forward by its 16 new bytes.
    __m256i state[16];
    for (auto& s : state) s = _mm256_setzero_si256();
    alignas(32) std::uint8_t block[512];  // stream s's 16 bytes at 16 s
    for (std::size_t at = 0; at < n; at += 512) {
        for (int group = 0; group < 4; ++group) {  // 32 words: four bytes of each stream
            const std::uint8_t* p = image + at + 128 * group;
            __m256i b[4];
            for (int i = 0; i < 4; ++i)
                b[i] = _mm256_permutevar8x32_epi32(
                    _mm256_shuffle_epi8(
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * i)), byLane),
                    halves);
            // b[i] holds, 64 bits each, lanes 0 to 3 of words 8i..8i+7: turned to 32 bytes a
            // lane.
            const __m256i t0 = _mm256_unpacklo_epi64(b[0], b[1]);
            const __m256i t1 = _mm256_unpackhi_epi64(b[0], b[1]);
            const __m256i t2 = _mm256_unpacklo_epi64(b[2], b[3]);
            const __m256i t3 = _mm256_unpackhi_epi64(b[2], b[3]);
            const __m256i lane[4] = {
                _mm256_permute2x128_si256(t0, t2, 0x20), _mm256_permute2x128_si256(t1, t3, 0x20),
                _mm256_permute2x128_si256(t0, t2, 0x31), _mm256_permute2x128_si256(t1, t3, 0x31)};
            std::uint8_t* o = block + 4 * group;
            for (int j = 0; j < 4; ++j) {
                __m256i v = lane[j];
                // The top bits of the 32 bytes, then each next bit moved to the top.
                for (int bit = 7; bit >= 0; --bit, v = _mm256_add_epi8(v, v)) {
                    const auto mask = std::uint32_t(_mm256_movemask_epi8(v));
                    std::memcpy(o + 16 * (8 * j + bit), &mask, 4);
                }
            }
        }
        for (int i = 0; i < 16; ++i) {
            const __m256i x = state[i];
            state[i] = _mm256_xor_si256(
                _mm256_xor_si256(_mm256_clmulepi64_epi128(x, k, 0x00),
                                 _mm256_clmulepi64_epi128(x, k, 0x11)),
                _mm256_load_si256(reinterpret_cast<const __m256i*>(block + 32 * i)));
        }
    }
    for (int i = 0; i < 16; ++i) {
        registers[2 * i] = reduce128(_mm256_castsi256_si128(state[i]));
        registers[2 * i + 1] = reduce128(_mm256_extracti128_si256(state[i], 1));
    }
}

}  // namespace chipsight::doctor::detail
