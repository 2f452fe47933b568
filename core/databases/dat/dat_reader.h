// Streaming readers of the ROM databases other tools publish (MAME ListXML, MAME software
// lists, Logiqx XML, ClrMamePro text), plain or gzip-compressed, told apart by their content.
// Each sends the ROMs that become entries to one sink, one at a time, and holds no document.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace chipsight {

enum class DatFormat { None, ListXml, SoftwareList, Logiqx, ClrMamePro };

// "MAME ListXML", "MAME software list", "Logiqx XML", "ClrMamePro"; "" for None.
const char* datFormatName(DatFormat format);

// One ROM that becomes an entry. The views hold only during the call (decoded text, bytes kept).
struct DatRom {
    std::string_view name, setName, setDescription, listName;  // listName: software lists only
    std::string_view sha1;                                     // 40 lower-case hex digits, or empty
    std::string_view md5;                                      // 32 lower-case hex digits, or empty
    // Where not given, empty. A software list's ROM has its dataarea's name as its region.
    std::string_view region, endianness, loadFlag;
    std::uint32_t crc = 0, size = 0;
    std::uint64_t offset = 0;
    bool hasOffset = false;
    std::uint32_t dataWidth = 0;  // of the software list's dataarea, in bits; 0 where not given
    bool badDump = false;
};

enum class DatRomStatus : std::uint8_t { Good, BadDump, NoDump };

// A ROM of a set as the DAT lists it, whether or not it becomes an entry: those taken from a
// parent or BIOS (with a merge name) and those nobody has dumped too. A number that is absent,
// or not one, is empty: only the ROMs that become entries are held to their format.
struct DatSetRom {
    std::string_view name;
    std::string_view sha1;                 // 40 lower-case hex digits, or empty
    std::string_view merge, bios, region;  // bios: the BIOS choice (biosset) it belongs to
    std::optional<std::uint32_t> size, crc;
    std::optional<std::uint64_t> offset;
    std::uint32_t dataWidth = 0;  // of the software list's dataarea, in bits; 0 where not given
    bool bigEndian = false;       // the dataarea's words are big-endian
    DatRomStatus status = DatRomStatus::Good;
};

// A whole set, at its end. The views hold only during the call.
struct DatWholeSet {
    std::string_view name, description, listName;  // listName: software lists only
    std::string_view cloneOf, romOf;
    bool isBios = false;    // a BIOS set: a ListXML or Logiqx isbios, a ClrMamePro resource
    bool isDevice = false;  // a ListXML device machine
    std::span<const std::string_view> deviceRefs;  // in the order the set refers to them
    std::span<const DatSetRom> roms;               // every ROM, in the DAT's order
};

class DatSink {
  public:
    virtual ~DatSink() = default;
    virtual void rom(const DatRom& rom) = 0;
    // A sink that wants whole sets says so; a reader asks once, before the first set, and
    // keeps nothing more for a sink that does not. `set` comes after the set's entries.
    virtual bool wantsSets() const { return false; }
    virtual void set(const DatWholeSet&) {}
};

struct DatResult {
    DatFormat format = DatFormat::None;
    bool ok = true;          // false: malformed (or unreadable); the caller drops what the sink got
    std::uint64_t line = 0;  // where it went wrong, 1-based (0: not at any line of the text)
    std::string reason;      // short, e.g. "unclosed <rom> element", "size is not a number"
    std::uint64_t bytes = 0;  // bytes of the (decompressed) document read
    // Of a file: how many of its bytes (as they are on disk) were read, from its start, and
    // their CRC-32 when it was asked for (else 0). The result is made of these bytes and no
    // others.
    std::uint64_t fileBytes = 0;
    std::uint32_t fileCrc = 0;
};

// Why a read failed, as the program says it: "line 12: unclosed <rom> element", or the reason
// alone where it is at no line.
inline std::string datFailure(const DatResult& result) {
    return result.line > 0 ? "line " + std::to_string(result.line) + ": " + result.reason
                           : result.reason;
}

// Reads the file at `path` (plain or gzip, told by its first bytes), telling the format by its
// content. A file of no known format returns format None and ok, having sent nothing. A file
// that cannot be opened, or whose reading fails before its format is known, returns format None
// and not ok, with the reason. `progress`, when given, is called now and then with the
// compressed bytes consumed so far. With `checksum`, the file's bytes are checksummed as they
// are read (fileCrc).
DatResult readDatFile(const std::string& path, DatSink& sink,
                      const std::function<void(std::uint64_t)>& progress = {},
                      bool checksum = false);

// The same over bytes in memory (tests, fuzzing).
DatResult readDatBytes(std::string_view bytes, DatSink& sink);

}  // namespace chipsight
