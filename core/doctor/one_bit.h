// One bit off: which entries of an image's size a single flipped bit of the image would match,
// from the CRC-32 values alone.
//
// For a fixed length the CRC-32 is affine, so flipping bit k changes the checksum by a value
// that depends only on k and the length: x^(32 + 8n-1-k) mod P, written reflected, where P is
// the generator. P is primitive (x has order 2^32 - 1), so every nonzero change is such a power
// of x, and k follows from the change by a discrete logarithm. 2^32 - 1 = 65535 * 65537 with
// both factors coprime. The logarithm modulo 65535 comes from the norm D^65537, which lies in
// the subfield of 2^16 elements, by one lookup in a table of them; then D * x^-(L mod 65535)
// lies in the subgroup of 65537 elements, and only the few of its powers that a change within
// the image's length can be are looked for. An entry costs three multiplications and a few
// lookups, so searching ten thousand entries costs little next to reading the image once.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace chipsight::doctor {

struct OneBitHit {
    std::uint32_t entryCrc;
    std::uint64_t byte;  // the byte whose bit, when flipped, gives entryCrc
    int bit;             // 0 for the least significant bit (D0)
};

// Appends to `hits`, in the order of `entryCrcs`, each checksum there that the image of `length`
// bytes whose CRC-32 is `imageCrc` takes with one bit flipped, and the bit.
void findOneBitAway(std::uint32_t imageCrc, std::uint32_t length,
                    std::span<const std::uint32_t> entryCrcs, std::vector<OneBitHit>& hits);

// The portable path, whatever the processor supports: the reference the fast one must agree
// with.
void findOneBitAwayPortable(std::uint32_t imageCrc, std::uint32_t length,
                            std::span<const std::uint32_t> entryCrcs, std::vector<OneBitHit>& hits);

}  // namespace chipsight::doctor
