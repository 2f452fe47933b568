// The catalogue of sets as one block of fixed records and a pool of texts: names resolved once,
// the (crc, size) lookup laid out as one sorted run of ROM ids per key.
#include "core/board/catalogue.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <unordered_map>

namespace chipsight::board {

namespace {

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

// The block, every number in this machine's order (the cache refuses a file of another):
//   header   magic "CSCATLOG", u32 layout version, u32 byte-order mark, then u64 counts of
//            sets, ROMs, device references, keys, key holders and pool bytes
//   sets     StoredSet each, in the order added
//   roms     StoredRom each, a set's ROMs together
//   devices  u32 set number each, a set's devices together
//   keys     KeyRun each, by (crc, size): where the key's holders are, and its families
//   holders  u32 ROM number each
//   by name  u32 set number each, sorted by kind, list and name
//   pool     the bytes of every text
// each part starting at a multiple of 8.
struct Catalogue::TextRef {
    std::uint32_t offset = 0, length = 0;
};

struct Catalogue::StoredSet {
    TextRef name, description, list, cloneOf, romOf;
    SetId parent, romOfSet, family;
    RomId firstRom;
    std::uint32_t romCount, firstDevice, deviceCount, dumpableRoms;
    std::uint16_t biosChoices;
    SetKind kind;
    std::uint8_t flags;  // kBios, kDevice
};

struct Catalogue::StoredRom {
    TextRef name, merge, bios, region;
    std::uint64_t offset;
    std::uint32_t size, crc, dataWidth;
    SetId set;
    Sha1 sha1;
    std::uint16_t biosChoice;
    RomStatus status;
    std::uint8_t flags;  // kHasSha1, kHasOffset, kBigEndian
};

struct Catalogue::KeyRun {
    std::uint32_t crc, size, first, count, families;
};

namespace {

constexpr char kMagic[8] = {'C', 'S', 'C', 'A', 'T', 'L', 'O', 'G'};
constexpr std::uint32_t kLayoutVersion = 1;
constexpr std::uint32_t kByteOrderMark = 0x01020304;
constexpr std::size_t kHeaderBytes = 64;
constexpr std::uint8_t kBios = 1, kDevice = 2, kHasSha1 = 1, kHasOffset = 2, kBigEndian = 4;

std::size_t alignUp(std::size_t n) { return (n + 7) & ~std::size_t(7); }

// Where each part of a block with these counts lies, and its length.
struct Layout {
    std::size_t sets, roms, devices, runs, holders, byName, pool, end;
};

template <typename Set, typename Rom, typename Run>
Layout layoutOf(std::uint64_t sets, std::uint64_t roms, std::uint64_t devices, std::uint64_t runs,
                std::uint64_t holders, std::uint64_t poolBytes) {
    Layout l{};
    l.sets = kHeaderBytes;
    l.roms = alignUp(l.sets + sets * sizeof(Set));
    l.devices = alignUp(l.roms + roms * sizeof(Rom));
    l.runs = alignUp(l.devices + devices * 4);
    l.holders = alignUp(l.runs + runs * sizeof(Run));
    l.byName = alignUp(l.holders + holders * 4);
    l.pool = alignUp(l.byName + sets * 4);
    l.end = l.pool + poolBytes;
    return l;
}

}  // namespace

struct CatalogueBuilder::State {
    struct DeviceRef {
        SetId set;
        std::uint32_t offset, length;  // into refNames
    };
    using TextRef = Catalogue::TextRef;

    TextRef keep(std::string_view text) {
        if (text.empty()) return {};
        TextRef ref{std::uint32_t(pool.size()), std::uint32_t(text.size())};
        pool += text;
        return ref;
    }
    std::string_view textOf(TextRef ref) const {
        return std::string_view(pool).substr(ref.offset, ref.length);
    }

    std::vector<Catalogue::StoredSet> sets;
    std::vector<Catalogue::StoredRom> roms;
    std::string pool;
    std::unordered_map<std::string, SetId> names;  // qualified name -> set
    TextRef lastRegion;            // ROMs of one region come together: their region is kept once
    std::vector<TextRef> choices;  // the BIOS choices of the set added last, kept once
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
    state_->sets.reserve(sets);
    state_->roms.reserve(roms);
    state_->names.reserve(sets);
}

SetId CatalogueBuilder::addSet(const SetInfo& info) {
    State& s = *state_;
    const SetId id = SetId(s.sets.size());
    Catalogue::StoredSet set{};
    set.name = s.keep(info.name);
    set.description = s.keep(info.description);
    set.list = s.keep(info.list);
    set.cloneOf = s.keep(info.cloneOf);
    set.romOf = info.romOf == info.cloneOf ? set.cloneOf : s.keep(info.romOf);
    set.parent = set.romOfSet = kNoSet;
    set.family = id;
    set.firstRom = RomId(s.roms.size());
    set.kind = info.kind;
    set.flags = std::uint8_t((info.isBios ? kBios : 0) | (info.isDevice ? kDevice : 0));
    s.sets.push_back(set);
    // The first of two sets of one name wins.
    s.names.try_emplace(qualifiedName(info.kind, info.list, info.name), id);
    s.lastRegion = {};
    s.choices.clear();
    return id;
}

void CatalogueBuilder::addRom(const RomInfo& info) {
    State& s = *state_;
    if (s.sets.empty()) return;
    Catalogue::StoredSet& set = s.sets.back();
    Catalogue::StoredRom rom{};
    rom.name = s.keep(info.name);
    // A merge name is nearly always the ROM's own name, and a region is shared by its
    // neighbours: both are kept once.
    rom.merge = info.merge == info.name ? rom.name : s.keep(info.merge);
    if (!info.bios.empty()) {
        const auto at =
            std::size_t(std::find_if(s.choices.begin(), s.choices.end(),
                                     [&](State::TextRef c) { return s.textOf(c) == info.bios; }) -
                        s.choices.begin());
        if (at == s.choices.size()) s.choices.push_back(s.keep(info.bios));
        rom.biosChoice = std::uint16_t(at + 1);
        rom.bios = s.choices[rom.biosChoice - 1];
        set.biosChoices = std::uint16_t(s.choices.size());
    }
    if (info.region != s.textOf(s.lastRegion)) s.lastRegion = s.keep(info.region);
    rom.region = s.lastRegion;
    rom.size = info.size;
    rom.crc = info.crc;
    rom.dataWidth = info.dataWidth;
    rom.status = info.status;
    if (info.sha1) rom.sha1 = *info.sha1, rom.flags |= kHasSha1;
    if (info.offset) rom.offset = *info.offset, rom.flags |= kHasOffset;
    if (info.bigEndian) rom.flags |= kBigEndian;
    rom.set = SetId(s.sets.size() - 1);
    s.roms.push_back(rom);
    ++set.romCount;
    if (info.status != RomStatus::NoDump && rom.biosChoice == 0) ++set.dumpableRoms;
}

void CatalogueBuilder::addDeviceRef(std::string_view deviceName) {
    State& s = *state_;
    if (s.sets.empty()) return;
    s.deviceRefs.push_back({SetId(s.sets.size() - 1), std::uint32_t(s.refNames.size()),
                            std::uint32_t(deviceName.size())});
    s.refNames += deviceName;
}

Catalogue CatalogueBuilder::build() {
    State& s = *state_;
    auto& sets = s.sets;
    auto& roms = s.roms;
    const auto resolve = [&](const Catalogue::StoredSet& set, State::TextRef name) {
        if (name.length == 0) return kNoSet;
        const auto it = s.names.find(qualifiedName(set.kind, s.textOf(set.list), s.textOf(name)));
        return it == s.names.end() ? kNoSet : it->second;
    };
    for (Catalogue::StoredSet& set : sets) {
        set.parent = resolve(set, set.cloneOf);
        set.romOfSet =
            s.textOf(set.romOf) == s.textOf(set.cloneOf) ? set.parent : resolve(set, set.romOf);
    }
    for (SetId id = 0; id < sets.size(); ++id) {
        SetId root = id;
        for (int step = 0; step < kMaxChain && sets[root].parent != kNoSet; ++step)
            root = sets[root].parent;
        sets[id].family = root;
    }

    // Only devices holding ROMs can explain a dump; the few of them are looked up by name.
    std::vector<SetId> devices;
    std::unordered_map<std::string_view, SetId> devicesWithRoms;
    for (SetId id = 0; id < sets.size(); ++id)
        if ((sets[id].flags & kDevice) && sets[id].romCount > 0)
            devicesWithRoms.try_emplace(s.textOf(sets[id].name), id);
    if (!devicesWithRoms.empty()) {
        // References arrive set by set, so each set's devices are one run.
        for (const State::DeviceRef& ref : s.deviceRefs) {
            const auto it =
                devicesWithRoms.find(std::string_view(s.refNames).substr(ref.offset, ref.length));
            if (it == devicesWithRoms.end()) continue;
            Catalogue::StoredSet& set = sets[ref.set];
            const Catalogue::StoredSet& device = sets[it->second];
            if (device.kind != set.kind || s.textOf(device.list) != s.textOf(set.list)) continue;
            if (set.deviceCount == 0) set.firstDevice = std::uint32_t(devices.size());
            const auto run = devices.begin() + set.firstDevice;
            if (std::find(run, devices.end(), it->second) != devices.end()) continue;
            devices.push_back(it->second);
            ++set.deviceCount;
        }
    }
    s.deviceRefs = {};
    s.refNames = {};
    s.names = {};

    // The lookup: the dumpable ROMs sorted by key, each key one run of holders in catalogue
    // order.
    std::vector<RomId> holders;
    for (RomId id = 0; id < roms.size(); ++id)
        if (roms[id].status != RomStatus::NoDump) holders.push_back(id);
    std::stable_sort(holders.begin(), holders.end(), [&](RomId a, RomId b) {
        return keyOf(roms[a].crc, roms[a].size) < keyOf(roms[b].crc, roms[b].size);
    });
    std::vector<Catalogue::KeyRun> runs;
    // How many families hold each key: a family is counted once per key by stamping it with
    // the run it was last counted for.
    std::vector<std::uint32_t> stamp(sets.size(), 0);
    for (std::uint32_t i = 0; i < holders.size(); ++i) {
        const Catalogue::StoredRom& rom = roms[holders[i]];
        if (runs.empty() || runs.back().crc != rom.crc || runs.back().size != rom.size)
            runs.push_back({rom.crc, rom.size, i, 0, 0});
        Catalogue::KeyRun& run = runs.back();
        ++run.count;
        const SetId family = sets[rom.set].family;
        const auto number = std::uint32_t(runs.size());
        if (stamp[family] != number) stamp[family] = number, ++run.families;
    }
    std::vector<SetId> byName(sets.size());
    for (SetId id = 0; id < sets.size(); ++id) byName[id] = id;
    const auto nameKey = [&](SetId id) {
        return std::tuple(sets[id].kind, s.textOf(sets[id].list), s.textOf(sets[id].name), id);
    };
    std::sort(byName.begin(), byName.end(),
              [&](SetId a, SetId b) { return nameKey(a) < nameKey(b); });

    const Layout l = layoutOf<Catalogue::StoredSet, Catalogue::StoredRom, Catalogue::KeyRun>(
        sets.size(), roms.size(), devices.size(), runs.size(), holders.size(), s.pool.size());
    auto storage = std::make_shared<std::vector<std::uint64_t>>((l.end + 7) / 8, 0);
    auto* block = reinterpret_cast<std::uint8_t*>(storage->data());
    std::memcpy(block, kMagic, sizeof kMagic);
    std::memcpy(block + 8, &kLayoutVersion, 4);
    std::memcpy(block + 12, &kByteOrderMark, 4);
    const std::uint64_t counts[] = {sets.size(), roms.size(),    devices.size(),
                                    runs.size(), holders.size(), s.pool.size()};
    std::memcpy(block + 16, counts, sizeof counts);
    const auto place = [&](std::size_t at, const auto& items) {
        if (!items.empty()) std::memcpy(block + at, items.data(), items.size() * sizeof items[0]);
    };
    place(l.sets, sets);
    place(l.roms, roms);
    place(l.devices, devices);
    place(l.runs, runs);
    place(l.holders, holders);
    place(l.byName, byName);
    place(l.pool, s.pool);
    state_ = std::make_unique<State>();
    const std::size_t length = l.end;
    std::optional<Catalogue> built = Catalogue::open(storage, block, length);
    return std::move(*built);
}

Catalogue::Catalogue() = default;
Catalogue::~Catalogue() = default;
Catalogue::Catalogue(Catalogue&&) noexcept = default;
Catalogue& Catalogue::operator=(Catalogue&&) noexcept = default;

std::optional<Catalogue> Catalogue::open(std::shared_ptr<const void> owner,
                                         const std::uint8_t* block, std::size_t length,
                                         std::shared_ptr<const ChunkChecks> checks) {
    if (length < kHeaderBytes || std::memcmp(block, kMagic, sizeof kMagic) != 0) return {};
    std::uint32_t version, mark;
    std::uint64_t counts[6];
    std::memcpy(&version, block + 8, 4);
    std::memcpy(&mark, block + 12, 4);
    std::memcpy(counts, block + 16, sizeof counts);
    if (version != kLayoutVersion || mark != kByteOrderMark) return {};
    // Each count is bounded by the length, so the sums below cannot overflow.
    for (const std::uint64_t count : counts)
        if (count > length) return {};
    const Layout l = layoutOf<StoredSet, StoredRom, KeyRun>(counts[0], counts[1], counts[2],
                                                            counts[3], counts[4], counts[5]);
    if (l.end != length || reinterpret_cast<std::uintptr_t>(block) % 8 != 0) return {};
    Catalogue c;
    c.owner_ = std::move(owner);
    c.checks_ = std::move(checks);
    c.block_ = block;
    c.length_ = length;
    c.sets_ = reinterpret_cast<const StoredSet*>(block + l.sets);
    c.roms_ = reinterpret_cast<const StoredRom*>(block + l.roms);
    c.devices_ = reinterpret_cast<const SetId*>(block + l.devices);
    c.runs_ = reinterpret_cast<const KeyRun*>(block + l.runs);
    c.holders_ = reinterpret_cast<const RomId*>(block + l.holders);
    c.byName_ = reinterpret_cast<const SetId*>(block + l.byName);
    c.pool_ = reinterpret_cast<const char*>(block + l.pool);
    c.setCount_ = counts[0];
    c.romCount_ = counts[1];
    c.deviceCount_ = counts[2];
    c.runCount_ = counts[3];
    c.holderCount_ = counts[4];
    c.poolBytes_ = counts[5];
    return c;
}

template <typename T>
const T* Catalogue::checked(const T* at, std::size_t count) const {
    if (checks_ && !checks_->verify(at, count * sizeof(T))) throw CatalogueDamaged();
    return at;
}

std::string_view Catalogue::text(const TextRef& ref) const {
    if (ref.offset > poolBytes_ || ref.length > poolBytes_ - ref.offset) throw CatalogueDamaged();
    return {checked(pool_ + ref.offset, ref.length), ref.length};
}

const Catalogue::StoredSet& Catalogue::storedSet(SetId id) const {
    if (id >= setCount_) throw CatalogueDamaged();
    return *checked(sets_ + id);
}

CatalogueSet Catalogue::set(SetId id) const {
    const StoredSet& s = storedSet(id);
    CatalogueSet out;
    out.name = text(s.name);
    out.description = text(s.description);
    out.kind = s.kind;
    out.list = text(s.list);
    out.cloneOf = text(s.cloneOf);
    out.romOf = text(s.romOf);
    out.isBios = s.flags & kBios;
    out.isDevice = s.flags & kDevice;
    out.parent = s.parent;
    out.romOfSet = s.romOfSet;
    out.family = s.family;
    out.firstRom = s.firstRom;
    out.romCount = s.romCount;
    out.firstDevice = s.firstDevice;
    out.deviceCount = s.deviceCount;
    out.dumpableRoms = s.dumpableRoms;
    out.biosChoices = s.biosChoices;
    return out;
}

CatalogueRom Catalogue::rom(RomId id) const {
    if (id >= romCount_) throw CatalogueDamaged();
    const StoredRom& r = *checked(roms_ + id);
    CatalogueRom out;
    out.name = text(r.name);
    out.size = r.size;
    out.crc = r.crc;
    if (r.flags & kHasSha1) out.sha1 = r.sha1;
    out.status = r.status;
    out.merge = text(r.merge);
    out.bios = text(r.bios);
    out.region = text(r.region);
    if (r.flags & kHasOffset) out.offset = r.offset;
    out.dataWidth = r.dataWidth;
    out.bigEndian = r.flags & kBigEndian;
    out.id = id;
    out.set = r.set;
    out.biosChoice = r.biosChoice;
    return out;
}

Catalogue::RomRange Catalogue::roms(SetId id) const {
    const StoredSet& s = storedSet(id);
    if (s.firstRom > romCount_ || s.romCount > romCount_ - s.firstRom) throw CatalogueDamaged();
    return {this, s.firstRom, s.firstRom + s.romCount};
}

std::span<const SetId> Catalogue::devices(SetId id) const {
    const StoredSet& s = storedSet(id);
    if (s.deviceCount == 0) return {};
    if (s.firstDevice > deviceCount_ || s.deviceCount > deviceCount_ - s.firstDevice)
        throw CatalogueDamaged();
    return {checked(devices_ + s.firstDevice, s.deviceCount), s.deviceCount};
}

std::optional<SetId> Catalogue::find(SetKind kind, std::string_view list,
                                     std::string_view name) const {
    const auto key = [&](SetId id) {
        const StoredSet& s = storedSet(id);
        return std::tuple(s.kind, text(s.list), text(s.name));
    };
    const SetId* first = checked(byName_, 0);
    const SetId* it = std::partition_point(first, first + setCount_, [&](const SetId& at) {
        return key(*checked(&at)) < std::tuple(kind, list, name);
    });
    if (it == first + setCount_ || key(*checked(it)) != std::tuple(kind, list, name))
        return std::nullopt;
    return *it;
}

Catalogue::Holding Catalogue::holding(std::uint32_t crc, std::uint32_t size) const {
    const KeyRun* it = std::partition_point(runs_, runs_ + runCount_, [&](const KeyRun& run) {
        return keyOf(checked(&run)->crc, run.size) < keyOf(crc, size);
    });
    if (it == runs_ + runCount_ || checked(it)->crc != crc || it->size != size) return {};
    if (it->first > holderCount_ || it->count > holderCount_ - it->first) throw CatalogueDamaged();
    return {{checked(holders_ + it->first, it->count), it->count}, it->families};
}

SetId Catalogue::originOf(SetId set, const CatalogueRom& rom) const {
    SetId at = set;
    std::string_view name = rom.merge;
    for (int step = 0; step < kMaxChain && !name.empty(); ++step) {
        at = storedSet(at).romOfSet;
        if (at == kNoSet) return kNoSet;
        const RomRange own = roms(at);
        const auto it = std::find_if(own.begin(), own.end(),
                                     [&](const CatalogueRom& r) { return r.name == name; });
        if (it == own.end()) return kNoSet;
        name = (*it).merge;
    }
    return name.empty() ? at : kNoSet;
}

}  // namespace chipsight::board
