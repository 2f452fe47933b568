// What one identification found, as data rather than report text: for a front end that writes
// it out for other programs (the terminal's JSON) instead of showing the report.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/databases/entry_table.h"
#include "core/doctor/doctor.h"
#include "core/doctor/reads.h"
#include "core/identify/identify.h"

namespace chipsight {

struct RecordEntry {
    std::string name, description;
    std::string set, list;     // of a DAT entry; empty for the program's own tables
    std::string database;      // the path of the database file it came from
    std::string status;        // "good" or "baddump" for a DAT entry; empty otherwise
    bool sha1Differs = false;  // matched by CRC-32 and size, but its DAT gives another SHA-1
};

// A part of the image that matched, with the entries it matched in table order.
struct RecordPart {
    int level = 0;            // 0 for the whole image; level i has 2^i parts
    std::uint32_t part = 0;   // counted from 1
    std::uint32_t parts = 1;  // at this level
    std::uint32_t crc = 0, size = 0;
    std::vector<RecordEntry> entries;
};

struct ImageRecord {
    std::string path;  // the file, or ARCHIVE/MEMBER with the archive's path; empty when typed
    std::string name;  // as the report names it
    std::uint32_t size = 0, crc = 0;
    bool typed = false;  // a typed checksum and size: no bytes, so no blank or bits
    std::string hash;    // a typed SHA-1 or MD5 looked up instead, in lower-case hex digits
    bool blank = false;
    std::uint8_t anyBits = 0xFF;  // the OR of every byte
    std::optional<std::array<std::uint8_t, 20>> sha1;
    // The known header left out of the bytes identified: its kind and length.
    std::string headerKind;
    std::uint32_t headerBytes = 0;
    bool found = false;
    std::vector<RecordPart> parts;
    // With the doctor on: how the reads compared of which the image is the majority, and what
    // the doctor made of the image.
    std::optional<doctor::ReadsComparison> reads;
    std::optional<doctor::Examination> examination;
};

// Where the entries of the table came from: the file of a DAT entry's store, and the file of the
// table's own entry at a position.
struct EntrySources {
    std::function<std::string(const DatStore*)> datFile;
    std::function<std::string(std::size_t)> tableFile;
};

// The record of what an identification found, its entries' texts and sources read from the table
// it was looked up in. The image's path and SHA-1, and the doctor's lines, are the caller's.
ImageRecord recordOf(const Identification& found, const EntryTable& entries,
                     const EntrySources& sources);

}  // namespace chipsight
