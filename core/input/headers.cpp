// The table of known headers, and telling a file's by its signature and length.
#include "core/input/headers.h"

#include <algorithm>
#include <array>

namespace chipsight {
namespace {

bool powerOfTwo(std::uint64_t n) { return n != 0 && (n & (n - 1)) == 0; }

// The DATs of home consoles give these dumps' checksums without the header their emulators want.
constexpr std::array<KnownHeader, 4> kHeaders{{
    {"iNES", 16, 0, std::string_view("NES\x1A", 4)},  // NES 2.0 starts the same
    {"fwNES", 16, 0, std::string_view("FDS\x1A", 4)},
    {"A78", 128, 1, "ATARI7800"},
    {"LNX", 64, 0, "LYNX"},
}};

}  // namespace

const KnownHeader* knownHeaderOf(std::span<const std::uint8_t> head, std::uint64_t length) {
    if (length > 0xFFFFFFFFull || powerOfTwo(length)) return nullptr;
    for (const KnownHeader& h : kHeaders) {
        if (length <= h.bytes || !powerOfTwo(length - h.bytes)) continue;
        if (head.size() < h.at + h.signature.size()) continue;
        if (std::equal(h.signature.begin(), h.signature.end(), head.begin() + h.at,
                       [](char a, std::uint8_t b) { return std::uint8_t(a) == b; }))
            return &h;
    }
    return nullptr;
}

bool headerMayLead(std::uint64_t length) {
    if (length > 0xFFFFFFFFull || powerOfTwo(length)) return false;
    return std::any_of(kHeaders.begin(), kHeaders.end(), [&](const KnownHeader& h) {
        return length > h.bytes && powerOfTwo(length - h.bytes);
    });
}

}  // namespace chipsight
