// The three record types of the database files, their byte layouts, and the entry table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace chipsight {

// The text of a fixed-width field: its bytes up to the first NUL, or all of them.
std::string_view fieldText(std::span<const std::uint8_t> field);
// Writes `text` into `field`: at most the field's width, the rest NUL.
void writeField(std::span<std::uint8_t> field, std::string_view text);

// One database entry: the element of the entry table and the record of Chipsight.dat.
struct RomEntry {
    static constexpr std::size_t kSize = 108;
    static constexpr std::size_t kNameWidth = 18;
    static constexpr std::size_t kDescriptionWidth = 80;

    std::uint32_t crc = 0;
    std::uint32_t size = 0;
    std::array<std::uint8_t, kNameWidth> name{};
    std::array<std::uint8_t, kDescriptionWidth> description{};
    std::array<std::uint8_t, 2> reserved{};

    static RomEntry decode(std::span<const std::uint8_t, kSize> bytes);
    std::array<std::uint8_t, kSize> encode() const;

    std::string_view nameText() const { return fieldText(name); }
    std::string_view descriptionText() const { return fieldText(description); }

    bool operator==(const RomEntry&) const = default;
};
static_assert(sizeof(RomEntry::name) + sizeof(RomEntry::description) + sizeof(RomEntry::reserved) +
                  8 ==
              RomEntry::kSize);

// One ROM chip of CHIPLORE.ROM.
struct RomTableRecord {
    static constexpr std::size_t kSize = 28;
    static constexpr std::size_t kNameWidth = 18;
    // Where each field lies in the record's bytes.
    static constexpr std::size_t kGameIndexAt = 0, kNameAt = 2, kCrcAt = 20, kSizeAt = 24;

    std::int16_t gameIndex = 0;
    std::array<std::uint8_t, kNameWidth> name{};
    std::uint32_t crc = 0;
    std::uint32_t size = 0;

    static RomTableRecord decode(std::span<const std::uint8_t, kSize> bytes);
};
static_assert(RomTableRecord::kNameAt + RomTableRecord::kNameWidth == RomTableRecord::kCrcAt &&
              RomTableRecord::kSizeAt + 4 == RomTableRecord::kSize);

// One game of CHIPLORE.GAM: nothing but its description. Chips are joined with their game
// straight from the table's bytes.
struct GameRecord {
    static constexpr std::size_t kSize = 80;
};

// The entry of a chip record joined with its game. A gameIndex that names no record of
// `gameTable` (negative, or past its end) gives an empty description.
RomEntry joinRecord(const RomTableRecord& rom, std::span<const std::uint8_t> gameTable);

}  // namespace chipsight
