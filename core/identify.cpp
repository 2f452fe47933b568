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

// Identification reads the split level between 1 and 9; anything beyond 9 levels would only
// multiply empty parts.
constexpr int kMaxLevels = 9;

std::string hex(std::uint32_t v) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%" PRIX32, v);
    return buffer;
}

// The database's texts come from files anyone may have written: they obey the rule of file
// names, so that neither can forge a line or reach a terminal as a control sequence.
void appendEntryLine(std::string& block, const RomEntry& e) {
    block += text::kEntryLead;
    block += reportName(e.nameText());
    block += text::kEntrySeparator;
    block += reportName(e.descriptionText());
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

namespace {

// The AND and OR of every byte, eight bytes a step.
void accumulateBits(std::span<const std::uint8_t> image, std::uint8_t& all, std::uint8_t& any) {
    std::uint64_t all64 = ~0ull, any64 = 0;
    std::size_t i = 0;
    for (; i + 8 <= image.size(); i += 8) {
        std::uint64_t word;
        std::memcpy(&word, image.data() + i, 8);
        all64 &= word;
        any64 |= word;
    }
    for (int shift = 0; shift < 64; shift += 8) {
        all &= std::uint8_t(all64 >> shift);
        any |= std::uint8_t(any64 >> shift);
    }
    for (; i < image.size(); ++i) {
        all &= image[i];
        any |= image[i];
    }
}

// The checksum of every part of every level, level by level. The parts of a power-of-two
// image nest, so only the finest level that has bytes in its parts reads the image; each
// coarser part is the combination of its two halves, and finer levels have empty parts.
std::vector<std::vector<std::uint32_t>> partChecksums(std::span<const std::uint8_t> image,
                                                      int levels) {
    const auto length = std::uint32_t(image.size());
    std::vector<std::vector<std::uint32_t>> crcs(std::size_t(std::max(levels, 0)));
    // Parts of a power of two nest: each checksum of a level combines two of the level below,
    // so only the finest level that still has bytes in its parts reads the image.
    int finest = levels - 1;
    while (finest > 0 && (1u << finest) > length) --finest;
    for (int i = levels - 1; i >= 0; --i) {
        const std::uint32_t parts = 1u << i;
        const std::uint32_t partSize = length / parts;
        auto& level = crcs[std::size_t(i)];
        level.resize(parts);
        if (i < finest) {
            const auto& finer = crcs[std::size_t(i) + 1];
            for (std::uint32_t j = 0; j < parts; ++j)
                level[j] = crc32Combine(finer[2 * j], finer[2 * j + 1], partSize / 2);
        } else if (partSize != 0) {
            for (std::uint32_t j = 0; j < parts; ++j)
                level[j] = Crc32(0, image.data() + std::size_t(j) * partSize, partSize);
        }  // else: parts of no bytes, whose checksum is 0
    }
    return crcs;
}

}  // namespace

Report buildReport(const EntryTable& entries, std::span<const std::uint8_t> image,
                   std::string_view fileName, int splitLevel, bool ignoreBad) {
    const std::string name = reportName(fileName);
    const auto length = std::uint32_t(image.size());
    Report report;
    report.block = kBlockHead;

    std::uint8_t all = 0xFF, any = 0x00;
    accumulateBits(image, all, any);
    if (length == 0 || all == 0xFF) report.block += text::kBlank;

    const int levels = std::min(splitLevel, kMaxLevels);
    const auto crcs = partChecksums(image, levels);
    // Level 0 is the whole image, so its checksum is the image's.
    report.crc = levels >= 1 ? crcs[0][0] : Crc32(0, image.data(), length);
    for (int i = 0; i < levels; ++i) {
        const std::uint32_t parts = 1u << i;
        const std::uint32_t partSize = length / parts;
        for (std::uint32_t j = 0; j < parts; ++j) {
            const std::uint32_t crc = crcs[std::size_t(i)][j];
            if (ignoreBad && isBlankBlock(partSize, crc)) continue;
            bool first = true;
            entries.forEachMatch(crc, partSize, [&](const RomEntry& e) {
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
    entries.forEachMatch(crc, size, [&](const RomEntry& e) {
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
