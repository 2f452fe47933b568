// Report building: blank-block test, levels and parts, part headers, entry and Not Found lines.
#include "core/identify.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/crc32.h"
#include "core/texts.h"

namespace chipsight {
namespace {

struct BlankRow {
    std::uint32_t size;
    std::uint32_t crc;
};

// CRC-32 of blocks of 0xFF bytes.
constexpr BlankRow kBlankBlocks[] = {
    {256, 0xFEA8A821},  {1024, 0xB83AFFF4},  {2048, 0x3F55D17F},  {4096, 0xF154670A},
    {8192, 0xB4293435}, {16384, 0x690B37D3}, {32768, 0x1B43EABD}, {65536, 0xDEAB7E4E},
};

std::string hex(std::uint32_t v) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%" PRIX32, v);
    return buffer;
}

// The database's texts come from files anyone may have written: they obey the rule of file
// names, so that neither can forge a line or reach a terminal as a control sequence.
void appendEntryLine(std::string& block, std::string_view name, std::string_view description) {
    block += text::kEntryLead;
    block += reportName(name);
    block += text::kEntrySeparator;
    block += reportName(description);
}
void appendEntryLine(std::string& block, const RomEntry& e) {
    appendEntryLine(block, e.nameText(), e.descriptionText());
}
// A DAT entry shows the ROM's name in full, and its set after the set's description.
void appendEntryLine(std::string& block, const DatEntry& e) {
    const DatEntryInfo info = e.info();
    appendEntryLine(block, info.name, datEntryDescription(info));
}

void appendNotFound(std::string& block, std::string_view name, std::uint32_t crc) {
    block += "\r\n";
    block += name;
    block += ":[" + hex(crc) + text::kNotFound;
}

}  // namespace

bool isBlankBlock(std::uint32_t size, std::uint32_t crc) {
    return std::any_of(std::begin(kBlankBlocks), std::end(kBlankBlocks),
                       [&](const BlankRow& row) { return row.size == size && row.crc == crc; });
}

std::string reportName(std::string_view fileName) {
    std::string name;
    name.reserve(fileName.size());
    for (std::size_t i = 0; i < fileName.size(); ++i) {
        const auto u = static_cast<unsigned char>(fileName[i]);
        // The C1 controls as UTF-8 (C2 80 to C2 9F): a terminal takes U+009B for an escape.
        const bool c1 = u == 0xC2 && i + 1 < fileName.size() &&
                        (static_cast<unsigned char>(fileName[i + 1]) & 0xE0) == 0x80;
        if (c1) ++i;
        name += u < 0x20 || u == 0x7F || c1 ? '?' : fileName[i];
    }
    return name;
}

Report buildReport(const EntryTable& entries, std::span<const std::uint8_t> image,
                   std::string_view fileName, int splitLevel, bool ignoreBad) {
    ImageDigest digest(std::uint32_t(image.size()), splitLevel);
    digest.add(image);
    digest.finish();
    return buildReport(entries, digest, fileName, ignoreBad);
}

Report buildReport(const EntryTable& entries, const ImageDigest& digest, std::string_view fileName,
                   bool ignoreBad) {
    const std::string name = reportName(fileName);
    const std::uint32_t length = digest.length();
    Report report;
    report.block = kBlockHead;
    if (length == 0 || digest.allBits() == 0xFF) report.block += text::kBlank;

    const int levels = digest.levels();
    report.crc = digest.crc();
    // Every part's bucket is asked for before the first is looked at, so the lookups wait on
    // memory together rather than one after another.
    for (int i = 0; i < levels; ++i) {
        const std::uint32_t parts = 1u << i;
        for (std::uint32_t j = 0; j < parts; ++j)
            entries.prefetch(digest.partCrc(i, j), length >> i);
    }
    for (int i = 0; i < levels; ++i) {
        const std::uint32_t parts = 1u << i;
        const std::uint32_t partSize = length >> i;
        for (std::uint32_t j = 0; j < parts; ++j) {
            const std::uint32_t crc = digest.partCrc(i, j);
            if (ignoreBad && isBlankBlock(partSize, crc)) continue;
            bool first = true;
            entries.forEachMatch(crc, partSize, [&](const auto& e) {
                if (first) {
                    report.block += "\r\n" + name + ": (" + std::to_string(j + 1) + "/" +
                                    std::to_string(parts) + ") [" + hex(crc) + "]";
                    first = false;
                }
                appendEntryLine(report.block, e);
                report.found = true;
            });
        }
    }

    if (levels < 1 || !report.found) {
        report.found = false;
        appendNotFound(report.block, name, report.crc);
        const std::uint8_t any = digest.anyBits();
        if (any != 0xFF) {
            report.block += text::kUnusedBitsHead;
            for (int bit = 7; bit >= 0; --bit) report.block += char('0' + ((any >> bit) & 1));
            report.block += text::kUnusedBitsTail;
        }
    }
    return report;
}

Report buildManualReport(const EntryTable& entries, std::uint32_t crc, std::uint32_t size,
                         std::string_view label) {
    Report report;
    report.block = kBlockHead;
    entries.forEachMatch(crc, size, [&](const auto& e) {
        if (!report.found) {
            report.block += "\r\n";
            report.block += label;
            report.block += ": [" + hex(crc) + "]";
        }
        appendEntryLine(report.block, e);
        report.found = true;
    });
    report.crc = crc;
    if (!report.found) appendNotFound(report.block, label, crc);
    return report;
}

}  // namespace chipsight
