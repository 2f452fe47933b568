// Report lines and the report of an image: the pure part of identification.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "core/checksum/image_digest.h"
#include "core/databases/entry_table.h"

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

// A part of an image that matched, with the positions in the table of the entries it matched,
// in table order.
struct PartMatch {
    int level = 0;            // 0 for the whole image; level i has 2^i parts
    std::uint32_t part = 1;   // counted from 1
    std::uint32_t parts = 1;  // at this level
    std::uint32_t crc = 0, size = 0;
    std::vector<std::size_t> entries;
    // Those of `entries` whose DAT gives a SHA-1 that is not the part's (see checkSha1s).
    std::vector<std::size_t> sha1Differs;
};

// What one lookup pass found of an image or of a typed checksum and size: all that the report
// text, a JSON line or any other rendering shows of it, with the entries as references into the
// table looked up in.
struct Identification {
    std::string name;  // as the report names it (the label of a typed pair), its controls kept
    std::uint32_t size = 0, crc = 0;
    bool typed = false;  // a typed pair: no bytes, so no blank test or bits
    // A typed SHA-1 or MD5 looked up instead of a pair, in lower-case hex digits (40 or 32);
    // empty otherwise. Its parts are the runs of entries of one checksum and size.
    std::string hash;
    bool blank = false;           // an image that is empty or all 0xFF bytes
    std::uint8_t anyBits = 0xFF;  // the OR of every byte of an image
    bool found = false;           // some part matched, at a level the image has
    std::vector<PartMatch> parts;
};

// Looks up every part of the image of the finished `digest`, at the digest's levels, in
// `entries`, passing over blank parts when `ignoreBad` is set.
Identification identify(const EntryTable& entries, const ImageDigest& digest, std::string_view name,
                        bool ignoreBad);
// Looks up a typed checksum and size, named `label`.
Identification identifyTyped(const EntryTable& entries, std::uint32_t crc, std::uint32_t size,
                             std::string_view label);
// A SHA-1 or an MD5 typed to be looked up among the entries the DATs give them for.
using TypedHash = std::variant<std::array<std::uint8_t, 20>, std::array<std::uint8_t, 16>>;
// 40 hexadecimal digits of either case are a SHA-1, 32 an MD5; nothing for any other text.
std::optional<TypedHash> readTypedHash(std::string_view text);
// Looks up `hash` in the DATs `dats` (those whose entries `entries` holds), named `label`: the
// entries that carry it, in table order.
Identification identifyHash(const EntryTable& entries, const std::vector<LoadedDat>& dats,
                            const TypedHash& hash, std::string_view label);

// Whether some entry a part of the image `found` matched has a SHA-1 from its DAT: only then is
// checkSha1s worth the bytes.
bool anySha1ToCheck(const Identification& found, const EntryTable& entries);
// For each part of the image `found` (whose bytes identified are `image`) that matched an entry
// whose DAT gives a SHA-1, takes the part's SHA-1 and notes the entries whose SHA-1 is another.
// A part whose entries give none costs nothing.
void checkSha1s(Identification& found, const EntryTable& entries,
                std::span<const std::uint8_t> image);

// The report block of what was found, from the block head to the last line, without the tail.
std::string reportText(const Identification& found, const EntryTable& entries);

struct Report {
    std::string block;      // from the block head to the last line, without the block tail
    std::uint32_t crc = 0;  // CRC-32 of the whole image (or the typed checksum)
    bool found = false;
};

// The report of an identification.
Report reportOf(const Identification& found, const EntryTable& entries);

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
