// Typed numbers and the hexadecimal filter against the C library's own scanning.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/sys/number_reading.h"

using namespace chipsight;

namespace {
// Whether the digits sscanf would read from `text` make a number beyond 32 bits.
bool beyond32Bits(const char* text, int base) {
    errno = 0;
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    if (*p == '+' || *p == '-') ++p;
    const unsigned long long v = std::strtoull(p, nullptr, base);
    return errno == ERANGE || v > 0xFFFFFFFFull;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The dialogs hand over texts without NUL bytes.
    const std::string text(reinterpret_cast<const char*>(data),
                           strnlen(reinterpret_cast<const char*>(data), size));
    const char* c = text.c_str();

    unsigned hex = 0;
    const bool gotHex = std::sscanf(c, "%X", &hex) == 1;
    const auto ours = scanHex(text);
    if (ours ? (!gotHex || *ours != hex) : (gotHex && !beyond32Bits(c, 16))) std::abort();

    int dec = 0;
    const bool gotDec = std::sscanf(c, "%d", &dec) == 1;
    const auto oursDec = scanDecimal(text);
    if (oursDec && (!gotDec || *oursDec != std::uint32_t(dec))) std::abort();
    if (!oursDec && gotDec) {
        // Only numbers outside -2^31 .. 2^32-1 are refused.
        errno = 0;
        const long long v = std::strtoll(c, nullptr, 10);
        if (errno != ERANGE && v >= -2147483648LL && v <= 4294967295LL) std::abort();
    }

    std::string run(text.size() + 1, '\0');
    const std::string kept =
        std::sscanf(c, "%[0-9A-F]", run.data()) == 1 ? std::string(run.c_str()) : "";
    if (keptHexDigits(text) != kept) std::abort();
    return 0;
}
