// The matches of an identification as data, read from the table it was looked up in.
#include "core/session/image_record.h"

#include <algorithm>

namespace chipsight {
namespace {

RecordEntry recordEntry(const RomEntry& e, std::size_t at, const EntrySources& sources) {
    return {std::string(e.nameText()),
            std::string(e.descriptionText()),
            {},
            {},
            sources.tableFile(at),
            {}};
}

RecordEntry recordEntry(const DatEntry& e, std::size_t, const EntrySources& sources) {
    const DatEntryInfo info = e.info();
    return {std::string(info.name),    std::string(info.setDescription),
            std::string(info.setName), std::string(info.listName),
            sources.datFile(e.store),  info.badDump ? "baddump" : "good"};
}

}  // namespace

ImageRecord recordOf(const Identification& found, const EntryTable& entries,
                     const EntrySources& sources) {
    ImageRecord r;
    r.name = found.name;
    r.size = found.size;
    r.crc = found.crc;
    r.typed = found.typed;
    r.hash = found.hash;
    r.blank = found.blank;
    r.anyBits = found.anyBits;
    r.found = found.found;
    for (const PartMatch& match : found.parts) {
        RecordPart part{match.level, match.part, match.parts, match.crc, match.size, {}};
        for (const std::size_t at : match.entries) {
            entries.visitEntry(
                at, [&](const auto& e) { part.entries.push_back(recordEntry(e, at, sources)); });
            part.entries.back().sha1Differs =
                std::find(match.sha1Differs.begin(), match.sha1Differs.end(), at) !=
                match.sha1Differs.end();
        }
        r.parts.push_back(std::move(part));
    }
    return r;
}

}  // namespace chipsight
