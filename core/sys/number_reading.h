// Readings of typed numbers, as the scanf conversions "%X" and "%d" read them, the filter of the
// checksum boxes, and the hexadecimal digits every reader and report of the program shares.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace chipsight {

// The value of each byte as a hexadecimal digit of either case; -1 for any other.
inline constexpr std::array<std::int8_t, 256> kHexDigitValues = [] {
    std::array<std::int8_t, 256> values{};
    for (int c = 0; c < 256; ++c)
        values[std::size_t(c)] = std::int8_t(c >= '0' && c <= '9'   ? c - '0'
                                             : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                             : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                                    : -1);
    return values;
}();

// The value of one hexadecimal digit of either case; -1 for any other character. A table, and
// inline: the DAT readers test every character of every SHA-1 and MD5 with it, a million ROMs
// of them in a large collection of DATs.
constexpr int hexDigitValue(char c) { return kHexDigitValues[std::uint8_t(c)]; }

// The 20 bytes of a SHA-1 written as 40 hexadecimal digits; nothing for any other text.
std::optional<std::array<std::uint8_t, 20>> sha1FromHex(std::string_view hex);
// The 16 bytes of an MD5 written as 32 hexadecimal digits; nothing for any other text.
std::optional<std::array<std::uint8_t, 16>> md5FromHex(std::string_view hex);
// `bytes` as lower-case hexadecimal digits, two a byte, as DATs write their SHA-1s and MD5s.
std::string lowerHex(std::span<const std::uint8_t> bytes);

// `v` in upper-case hexadecimal digits, at least `digits` of them ("%0*llX").
std::string hexDigits(std::uint64_t v, int digits = 1);
// The same after "0x": how the reports write offsets and bytes.
std::string hexText(std::uint64_t v, int digits = 1);

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
