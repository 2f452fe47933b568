// The report of an image computed the plain way, level by level and part by part.
#include "tests/support/reference_report.h"

#include <cstdio>

#include "core/checksum/crc32.h"
#include "core/identify/identify.h"

namespace chipsight::testing {

std::string referenceReport(const EntryTable& entries, std::span<const std::uint8_t> image,
                            std::string_view name, int splitLevel, bool ignoreBad) {
    const std::string shown = reportName(name);
    const auto length = std::uint32_t(image.size());
    const auto hex = [](std::uint32_t v) {
        char b[9];
        std::snprintf(b, sizeof b, "%X", v);
        return std::string(b);
    };
    std::string block(kBlockHead);
    std::uint8_t all = 0xFF, any = 0;
    for (const std::uint8_t b : image) all &= b, any |= b;
    if (length == 0 || all == 0xFF) block += "\r\n** Warning: ROM appears to be blank! **";
    const std::uint32_t whole = crc32Portable(0, image.data(), length);
    bool found = false;
    for (int i = 0; i < splitLevel && i < 9; ++i) {
        const std::uint32_t parts = 1u << i, size = length / parts;
        for (std::uint32_t j = 0; j < parts; ++j) {
            const std::uint32_t crc = crc32Portable(0, image.data() + std::size_t(j) * size, size);
            if (ignoreBad && isBlankBlock(size, crc)) continue;
            bool first = true;
            for (const RomEntry& e : entries) {
                if (e.crc != crc || e.size != size) continue;
                if (first)
                    block += "\r\n" + shown + ": (" + std::to_string(j + 1) + "/" +
                             std::to_string(parts) + ") [" + hex(crc) + "]";
                first = false;
                block +=
                    "\r\n\t- " + reportName(e.nameText()) + " : " + reportName(e.descriptionText());
                found = true;
            }
        }
    }
    if (splitLevel < 1 || !found) {
        block += "\r\n" + shown + ":[" + hex(whole) + "] Not Found!";
        if (any != 0xFF) {
            block += "\r\n\t** warning some unused bits [";
            for (int bit = 7; bit >= 0; --bit) block += char('0' + ((any >> bit) & 1));
            block += "] possible bad ROM.";
        }
    }
    return block;
}

}  // namespace chipsight::testing
