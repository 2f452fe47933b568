// Number readings shared by the dialogs and the command line.
#include "core/sys/number_reading.h"

#include <cstdio>

namespace chipsight {
namespace {

bool isScanSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int digitValue(char c, int base) {
    const int v = hexDigitValue(c);
    return v < base ? v : -1;
}

struct Scan {
    bool negative = false;
    bool digits = false;
    bool overflow = false;
    std::uint64_t magnitude = 0;
};

Scan scan(std::string_view text, int base) {
    Scan s;
    std::size_t i = 0;
    while (i < text.size() && isScanSpace(text[i])) ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) s.negative = text[i++] == '-';
    if (base == 16 && i + 1 < text.size() && text[i] == '0' && (text[i + 1] | 0x20) == 'x') {
        // "0x" with no hexadecimal digit after it reads as the number 0.
        if (i + 2 < text.size() && digitValue(text[i + 2], 16) >= 0)
            i += 2;
        else
            return Scan{s.negative, true, false, 0};
    }
    for (; i < text.size(); ++i) {
        const int d = digitValue(text[i], base);
        if (d < 0) break;
        s.digits = true;
        s.magnitude = s.magnitude * std::uint64_t(base) + std::uint64_t(d);
        if (s.magnitude > 0xFFFFFFFFull) s.overflow = true, s.magnitude = 0xFFFFFFFFull + 1;
    }
    return s;
}

}  // namespace

std::optional<std::uint32_t> scanHex(std::string_view text) {
    const Scan s = scan(text, 16);
    if (!s.digits || s.overflow) return std::nullopt;
    const auto v = std::uint32_t(s.magnitude);
    return s.negative ? std::uint32_t(0u - v) : v;
}

std::optional<std::uint32_t> scanDecimal(std::string_view text) {
    const Scan s = scan(text, 10);
    if (!s.digits || s.overflow || (s.negative && s.magnitude > 0x80000000ull)) return std::nullopt;
    const auto v = std::uint32_t(s.magnitude);
    return s.negative ? std::uint32_t(0u - v) : v;
}

std::uint32_t readChecksum(std::string_view text) { return scanHex(text).value_or(0); }

std::uint32_t readSize(std::string_view text) {
    const std::uint32_t decimal = scanDecimal(text).value_or(0);
    return decimal != 0 ? decimal : scanHex(text).value_or(0);
}

namespace {
// The bytes `hex` writes two digits each, when it is exactly that many digits.
template <std::size_t N>
std::optional<std::array<std::uint8_t, N>> bytesFromHex(std::string_view hex) {
    if (hex.size() != 2 * N) return std::nullopt;
    std::array<std::uint8_t, N> bytes{};
    for (std::size_t i = 0; i < N; ++i) {
        const int high = hexDigitValue(hex[2 * i]), low = hexDigitValue(hex[2 * i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes[i] = std::uint8_t(high << 4 | low);
    }
    return bytes;
}
}  // namespace

std::optional<std::array<std::uint8_t, 20>> sha1FromHex(std::string_view hex) {
    return bytesFromHex<20>(hex);
}

std::optional<std::array<std::uint8_t, 16>> md5FromHex(std::string_view hex) {
    return bytesFromHex<16>(hex);
}

std::string lowerHex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(2 * bytes.size());
    for (const std::uint8_t b : bytes) {
        text += kDigits[b >> 4];
        text += kDigits[b & 15];
    }
    return text;
}

std::string hexDigits(std::uint64_t v, int digits) {
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%0*llX", digits, static_cast<unsigned long long>(v));
    return buffer;
}

std::string hexText(std::uint64_t v, int digits) { return "0x" + hexDigits(v, digits); }

std::string keptHexDigits(std::string_view text) {
    std::size_t n = 0;
    while (n < text.size() &&
           ((text[n] >= '0' && text[n] <= '9') || (text[n] >= 'A' && text[n] <= 'F')))
        ++n;
    return std::string(text.substr(0, n));
}

}  // namespace chipsight
