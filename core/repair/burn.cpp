// Fitting a ROM to an EPROM: one table of the parts, and the two ways a ROM meets one (repeated to
// fill it, or split into byte lanes for 8-bit parts on a 16-bit bus).
#include "core/repair/burn.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "core/checksum/crc32.h"

namespace chipsight::repair {

namespace {

// The parts, by size: 8-bit parts from 64 Kibit to 8 Mibit, then the 16-bit ones.
constexpr EpromPart kParts[] = {
    {"27C64", 8u << 10, 8},    {"27C128", 16u << 10, 8},  {"27C256", 32u << 10, 8},
    {"27C512", 64u << 10, 8},  {"27C010", 128u << 10, 8}, {"27C020", 256u << 10, 8},
    {"27C040", 512u << 10, 8}, {"27C080", 1u << 20, 8},   {"27C801", 1u << 20, 8},
    {"27C160", 2u << 20, 16},  {"27C322", 4u << 20, 16},
};

// `image` repeated to fill `bytes`; `bytes` is a multiple of its size.
std::vector<std::uint8_t> filled(std::vector<std::uint8_t> image, std::uint32_t bytes) {
    const std::size_t one = image.size();
    image.reserve(bytes);
    while (image.size() < bytes) image.insert(image.end(), image.begin(), image.begin() + one);
    return image;
}

}  // namespace

std::optional<EpromPart> epromPart(std::string_view name) {
    for (const EpromPart& part : kParts)
        if (std::equal(name.begin(), name.end(), part.name.begin(), part.name.end(),
                       [](char a, char b) { return std::toupper(a) == std::toupper(b); }))
            return part;
    return std::nullopt;
}

std::string epromPartNames() {
    std::string names;
    for (const EpromPart& part : kParts) (names += names.empty() ? "" : ", ") += part.name;
    return names;
}

std::vector<BurnImage> fitToPart(std::string_view romName, std::span<const std::uint8_t> rom,
                                 unsigned dataWidth, bool bigEndian,
                                 const std::optional<EpromPart>& part, std::string& refused) {
    const std::string name(romName);
    if (!part) return {{name, {rom.begin(), rom.end()}}};
    std::vector<BurnImage> images;
    if (dataWidth == 16 && part->width == 8) {
        // Two parts, one for each byte lane of the 16-bit bus.
        BurnImage even{name + ".even", {}}, odd{name + ".odd", {}};
        for (std::size_t i = 0; i + 1 < rom.size(); i += 2) {
            even.bytes.push_back(rom[i]);
            odd.bytes.push_back(rom[i + 1]);
        }
        images = {std::move(even), std::move(odd)};
    } else if (part->width == 16 && dataWidth != 16) {
        refused = name + " is " + (dataWidth == 0 ? "not known to be" : "not") +
                  " 16 bits wide, as a " + std::string(part->name) + " is";
        return {};
    } else {
        images = {{name, {rom.begin(), rom.end()}}};
        if (part->width == 16 && bigEndian)
            for (std::size_t i = 0; i + 1 < images[0].bytes.size(); i += 2)
                std::swap(images[0].bytes[i], images[0].bytes[i + 1]);
    }
    for (BurnImage& image : images) {
        const std::size_t size = image.bytes.size();
        if (size == 0 || size > part->bytes || part->bytes % size != 0) {
            refused = image.name + " (" + std::to_string(size) + " bytes) does not fit a " +
                      std::string(part->name) + " (" + std::to_string(part->bytes) + " bytes)";
            return {};
        }
        image.bytes = filled(std::move(image.bytes), part->bytes);
    }
    return images;
}

ByteSums byteSums(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    for (const std::uint8_t b : bytes) sum += b;
    return {std::uint8_t(sum), std::uint16_t(sum), sum};
}

std::string burnLine(const std::string& path, std::uint32_t crc, const ByteSums& s) {
    char text[96];
    std::snprintf(text, sizeof text,
                  ": CRC-32 %08X, byte sums %02X (8-bit) %04X (16-bit) %08X (32-bit)", crc, s.sum8,
                  s.sum16, s.sum32);
    return path + text;
}

std::string burnLine(const std::string& path, std::span<const std::uint8_t> bytes) {
    return burnLine(path, Crc32(0, bytes.data(), std::uint32_t(bytes.size())), byteSums(bytes));
}

}  // namespace chipsight::repair
