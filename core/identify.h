// Report lines and the report of an image: the pure part of identification.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/entry_table.h"
#include "core/image_digest.h"

namespace chipsight {

inline constexpr std::string_view kBlockHead = "============================";
inline constexpr std::string_view kBlockTail = "\r\n";

// Whether (size, crc) is that of a block of bytes that are all 0xFF, for the eight block sizes
// from 256 to 65536 bytes that the program knows (512 is not among them).
bool isBlankBlock(std::uint32_t size, std::uint32_t crc);

// A file name or a database text as it may appear in a report line: each control character
// (C0, DEL, and C1 written as UTF-8) becomes one '?', so a text cannot forge lines of its own
// nor send a terminal escape sequences.
std::string reportName(std::string_view fileName);

// What one identification found.
enum class Outcome {
    Failed,    // a message box was shown; nothing or only an error reached the log
    Skipped,   // nothing to report (a blank pair under Ignore Bad)
    NotFound,  // the report ends in a Not Found line
    Found,     // at least one entry matched
};

struct Report {
    std::string block;      // from the block head to the last line, without the block tail
    std::uint32_t crc = 0;  // CRC-32 of the whole image (or the typed checksum)
    bool found = false;
};

// The report block of an image of `image.size()` bytes named `name`, looked up at
// `splitLevel` levels in `entries`, skipping blank parts when `ignoreBad` is set. The size is 0
// or a power of two, as identification admits no other.
Report buildReport(const EntryTable& entries, std::span<const std::uint8_t> image,
                   std::string_view name, int splitLevel, bool ignoreBad);

// The same from the finished digest of the image's bytes, looked up at the digest's levels.
Report buildReport(const EntryTable& entries, const ImageDigest& digest, std::string_view name,
                   bool ignoreBad);

// The report block of a typed checksum and size under `label`.
Report buildManualReport(const EntryTable& entries, std::uint32_t crc, std::uint32_t size,
                         std::string_view label);

}  // namespace chipsight
