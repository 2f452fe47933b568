// Which ROMs of a DAT become entries, and the numbers DATs write.
#include <algorithm>

#include "core/databases/dat/dat_internal.h"
#include "core/sys/number_reading.h"

namespace chipsight::dat {

namespace {

std::optional<std::uint64_t> parseHex(std::string_view text, std::uint64_t limit) {
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        const int d = hexDigitValue(c);
        if (d < 0 || value > (limit >> 4)) return std::nullopt;
        value = value << 4 | std::uint64_t(d);
    }
    return value;
}

bool hasHexPrefix(std::string_view text) {
    return text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

// Whether `text` is `digits` hexadecimal digits of either case.
bool isHex(std::string_view text, std::size_t digits) {
    return text.size() == digits &&
           std::all_of(text.begin(), text.end(), [](char c) { return hexDigitValue(c) >= 0; });
}

// Sets `to` to the hexadecimal digits `text` in lower case, as the stores keep checksums.
void assignLowerHex(std::string& to, std::string_view text) {
    to.assign(text);
    for (char& c : to) c = char(c >= 'A' && c <= 'F' ? c + ('a' - 'A') : c);
}

}  // namespace

std::optional<std::uint32_t> parseDecimal(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + std::uint64_t(c - '0');
        if (value > 0xFFFFFFFFu) return std::nullopt;
    }
    return std::uint32_t(value);
}

std::optional<std::uint32_t> parseSize(std::string_view text) {
    if (hasHexPrefix(text)) {
        const auto value = parseHex(text.substr(2), 0xFFFFFFFFu);
        return value ? std::optional<std::uint32_t>(std::uint32_t(*value)) : std::nullopt;
    }
    return parseDecimal(text);
}

std::optional<std::uint32_t> parseCrc(std::string_view text) {
    if (text.size() != 8) return std::nullopt;
    const auto value = parseHex(text, 0xFFFFFFFFu);
    return value ? std::optional<std::uint32_t>(std::uint32_t(*value)) : std::nullopt;
}

std::optional<std::uint64_t> parseOffset(std::string_view text) {
    return parseHex(hasHexPrefix(text) ? text.substr(2) : text, ~std::uint64_t(0));
}

// The set being read, whole. The vectors keep their strings from set to set, so that a set
// costs no allocation once the longest has been read.
struct SetCollector::Whole {
    struct Rom {  // its texts, and the numbers as they parse
        std::string name, sha1, merge, bios, region;
        DatSetRom parsed;
    };
    std::vector<Rom> roms;  // the first `romCount` are the set's
    std::size_t romCount = 0;
    std::string cloneOf, romOf;
    bool isBios = false, isDevice = false;
    std::vector<std::string> deviceRefs;  // the first `refCount` are the set's
    std::size_t refCount = 0;
    std::vector<DatSetRom> views;  // into `roms`, made at the set's end
    std::vector<std::string_view> refViews;
};

SetCollector::SetCollector(const DatSink& sink)
    : whole_(sink.wantsSets() ? std::make_unique<Whole>() : nullptr) {}
SetCollector::~SetCollector() = default;

const char* SetCollector::add(const RomFields& rom, const AreaFields& area) {
    if (whole_) [[unlikely]]
        keepWhole(rom, area);
    // A ROM nobody has dumped has no checksum to match; a ROM carrying `merge` is its parent's
    // or its BIOS's listed again, and that one is an entry already.
    if (rom.status == "nodump" || rom.hasMerge || !rom.size || !rom.crc) return nullptr;
    const auto size = parseSize(*rom.size);
    if (!size) return "size is not a number";
    const auto crc = parseCrc(*rom.crc);
    if (!crc) return "crc is not 8 hex digits";
    std::optional<std::uint64_t> offset;
    if (rom.hasOffset && !(offset = parseOffset(rom.offset))) return "offset is not a number";
    if (rom.hasSha1 && !rom.sha1.empty() && !isHex(rom.sha1, 40))
        return "sha1 is not 40 hex digits";

    if (count_ == kept_.size()) kept_.emplace_back();
    Kept& k = kept_[count_++];
    k.name.assign(rom.name);
    assignLowerHex(k.sha1, rom.sha1);
    // An MD5 was never held to its format, so one that is not 32 hex digits is left out rather
    // than failing a file that has always loaded.
    assignLowerHex(k.md5, isHex(rom.md5, 32) ? rom.md5 : std::string_view{});
    k.region.assign(rom.region.empty() ? area.name : rom.region);
    k.endianness.assign(area.endianness);
    k.loadFlag.assign(rom.loadFlag);
    k.crc = *crc;
    k.size = *size;
    k.dataWidth = area.width;
    k.hasOffset = offset.has_value();
    k.offset = offset.value_or(0);
    k.badDump = rom.status == "baddump";
    return nullptr;
}

void SetCollector::flush(DatSink& sink, std::string_view setName, std::string_view description,
                         std::string_view listName) {
    for (std::size_t i = 0; i < count_; ++i) {
        const Kept& k = kept_[i];
        DatRom rom;
        rom.name = k.name;
        rom.setName = setName;
        rom.setDescription = description;
        rom.listName = listName;
        rom.sha1 = k.sha1;
        rom.md5 = k.md5;
        rom.region = k.region;
        rom.endianness = k.endianness;
        rom.loadFlag = k.loadFlag;
        rom.crc = k.crc;
        rom.size = k.size;
        rom.offset = k.offset;
        rom.hasOffset = k.hasOffset;
        rom.dataWidth = k.dataWidth;
        rom.badDump = k.badDump;
        sink.rom(rom);
    }
    count_ = 0;
    if (whole_) {
        sendWhole(sink, setName, description, listName);
        clearWhole();
    }
}

void SetCollector::keepWhole(const RomFields& rom, const AreaFields& area) {
    Whole& whole = *whole_;
    if (whole.romCount == whole.roms.size()) whole.roms.emplace_back();
    Whole::Rom& w = whole.roms[whole.romCount++];
    w.name.assign(rom.name);
    // A checksum not of its format is left out rather than failing the file: the ROMs that
    // are no entries have never been held to it.
    assignLowerHex(w.sha1, rom.hasSha1 && isHex(rom.sha1, 40) ? rom.sha1 : std::string_view{});
    w.merge.assign(rom.merge);
    w.bios.assign(rom.bios);
    w.region.assign(rom.region.empty() ? area.name : rom.region);
    DatSetRom& p = w.parsed;
    p.size = rom.size ? parseSize(*rom.size) : std::nullopt;
    // parseCrc's logic without calling it: with a second caller the compiler no longer puts
    // it inline in add, which every entry goes through.
    p.crc = rom.crc && rom.crc->size() == 8 ? parseHex(*rom.crc, 0xFFFFFFFFu) : std::nullopt;
    p.offset = rom.hasOffset ? parseOffset(rom.offset) : std::nullopt;
    p.dataWidth = area.width;
    p.bigEndian = area.endianness == "big";
    p.status = rom.status == "nodump"    ? DatRomStatus::NoDump
               : rom.status == "baddump" ? DatRomStatus::BadDump
                                         : DatRomStatus::Good;
}

void SetCollector::setFields(const SetFields& fields) {
    whole_->cloneOf.assign(fields.cloneOf);
    whole_->romOf.assign(fields.romOf);
    whole_->isBios = fields.isBios;
    whole_->isDevice = fields.isDevice;
}

void SetCollector::addDeviceRef(std::string_view name) {
    Whole& whole = *whole_;
    if (whole.refCount == whole.deviceRefs.size()) whole.deviceRefs.emplace_back();
    whole.deviceRefs[whole.refCount++].assign(name);
}

void SetCollector::sendWhole(DatSink& sink, std::string_view setName, std::string_view description,
                             std::string_view listName) {
    Whole& whole = *whole_;
    whole.views.clear();
    for (std::size_t i = 0; i < whole.romCount; ++i) {
        const Whole::Rom& w = whole.roms[i];
        DatSetRom rom = w.parsed;
        rom.name = w.name;
        rom.sha1 = w.sha1;
        rom.merge = w.merge;
        rom.bios = w.bios;
        rom.region = w.region;
        whole.views.push_back(rom);
    }
    whole.refViews.assign(whole.deviceRefs.begin(),
                          whole.deviceRefs.begin() + std::ptrdiff_t(whole.refCount));
    DatWholeSet set;
    set.name = setName;
    set.description = description;
    set.listName = listName;
    set.cloneOf = whole.cloneOf;
    set.romOf = whole.romOf;
    set.isBios = whole.isBios;
    set.isDevice = whole.isDevice;
    set.deviceRefs = whole.refViews;
    set.roms = whole.views;
    sink.set(set);
}

void SetCollector::clearWhole() {
    Whole& whole = *whole_;
    whole.romCount = whole.refCount = 0;
    whole.cloneOf.clear();
    whole.romOf.clear();
    whole.isBios = whole.isDevice = false;
}

}  // namespace chipsight::dat
