// The objects of --json, built from the records the core hands over.
#include "cli/json_output.h"

#include <cstdio>
#include <iostream>

namespace chipsight::cli {

std::string hex8(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

nlohmann::ordered_json toJson(const ImageRecord& r) {
    nlohmann::ordered_json j;
    if (!r.path.empty()) j["path"] = r.path;
    j["name"] = r.name;
    j["size"] = r.size;
    j["crc"] = hex8(r.crc);
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
            p["entries"].push_back(std::move(entry));
        }
        j["matches"].push_back(std::move(p));
    }
    if (!r.doctor.empty()) j["doctor"] = r.doctor;
    return j;
}

// One object a line. Texts that are not UTF-8 (file names may be anything) have their bad bytes
// replaced, as JSON holds only Unicode.
void writeJson(const nlohmann::ordered_json& j) {
    std::cout << j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
}

}  // namespace chipsight::cli
