// The objects of --json, built from the records the core hands over.
#include "cli/json_output.h"

#include <cstdio>
#include <iostream>

#include "core/sys/number_reading.h"

namespace chipsight::cli {

std::string hex8(std::uint32_t value) { return hexDigits(value, 8); }

namespace {

using Json = nlohmann::ordered_json;

Json entryJson(const doctor::FoundEntry& e) {
    Json j = {{"name", e.name}, {"description", e.description}};
    if (!e.board.empty()) j["board"] = e.board;
    return j;
}

const char* transformName(doctor::Transform t) {
    switch (t) {
        case doctor::Transform::ByteSwap:
            return "byte_swap";
        case doctor::Transform::WordSwap:
            return "word_swap";
        case doctor::Transform::BitReversal:
            return "bit_reversal";
        case doctor::Transform::Inversion:
            return "inversion";
        case doctor::Transform::EvenOdd:
            return "even_odd";
        case doctor::Transform::ByteLanes:
            return "byte_lanes";
        case doctor::Transform::Overdump:
            break;
    }
    return "overdump";
}

// What the doctor found, an object a finding, in the order its lines come in the report.
Json doctorJson(const ImageRecord& r) {
    Json out = Json::array();
    if (r.reads) {
        const doctor::ReadsComparison& c = *r.reads;
        out.push_back(
            {{"kind", "reads"},
             {"rule", c.rule == doctor::ReadsRule::And ? "and" : "majority"},
             {"reads", c.reads},
             {"size", r.size},
             {"differing_bytes", c.differingBytes},
             {"flips", std::vector<std::uint64_t>(std::begin(c.flips), std::end(c.flips))},
             {"first_differing", c.firstDiffering}});
    }
    if (!r.examination) return out;
    if (r.examination->findings) {
        const doctor::Findings& f = *r.examination->findings;
        for (const doctor::TransformFinding& t : f.transforms) {
            Json entries = Json::array();
            for (const doctor::FoundEntry& e : t.entries) entries.push_back(entryJson(e));
            out.push_back({{"kind", "transform"},
                           {"transform", transformName(t.transform)},
                           {"part", t.part},
                           {"parts", t.parts},
                           {"crc", hex8(t.crc)},
                           {"size", t.size},
                           {"entries", std::move(entries)}});
        }
        for (const doctor::OneBitFinding& o : f.oneBit) {
            Json bit = {{"kind", "one_bit_off"},
                        {"address", o.byte},
                        {"bit", o.bit},
                        {"confirmed", o.confirmed}};
            if (!o.confirmed) bit["chance"] = o.chance;
            bit["entry"] = entryJson(o.entry);
            out.push_back(std::move(bit));
        }
        if (f.oneBitUnchecked != 0)
            out.push_back({{"kind", "one_bit_off_unchecked"}, {"count", f.oneBitUnchecked}});
        if (f.sameByte) {
            out.push_back({{"kind", "same_byte"}, {"byte", f.firstByte}});
        } else {
            std::vector<int> always0, always1;
            for (int bit = 7; bit >= 0; --bit) {
                if ((f.anyBits >> bit & 1) == 0) always0.push_back(bit);
                if (f.allBits >> bit & 1) always1.push_back(bit);
            }
            if (!always0.empty() || !always1.empty())
                out.push_back(
                    {{"kind", "data_lines"}, {"always_0", always0}, {"always_1", always1}});
            std::vector<int> mirrored;
            for (int line = 31; line >= 0; --line)
                if (f.mirroredLines >> line & 1) mirrored.push_back(line);
            if (!mirrored.empty())
                out.push_back({{"kind", "mirrored_address_lines"}, {"lines", mirrored}});
            for (const doctor::FillRun& run : f.fills)
                out.push_back({{"kind", "fill"},
                               {"byte", run.value},
                               {"start", run.start},
                               {"end", run.end}});
        }
    }
    if (!r.examination->notExamined.empty())
        out.push_back({{"kind", "not_examined"}, {"why", r.examination->notExamined}});
    return out;
}

}  // namespace

nlohmann::ordered_json toJson(const ImageRecord& r) {
    nlohmann::ordered_json j;
    if (!r.path.empty()) j["path"] = r.path;
    j["name"] = r.name;
    // A typed hash has no checksum and size of its own: its entries' are in their matches.
    if (!r.hash.empty()) {
        j[r.hash.size() == 40 ? "sha1" : "md5"] = r.hash;
    } else {
        j["size"] = r.size;
        j["crc"] = hex8(r.crc);
    }
    if (r.sha1) {
        std::string digits;
        for (std::uint8_t byte : *r.sha1) {
            char two[3];
            std::snprintf(two, sizeof two, "%02x", byte);
            digits += two;
        }
        j["sha1"] = digits;
    }
    if (r.typed) {
        j["typed"] = true;
    } else {
        j["blank"] = r.blank;
        // The digits of the unused-bits warning, bit 7 first: 1 where some byte sets the bit.
        std::string bits;
        for (int bit = 7; bit >= 0; --bit) bits += char('0' + ((r.anyBits >> bit) & 1));
        j["unused_bits"] = bits;
    }
    if (!r.headerKind.empty()) j["header"] = {{"kind", r.headerKind}, {"bytes", r.headerBytes}};
    j["found"] = r.found;
    j["matches"] = nlohmann::ordered_json::array();
    for (const RecordPart& part : r.parts) {
        nlohmann::ordered_json p = {{"level", part.level},
                                    {"part", part.part},
                                    {"parts", part.parts},
                                    {"crc", hex8(part.crc)},
                                    {"size", part.size}};
        p["entries"] = nlohmann::ordered_json::array();
        for (const RecordEntry& e : part.entries) {
            nlohmann::ordered_json entry = {{"name", e.name}, {"description", e.description}};
            if (!e.set.empty()) entry["set"] = e.set;
            if (!e.list.empty()) entry["list"] = e.list;
            entry["database"] = e.database;
            if (!e.status.empty()) entry["status"] = e.status;
            if (e.sha1Differs) entry["sha1_differs"] = true;
            p["entries"].push_back(std::move(entry));
        }
        j["matches"].push_back(std::move(p));
    }
    if (r.reads || r.examination) j["doctor"] = doctorJson(r);
    return j;
}

// One object a line. Texts that are not UTF-8 (file names may be anything) have their bad bytes
// replaced, as JSON holds only Unicode.
nlohmann::ordered_json boardJson(const board::Catalogue& c, std::span<const board::Dump> dumps,
                                 const board::BoardAnswer& answer) {
    using namespace board;
    const auto setName = [&](SetId id) { return std::string(c.set(id).name); };
    const auto dumpName = [&](std::size_t d) { return dumps[d].name; };
    Json out;
    Json list = Json::array();
    for (const Dump& d : dumps)
        list.push_back({{"name", d.name}, {"crc", hex8(d.crc)}, {"size", d.size}});
    out["dumps"] = std::move(list);
    Json candidates = Json::array();
    for (const Candidate& cand : answer.candidates) {
        const CatalogueSet& set = c.set(cand.set);
        Json j = {{"set", std::string(set.name)}, {"description", std::string(set.description)}};
        if (!set.list.empty()) j["list"] = std::string(set.list);
        if (set.parent != kNoSet) j["clone_of"] = setName(set.parent);
        j["matched"] = cand.matched;
        j["dumpable"] = cand.dumpable;
        Json missing = Json::array();
        for (const RomId rom : cand.missing) missing.push_back(std::string(c.rom(rom).name));
        j["missing"] = std::move(missing);
        j["devices_matched"] = cand.deviceMatched;
        j["devices_dumpable"] = cand.deviceDumpable;
        Json tied = Json::array();
        for (const SetId t : cand.tiedWith) tied.push_back(setName(t));
        j["tied_with"] = std::move(tied);
        candidates.push_back(std::move(j));
    }
    out["candidates"] = std::move(candidates);
    Json chips = Json::array();
    for (const ChipLine& line : answer.chips) {
        const CatalogueRom& rom = c.rom(line.rom);
        Json j = {{"name", std::string(rom.name)}, {"size", rom.size}};
        if (!rom.region.empty()) j["region"] = std::string(rom.region);
        if (rom.dataWidth != 0) j["width"] = rom.dataWidth;
        if (rom.offset) j["offset"] = *rom.offset;
        j["from"] = line.from == ChipFrom::Own         ? "own"
                    : line.from == ChipFrom::Inherited ? "inherited"
                                                       : "device";
        if (line.origin != kNoSet) j["origin"] = setName(line.origin);
        static constexpr const char* kStates[] = {"found",   "bad_dump_known",    "no_good_dump",
                                                  "missing", "found_transformed", "bits_off"};
        j["state"] = kStates[int(line.state)];
        if (line.dump) j["dump"] = dumpName(*line.dump);
        if (line.near) {
            const doctor::NearMatch& m = *line.near;
            static constexpr const char* kKinds[] = {"transformed", "within", "interleaved",
                                                     "bits_off"};
            Json near = {{"kind", kKinds[int(m.kind)]}};
            if (m.kind != doctor::NearMatch::Kind::BitsOff)
                near["transform"] = transformName(m.transform);
            if (m.kind == doctor::NearMatch::Kind::Within) {
                near["part"] = m.part;
                near["parts"] = m.parts;
            }
            if (m.kind == doctor::NearMatch::Kind::Interleaved) {
                near["even"] = dumpName(m.dump);
                near["odd"] = dumpName(m.second);
            }
            Json bits = Json::array();
            for (const doctor::BitOff& b : m.bits)
                bits.push_back({{"address", b.byte}, {"bit", b.bit}, {"rose", b.rose}});
            if (!m.bits.empty()) near["bits"] = std::move(bits);
            near["confirmed"] = m.confirmed;
            j["near"] = std::move(near);
        }
        chips.push_back(std::move(j));
    }
    out["chips"] = std::move(chips);
    Json mixed = Json::array();
    for (const Unexplained::FromOtherSet& other : answer.unexplained.otherSets) {
        Json names = Json::array();
        for (const std::size_t d : other.dumps) names.push_back(dumpName(d));
        mixed.push_back({{"set", setName(other.set)}, {"dumps", std::move(names)}});
    }
    out["mixed"] = std::move(mixed);
    Json known = Json::array();
    for (const Unexplained::KnownChip& chip : answer.unexplained.knownChips) {
        Json sets = Json::array();
        for (const SetId s : chip.sets) sets.push_back(setName(s));
        known.push_back({{"dump", dumpName(chip.dump)},
                         {"sets", std::move(sets)},
                         {"set_count", chip.setCount}});
    }
    out["known_chips"] = std::move(known);
    Json unknown = Json::array();
    for (const std::size_t d : answer.unexplained.unknown) unknown.push_back(dumpName(d));
    out["unknown"] = std::move(unknown);
    return out;
}

void writeJson(const nlohmann::ordered_json& j) {
    std::cout << j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
}

}  // namespace chipsight::cli
