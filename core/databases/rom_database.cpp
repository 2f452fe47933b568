// Byte layouts of the database records, little-endian on any host.
#include "core/databases/rom_database.h"

#include <algorithm>
#include <cstring>

#include "core/sys/byte_order.h"

namespace chipsight {
namespace {}  // namespace

std::string_view fieldText(std::span<const std::uint8_t> field) {
    const auto nul = std::find(field.begin(), field.end(), std::uint8_t{0});
    return {reinterpret_cast<const char*>(field.data()), std::size_t(nul - field.begin())};
}

void writeField(std::span<std::uint8_t> field, std::string_view text) {
    const std::size_t n = std::min(field.size(), text.size());
    std::memcpy(field.data(), text.data(), n);
    std::fill(field.begin() + std::ptrdiff_t(n), field.end(), std::uint8_t{0});
}

RomEntry RomEntry::decode(std::span<const std::uint8_t, kSize> b) {
    RomEntry e;
    e.crc = load32(&b[0]);
    e.size = load32(&b[4]);
    std::copy_n(&b[8], kNameWidth, e.name.begin());
    std::copy_n(&b[26], kDescriptionWidth, e.description.begin());
    std::copy_n(&b[106], 2, e.reserved.begin());
    return e;
}

std::array<std::uint8_t, RomEntry::kSize> RomEntry::encode() const {
    std::array<std::uint8_t, kSize> b{};
    store32(&b[0], crc);
    store32(&b[4], size);
    std::copy(name.begin(), name.end(), &b[8]);
    std::copy(description.begin(), description.end(), &b[26]);
    std::copy(reserved.begin(), reserved.end(), &b[106]);
    return b;
}

RomTableRecord RomTableRecord::decode(std::span<const std::uint8_t, kSize> b) {
    RomTableRecord r;
    r.gameIndex = std::int16_t(load16(&b[kGameIndexAt]));
    std::copy_n(&b[kNameAt], kNameWidth, r.name.begin());
    r.crc = load32(&b[kCrcAt]);
    r.size = load32(&b[kSizeAt]);
    return r;
}

RomEntry joinRecord(const RomTableRecord& rom, std::span<const std::uint8_t> gameTable) {
    RomEntry e;
    e.crc = rom.crc;
    e.size = rom.size;
    writeField(e.name, fieldText(rom.name));
    const std::size_t games = gameTable.size() / GameRecord::kSize;
    if (rom.gameIndex >= 0 && std::size_t(rom.gameIndex) < games) {
        const auto game =
            gameTable.subspan(std::size_t(rom.gameIndex) * GameRecord::kSize, GameRecord::kSize);
        writeField(e.description, fieldText(game));
    }
    return e;
}

}  // namespace chipsight
