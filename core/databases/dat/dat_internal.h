// What the readers of the database formats share: the source of the document's bytes, the one
// place that decides which ROMs become entries, and the readers themselves.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/databases/dat/dat_reader.h"

namespace chipsight::dat {

// The document's bytes, piece by piece.
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // The next piece; empty at the end of the document, or when reading failed (then
    // `failure` says why). A piece stays valid until the next call.
    virtual std::string_view next() = 0;
    std::string failure;
};

// A ROM as a DAT gives it: every field as written (decoded), absent fields empty.
struct RomFields {
    std::string_view name, sha1, md5, merge, status, region, offset, loadFlag, bios;
    std::optional<std::string_view> size, crc;
    bool hasSha1 = false, hasMerge = false, hasOffset = false;
};

// The software list's dataarea a ROM lies in.
struct AreaFields {
    std::string_view name, endianness;
    std::uint32_t width = 0;
};

// What a set says of itself and its relations, for sinks that want whole sets.
struct SetFields {
    std::string_view cloneOf, romOf;
    bool isBios = false, isDevice = false;
};

// Decides, for all formats alike, which ROMs become entries, and keeps those of the set being
// read until the set ends, when its name and description are known. For a sink that wants
// whole sets it keeps every ROM of the set as well, with the set's relations.
class SetCollector {
  public:
    explicit SetCollector(const DatSink& sink);
    ~SetCollector();
    SetCollector(const SetCollector&) = delete;
    SetCollector& operator=(const SetCollector&) = delete;

    bool wholeSets() const { return whole_ != nullptr; }
    // Checks one ROM and keeps it when it becomes an entry. Null when it is fine (an entry or
    // not), else why the file is malformed.
    const char* add(const RomFields& rom, const AreaFields& area);
    // For whole sets only: the set's relations, and a device it refers to.
    void setFields(const SetFields& fields);
    void addDeviceRef(std::string_view name);
    // Sends the kept ROMs of the set to `sink`, then the whole set, and forgets them.
    void flush(DatSink& sink, std::string_view setName, std::string_view description,
               std::string_view listName);
    // Forgets the kept ROMs.
    void clear() {
        count_ = 0;
        if (whole_) clearWhole();
    }

  private:
    struct Kept {
        std::string name, sha1, md5, region, endianness, loadFlag;
        std::uint32_t crc = 0, size = 0, dataWidth = 0;
        std::uint64_t offset = 0;
        bool hasOffset = false, badDump = false;
    };
    struct Whole;
    // Out of line, so that `add` compiles for the entries as it would without whole sets.
    [[gnu::noinline]] void keepWhole(const RomFields& rom, const AreaFields& area);
    void sendWhole(DatSink& sink, std::string_view setName, std::string_view description,
                   std::string_view listName);
    void clearWhole();

    std::vector<Kept> kept_;
    std::size_t count_ = 0;
    // What is kept of the set for a sink that wants whole sets; none for one that does not,
    // which finds the collector as it would be without them.
    std::unique_ptr<Whole> whole_;
};

// Numbers as DATs write them. Nothing when the text is not such a number.
std::optional<std::uint32_t> parseSize(std::string_view text);    // decimal or 0x-hex
std::optional<std::uint32_t> parseCrc(std::string_view text);     // exactly 8 hex digits
std::optional<std::uint64_t> parseOffset(std::string_view text);  // hex, 0x optional
std::optional<std::uint32_t> parseDecimal(std::string_view text);

// How the XML formats are read: the fast scanner, which hands whatever it does not take on
// to expat, or expat alone (the reference the scanner is checked against).
enum class XmlEngine { Scanner, ExpatOnly };

// The readers of each kind of text, over the whole document.
void readXml(ByteSource& source, DatSink& sink, DatResult& result, XmlEngine engine);
void readClrMamePro(ByteSource& source, DatSink& sink, DatResult& result);

// readDatFile and readDatBytes with the XML engine chosen (tests, fuzzing, measuring).
DatResult readDatFileWith(const std::string& path, DatSink& sink,
                          const std::function<void(std::uint64_t)>& progress, XmlEngine engine,
                          bool checksum = false);
// `piece`, when not 0, hands the bytes to the reader in pieces of that many bytes, as a file
// would come in.
DatResult readDatBytesWith(std::string_view bytes, DatSink& sink, XmlEngine engine,
                           std::size_t piece = 0);

}  // namespace chipsight::dat
