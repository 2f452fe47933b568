// The headers that emulators' formats put before a dump, which the databases leave out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace chipsight {

// A header a dump may start with: `bytes` long, told by `signature` at `at`.
struct KnownHeader {
    std::string_view kind;  // as the report and the record name it
    std::uint32_t bytes;
    std::uint32_t at;
    std::string_view signature;
};

// The most bytes at a file's start that knownHeaderOf looks at.
inline constexpr std::size_t kLongestHeader = 128;

// The known header that the bytes `head` of a file of `length` bytes start with, when the bytes
// after it are a length identification admits and the file's own length is not; else null. A
// file of a power of two bytes is identified whole, whatever it starts with.
const KnownHeader* knownHeaderOf(std::span<const std::uint8_t> head, std::uint64_t length);

// Whether a file of `length` bytes, a length identification refuses, could be a known header
// and a dump after it: its first bytes then tell.
bool headerMayLead(std::uint64_t length);

}  // namespace chipsight
