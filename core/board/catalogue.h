// The sets a board can be judged against (machines, software-list items, DAT games) with every
// ROM they hold, and the lookup from a ROM's (crc, size) to every set that holds it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace chipsight::board {

using SetId = std::uint32_t;
using RomId = std::uint32_t;
inline constexpr SetId kNoSet = std::numeric_limits<SetId>::max();
using Sha1 = std::array<std::uint8_t, 20>;

enum class SetKind : std::uint8_t { Machine, SoftwareItem, DatGame };

// nodump: nobody has a dump of the chip, so it has no checksum; it is a member of its set for
// counting only.
enum class RomStatus : std::uint8_t { Good, BadDump, NoDump };

// A set as a loader adds it. The texts are copied into the catalogue.
struct SetInfo {
    std::string_view name{}, description{};
    SetKind kind = SetKind::Machine;
    // The software list an item belongs to; for DAT games, whatever names the DAT they come
    // from. Names (cloneof, romof, device_ref) are resolved within one kind and list.
    std::string_view list{};
    std::string_view cloneOf{};  // the parent of a clone or bootleg
    std::string_view romOf{};    // the set it takes ROMs from: its parent or its BIOS
    bool isBios = false, isDevice = false;
};

// A ROM as a loader adds it, to the set added last. The texts are copied into the catalogue.
struct RomInfo {
    std::string_view name{};
    std::uint32_t size = 0;
    std::uint32_t crc = 0;  // not read for a nodump ROM
    std::optional<Sha1> sha1{};
    RomStatus status = RomStatus::Good;
    // The name this ROM has in the set's romof set: the ROM is the parent's or the BIOS's,
    // taken over. Empty for a ROM of the set's own.
    std::string_view merge{};
    // The BIOS choice (MAME's biosset) the ROM belongs to: a board carries the ROMs of one
    // choice only. Empty for a ROM every board of the set carries.
    std::string_view bios{};
    std::string_view region{};
    std::optional<std::uint64_t> offset{};
    std::uint32_t dataWidth = 0;  // in bits; 0 where not known
};

struct CatalogueRom : RomInfo {
    SetId set = kNoSet;
    // Its BIOS choice as a number within its set (1 for the first listed), 0 for none: a
    // ranking counts the ROMs of each choice of hundreds of sets, by number, not by name.
    std::uint16_t biosChoice = 0;
    bool dumpable() const { return status != RomStatus::NoDump; }
};

struct CatalogueSet : SetInfo {
    // Resolved by the catalogue: kNoSet where the name is empty or names no set it holds.
    SetId parent = kNoSet, romOfSet = kNoSet;
    SetId family = 0;  // the root of the cloneof chain: the set itself for a parent
    RomId firstRom = 0;
    std::uint32_t romCount = 0;
    std::uint32_t firstDevice = 0, deviceCount = 0;
    // Its dumpable ROMs outside any BIOS choice, and how many BIOS choices it lists.
    std::uint32_t dumpableRoms = 0;
    std::uint16_t biosChoices = 0;
};

class Catalogue;

// Collects sets and their ROMs, then builds the catalogue in one pass over them.
class CatalogueBuilder {
  public:
    CatalogueBuilder();
    ~CatalogueBuilder();
    CatalogueBuilder(CatalogueBuilder&&) noexcept;
    CatalogueBuilder& operator=(CatalogueBuilder&&) noexcept;

    // Room for this many sets and ROMs, when the loader knows them (a compiled cache does).
    void reserve(std::size_t sets, std::size_t roms);
    SetId addSet(const SetInfo& set);
    // Both belong to the set added last; nothing is added before the first set.
    void addRom(const RomInfo& rom);
    void addDeviceRef(std::string_view deviceName);

    // Resolves the names and indexes every dumpable ROM's (crc, size). The builder is left empty.
    Catalogue build();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

class Catalogue {
  public:
    struct Holding {
        std::span<const RomId> roms;  // every dumpable ROM with the key, in catalogue order
        std::uint32_t families = 0;   // how many families (cloneof roots) hold it
    };

    Catalogue();
    ~Catalogue();
    Catalogue(Catalogue&&) noexcept;
    Catalogue& operator=(Catalogue&&) noexcept;

    std::size_t setCount() const { return sets_.size(); }
    std::size_t romCount() const { return roms_.size(); }
    const CatalogueSet& set(SetId id) const { return sets_[id]; }
    const CatalogueRom& rom(RomId id) const { return roms_[id]; }
    // A set's ROMs as it lists them: its own and those taken over (with a merge name).
    std::span<const CatalogueRom> roms(SetId id) const {
        return {roms_.data() + sets_[id].firstRom, sets_[id].romCount};
    }
    RomId romId(const CatalogueRom& rom) const { return RomId(&rom - roms_.data()); }
    // The devices a set refers to that hold ROMs, each once, in the order first referred to.
    // References to sets that are not devices, or hold no ROM, are dropped: they explain nothing.
    std::span<const SetId> devices(SetId id) const {
        return {devices_.data() + sets_[id].firstDevice, sets_[id].deviceCount};
    }
    std::optional<SetId> find(SetKind kind, std::string_view list, std::string_view name) const;
    // The dumpable ROMs with this checksum and size; none when no set holds it.
    Holding holding(std::uint32_t crc, std::uint32_t size) const;
    // Where the ROM `rom` of set `set` comes from: the set that holds it as its own, found by
    // following romof and the merge names; `set` itself for a ROM of its own, kNoSet where a
    // merge name leads nowhere.
    SetId originOf(SetId set, const CatalogueRom& rom) const;

  private:
    friend class CatalogueBuilder;
    struct KeyRun {
        std::uint32_t first = 0, count = 0, families = 0;
    };
    std::vector<std::unique_ptr<char[]>> text_;  // the blocks every string_view points into
    std::vector<CatalogueSet> sets_;
    std::vector<CatalogueRom> roms_;
    std::vector<SetId> devices_;
    std::unordered_map<std::string_view, SetId> names_;      // kind, list, NUL, name -> set
    std::unordered_map<std::uint64_t, std::uint32_t> keys_;  // crc << 32 | size -> run
    std::vector<KeyRun> runs_;
    std::vector<RomId> holders_;
};

}  // namespace chipsight::board
