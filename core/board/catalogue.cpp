// The catalogue of sets: texts kept in blocks that never move, names resolved once, and the
// (crc, size) lookup laid out as one run of ROM ids per key.
#include "core/board/catalogue.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace chipsight::board {

namespace {

// Texts are copied into blocks of this size; a block is never reallocated, so the views into it
// stay valid when the catalogue moves. MAME's list has some 45,000 sets and 400,000 ROMs whose
// texts come to a few tens of megabytes: a few hundred blocks.
constexpr std::size_t kTextBlock = 256 * 1024;

// cloneof chains are one link long in every known DAT; a longer or circular one is cut here.
constexpr int kMaxChain = 16;

std::uint64_t keyOf(std::uint32_t crc, std::uint32_t size) {
    return std::uint64_t(crc) << 32 | size;
}

char kindLetter(SetKind kind) {
    switch (kind) {
        case SetKind::Machine:
            return 'M';
        case SetKind::SoftwareItem:
            return 'S';
        case SetKind::DatGame:
            return 'D';
    }
    return '?';
}

// A set's name as the names map keys it: the kind, the list, a NUL, then the name, so that an
// item of one software list never resolves to a set of another list or to a machine.
std::string qualifiedName(SetKind kind, std::string_view list, std::string_view name) {
    std::string key;
    key.reserve(2 + list.size() + name.size());
    key += kindLetter(kind);
    key += list;
    key += '\0';
    key += name;
    return key;
}

}  // namespace

struct CatalogueBuilder::State {
    struct DeviceRef {
        SetId set;
        std::uint32_t offset, length;  // into refNames
    };

    // Room for `length` bytes that will not move.
    char* reserve(std::size_t length) {
        if (length > left) {
            const std::size_t block = std::max(kTextBlock, length);
            catalogue.text_.push_back(std::make_unique<char[]>(block));
            next = catalogue.text_.back().get();
            left = block;
        }
        char* at = next;
        next += length;
        left -= length;
        return at;
    }
    std::string_view keep(std::string_view text) {
        if (text.empty()) return {};
        char* at = reserve(text.size());
        std::memcpy(at, text.data(), text.size());
        return {at, text.size()};
    }

    Catalogue catalogue;
    char* next = nullptr;
    std::size_t left = 0;
    std::string_view lastRegion;  // ROMs of one region come together: their region is kept once
    std::vector<std::string_view> choices;  // the BIOS choices of the set added last, kept once
    // Device references are only names until every set is known; most of them name devices that
    // hold no ROM and are dropped at build, so their names are kept apart and freed then.
    std::vector<DeviceRef> deviceRefs;
    std::string refNames;
};

CatalogueBuilder::CatalogueBuilder() : state_(std::make_unique<State>()) {}
CatalogueBuilder::~CatalogueBuilder() = default;
CatalogueBuilder::CatalogueBuilder(CatalogueBuilder&&) noexcept = default;
CatalogueBuilder& CatalogueBuilder::operator=(CatalogueBuilder&&) noexcept = default;

void CatalogueBuilder::reserve(std::size_t sets, std::size_t roms) {
    state_->catalogue.sets_.reserve(sets);
    state_->catalogue.roms_.reserve(roms);
    state_->catalogue.names_.reserve(sets);
}

SetId CatalogueBuilder::addSet(const SetInfo& info) {
    State& s = *state_;
    auto& sets = s.catalogue.sets_;
    const SetId id = SetId(sets.size());
    CatalogueSet set;
    static_cast<SetInfo&>(set) = info;
    // The qualified name is kept whole for the names map; the set's name is its tail.
    const std::string key = qualifiedName(info.kind, info.list, info.name);
    const std::string_view kept = s.keep(key);
    set.name = kept.substr(kept.size() - info.name.size());
    set.list = kept.substr(1, info.list.size());
    set.description = s.keep(info.description);
    set.cloneOf = s.keep(info.cloneOf);
    set.romOf = info.romOf == info.cloneOf ? set.cloneOf : s.keep(info.romOf);
    set.firstRom = RomId(s.catalogue.roms_.size());
    set.family = id;
    sets.push_back(set);
    s.catalogue.names_.try_emplace(kept, id);  // the first of two sets of one name wins
    s.lastRegion = {};
    s.choices.clear();
    return id;
}

void CatalogueBuilder::addRom(const RomInfo& info) {
    State& s = *state_;
    auto& sets = s.catalogue.sets_;
    if (sets.empty()) return;
    CatalogueRom rom;
    static_cast<RomInfo&>(rom) = info;
    rom.name = s.keep(info.name);
    // A merge name is nearly always the ROM's own name, and a region is shared by its
    // neighbours: both are kept once.
    rom.merge = info.merge == info.name ? (info.merge.empty() ? std::string_view{} : rom.name)
                                        : s.keep(info.merge);
    if (!info.bios.empty()) {
        const std::size_t at = std::size_t(
            std::find(s.choices.begin(), s.choices.end(), info.bios) - s.choices.begin());
        if (at == s.choices.size()) s.choices.push_back(s.keep(info.bios));
        rom.biosChoice = std::uint16_t(at + 1);
        rom.bios = s.choices[rom.biosChoice - 1];
        sets.back().biosChoices = std::uint16_t(s.choices.size());
    }
    if (info.region != s.lastRegion) s.lastRegion = s.keep(info.region);
    rom.region = s.lastRegion;
    rom.set = SetId(sets.size() - 1);
    s.catalogue.roms_.push_back(rom);
    ++sets.back().romCount;
    if (rom.dumpable() && rom.biosChoice == 0) ++sets.back().dumpableRoms;
}

void CatalogueBuilder::addDeviceRef(std::string_view deviceName) {
    State& s = *state_;
    if (s.catalogue.sets_.empty()) return;
    s.deviceRefs.push_back({SetId(s.catalogue.sets_.size() - 1), std::uint32_t(s.refNames.size()),
                            std::uint32_t(deviceName.size())});
    s.refNames += deviceName;
}

Catalogue CatalogueBuilder::build() {
    State& s = *state_;
    Catalogue& c = s.catalogue;
    // The vectors grew by doubling while the loader added: a third of MAME's ROM table would
    // otherwise stay allocated and unused for as long as the catalogue lives.
    c.sets_.shrink_to_fit();
    c.roms_.shrink_to_fit();
    auto resolve = [&](const CatalogueSet& set, std::string_view name) {
        if (name.empty()) return kNoSet;
        const auto it = c.names_.find(qualifiedName(set.kind, set.list, name));
        return it == c.names_.end() ? kNoSet : it->second;
    };
    for (CatalogueSet& set : c.sets_) {
        set.parent = resolve(set, set.cloneOf);
        set.romOfSet = set.romOf == set.cloneOf ? set.parent : resolve(set, set.romOf);
    }
    for (SetId id = 0; id < c.sets_.size(); ++id) {
        SetId root = id;
        for (int step = 0; step < kMaxChain && c.sets_[root].parent != kNoSet; ++step)
            root = c.sets_[root].parent;
        c.sets_[id].family = root;
    }

    // Only devices holding ROMs can explain a dump; the few of them are looked up by name.
    std::unordered_map<std::string_view, SetId> devicesWithRoms;
    for (SetId id = 0; id < c.sets_.size(); ++id)
        if (c.sets_[id].isDevice && c.sets_[id].romCount > 0)
            devicesWithRoms.try_emplace(c.sets_[id].name, id);
    if (!devicesWithRoms.empty()) {
        // References arrive set by set, so each set's devices are one run of devices_.
        for (const State::DeviceRef& ref : s.deviceRefs) {
            const auto it =
                devicesWithRoms.find(std::string_view(s.refNames).substr(ref.offset, ref.length));
            if (it == devicesWithRoms.end()) continue;
            CatalogueSet& set = c.sets_[ref.set];
            const CatalogueSet& device = c.sets_[it->second];
            if (device.kind != set.kind || device.list != set.list) continue;
            if (set.deviceCount == 0) set.firstDevice = std::uint32_t(c.devices_.size());
            const auto run = c.devices_.begin() + set.firstDevice;
            if (std::find(run, c.devices_.end(), it->second) != c.devices_.end()) continue;
            c.devices_.push_back(it->second);
            ++set.deviceCount;
        }
    }

    // The lookup: every key gets a run number on first sight, then the runs are laid out one
    // after another and filled, so each ROM is hashed once.
    std::vector<std::uint32_t> runOf(c.roms_.size());
    c.keys_.reserve(c.roms_.size());
    for (RomId id = 0; id < c.roms_.size(); ++id) {
        const CatalogueRom& rom = c.roms_[id];
        if (!rom.dumpable()) continue;
        const auto [it, added] =
            c.keys_.try_emplace(keyOf(rom.crc, rom.size), std::uint32_t(c.runs_.size()));
        if (added) c.runs_.emplace_back();
        ++c.runs_[it->second].count;
        runOf[id] = it->second;
    }
    std::uint32_t at = 0;
    for (Catalogue::KeyRun& run : c.runs_) run.first = at, at += run.count, run.count = 0;
    c.holders_.resize(at);
    for (RomId id = 0; id < c.roms_.size(); ++id) {
        if (!c.roms_[id].dumpable()) continue;
        Catalogue::KeyRun& run = c.runs_[runOf[id]];
        c.holders_[run.first + run.count++] = id;
    }
    // How many families hold each key: a family is counted once per key by stamping it with
    // the run it was last counted for.
    std::vector<std::uint32_t> stamp(c.sets_.size(), 0);
    for (std::uint32_t r = 0; r < c.runs_.size(); ++r) {
        Catalogue::KeyRun& run = c.runs_[r];
        for (std::uint32_t i = run.first; i < run.first + run.count; ++i) {
            const SetId family = c.sets_[c.roms_[c.holders_[i]].set].family;
            if (stamp[family] != r + 1) stamp[family] = r + 1, ++run.families;
        }
    }

    Catalogue built = std::move(c);
    state_ = std::make_unique<State>();
    return built;
}

Catalogue::Catalogue() = default;
Catalogue::~Catalogue() = default;
Catalogue::Catalogue(Catalogue&&) noexcept = default;
Catalogue& Catalogue::operator=(Catalogue&&) noexcept = default;

std::optional<SetId> Catalogue::find(SetKind kind, std::string_view list,
                                     std::string_view name) const {
    const auto it = names_.find(qualifiedName(kind, list, name));
    if (it == names_.end()) return std::nullopt;
    return it->second;
}

Catalogue::Holding Catalogue::holding(std::uint32_t crc, std::uint32_t size) const {
    const auto it = keys_.find(keyOf(crc, size));
    if (it == keys_.end()) return {};
    const KeyRun& run = runs_[it->second];
    return {{holders_.data() + run.first, run.count}, run.families};
}

SetId Catalogue::originOf(SetId set, const CatalogueRom& rom) const {
    SetId at = set;
    std::string_view name = rom.merge;
    for (int step = 0; step < kMaxChain && !name.empty(); ++step) {
        at = sets_[at].romOfSet;
        if (at == kNoSet) return kNoSet;
        const auto own = roms(at);
        const auto it = std::find_if(own.begin(), own.end(),
                                     [&](const CatalogueRom& r) { return r.name == name; });
        if (it == own.end()) return kNoSet;
        name = it->merge;
    }
    return name.empty() ? at : kNoSet;
}

}  // namespace chipsight::board
