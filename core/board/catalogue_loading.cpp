// Each DAT is read whole into a staging area of its own and only then added to the catalogue:
// a file found malformed halfway gives nothing, as its entries give nothing to the lookup.
#include "core/board/catalogue_loading.h"

#include <limits>
#include <new>
#include <string_view>

#include "core/databases/dat/dat_loading.h"
#include "core/sys/number_reading.h"

namespace chipsight::board {

namespace {

RomStatus statusOf(DatRomStatus status) {
    switch (status) {
        case DatRomStatus::BadDump:
            return RomStatus::BadDump;
        case DatRomStatus::NoDump:
            return RomStatus::NoDump;
        case DatRomStatus::Good:
            break;
    }
    return RomStatus::Good;
}

// The sets of one DAT as compact records over one block of text, so that staging MAME's list
// costs a fraction of what the catalogue holds of it.
class Staging : public DatSink {
  public:
    bool wantsSets() const override { return true; }
    void rom(const DatRom&) override {}

    void set(const DatWholeSet& set) override {
        StagedSet s;
        s.name = keep(set.name);
        s.description = keep(set.description);
        s.list = keep(set.listName);
        s.cloneOf = keep(set.cloneOf);
        s.romOf = set.romOf == set.cloneOf ? s.cloneOf : keep(set.romOf);
        s.isBios = set.isBios;
        s.isDevice = set.isDevice;
        s.firstRom = roms_.size();
        s.firstRef = refs_.size();
        Text region;
        for (const DatSetRom& rom : set.roms) {
            // A piece of a software list's dataarea without a checksum of its own (continue,
            // reload, fill, ignore) loads more of the ROM before it: it is no chip.
            if (rom.status != DatRomStatus::NoDump && (!rom.crc || !rom.size)) continue;
            StagedRom r;
            r.name = keep(rom.name);
            r.merge = rom.merge.empty() ? Text{} : rom.merge == rom.name ? r.name : keep(rom.merge);
            r.bios = keep(rom.bios);
            if (rom.region != view(region)) region = keep(rom.region);
            r.region = region;
            r.size = rom.size.value_or(0);
            r.crc = rom.crc.value_or(0);
            r.sha1 = sha1FromHex(rom.sha1);
            r.offset = rom.offset;
            r.dataWidth = rom.dataWidth;
            r.bigEndian = rom.bigEndian;
            r.status = statusOf(rom.status);
            roms_.push_back(r);
        }
        s.romCount = roms_.size() - s.firstRom;
        for (const std::string_view ref : set.deviceRefs) refs_.push_back(keep(ref));
        s.refCount = refs_.size() - s.firstRef;
        sets_.push_back(s);
    }

    // Adds every set staged, as sets of `kind`; the sets of a DAT game are listed under
    // `datList`, the items of a software list under their list's name.
    void addTo(CatalogueBuilder& builder, SetKind kind, std::string_view datList,
               CatalogueFile& file) const {
        for (const StagedSet& s : sets_) {
            SetInfo info;
            info.name = view(s.name);
            info.description = view(s.description);
            info.kind = kind;
            info.list = kind == SetKind::DatGame ? datList : view(s.list);
            info.cloneOf = view(s.cloneOf);
            info.romOf = view(s.romOf);
            info.isBios = s.isBios;
            info.isDevice = s.isDevice;
            builder.addSet(info);
            for (std::size_t i = s.firstRom; i < s.firstRom + s.romCount; ++i) {
                const StagedRom& r = roms_[i];
                RomInfo rom;
                rom.name = view(r.name);
                rom.size = r.size;
                rom.crc = r.crc;
                rom.sha1 = r.sha1;
                rom.status = r.status;
                rom.merge = view(r.merge);
                rom.bios = view(r.bios);
                rom.region = view(r.region);
                rom.offset = r.offset;
                rom.dataWidth = r.dataWidth;
                rom.bigEndian = r.bigEndian;
                builder.addRom(rom);
            }
            for (std::size_t i = s.firstRef; i < s.firstRef + s.refCount; ++i)
                builder.addDeviceRef(view(refs_[i]));
        }
        file.sets += sets_.size();
        file.roms += roms_.size();
    }

  private:
    struct Text {
        std::uint32_t at = 0, length = 0;
    };
    struct StagedSet {
        Text name, description, list, cloneOf, romOf;
        bool isBios = false, isDevice = false;
        std::size_t firstRom = 0, romCount = 0, firstRef = 0, refCount = 0;
    };
    struct StagedRom {
        Text name, merge, bios, region;
        std::uint32_t size = 0, crc = 0, dataWidth = 0;
        bool bigEndian = false;
        RomStatus status = RomStatus::Good;
        std::optional<Sha1> sha1;
        std::optional<std::uint64_t> offset;
    };

    Text keep(std::string_view s) {
        if (s.empty()) return {};
        // Offsets are 32 bits: the texts of MAME's whole list come to a few tens of megabytes.
        if (text_.size() + s.size() > std::numeric_limits<std::uint32_t>::max())
            throw std::bad_alloc();
        const Text t{std::uint32_t(text_.size()), std::uint32_t(s.size())};
        text_ += s;
        return t;
    }
    std::string_view view(Text t) const { return std::string_view(text_).substr(t.at, t.length); }

    std::string text_;
    std::vector<StagedSet> sets_;
    std::vector<StagedRom> roms_;
    std::vector<Text> refs_;
};

SetKind kindOf(DatFormat format) {
    switch (format) {
        case DatFormat::ListXml:
            return SetKind::Machine;
        case DatFormat::SoftwareList:
            return SetKind::SoftwareItem;
        default:
            return SetKind::DatGame;
    }
}

}  // namespace

Catalogue loadCatalogue(const std::vector<std::string>& datPaths,
                        std::vector<CatalogueFile>& files) {
    CatalogueBuilder builder;
    for (const std::string& path : datPaths) {
        CatalogueFile& file = files.emplace_back();
        file.path = path;
        Staging staging;
        DatResult result;
        try {
            // The bytes are checksummed as they are read (a fraction of the parsing): the
            // compiled catalogue knows a DAT written just before by them.
            result = readDatFile(path, staging, {}, true);
        } catch (const std::bad_alloc&) {
            // Staged, not added: the catalogue holds none of this file's sets.
            file.failure = kOutOfMemory;
            continue;
        }
        file.format = result.format;
        file.fileBytes = result.fileBytes;
        file.fileCrc = result.fileCrc;
        if (!result.ok) {
            file.failure = datFailure(result);
            continue;
        }
        staging.addTo(builder, kindOf(result.format), path, file);
    }
    return builder.build();
}

}  // namespace chipsight::board
