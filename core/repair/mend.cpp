// Undoing the doctor's finds on a dump's bytes, as the doctor made the ROM to confirm them.
#include "core/repair/mend.h"

#include "core/checksum/crc32.h"
#include "core/doctor/doctor.h"
#include "core/doctor/near_rom.h"

namespace chipsight::repair {

bool isTheRom(std::span<const std::uint8_t> bytes, std::uint32_t crc, std::uint32_t size,
              const std::optional<std::array<std::uint8_t, 20>>& sha1) {
    return bytes.size() == size && Crc32(0, bytes.data(), std::uint32_t(bytes.size())) == crc &&
           (!sha1 || doctor::sha1(bytes) == *sha1);
}

bool isTheRom(std::span<const std::uint8_t> bytes, const board::CatalogueRom& rom) {
    return isTheRom(bytes, rom.crc, rom.size, rom.sha1);
}

std::optional<std::vector<std::uint8_t>> mendedRom(
    const board::ChipLine& line, std::span<const std::span<const std::uint8_t>> bytes,
    const board::CatalogueRom& rom) {
    if (!line.near || !line.dump || *line.dump >= bytes.size()) return std::nullopt;
    const doctor::NearMatch& m = *line.near;
    const bool paired = m.kind == doctor::NearMatch::Kind::Interleaved;
    if (paired && m.second >= bytes.size()) return std::nullopt;
    std::vector<std::uint8_t> made = doctor::madeRom(
        m, bytes[*line.dump], paired ? bytes[m.second] : std::span<const std::uint8_t>{}, rom.size);
    if (!isTheRom(made, rom)) return std::nullopt;
    return made;
}

}  // namespace chipsight::repair
