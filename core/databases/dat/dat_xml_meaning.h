// What the elements of the XML formats (MAME ListXML, MAME software lists, Logiqx) mean to a
// DAT: the events of a document (start tags with their attributes, text, end tags) made into
// sets and ROMs. The same for both readers of the bytes, expat and our scanner; inline, since
// each reader calls it for every element.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/databases/dat/dat_internal.h"

namespace chipsight::dat::xml {

struct XmlAttr {
    std::string_view name, value;
};

// What an element is to a DAT; everything else is Other, and so is all below it.
enum class Role : std::uint8_t {
    Other,
    Root,
    List,
    Set,
    Description,
    Part,
    DataArea,
    Rom,
    DeviceRef  // read only for a sink that wants whole sets
};

inline DatFormat formatOfRoot(std::string_view name) {
    if (name == "mame" || name == "mess") return DatFormat::ListXml;
    if (name == "softwarelist" || name == "softwarelists") return DatFormat::SoftwareList;
    if (name == "datafile") return DatFormat::Logiqx;
    return DatFormat::None;
}

inline std::string_view attr(const XmlAttr* attrs, std::size_t count, std::string_view name,
                             bool* present = nullptr) {
    for (std::size_t i = 0; i < count; ++i)
        if (attrs[i].name == name) {
            if (present) *present = true;
            return attrs[i].value;
        }
    if (present) *present = false;
    return {};
}

// The meaning of the elements, the same for both readers.
class DatXml {
  public:
    DatXml(DatSink& sink, DatFormat format)
        : sink_(sink), format_(format), collector_(sink), wholeSets_(collector_.wholeSets()) {}

    Role roleOf(std::string_view name) const {
        switch (roles_.empty() ? Role::Other : roles_.back()) {
            case Role::Root:
                if (format_ == DatFormat::SoftwareList)
                    return name == "softwarelist" ? Role::List : Role::Other;
                return name == "machine" || name == "game" ? Role::Set : Role::Other;
            case Role::List:
                return name == "software" ? Role::Set : Role::Other;
            case Role::Set:
                if (name == "description") return Role::Description;
                if (format_ == DatFormat::SoftwareList)
                    return name == "part" ? Role::Part : Role::Other;
                if (name == "rom") return Role::Rom;
                if (wholeSets_) [[unlikely]]
                    return wholeSetChild(name);
                return Role::Other;
            case Role::Part:
                return name == "dataarea" ? Role::DataArea : Role::Other;
            case Role::DataArea:
                return name == "rom" ? Role::Rom : Role::Other;
            default:
                return Role::Other;
        }
    }
    // The role of the document element.
    static Role rootRole(std::string_view name) {
        return name == "softwarelist" ? Role::List : Role::Root;
    }

    // Null, or why the file is malformed.
    const char* start(Role role, const XmlAttr* attrs, std::size_t count) {
        roles_.push_back(role);
        switch (role) {
            case Role::List:
                listName_.assign(attr(attrs, count, "name"));
                break;
            case Role::Set:
                setName_.assign(attr(attrs, count, "name"));
                description_.clear();
                haveDescription_ = false;
                collector_.clear();
                if (wholeSets_) [[unlikely]]
                    startWholeSet(attrs, count);
                break;
            case Role::DeviceRef:
                collector_.addDeviceRef(attr(attrs, count, "name"));
                break;
            case Role::Description:
                collecting_ = !haveDescription_;
                break;
            case Role::DataArea: {
                areaName_.assign(attr(attrs, count, "name"));
                areaEndianness_.assign(attr(attrs, count, "endianness"));
                bool present = false;
                const std::string_view width = attr(attrs, count, "width", &present);
                const auto value = present ? parseDecimal(width) : std::optional<std::uint32_t>(0);
                if (!value) return "width is not a number";
                areaWidth_ = *value;
                break;
            }
            case Role::Rom: {
                RomFields rom;
                for (std::size_t i = 0; i < count; ++i) {
                    const std::string_view n = attrs[i].name, v = attrs[i].value;
                    if (n == "name")
                        rom.name = v;
                    else if (n == "size")
                        rom.size = v;
                    else if (n == "crc")
                        rom.crc = v;
                    else if (n == "sha1")
                        rom.sha1 = v, rom.hasSha1 = true;
                    else if (n == "md5")
                        rom.md5 = v;
                    else if (n == "merge")
                        rom.merge = v, rom.hasMerge = true;
                    else if (n == "status")
                        rom.status = v;
                    else if (n == "region")
                        rom.region = v;
                    else if (n == "offset")
                        rom.offset = v, rom.hasOffset = true;
                    else if (n == "loadflag")
                        rom.loadFlag = v;
                    else if (wholeSets_ && n == "bios")
                        rom.bios = v;
                }
                return collector_.add(rom, {areaName_, areaEndianness_, areaWidth_});
            }
            default:
                break;
        }
        return nullptr;
    }

    void end() {
        if (roles_.empty()) return;
        const Role role = roles_.back();
        roles_.pop_back();
        if (role == Role::Set) {
            collector_.flush(sink_, setName_, description_, listName_);
        } else if (role == Role::Description && collecting_) {
            collecting_ = false;
            haveDescription_ = true;
        } else if (role == Role::DataArea) {
            areaName_.clear();
            areaEndianness_.clear();
            areaWidth_ = 0;
        }
    }

    // Out of line, so that `roleOf` compiles as it would without whole sets.
    [[gnu::noinline]] static Role wholeSetChild(std::string_view name) {
        return name == "device_ref" ? Role::DeviceRef : Role::Other;
    }
    // Out of line, so that `start` stays as small for the entries as without whole sets.
    [[gnu::noinline]] void startWholeSet(const XmlAttr* attrs, std::size_t count) {
        collector_.setFields({attr(attrs, count, "cloneof"), attr(attrs, count, "romof"),
                              attr(attrs, count, "isbios") == "yes",
                              attr(attrs, count, "isdevice") == "yes"});
    }

    bool wantsText() const { return collecting_ && roles_.back() == Role::Description; }
    void text(std::string_view s) {
        if (wantsText()) description_.append(s);
    }

  private:
    DatSink& sink_;
    DatFormat format_;
    std::vector<Role> roles_;
    SetCollector collector_;
    const bool wholeSets_;
    std::string listName_, setName_, description_, areaName_, areaEndianness_;
    std::uint32_t areaWidth_ = 0;
    bool collecting_ = false, haveDescription_ = false;
};

// How a document's attribute list declarations change what its start tags say: the first
// declaration of an attribute of an element is the one that counts.
struct AttributeDecl {
    std::string name;
    bool cdata = true;
    std::optional<std::string> value;  // the default
};
using AttributeDecls = std::map<std::string, std::vector<AttributeDecl>, std::less<>>;

}  // namespace chipsight::dat::xml
