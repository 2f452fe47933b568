// The words of a board's answer. Every text from a database or a file name goes through the
// report's rule for names, so none can forge a line.
#include "core/board/board_text.h"

#include "core/identify/identify.h"
#include "core/sys/number_reading.h"

namespace chipsight::board {
namespace {

constexpr const char* kLine = "\r\n";
constexpr const char* kIndent = "\r\n\t";

std::string setText(const Catalogue& c, SetId id) {
    const CatalogueSet& set = c.set(id);
    std::string text = set.kind == SetKind::SoftwareItem && !set.list.empty()
                           ? reportName(set.list) + ":" + reportName(set.name)
                           : reportName(set.name);
    if (!set.description.empty()) text += " : " + reportName(set.description);
    return text;
}

std::string chipsText(std::size_t matched, std::size_t dumpable) {
    return std::to_string(matched) + " of " + std::to_string(dumpable) +
           (dumpable == 1 ? " chip" : " chips");
}

std::string dumpName(std::span<const Dump> dumps, std::size_t d) {
    return reportName(dumps[d].name);
}

std::string nearText(const doctor::NearMatch& m, std::span<const Dump> dumps) {
    using Kind = doctor::NearMatch::Kind;
    using doctor::Transform;
    std::string text;
    switch (m.kind) {
        case Kind::Transformed:
            text =
                dumpName(dumps, m.dump) +
                (m.transform == Transform::ByteSwap ? " with the bytes of each 16-bit word swapped"
                 : m.transform == Transform::WordSwap
                     ? " with the 16-bit halves of each 32-bit word swapped"
                 : m.transform == Transform::BitReversal ? " with D0..D7 reversed"
                                                         : " with every bit inverted");
            break;
        case Kind::Within:
            text =
                m.transform == Transform::Overdump
                    ? dumpName(dumps, m.dump) + ", " + std::to_string(m.parts) + " copies of it"
                : m.transform == Transform::EvenOdd
                    ? std::string(m.part == 1 ? "the even bytes of " : "the odd bytes of ") +
                          dumpName(dumps, m.dump)
                    : "byte lane " + std::to_string(m.part - 1) + " of " + dumpName(dumps, m.dump);
            break;
        case Kind::Interleaved:
            text = dumpName(dumps, m.dump) + " (even bytes) and " + dumpName(dumps, m.second) +
                   " (odd bytes) interleaved";
            break;
        case Kind::BitsOff:
            text = dumpName(dumps, m.dump) + " with " +
                   (m.bits.size() == 1 ? std::string("one bit off: ") : "two bits off: ");
            for (std::size_t i = 0; i < m.bits.size(); ++i) {
                const doctor::BitOff& b = m.bits[i];
                if (i != 0) text += ", ";
                text += "byte " + hexText(b.byte) + " D" + std::to_string(b.bit) +
                        (b.rose ? " read 1 for 0 (charge lost)" : " read 0 for 1");
            }
            break;
    }
    text += m.confirmed ? " (SHA-1 confirms)" : " (no SHA-1 to confirm)";
    return text;
}

}  // namespace

std::string boardText(const Catalogue& c, std::span<const Dump> dumps, const BoardAnswer& answer,
                      bool twoBitsSkipped) {
    std::string text(kBlockHead);
    const std::string count =
        std::to_string(dumps.size()) + (dumps.size() == 1 ? " dump" : " dumps");
    if (answer.candidates.empty()) {
        text += kLine + ("Board of " + count + ": no set holds any of them");
    } else {
        const Candidate& best = answer.candidates.front();
        text += kLine + ("Board of " + count + ": " + setText(c, best.set) + ", " +
                         chipsText(best.matched, best.dumpable) +
                         (best.matched == best.dumpable ? ", complete" : ""));
        text += kIndent + std::string("candidates:");
        for (std::size_t i = 0; i < answer.candidates.size(); ++i) {
            const Candidate& cand = answer.candidates[i];
            const CatalogueSet& set = c.set(cand.set);
            text += kIndent + std::to_string(i + 1) + ". " + setText(c, cand.set) + ", " +
                    chipsText(cand.matched, cand.dumpable);
            if (cand.deviceDumpable != 0)
                text += ", devices " + std::to_string(cand.deviceMatched) + " of " +
                        std::to_string(cand.deviceDumpable);
            if (set.parent != kNoSet) text += ", a clone of " + reportName(c.set(set.parent).name);
            if (!cand.missing.empty()) {
                text += "; no dump is";
                for (std::size_t m = 0; m < cand.missing.size(); ++m)
                    text += (m == 0 ? " " : ", ") + reportName(c.rom(cand.missing[m]).name);
            }
            if (!cand.tiedWith.empty()) {
                text += "; the same chips as";
                for (std::size_t t = 0; t < cand.tiedWith.size(); ++t)
                    text += (t == 0 ? " " : ", ") + reportName(c.set(cand.tiedWith[t]).name);
            }
        }
        text += kIndent + ("chips of " + reportName(c.set(best.set).name) + ":");
        for (const ChipLine& line : answer.chips) {
            const CatalogueRom& rom = c.rom(line.rom);
            text += kIndent +
                    ("- " + reportName(rom.name) + ", " + std::to_string(rom.size) + " bytes");
            if (!rom.region.empty()) text += ", region " + reportName(rom.region);
            if (rom.dataWidth != 0) text += ", " + std::to_string(rom.dataWidth) + "-bit";
            if (rom.offset) text += ", at " + hexText(*rom.offset);
            if (line.from == ChipFrom::Inherited && line.origin != kNoSet)
                text += ", from " + reportName(c.set(line.origin).name);
            if (line.from == ChipFrom::Device && line.origin != kNoSet)
                text += ", of the device " + reportName(c.set(line.origin).name);
            text += ": ";
            switch (line.state) {
                case ChipState::Found:
                    text += "found, " + dumpName(dumps, *line.dump);
                    break;
                case ChipState::BadDumpKnown:
                    text += line.dump ? "found, " + dumpName(dumps, *line.dump) +
                                            " (the database knows only a bad dump)"
                                      : std::string("missing (the database knows only a bad dump)");
                    break;
                case ChipState::NoGoodDump:
                    text += "no good dump is known";
                    break;
                case ChipState::Missing:
                    text += "missing";
                    break;
                case ChipState::FoundTransformed:
                case ChipState::BitsOff:
                    text += "found as " + nearText(*line.near, dumps);
                    break;
            }
        }
    }
    const Unexplained& left = answer.unexplained;
    if (!left.otherSets.empty() || !left.knownChips.empty() || !left.unknown.empty()) {
        text += kIndent + (answer.candidates.empty()
                               ? std::string("dumps:")
                               : "not explained by " +
                                     reportName(c.set(answer.candidates.front().set).name) + ":");
        for (const Unexplained::FromOtherSet& other : left.otherSets) {
            text += kIndent + ("- mixed board: " + std::to_string(other.dumps.size()) +
                               " dumps are from " + setText(c, other.set) + ":");
            for (std::size_t i = 0; i < other.dumps.size(); ++i)
                text += (i == 0 ? " " : ", ") + dumpName(dumps, other.dumps[i]);
        }
        for (const Unexplained::KnownChip& chip : left.knownChips) {
            text += kIndent + ("- " + dumpName(dumps, chip.dump) + ": a chip of " +
                               std::to_string(chip.setCount) +
                               (chip.setCount == 1 ? " set" : " sets") + ", among them");
            for (std::size_t i = 0; i < chip.sets.size(); ++i)
                text += (i == 0 ? " " : ", ") + reportName(c.set(chip.sets[i]).name);
        }
        for (const std::size_t d : left.unknown)
            text += kIndent + ("- " + dumpName(dumps, d) + ": not known");
    }
    if (twoBitsSkipped)
        text += kIndent + std::string(
                              "two bits off were not searched where a chip is too large "
                              "to confirm every candidate by SHA-1 within 0.1 s");
    return text;
}

}  // namespace chipsight::board
