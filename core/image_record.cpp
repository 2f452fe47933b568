// The matches of an image as data, found by the same lookups as its report.
#include "core/image_record.h"

#include "core/identify.h"

namespace chipsight {
namespace {

void addMatches(const EntryTable& entries, RecordPart part, const EntrySources& sources,
                std::vector<RecordPart>& out) {
    entries.forEachMatch(part.crc, part.size, [&](const auto& e, std::size_t at) {
        RecordEntry entry;
        if constexpr (std::is_same_v<std::decay_t<decltype(e)>, DatEntry>) {
            const DatEntryInfo info = e.info();
            entry.name = info.name;
            entry.description = info.setDescription;
            entry.set = info.setName;
            entry.list = info.listName;
            entry.database = sources.datFile(e.store);
            entry.status = info.badDump ? "baddump" : "good";
        } else {
            entry.name = e.nameText();
            entry.description = e.descriptionText();
            entry.database = sources.tableFile(at);
        }
        part.entries.push_back(std::move(entry));
    });
    if (!part.entries.empty()) out.push_back(std::move(part));
}

}  // namespace

std::vector<RecordPart> matchingParts(const EntryTable& entries, const ImageDigest& digest,
                                      bool ignoreBad, const EntrySources& sources) {
    std::vector<RecordPart> out;
    for (int i = 0; i < digest.levels(); ++i) {
        const std::uint32_t parts = 1u << i, size = digest.length() >> i;
        for (std::uint32_t j = 0; j < parts; ++j) {
            const std::uint32_t crc = digest.partCrc(i, j);
            if (ignoreBad && isBlankBlock(size, crc)) continue;
            addMatches(entries, {i, j + 1, parts, crc, size, {}}, sources, out);
        }
    }
    return out;
}

std::vector<RecordPart> matchingParts(const EntryTable& entries, std::uint32_t crc,
                                      std::uint32_t size, const EntrySources& sources) {
    std::vector<RecordPart> out;
    addMatches(entries, {0, 1, 1, crc, size, {}}, sources, out);
    return out;
}

}  // namespace chipsight
