// The --json output: one object a line for each image, typed lookup and failure.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>

#include <span>

#include "core/board/board.h"
#include "core/session/image_record.h"

namespace chipsight::cli {

// Eight hexadecimal digits, capitals.
std::string hex8(std::uint32_t value);
// What one identification found, as the object --json writes for it.
nlohmann::ordered_json toJson(const ImageRecord& r);
// A board's answer: the dumps, the candidate sets, the chips of the best and their states, and
// what the best set leaves unexplained.
nlohmann::ordered_json boardJson(const board::Catalogue& catalogue,
                                 std::span<const board::Dump> dumps,
                                 const board::BoardAnswer& answer);
// Writes `j` as one line of standard output.
void writeJson(const nlohmann::ordered_json& j);

}  // namespace chipsight::cli
