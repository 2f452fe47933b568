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
#include <stdexcept>
#include <string_view>
#include <vector>

#include "core/checksum/chunk_checks.h"

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
    bool bigEndian = false;       // its words are big-endian
};

// A ROM as the catalogue gives it: a copy, whose texts are views into the catalogue.
struct CatalogueRom : RomInfo {
    RomId id = 0;
    SetId set = kNoSet;
    // Its BIOS choice as a number within its set (1 for the first listed), 0 for none: a
    // ranking counts the ROMs of each choice of hundreds of sets, by number, not by name.
    std::uint16_t biosChoice = 0;
    bool dumpable() const { return status != RomStatus::NoDump; }
};

// A set as the catalogue gives it, in the same way.
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

// Thrown by a catalogue mapped from the cache when what it is about to read is not as it was
// written: whoever judges a board with it starts again from the DATs.
class CatalogueDamaged : public std::runtime_error {
  public:
    CatalogueDamaged() : std::runtime_error("the compiled catalogue is damaged") {}
};

class Catalogue;

// Collects sets and their ROMs, then builds the catalogue in one pass over them.
class CatalogueBuilder {
  public:
    CatalogueBuilder();
    ~CatalogueBuilder();
    CatalogueBuilder(CatalogueBuilder&&) noexcept;
    CatalogueBuilder& operator=(CatalogueBuilder&&) noexcept;

    // Room for this many sets and ROMs, when the loader knows them.
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

// The catalogue is one block of bytes, the same whether just built or mapped from the cache
// (see catalogue.cpp for its layout), read in place: a board judged against MAME's lists reads
// the few thousand records its dumps lead to, not the hundreds of thousands the block holds.
class Catalogue {
  public:
    struct Holding {
        std::span<const RomId> roms;  // every dumpable ROM with the key, in catalogue order
        std::uint32_t families = 0;   // how many families (cloneof roots) hold it
    };

    // The ROMs of one set, read one by one.
    class RomRange {
      public:
        class iterator {
          public:
            using value_type = CatalogueRom;
            using difference_type = std::ptrdiff_t;
            iterator() = default;
            iterator(const Catalogue* c, RomId at) : c_(c), at_(at) {}
            CatalogueRom operator*() const { return c_->rom(at_); }
            iterator& operator++() { return ++at_, *this; }
            iterator operator++(int) { return {c_, at_++}; }
            bool operator==(const iterator& other) const { return at_ == other.at_; }

          private:
            const Catalogue* c_ = nullptr;
            RomId at_ = 0;
        };
        RomRange(const Catalogue* c, RomId first, RomId end) : c_(c), first_(first), end_(end) {}
        iterator begin() const { return {c_, first_}; }
        iterator end() const { return {c_, end_}; }
        std::size_t size() const { return end_ - first_; }
        CatalogueRom operator[](std::size_t i) const { return c_->rom(first_ + RomId(i)); }

      private:
        const Catalogue* c_;
        RomId first_, end_;
    };

    Catalogue();
    ~Catalogue();
    Catalogue(Catalogue&&) noexcept;
    Catalogue& operator=(Catalogue&&) noexcept;

    // The catalogue over `length` bytes at `block`, kept alive by `owner`; none when the block's
    // header does not fit its length. With `checks`, every byte is checked as it is read, and
    // one found damaged throws CatalogueDamaged.
    static std::optional<Catalogue> open(std::shared_ptr<const void> owner,
                                         const std::uint8_t* block, std::size_t length,
                                         std::shared_ptr<const ChunkChecks> checks = {});
    // The block, for the cache to store.
    std::span<const std::uint8_t> block() const { return {block_, length_}; }

    std::size_t setCount() const { return setCount_; }
    std::size_t romCount() const { return romCount_; }
    CatalogueSet set(SetId id) const;
    CatalogueRom rom(RomId id) const;
    // A set's ROMs as it lists them: its own and those taken over (with a merge name).
    RomRange roms(SetId id) const;
    // The devices a set refers to that hold ROMs, each once, in the order first referred to.
    // References to sets that are not devices, or hold no ROM, are dropped: they explain nothing.
    std::span<const SetId> devices(SetId id) const;
    std::optional<SetId> find(SetKind kind, std::string_view list, std::string_view name) const;
    // The dumpable ROMs with this checksum and size; none when no set holds it.
    Holding holding(std::uint32_t crc, std::uint32_t size) const;
    // Where the ROM `rom` of set `set` comes from: the set that holds it as its own, found by
    // following romof and the merge names; `set` itself for a ROM of its own, kNoSet where a
    // merge name leads nowhere.
    SetId originOf(SetId set, const CatalogueRom& rom) const;

  private:
    friend class CatalogueBuilder;
    struct StoredSet;
    struct StoredRom;
    struct KeyRun;
    struct TextRef;
    // `count` items at `at`, once checked; throws CatalogueDamaged when they are not as written.
    template <typename T>
    const T* checked(const T* at, std::size_t count = 1) const;
    std::string_view text(const TextRef& ref) const;
    const StoredSet& storedSet(SetId id) const;

    std::shared_ptr<const void> owner_;
    std::shared_ptr<const ChunkChecks> checks_;
    const std::uint8_t* block_ = nullptr;
    std::size_t length_ = 0;
    const StoredSet* sets_ = nullptr;
    const StoredRom* roms_ = nullptr;
    const SetId* devices_ = nullptr;
    const KeyRun* runs_ = nullptr;
    const RomId* holders_ = nullptr;
    const SetId* byName_ = nullptr;
    const char* pool_ = nullptr;
    std::size_t setCount_ = 0, romCount_ = 0, deviceCount_ = 0, runCount_ = 0, holderCount_ = 0,
                poolBytes_ = 0;
};

}  // namespace chipsight::board
