// Typed numbers read as the C library's "%X" and "%d" read them, and the hexadecimal filter.
#include "core/number_reading.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace chipsight {
namespace {

// Texts whose numbers fit in 32 bits: here our readings must agree with sscanf exactly.
const char* const kTexts[] = {
    "",    " ",      "0",        "00000000", "1A",        "1a",       "  \t1F", "+7",  "-1",
    "-0",  "0x12",   "0X12",     "0x",       "0xg",       "-0x10",    "+0x",    "0x0", "x12",
    "g",   "12g",    "FFFFFFFF", "ffffffff", "7FFFFFFF",  "100",      "FF",     "zz",  " +",
    "- 5", "0x8000", "1 2",      "\n42",     "-FFFFFFFF", "12345678",
};

TEST(NumberReading, AgreesWithTheCLibrary) {
    for (const char* text : kTexts) {
        unsigned hex = 0;
        const bool gotHex = std::sscanf(text, "%X", &hex) == 1;
        EXPECT_EQ(scanHex(text), gotHex ? std::optional<std::uint32_t>(hex) : std::nullopt)
            << '"' << text << '"';
        int dec = 0;
        const bool gotDec = std::sscanf(text, "%d", &dec) == 1;
        EXPECT_EQ(scanDecimal(text),
                  gotDec ? std::optional<std::uint32_t>(std::uint32_t(dec)) : std::nullopt)
            << '"' << text << '"';
    }
}

TEST(NumberReading, NumbersBeyondThirtyTwoBitsAreUnreadable) {
    EXPECT_EQ(scanHex("100000000"), std::nullopt);
    EXPECT_EQ(scanDecimal("4294967295"), 0xFFFFFFFFu);
    EXPECT_EQ(scanDecimal("-2147483648"), 0x80000000u);
    EXPECT_EQ(scanDecimal("4294967296"), std::nullopt);
    EXPECT_EQ(scanDecimal("-2147483649"), std::nullopt);
    EXPECT_EQ(readSize("9999999999"), 0u) << "ten digits that do not fit, either way";
}

TEST(NumberReading, SizeTriesDecimalFirst) {
    EXPECT_EQ(readSize("100"), 100u);
    EXPECT_EQ(readSize("0x100"), 256u);
    EXPECT_EQ(readSize("0x8000"), 32768u);
    EXPECT_EQ(readSize("FF"), 255u);
    EXPECT_EQ(readSize("1A"), 1u);
    EXPECT_EQ(readSize("-1"), 0xFFFFFFFFu);
    for (const char* zero : {"0", "0x0", "zz", ""}) EXPECT_EQ(readSize(zero), 0u) << zero;
    EXPECT_EQ(readChecksum("00000000"), 0u);
    EXPECT_EQ(readChecksum(" 3F55D17F"), 0x3F55D17Fu);
}

TEST(KeptHexDigits, KeepsTheLeadingRunOfUpperCaseDigits) {
    EXPECT_EQ(keptHexDigits(""), "");
    EXPECT_EQ(keptHexDigits("G"), "");
    EXPECT_EQ(keptHexDigits("12G"), "12");
    EXPECT_EQ(keptHexDigits("0X12"), "0");
    EXPECT_EQ(keptHexDigits("ab"), "") << "lower case is outside the set";
    EXPECT_EQ(keptHexDigits("DEADBEEF"), "DEADBEEF");
    EXPECT_EQ(keptHexDigits("12 34"), "12");
}

}  // namespace
}  // namespace chipsight
