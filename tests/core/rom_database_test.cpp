// Record layouts, field texts and the join of a chip with its game.
#include "core/rom_database.h"

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using testing::Bytes;

std::span<const std::uint8_t, RomEntry::kSize> entrySpan(const Bytes& b) {
    return std::span<const std::uint8_t, RomEntry::kSize>(b.data(), RomEntry::kSize);
}

TEST(FieldText, StopsAtTheFirstNulAndNeverPastTheField) {
    const Bytes full = testing::bytesOf("ABCDEFGHIJKLMNOPQR");  // 18 bytes, no NUL
    Bytes withTail = full;
    withTail.push_back('Z');
    EXPECT_EQ(fieldText(std::span(withTail).first(18)), "ABCDEFGHIJKLMNOPQR");
    const Bytes embedded = {'A', 'B', 0, 'x', 'y'};
    EXPECT_EQ(fieldText(embedded), "AB");
    EXPECT_EQ(fieldText(std::span<const std::uint8_t>()), "");
}

TEST(FieldText, WritingCutsAtTheWidthAndFillsWithNul) {
    std::array<std::uint8_t, 6> field;
    field.fill(0xEE);
    writeField(field, "AB");
    EXPECT_EQ(field, (std::array<std::uint8_t, 6>{'A', 'B', 0, 0, 0, 0}));
    writeField(field, "ABCDEFGH");
    EXPECT_EQ(field, (std::array<std::uint8_t, 6>{'A', 'B', 'C', 'D', 'E', 'F'}));
    writeField(field, "");
    EXPECT_EQ(field, (std::array<std::uint8_t, 6>{}));
}

TEST(RomEntry, DecodesLittleEndianAndEncodesBackByteForByte) {
    Bytes bytes = testing::romEntryBytes(0x12345678, 0x00010000, "U7", "Space Raiders");
    bytes[106] = 0xAB;  // reserved bytes travel unchanged
    bytes[107] = 0xCD;
    EXPECT_EQ(bytes[0], 0x78);
    const RomEntry e = RomEntry::decode(entrySpan(bytes));
    EXPECT_EQ(e.crc, 0x12345678u);
    EXPECT_EQ(e.size, 0x10000u);
    EXPECT_EQ(e.nameText(), "U7");
    EXPECT_EQ(e.descriptionText(), "Space Raiders");
    const auto encoded = e.encode();
    EXPECT_EQ(Bytes(encoded.begin(), encoded.end()), bytes);
}

TEST(RomEntry, FullFieldsKeepTheirTextsApart) {
    const std::string name(18, 'N');
    const std::string description(80, 'D');
    const Bytes bytes = testing::romEntryBytes(1, 2, name, description);
    const RomEntry e = RomEntry::decode(entrySpan(bytes));
    EXPECT_EQ(e.nameText(), name);
    EXPECT_EQ(e.descriptionText(), description);
}

TEST(RomTableRecord, GameIndexIsSignedLittleEndian) {
    Bytes bytes = testing::romTableBytes(0, "IC12", 0xCAFEF00D, 4096);
    bytes[0] = 0x01;
    bytes[1] = 0x00;
    auto record = RomTableRecord::decode(std::span<const std::uint8_t, 28>(bytes.data(), 28));
    EXPECT_EQ(record.gameIndex, 1);
    EXPECT_EQ(record.crc, 0xCAFEF00Du);
    EXPECT_EQ(record.size, 4096u);
    bytes[0] = bytes[1] = 0xFF;
    record = RomTableRecord::decode(std::span<const std::uint8_t, 28>(bytes.data(), 28));
    EXPECT_EQ(record.gameIndex, -1);
}

TEST(Join, TakesTheNamedGameAndCleansTheNameField) {
    Bytes games = testing::gameBytes("Game zero");
    testing::append(games, testing::gameBytes(std::string(80, 'G')));
    Bytes raw = testing::romTableBytes(1, "AB", 7, 8);
    raw[5] = 'x';  // bytes after the NUL of the name
    raw[10] = 'y';
    const auto record = RomTableRecord::decode(std::span<const std::uint8_t, 28>(raw.data(), 28));
    const RomEntry e = joinRecord(record, games);
    EXPECT_EQ(e.crc, 7u);
    EXPECT_EQ(e.size, 8u);
    std::array<std::uint8_t, 18> expectedName{'A', 'B'};
    EXPECT_EQ(e.name, expectedName);
    EXPECT_EQ(e.descriptionText(), std::string(80, 'G'));
}

TEST(Join, GameIndexThatNamesNoGameGivesAnEmptyDescription) {
    const Bytes games = testing::gameBytes("Only game");
    for (const std::int16_t index : {std::int16_t(-1), std::int16_t(1), std::int16_t(32767)}) {
        RomTableRecord record;
        record.gameIndex = index;
        EXPECT_EQ(joinRecord(record, games).descriptionText(), "") << index;
    }
    RomTableRecord record;
    EXPECT_EQ(joinRecord(record, {}).descriptionText(), "");
    // A game table cut short inside a record does not reach that record.
    const Bytes partial(games.begin(), games.begin() + 40);
    EXPECT_EQ(joinRecord(record, partial).descriptionText(), "");
}

}  // namespace
}  // namespace chipsight
