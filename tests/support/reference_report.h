// The straightforward report of an image: every part of every level checksummed from its own
// bytes and looked up by scanning the whole table. The program's report must equal it byte
// for byte.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/databases/entry_table.h"

namespace chipsight::testing {

std::string referenceReport(const EntryTable& entries, std::span<const std::uint8_t> image,
                            std::string_view name, int splitLevel, bool ignoreBad);

}  // namespace chipsight::testing
