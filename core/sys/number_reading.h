// Readings of typed numbers, as the scanf conversions "%X" and "%d" read them, and the filter
// of the checksum boxes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace chipsight {

// "%X": white space, an optional sign, an optional 0x or 0X, hexadecimal digits. Nothing when
// no digit could be read or the number does not fit in 32 bits; a minus sign negates modulo 2^32.
std::optional<std::uint32_t> scanHex(std::string_view text);
// "%d": white space, an optional sign, decimal digits. Nothing when no digit could be read or
// the number lies outside -2^31 to 2^32-1; the value is its 32-bit pattern.
std::optional<std::uint32_t> scanDecimal(std::string_view text);

// A checksum text: its "%X" reading, 0 when unreadable.
std::uint32_t readChecksum(std::string_view text);
// A size text: its "%d" reading, or when that is 0 its "%X" reading; 0 when unreadable.
std::uint32_t readSize(std::string_view text);

// The longest leading run of `text` made of the characters 0-9 and A-F.
std::string keptHexDigits(std::string_view text);

}  // namespace chipsight
