// Undoing the doctor's finds on a dump's bytes.
#include "core/repair/mend.h"

#include <algorithm>

#include "core/checksum/crc32.h"
#include "core/doctor/doctor.h"

namespace chipsight::repair {

namespace {

using doctor::NearMatch;
using doctor::Transform;

// The dump's bytes with `t` applied; each of these transforms is its own inverse.
std::vector<std::uint8_t> transformed(std::span<const std::uint8_t> dump, Transform t) {
    std::vector<std::uint8_t> out(dump.begin(), dump.end());
    switch (t) {
        case Transform::ByteSwap:
            for (std::size_t i = 0; i + 1 < out.size(); i += 2) std::swap(out[i], out[i + 1]);
            break;
        case Transform::WordSwap:
            for (std::size_t i = 0; i + 3 < out.size(); i += 4) {
                std::swap(out[i], out[i + 2]);
                std::swap(out[i + 1], out[i + 3]);
            }
            break;
        case Transform::BitReversal:
            for (std::uint8_t& b : out) {
                std::uint8_t r = 0;
                for (int bit = 0; bit < 8; ++bit)
                    r = std::uint8_t(r | ((b >> bit & 1) << (7 - bit)));
                b = r;
            }
            break;
        case Transform::Inversion:
            for (std::uint8_t& b : out) b = std::uint8_t(~b);
            break;
        default:
            break;
    }
    return out;
}

// Part `part` of `parts` of the dump: every parts-th byte for the lanes of a bus, the first
// copy for an overdump.
std::vector<std::uint8_t> within(std::span<const std::uint8_t> dump, const NearMatch& m) {
    std::vector<std::uint8_t> out;
    if (m.parts == 0 || m.part == 0) return out;
    if (m.transform == Transform::Overdump)
        return {dump.begin(), dump.begin() + std::ptrdiff_t(dump.size() / m.parts)};
    for (std::size_t i = m.part - 1; i < dump.size(); i += m.parts) out.push_back(dump[i]);
    return out;
}

}  // namespace

bool isTheRom(std::span<const std::uint8_t> bytes, const board::CatalogueRom& rom) {
    return bytes.size() == rom.size &&
           Crc32(0, bytes.data(), std::uint32_t(bytes.size())) == rom.crc &&
           (!rom.sha1 || doctor::sha1(bytes) == *rom.sha1);
}

std::optional<std::vector<std::uint8_t>> mendedRom(
    const board::ChipLine& line, std::span<const std::span<const std::uint8_t>> bytes,
    const board::CatalogueRom& rom) {
    if (!line.near || !line.dump || *line.dump >= bytes.size()) return std::nullopt;
    const NearMatch& m = *line.near;
    const std::span<const std::uint8_t> dump = bytes[*line.dump];
    std::vector<std::uint8_t> out;
    switch (m.kind) {
        case NearMatch::Kind::Transformed:
            out = transformed(dump, m.transform);
            break;
        case NearMatch::Kind::Within:
            out = within(dump, m);
            break;
        case NearMatch::Kind::Interleaved: {
            if (m.second >= bytes.size() || bytes[m.second].size() != dump.size()) break;
            for (std::size_t i = 0; i < dump.size(); ++i)
                out.insert(out.end(), {dump[i], bytes[m.second][i]});
            break;
        }
        case NearMatch::Kind::BitsOff:
            out.assign(dump.begin(), dump.end());
            for (const doctor::BitOff& bit : m.bits)
                if (bit.byte < out.size()) out[bit.byte] ^= std::uint8_t(1u << bit.bit);
            break;
    }
    if (!isTheRom(out, rom)) return std::nullopt;
    return out;
}

}  // namespace chipsight::repair
