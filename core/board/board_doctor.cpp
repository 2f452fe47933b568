// A board's missing chips, searched for among its leftover dumps, a chip at a time.
#include "core/board/board_doctor.h"

#include <algorithm>

namespace chipsight::board {

void examineBoard(const Catalogue& catalogue, std::span<const Dump> dumps,
                  std::span<const std::span<const std::uint8_t>> bytes, BoardAnswer& answer,
                  bool* twoBitsSkipped) {
    Unexplained& left = answer.unexplained;
    // The dumps no set explains, in the order given; a dump taken by a chip leaves the list.
    std::vector<std::size_t> leftover = left.unknown;
    for (const Unexplained::KnownChip& chip : left.knownChips) leftover.push_back(chip.dump);
    std::sort(leftover.begin(), leftover.end());
    bool skipped = false;
    for (ChipLine& line : answer.chips) {
        const CatalogueRom& rom = catalogue.rom(line.rom);
        if (line.state != ChipState::Missing || !rom.dumpable() || leftover.empty()) continue;
        std::vector<doctor::DumpView> views;
        std::vector<std::size_t> viewed;
        for (const std::size_t d : leftover) {
            if (d >= bytes.size() || bytes[d].size() != dumps[d].size) continue;
            views.push_back({bytes[d], dumps[d].crc});
            viewed.push_back(d);
        }
        const doctor::ExpectedRom expected{rom.crc, rom.size, rom.sha1};
        doctor::NearSearch search = doctor::findNear(expected, views);
        skipped |= search.twoBitsSkipped;
        if (search.matches.empty()) continue;
        // A confirmed match before one the CRC-32 alone suggests; then the first found.
        auto chosen = std::find_if(search.matches.begin(), search.matches.end(),
                                   [](const doctor::NearMatch& m) { return m.confirmed; });
        if (chosen == search.matches.end()) chosen = search.matches.begin();
        doctor::NearMatch match = *chosen;
        match.dump = viewed[match.dump];
        match.second = match.kind == doctor::NearMatch::Kind::Interleaved ? viewed[match.second]
                                                                          : match.second;
        line.state = match.kind == doctor::NearMatch::Kind::BitsOff ? ChipState::BitsOff
                                                                    : ChipState::FoundTransformed;
        line.dump = match.dump;
        const auto take = [&](std::size_t d) {
            std::erase(leftover, d);
            std::erase(left.unknown, d);
            std::erase_if(left.knownChips,
                          [&](const Unexplained::KnownChip& chip) { return chip.dump == d; });
        };
        take(match.dump);
        if (match.kind == doctor::NearMatch::Kind::Interleaved) take(match.second);
        line.near = std::move(match);
    }
    if (twoBitsSkipped) *twoBitsSkipped = skipped;
}

}  // namespace chipsight::board
