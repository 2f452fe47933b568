// Report building: blank-block test, levels and parts, part headers, entry and Not Found lines.
#include "core/identify.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "core/crc32.h"

namespace chipsight {
namespace {

struct BlankRow {
    std::uint32_t size;
    std::uint32_t crc;
};

// CRC-32 of blocks of 0xFF bytes.
constexpr BlankRow kBlankBlocks[] = {
    {256, 0xFEA8A821},   {1024, 0xB83AFFF4},  {2048, 0x3F55D17F},  {4096, 0xF154670A},
    {8192, 0xB4293435},  {16384, 0x690B37D3}, {32768, 0x1B43EABD}, {65536, 0xDEAB7E4E},
};

// Identification reads the split level between 1 and 9; anything beyond 9 levels would only
// multiply empty parts.
constexpr int kMaxLevels = 9;

std::string hex(std::uint32_t v) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%" PRIX32, v);
    return buffer;
}

void appendEntryLine(std::string& block, const RomEntry& e) {
    block += "\r\n\t- ";
    block += e.nameText();
    block += " : ";
    block += e.descriptionText();
}

void appendNotFound(std::string& block, std::string_view name, std::uint32_t crc) {
    block += "\r\n";
    block += name;
    block += ":[" + hex(crc) + "] Not Found!";
}

}  // namespace

bool isBlankBlock(std::uint32_t size, std::uint32_t crc) {
    return std::any_of(std::begin(kBlankBlocks), std::end(kBlankBlocks),
                       [&](const BlankRow& row) { return row.size == size && row.crc == crc; });
}

std::string reportName(std::string_view fileName) {
    std::string name(fileName);
    for (char& c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) c = '?';
    }
    return name;
}

Report buildReport(const EntryTable& entries, std::span<const std::uint8_t> image,
                   std::string_view fileName, int splitLevel, bool ignoreBad) {
    const std::string name = reportName(fileName);
    const auto length = std::uint32_t(image.size());
    Report report;
    report.block = kBlockHead;

    std::uint8_t all = 0xFF, any = 0x00;
    for (const std::uint8_t b : image) {
        all &= b;
        any |= b;
    }
    if (length == 0 || all == 0xFF) report.block += "\r\n** Warning: ROM appears to be blank! **";

    const int levels = std::min(splitLevel, kMaxLevels);
    // Level 0 is the whole image, so its checksum is the image's.
    report.crc = levels >= 1 ? 0 : Crc32(0, image.data(), length);
    for (int i = 0; i < levels; ++i) {
        const std::uint32_t parts = 1u << i;
        const std::uint32_t partSize = length / parts;
        for (std::uint32_t j = 0; j < parts; ++j) {
            const std::uint32_t crc = Crc32(0, image.data() + std::size_t(j) * partSize, partSize);
            if (i == 0) report.crc = crc;
            if (ignoreBad && isBlankBlock(partSize, crc)) continue;
            bool first = true;
            for (const RomEntry& e : entries) {
                if (e.crc != crc || e.size != partSize) continue;
                if (first) {
                    report.block += "\r\n" + name + ": (" + std::to_string(j + 1) + "/" +
                                    std::to_string(parts) + ") [" + hex(crc) + "]";
                    first = false;
                }
                appendEntryLine(report.block, e);
                report.found = true;
            }
        }
    }

    if (levels < 1 || !report.found) {
        report.found = false;
        appendNotFound(report.block, name, report.crc);
        if (any != 0xFF) {
            report.block += "\r\n\t** warning some unused bits [";
            for (int bit = 7; bit >= 0; --bit) report.block += char('0' + ((any >> bit) & 1));
            report.block += "] possible bad ROM.";
        }
    }
    return report;
}

Report buildManualReport(const EntryTable& entries, std::uint32_t crc, std::uint32_t size,
                         std::string_view label) {
    Report report;
    report.block = kBlockHead;
    for (const RomEntry& e : entries) {
        if (e.crc != crc || e.size != size) continue;
        if (!report.found) {
            report.block += "\r\n";
            report.block += label;
            report.block += ": [" + hex(crc) + "]";
        }
        appendEntryLine(report.block, e);
        report.found = true;
    }
    report.crc = crc;
    if (!report.found) appendNotFound(report.block, label, crc);
    return report;
}

}  // namespace chipsight
