// Judging a board: the sets holding its dumps scored by how rare the matched ROMs are, ranked,
// grouped by family; the best set's chips; the rest of the dumps explained where they can be.
#include "core/board/board.h"

#include <algorithm>
#include <limits>

namespace chipsight::board {

namespace {

// Evidence is counted in integers, a whole chip being kUnit: it is divisible by every number
// of families up to 20, so sums that are equal as fractions compare equal and the ranking
// never depends on rounding.
constexpr std::uint64_t kUnit = 232792560;

std::uint64_t keyOf(std::uint32_t crc, std::uint32_t size) {
    return std::uint64_t(crc) << 32 | size;
}

// What a set scores against the dumps in play.
struct Scored {
    SetId set = kNoSet;
    // Each matched dump counts kUnit over the number of families holding its (crc, size).
    //
    // A ROM of one family names the board; a PROM held by forty families says little, so
    // evidence is weighed by rarity. The rarity is counted in families (a parent with its
    // clones and bootlegs), not in sets: a family's members share most of their ROMs, and
    // counting sets would make a chip weaker the more revisions of its game exist, so that
    // two stray chips of a one-set game would outweigh a whole board of a game with ten
    // clones. Within one family every ROM of its own then counts one, and the revision is
    // decided by how many of the dumps each member explains, then by what it misses.
    //
    // One over the count rather than the logarithm of an inverse frequency: with the
    // logarithm, two PROMs held by fifteen families each would outweigh the one chip that
    // only the board's own game holds, where a person goes by that chip.
    std::uint64_t weight = 0;
    std::uint64_t deviceWeight = 0;  // of dumps explained only by its devices' ROMs
    std::uint32_t matched = 0, dumpable = 0;
    std::uint32_t lastKey = 0;     // the key (numbered from 1) last counted in `weight`
    std::uint32_t familyRank = 0;  // where the best of its family ranks
    std::uint32_t missing() const { return dumpable - matched; }
};

// A set's dumpable ROMs that a board carries, and how many of them the dumps are.
struct Tally {
    std::uint32_t matched = 0, dumpable = 0;
    // The BIOS choice counted: of a set listing several, the one the dumps match most (the
    // first listed when they match none), as a board carries only one.
    std::uint16_t choice = 0;
    bool carries(const CatalogueRom& rom) const {
        return rom.biosChoice == 0 || rom.biosChoice == choice;
    }
};

bool sameSha1(const std::optional<Sha1>& a, const std::optional<Sha1>& b) {
    return !a || !b || *a == *b;
}

class Judge {
  public:
    Judge(const Catalogue& catalogue, std::span<const Dump> dumps)
        : c_(catalogue), dumps_(dumps), slot_(catalogue.setCount(), kNoSlot) {
        for (std::size_t d = 0; d < dumps.size(); ++d)
            byKey_.push_back({keyOf(dumps[d].crc, dumps[d].size), d});
        std::sort(byKey_.begin(), byKey_.end());
    }

    // Calls `use` with each active dump that is `rom`, in the order given, until it returns
    // true.
    template <typename Use>
    void eachDumpOf(const CatalogueRom& rom, const std::vector<char>& active, Use use) const {
        if (!rom.dumpable()) return;
        const std::uint64_t key = keyOf(rom.crc, rom.size);
        auto it = std::lower_bound(byKey_.begin(), byKey_.end(), std::pair{key, std::size_t(0)});
        for (; it != byKey_.end() && it->first == key; ++it)
            if (active[it->second] && sameSha1(rom.sha1, dumps_[it->second].sha1) &&
                use(it->second))
                return;
    }
    std::optional<std::size_t> dumpOf(const CatalogueRom& rom,
                                      const std::vector<char>& active) const {
        std::optional<std::size_t> found;
        eachDumpOf(rom, active, [&](std::size_t d) { return found = d, true; });
        return found;
    }

    // Every set holding one of the active dumps, best first, each family together.
    std::vector<Scored> rank(const std::vector<char>& active) const {
        // The distinct keys in play, and which set holds which of them.
        std::vector<std::uint64_t> keys;
        for (std::size_t d = 0; d < dumps_.size(); ++d)
            if (active[d]) keys.push_back(keyOf(dumps_[d].crc, dumps_[d].size));
        std::sort(keys.begin(), keys.end());
        keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
        // One pass over the ROMs holding them: each set's evidence (a key once per set), and
        // its matched ROMs, as every ROM is in the run of its own key only.
        std::vector<std::uint64_t> weightOf(keys.size(), 0);
        std::vector<Scored> scored;
        std::vector<std::pair<std::uint32_t, std::uint32_t>> held;  // (scored, key number)
        bool devices = false;
        for (std::uint32_t k = 0; k < keys.size(); ++k) {
            const auto holding = c_.holding(std::uint32_t(keys[k] >> 32), std::uint32_t(keys[k]));
            if (holding.families == 0) continue;
            weightOf[k] = kUnit / holding.families;
            for (const RomId id : holding.roms) {
                const CatalogueRom& rom = c_.rom(id);
                if (!dumpOf(rom, active)) continue;
                std::uint32_t& at = slot_[rom.set];
                if (at == kNoSlot) {
                    at = std::uint32_t(scored.size());
                    scored.push_back({.set = rom.set});
                    devices = devices || c_.set(rom.set).isDevice;
                }
                Scored& s = scored[at];
                if (s.lastKey != k + 1) {
                    s.lastKey = k + 1;
                    s.weight += weightOf[k];
                    held.push_back({at, k});
                }
                s.matched += rom.biosChoice == 0;
            }
        }
        for (Scored& s : scored) {
            const CatalogueSet& set = c_.set(s.set);
            if (set.biosChoices > 0) {
                const Tally t = tally(s.set, active);
                s.matched = t.matched;
                s.dumpable = t.dumpable;
            } else {
                s.dumpable = set.dumpableRoms;
            }
        }
        // A machine's devices explain dumps too, but count only after all else is equal: a
        // set explaining the same dumps with ROMs of its own is the better answer.
        if (devices) {
            std::sort(held.begin(), held.end());
            const auto keysOf = [&](std::uint32_t at) {
                const auto first = std::lower_bound(held.begin(), held.end(), std::pair{at, 0u});
                auto last = first;
                while (last != held.end() && last->first == at) ++last;
                return std::span(first, last);
            };
            for (std::uint32_t at = 0; at < scored.size(); ++at) {
                std::vector<std::uint32_t> counted;
                for (const auto& [_, k] : keysOf(at)) counted.push_back(k);
                for (const SetId device : c_.devices(scored[at].set)) {
                    if (slot_[device] == kNoSlot) continue;
                    for (const auto& [_, k] : keysOf(slot_[device])) {
                        if (std::find(counted.begin(), counted.end(), k) != counted.end()) continue;
                        counted.push_back(k);
                        scored[at].deviceWeight += weightOf[k];
                    }
                }
            }
        }
        for (const Scored& s : scored) slot_[s.set] = kNoSlot;

        std::sort(scored.begin(), scored.end(),
                  [&](const Scored& a, const Scored& b) { return better(a, b); });
        // Families together, ordered by their best member; members keep their own order.
        for (std::uint32_t i = 0; i < scored.size(); ++i) {
            std::uint32_t& best = slot_[c_.set(scored[i].set).family];
            if (best == kNoSlot) best = i;
            scored[i].familyRank = best;
        }
        for (const Scored& s : scored) slot_[c_.set(s.set).family] = kNoSlot;
        std::stable_sort(scored.begin(), scored.end(), [](const Scored& a, const Scored& b) {
            return a.familyRank < b.familyRank;
        });
        return scored;
    }

    // The active dumps that a set's ROMs, or its devices', are.
    std::vector<std::size_t> explained(SetId set, const std::vector<char>& active) const {
        std::vector<std::size_t> found;
        const auto collect = [&](SetId from) {
            for (const CatalogueRom& rom : c_.roms(from))
                eachDumpOf(rom, active, [&](std::size_t d) { return found.push_back(d), false; });
        };
        collect(set);
        for (const SetId device : c_.devices(set)) collect(device);
        std::sort(found.begin(), found.end());
        found.erase(std::unique(found.begin(), found.end()), found.end());
        return found;
    }

    Candidate candidate(const Scored& s, const std::vector<Scored>& all,
                        const std::vector<char>& active) const {
        const CatalogueSet& set = c_.set(s.set);
        Candidate out;
        out.set = s.set;
        out.name = set.name;
        out.description = set.description;
        out.matched = s.matched;
        out.dumpable = s.dumpable;
        out.weight = double(s.weight) / double(kUnit);
        const Tally own = tally(s.set, active);
        for (const CatalogueRom& rom : inSetOrder(s.set))
            if (rom.dumpable() && own.carries(rom) && !dumpOf(rom, active))
                out.missing.push_back(rom.id);
        for (const SetId device : c_.devices(s.set)) {
            const Tally t = tally(device, active);
            out.deviceMatched += t.matched;
            out.deviceDumpable += t.dumpable;
        }
        // Sets of the same ROMs hold the same dumps, so they are among the scored, with the
        // same evidence and counts.
        const std::vector<std::uint64_t> mine = romKeys(s.set);
        for (const Scored& other : all)
            if (other.set != s.set && other.weight == s.weight && other.matched == s.matched &&
                other.dumpable == s.dumpable && romKeys(other.set) == mine)
                out.tiedWith.push_back(other.set);
        return out;
    }

    std::vector<ChipLine> chips(SetId best, const std::vector<char>& active) const {
        std::vector<ChipLine> lines;
        const auto add = [&](const CatalogueRom& rom, ChipFrom from, SetId origin) {
            ChipLine line;
            line.rom = rom.id;
            line.from = from;
            line.origin = origin;
            line.dump = dumpOf(rom, active);
            if (!rom.dumpable())
                line.state = ChipState::NoGoodDump;
            else if (rom.status == RomStatus::BadDump)
                line.state = ChipState::BadDumpKnown;
            else
                line.state = line.dump ? ChipState::Found : ChipState::Missing;
            lines.push_back(line);
        };
        const Tally own = tally(best, active);
        for (const CatalogueRom& rom : inSetOrder(best)) {
            if (!own.carries(rom)) continue;
            const SetId origin = rom.merge.empty() ? best : c_.originOf(best, rom);
            add(rom, origin == best || origin == kNoSet ? ChipFrom::Own : ChipFrom::Inherited,
                origin == kNoSet ? best : origin);
        }
        for (const SetId device : c_.devices(best)) {
            const Tally t = tally(device, active);
            for (const CatalogueRom& rom : c_.roms(device))
                if (t.carries(rom)) add(rom, ChipFrom::Device, device);
        }
        return lines;
    }

    Unexplained::KnownChip knownChip(std::size_t d, std::size_t few) const {
        Unexplained::KnownChip chip;
        chip.dump = d;
        const auto holding = c_.holding(dumps_[d].crc, dumps_[d].size);
        std::vector<SetId> sets;
        for (const RomId id : holding.roms)
            if (sameSha1(c_.rom(id).sha1, dumps_[d].sha1) &&
                (sets.empty() || sets.back() != c_.rom(id).set))
                sets.push_back(c_.rom(id).set);
        chip.setCount = sets.size();
        const auto byParentsThenName = [&](SetId a, SetId b) {
            const CatalogueSet &x = c_.set(a), &y = c_.set(b);
            if ((x.parent == kNoSet) != (y.parent == kNoSet)) return x.parent == kNoSet;
            return x.name != y.name ? x.name < y.name : a < b;
        };
        const std::size_t shown = std::min(few, sets.size());
        std::partial_sort(sets.begin(), sets.begin() + std::ptrdiff_t(shown), sets.end(),
                          byParentsThenName);
        chip.sets.assign(sets.begin(), sets.begin() + std::ptrdiff_t(shown));
        return chip;
    }

    // How many families hold the dump's (crc, size).
    std::uint32_t families(std::size_t d) const {
        return c_.holding(dumps_[d].crc, dumps_[d].size).families;
    }

  private:
    // A better answer than b: more evidence; then fewer ROMs missing; then a machine before a
    // BIOS or device explaining as much; then more explained by its devices; then by name.
    bool better(const Scored& a, const Scored& b) const {
        if (a.weight != b.weight) return a.weight > b.weight;
        if (a.missing() != b.missing()) return a.missing() < b.missing();
        const CatalogueSet &x = c_.set(a.set), &y = c_.set(b.set);
        const bool xSupport = x.isBios || x.isDevice, ySupport = y.isBios || y.isDevice;
        if (xSupport != ySupport) return !xSupport;
        if (a.deviceWeight != b.deviceWeight) return a.deviceWeight > b.deviceWeight;
        if (x.name != y.name) return x.name < y.name;
        if (x.list != y.list) return x.list < y.list;
        return a.set < b.set;
    }

    Tally tally(SetId set, const std::vector<char>& active) const {
        // Index 0 counts the ROMs outside any choice.
        std::vector<Tally> counts(c_.set(set).biosChoices + 1u);
        for (const CatalogueRom& rom : c_.roms(set)) {
            if (!rom.dumpable()) continue;
            ++counts[rom.biosChoice].dumpable;
            counts[rom.biosChoice].matched += dumpOf(rom, active).has_value();
        }
        Tally out = counts[0];
        if (counts.size() == 1) return out;
        std::uint16_t best = 1;
        for (std::uint16_t c = 2; c < counts.size(); ++c)
            if (counts[c].matched > counts[best].matched) best = c;
        return {out.matched + counts[best].matched, out.dumpable + counts[best].dumpable, best};
    }

    // Its own ROMs, then those it takes over, each group as the set lists them. A merge name
    // that leads to no ROM of the romof chain (MAME lists hundreds) takes nothing over: the chip
    // is the set's own, as MAME's audit then wants it in the set's own files.
    std::vector<CatalogueRom> inSetOrder(SetId set) const {
        std::vector<CatalogueRom> own, taken;
        for (const CatalogueRom& rom : c_.roms(set))
            (rom.merge.empty() || c_.originOf(set, rom) == kNoSet ? own : taken).push_back(rom);
        own.insert(own.end(), taken.begin(), taken.end());
        return own;
    }

    std::vector<std::uint64_t> romKeys(SetId set) const {
        std::vector<std::uint64_t> keys;
        for (const CatalogueRom& rom : c_.roms(set))
            if (rom.dumpable()) keys.push_back(keyOf(rom.crc, rom.size));
        std::sort(keys.begin(), keys.end());
        return keys;
    }

    static constexpr std::uint32_t kNoSlot = std::numeric_limits<std::uint32_t>::max();

    const Catalogue& c_;
    std::span<const Dump> dumps_;
    std::vector<std::pair<std::uint64_t, std::size_t>> byKey_;  // (key, dump), sorted
    // Where each set is among those scored by the ranking under way; kNoSlot between rankings.
    mutable std::vector<std::uint32_t> slot_;
};

}  // namespace

BoardAnswer judgeBoard(const Catalogue& catalogue, std::span<const Dump> dumps,
                       const BoardOptions& options) {
    const Judge judge(catalogue, dumps);
    std::vector<char> active(dumps.size(), 1);
    BoardAnswer answer;
    const std::vector<Scored> ranked = judge.rank(active);
    if (!ranked.empty()) {
        for (std::size_t i = 0; i < std::min(options.candidates, ranked.size()); ++i)
            answer.candidates.push_back(judge.candidate(ranked[i], ranked, active));
        answer.chips = judge.chips(ranked.front().set, active);
        for (const std::size_t d : judge.explained(ranked.front().set, active)) active[d] = 0;
    }
    // What is left may be another board's: the best set for the rest is said to be part of it
    // when it explains at least two of the rest and one of them is its family's alone. One
    // stray chip, or chips many families share, name no set.
    for (;;) {
        const std::vector<Scored> rest = judge.rank(active);
        if (rest.empty()) break;
        std::vector<std::size_t> dumpsOf = judge.explained(rest.front().set, active);
        const bool identifying = std::any_of(dumpsOf.begin(), dumpsOf.end(),
                                             [&](std::size_t d) { return judge.families(d) == 1; });
        if (dumpsOf.size() < 2 || !identifying) break;
        for (const std::size_t d : dumpsOf) active[d] = 0;
        answer.unexplained.otherSets.push_back({rest.front().set, std::move(dumpsOf)});
    }
    for (std::size_t d = 0; d < dumps.size(); ++d) {
        if (!active[d]) continue;
        Unexplained::KnownChip chip = judge.knownChip(d, options.knownChipSets);
        if (chip.setCount == 0)
            answer.unexplained.unknown.push_back(d);
        else
            answer.unexplained.knownChips.push_back(std::move(chip));
    }
    return answer;
}

}  // namespace chipsight::board
