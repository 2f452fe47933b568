// Report building: blank-block test, levels and parts, part headers, entry and Not Found lines.
#include "core/identify/identify.h"

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <vector>

#include "core/checksum/crc32.h"
#include "core/checksum/sha1.h"
#include "core/identify/texts.h"
#include "core/sys/number_reading.h"

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

void appendNotFound(std::string& block, std::string_view name, std::string_view key) {
    block += "\r\n";
    block += name;
    block += ":[";
    block += key;
    block += text::kNotFound;
}

// The SHA-1 its DAT gives the entry at `at`; none for an entry of the program's own tables.
std::optional<std::array<std::uint8_t, 20>> sha1At(const EntryTable& entries, std::size_t at) {
    std::optional<std::array<std::uint8_t, 20>> sha1;
    entries.visitEntry(at, [&](const auto& e) {
        if constexpr (std::is_same_v<std::decay_t<decltype(e)>, DatEntry>) sha1 = e.info().sha1;
    });
    return sha1;
}

// A typed hash in capitals, as a report writes checksums.
std::string upperHex(std::string_view lower) {
    std::string text(lower);
    for (char& c : text) c = char(c >= 'a' && c <= 'f' ? c - ('a' - 'A') : c);
    return text;
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

Identification identify(const EntryTable& entries, const ImageDigest& digest, std::string_view name,
                        bool ignoreBad) {
    Identification found;
    found.name = name;
    found.size = digest.length();
    found.crc = digest.crc();
    found.blank = found.size == 0 || digest.allBits() == 0xFF;
    found.anyBits = digest.anyBits();
    const int levels = digest.levels();
    // Every part's bucket is asked for before the first is looked at, so the lookups wait on
    // memory together rather than one after another.
    for (int i = 0; i < levels; ++i) {
        const std::uint32_t parts = 1u << i;
        for (std::uint32_t j = 0; j < parts; ++j)
            entries.prefetch(digest.partCrc(i, j), found.size >> i);
    }
    for (int i = 0; i < levels; ++i) {
        const std::uint32_t parts = 1u << i;
        const std::uint32_t partSize = found.size >> i;
        for (std::uint32_t j = 0; j < parts; ++j) {
            const std::uint32_t crc = digest.partCrc(i, j);
            if (ignoreBad && isBlankBlock(partSize, crc)) continue;
            PartMatch part{i, j + 1, parts, crc, partSize, {}, {}};
            entries.forEachMatch(crc, partSize,
                                 [&](const auto&, std::size_t at) { part.entries.push_back(at); });
            if (!part.entries.empty()) found.parts.push_back(std::move(part));
        }
    }
    found.found = levels >= 1 && !found.parts.empty();
    return found;
}

Identification identifyTyped(const EntryTable& entries, std::uint32_t crc, std::uint32_t size,
                             std::string_view label) {
    Identification found;
    found.name = label;
    found.size = size;
    found.crc = crc;
    found.typed = true;
    PartMatch part{0, 1, 1, crc, size, {}, {}};
    entries.forEachMatch(crc, size,
                         [&](const auto&, std::size_t at) { part.entries.push_back(at); });
    if (!part.entries.empty()) found.parts.push_back(std::move(part));
    found.found = !found.parts.empty();
    return found;
}

std::optional<TypedHash> readTypedHash(std::string_view text) {
    if (const auto sha1 = sha1FromHex(text)) return TypedHash(*sha1);
    if (const auto md5 = md5FromHex(text)) return TypedHash(*md5);
    return std::nullopt;
}

Identification identifyHash(const EntryTable& entries, const std::vector<LoadedDat>& dats,
                            const TypedHash& hash, std::string_view label) {
    Identification found;
    found.name = label;
    found.typed = true;
    found.hash = std::visit([](const auto& bytes) { return lowerHex(bytes); }, hash);
    for (const LoadedDat& dat : dats) {
        if (!dat.store) continue;
        const DatStore* store = dat.store.get();
        const std::vector<std::size_t> carrying = hash.index() == 0
                                                      ? store->entriesWithSha1(std::get<0>(hash))
                                                      : store->entriesWithMd5(std::get<1>(hash));
        for (const std::size_t n : carrying) {
            const std::uint32_t crc = store->crc(n), size = store->romSize(n);
            // Where the entry stands in the table: among the entries of its pair, it is the one.
            std::optional<std::size_t> position;
            entries.forEachMatch(crc, size, [&](const auto& e, std::size_t at) {
                if constexpr (std::is_same_v<std::decay_t<decltype(e)>, DatEntry>)
                    if (e.store == store && e.index == n) position = at;
            });
            if (!position) continue;
            if (found.parts.empty() || found.parts.back().crc != crc ||
                found.parts.back().size != size)
                found.parts.push_back({0, 1, 1, crc, size, {}, {}});
            found.parts.back().entries.push_back(*position);
        }
    }
    found.found = !found.parts.empty();
    return found;
}

bool anySha1ToCheck(const Identification& found, const EntryTable& entries) {
    if (found.typed) return false;
    for (const PartMatch& part : found.parts)
        for (const std::size_t at : part.entries)
            if (sha1At(entries, at)) return true;
    return false;
}

void checkSha1s(Identification& found, const EntryTable& entries,
                std::span<const std::uint8_t> image) {
    if (found.typed || image.size() != found.size) return;
    for (PartMatch& part : found.parts) {
        part.sha1Differs.clear();
        std::optional<std::array<std::uint8_t, 20>> partSha1;
        for (const std::size_t at : part.entries) {
            const auto given = sha1At(entries, at);
            if (!given) continue;
            if (!partSha1)
                partSha1 = sha1Of(image.subspan(std::size_t(part.part - 1) * part.size, part.size));
            if (*given != *partSha1) part.sha1Differs.push_back(at);
        }
    }
}

std::string reportText(const Identification& found, const EntryTable& entries) {
    // A typed label is the program's own; a file's name may hold anything.
    const std::string name = found.typed ? found.name : reportName(found.name);
    const std::string hash = upperHex(found.hash);
    std::string block(kBlockHead);
    if (!found.typed && found.blank) block += text::kBlank;
    if (found.found) {
        for (const PartMatch& part : found.parts) {
            if (hash.empty()) {
                block += "\r\n" + name;
                block += found.typed
                             ? ": [" + hexDigits(part.crc) + "]"
                             : ": (" + std::to_string(part.part) + "/" +
                                   std::to_string(part.parts) + ") [" + hexDigits(part.crc) + "]";
            } else if (&part == &found.parts.front()) {
                // A typed hash has one header over all its entries, as a typed pair has.
                block += "\r\n" + name + ": [" + hash + "]";
            }
            for (const std::size_t at : part.entries) {
                entries.visitEntry(at, [&](const auto& e) { appendEntryLine(block, e); });
                if (std::find(part.sha1Differs.begin(), part.sha1Differs.end(), at) !=
                    part.sha1Differs.end())
                    block += text::kSha1Differs;
            }
        }
        return block;
    }
    appendNotFound(block, name, hash.empty() ? hexDigits(found.crc) : hash);
    if (!found.typed && found.anyBits != 0xFF) {
        block += text::kUnusedBitsHead;
        for (int bit = 7; bit >= 0; --bit) block += char('0' + ((found.anyBits >> bit) & 1));
        block += text::kUnusedBitsTail;
    }
    return block;
}

Report reportOf(const Identification& found, const EntryTable& entries) {
    return {reportText(found, entries), found.crc, found.found};
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
    return reportOf(identify(entries, digest, fileName, ignoreBad), entries);
}

Report buildManualReport(const EntryTable& entries, std::uint32_t crc, std::uint32_t size,
                         std::string_view label) {
    return reportOf(identifyTyped(entries, crc, size, label), entries);
}

}  // namespace chipsight
