#include <gtest/gtest.h>

#include <numeric>

#include "core/repair/burn.h"
#include "core/repair/zip_writer.h"
#include "tests/support/test_support.h"

namespace chipsight::repair {
namespace {

using namespace testing;

std::uint32_t sumOf(const Bytes& bytes) {
    return std::accumulate(bytes.begin(), bytes.end(), std::uint32_t(0));
}

// A 16-bit ROM on two 8-bit parts takes one byte lane each; a 27C256's image on a 27C512 is
// repeated to fill it; what does not fit is refused; the line gives what a programmer shows.
TEST(Burn, RomsAreFittedToThePartAndListedWithTheirSums) {
    const Bytes word = randomBytes(64 << 10, 7), byte = randomBytes(32 << 10, 8);
    std::string refused;
    const auto split = fitToPart("prog.u1", word, 16, false, epromPart("27c256"), refused);
    ASSERT_EQ(split.size(), 2u) << refused;
    Bytes even, odd;
    for (std::size_t i = 0; i < word.size(); i += 2)
        even.push_back(word[i]), odd.push_back(word[i + 1]);
    EXPECT_EQ(split[0].name, "prog.u1.even");
    EXPECT_EQ(split[0].bytes, even);
    EXPECT_EQ(split[1].name, "prog.u1.odd");
    EXPECT_EQ(split[1].bytes, odd);
    EXPECT_EQ(sumOf(even) + sumOf(odd), sumOf(word));

    const auto filled = fitToPart("snd.u9", byte, 8, false, epromPart("27C512"), refused);
    ASSERT_EQ(filled.size(), 1u);
    Bytes twice = byte;
    twice.insert(twice.end(), byte.begin(), byte.end());
    EXPECT_EQ(filled[0].bytes, twice);
    EXPECT_EQ(byteSums(filled[0].bytes).sum32, 2 * sumOf(byte));
    EXPECT_EQ(byteSums(filled[0].bytes).sum16, std::uint16_t(2 * sumOf(byte)));

    // A big-endian 16-bit ROM on a 16-bit part: each word's bytes swapped, then repeated.
    const auto swapped = fitToPart("cpu.u2", word, 16, true, epromPart("27C160"), refused);
    ASSERT_EQ(swapped.size(), 1u) << refused;
    ASSERT_EQ(swapped[0].bytes.size(), 2u << 20);
    for (const std::size_t i : std::initializer_list<std::size_t>{0, 1, 70001, (2u << 20) - 1})
        EXPECT_EQ(swapped[0].bytes[i], word[(i ^ 1) % word.size()]) << i;
    EXPECT_EQ(fitToPart("cpu.u2", word, 16, false, epromPart("27C160"), refused)[0].bytes[0],
              word[0]);

    EXPECT_TRUE(fitToPart("big", word, 8, false, epromPart("27C256"), refused).empty());
    EXPECT_EQ(refused, "big (65536 bytes) does not fit a 27C256 (32768 bytes)");
    EXPECT_TRUE(fitToPart("narrow", byte, 8, false, epromPart("27C160"), refused).empty());
    EXPECT_EQ(refused, "narrow is not 16 bits wide, as a 27C160 is");
    EXPECT_FALSE(epromPart("27C999"));
    EXPECT_EQ(fitToPart("as-is", byte, 0, true, std::nullopt, refused)[0].bytes, byte);

    // Names from a DAT or an archive never lead out of the folder written into.
    for (const char* name : {"../x", "/etc/x", "a/../x", "a//x", "x\n", "..", ""})
        EXPECT_FALSE(safeMemberName(name)) << name;
    EXPECT_TRUE(safeMemberName("sub/x.bin"));
    EXPECT_FALSE(safeComponent("sub/x.bin"));

    EXPECT_EQ(burnLine("out/x.bin", Bytes{1, 2, 3, 0xFF}),
              "out/x.bin: CRC-32 9C53D059, byte sums 05 (8-bit) 0105 (16-bit) 00000105 (32-bit)");
}

}  // namespace
}  // namespace chipsight::repair
