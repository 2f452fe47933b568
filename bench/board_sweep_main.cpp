// chipsight_board_sweep DAT...: judges, for every machine with at least four dumpable ROMs, the
// board of all its ROMs, the board with two of them pulled, and a board mixed from it and the
// next such machine of another family, and counts how often the answer is the one a person
// would give. The dumps are the ROMs' (crc, size) pairs, which is all a board is judged by.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "core/board/board.h"
#include "core/board/catalogue_loading.h"

using namespace chipsight::board;

namespace {

std::vector<Dump> dumpsOf(const Catalogue& c, SetId set) {
    std::vector<Dump> dumps;
    for (const CatalogueRom& rom : c.roms(set))
        if (rom.dumpable() && (rom.bios.empty() || rom.biosChoice <= 1))
            dumps.push_back({std::string(rom.name), rom.crc, rom.size, std::nullopt});
    return dumps;
}

// First, or tied with the first.
bool first(const BoardAnswer& a, SetId set) {
    if (a.candidates.empty()) return false;
    const Candidate& best = a.candidates.front();
    if (best.set == set) return true;
    for (const SetId t : best.tiedWith)
        if (t == set) return true;
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> paths(argv + 1, argv + argc);
    std::vector<CatalogueFile> files;
    const auto start = std::chrono::steady_clock::now();
    const Catalogue c = loadCatalogue(paths, files);
    const double loaded =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("catalogue: %zu sets, %zu ROMs, %.2f s\n", c.setCount(), c.romCount(), loaded);
    std::size_t boards = 0, whole = 0, pulledFirst = 0, pulledLevel = 0, pulledNamed = 0, mixed = 0,
                mixedSaid = 0;
    std::vector<SetId> eligible;
    for (SetId s = 0; s < c.setCount(); ++s) {
        const CatalogueSet& set = c.set(s);
        if (set.kind != SetKind::Machine || set.isBios || set.isDevice) continue;
        if (dumpsOf(c, s).size() >= 4) eligible.push_back(s);
    }
    double slowest = 0;
    std::vector<std::string> misses;
    for (std::size_t i = 0; i < eligible.size(); ++i) {
        const SetId s = eligible[i];
        std::vector<Dump> dumps = dumpsOf(c, s);
        ++boards;
        const auto t0 = std::chrono::steady_clock::now();
        const BoardAnswer all = judgeBoard(c, dumps);
        slowest = std::max(
            slowest, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
        if (first(all, s))
            ++whole;
        else if (misses.size() < 10)
            misses.push_back(std::string(c.set(s).name) + " -> " +
                             (all.candidates.empty() ? "-" : std::string(all.candidates[0].name)));
        // Two pulled: the machine first within its family, and both named missing.
        std::vector<Dump> pulled(dumps.begin() + 2, dumps.end());
        BoardOptions wide;
        wide.candidates = 64;
        const BoardAnswer some = judgeBoard(c, pulled, wide);
        const Candidate* best = nullptr;
        for (const Candidate& cand : some.candidates) {
            if (c.set(cand.set).family != c.set(s).family) continue;
            if (!best) best = &cand;
            if (cand.set != s) continue;
            // First in its family, or level with the first: the chips pulled were all that told
            // the revisions apart.
            if (&cand == best || (cand.weight == best->weight && cand.matched == best->matched &&
                                  cand.missing.size() == best->missing.size())) {
                ++pulledFirst;
                pulledLevel += &cand != best;
            }
            std::size_t named = 0;
            for (const RomId rom : cand.missing)
                for (int k = 0; k < 2; ++k) named += c.rom(rom).name == dumps[k].name;
            pulledNamed += named >= 2;
            break;
        }
        // Mixed with the next machine of another family: the rest said to be from it.
        const SetId other = eligible[(i + 1) % eligible.size()];
        if (c.set(other).family == c.set(s).family) continue;
        ++mixed;
        std::vector<Dump> both = dumps;
        const std::vector<Dump> second = dumpsOf(c, other);
        both.insert(both.end(), second.begin(), second.end());
        const BoardAnswer m = judgeBoard(c, both);
        mixedSaid += !m.unexplained.otherSets.empty();
    }
    std::printf(
        "boards %zu: whole first or tied %zu; two pulled, first in family %zu (of them "
        "level with the first %zu), both named missing %zu; mixed %zu, said to be mixed "
        "%zu; slowest judgement %.2f ms\n",
        boards, whole, pulledFirst, pulledLevel, pulledNamed, mixed, mixedSaid, slowest * 1000);
    for (const std::string& miss : misses) std::printf("  not first: %s\n", miss.c_str());
    return 0;
}
