// Choosing the zip's members from the board's chips, and writing it.
#include "core/repair/set_writer.h"

#include <algorithm>

#include "core/identify/identify.h"
#include "core/repair/mend.h"
#include "core/sys/file_layer.h"

namespace chipsight::repair {

SetPlan planSet(const board::Catalogue& catalogue,
                std::span<const std::span<const std::uint8_t>> bytes,
                const board::BoardAnswer& answer, const RomSource& source) {
    using namespace board;
    SetPlan plan;
    if (answer.candidates.empty()) {
        plan.refused = "No set holds a dump of the board";
        return plan;
    }
    const CatalogueSet set = catalogue.set(answer.candidates.front().set);
    const bool item = set.kind == SetKind::SoftwareItem;
    if (!safeComponent(set.name) || (item && !safeComponent(set.list))) {
        plan.refused = "The set " +
                       reportName(item ? std::string(set.list) + ":" + std::string(set.name)
                                       : std::string(set.name)) +
                       " cannot stand as a file's path";
        return plan;
    }
    plan.file = item ? std::string(set.list) + "/" : std::string();
    plan.file.append(set.name).append(".zip");
    for (const ChipLine& line : answer.chips) {
        // A device's ROMs live in the device's own set.
        if (line.from == ChipFrom::Device) continue;
        ++plan.chips;
        const CatalogueRom rom = catalogue.rom(line.rom);
        const std::string name(rom.name);
        const auto leave = [&](const char* why) { plan.left.push_back({name, why}); };
        if (!safeMemberName(rom.name)) {
            leave("a name that cannot stand in a zip");
        } else if (!line.dump ||
                   (line.state != ChipState::Found && line.state != ChipState::BadDumpKnown)) {
            // A known bad dump is the dump the set has: MAME's audit wants it as it is.
            // The doctor's find undone, else the user's collection.
            if (std::optional<std::vector<std::uint8_t>> mended = mendedRom(line, bytes, rom)) {
                plan.taken.push_back(std::move(*mended));
                plan.takenNames.push_back(name);
                plan.mended.push_back(name);
                continue;
            }
            std::optional<std::vector<std::uint8_t>> held;
            if (source && rom.dumpable()) held = source(rom);
            if (held && held->size() == rom.size) {
                plan.taken.push_back(std::move(*held));
                plan.takenNames.push_back(name);
                plan.fromCollection.push_back(name);
                continue;
            }
            leave(line.state == ChipState::NoGoodDump ? "no good dump known"
                  : line.state == ChipState::Missing  ? "missing"
                                                      : "not found as it is");
        } else if (*line.dump >= bytes.size() || bytes[*line.dump].size() != rom.size) {
            leave("its dump's bytes were not kept");
        } else if (std::any_of(plan.members.begin(), plan.members.end(),
                               [&](const ZipMember& m) { return m.name == name; })) {
            --plan.chips;  // the same name twice is one file
        } else {
            plan.members.push_back({name, bytes[*line.dump]});
        }
    }
    // Added once every chip is placed: `taken` no longer moves.
    for (std::size_t i = 0; i < plan.taken.size(); ++i)
        plan.members.push_back({plan.takenNames[i], plan.taken[i]});
    return plan;
}

SetWritten writeSet(const std::string& folder, const SetPlan& plan, bool replace) {
    SetWritten out;
    if (plan.file.empty()) return out.failure = plan.refused, out;
    if (plan.members.empty())
        return out.failure = "No chip of " + plan.file + " was found as the set has it", out;
    const std::string path = out.path = folder + "/" + plan.file;
    const std::size_t slash = path.rfind('/');
    if (!makeDirectories(path.substr(0, slash)))
        return out.failure = "Cannot make the folder " + path.substr(0, slash), out;
    const std::string why = writeZip(path, plan.members, replace);
    if (!why.empty()) {
        out.exists = why == kFileExists;
        return out.failure = "Cannot write " + path + ": " + why, out;
    }
    out.line = "Set written: " + path + ", " + std::to_string(plan.members.size()) + " of " +
               std::to_string(plan.chips) + " chips";
    for (std::size_t i = 0; i < plan.mended.size(); ++i)
        out.line += (i == 0 ? "; mended from the dumps: " : ", ") + plan.mended[i];
    for (std::size_t i = 0; i < plan.fromCollection.size(); ++i)
        out.line += (i == 0 ? "; from the collection: " : ", ") + plan.fromCollection[i];
    for (std::size_t i = 0; i < plan.left.size(); ++i)
        out.line +=
            (i == 0 ? "; not in it: " : ", ") + plan.left[i].name + " (" + plan.left[i].why + ")";
    return out;
}

}  // namespace chipsight::repair
