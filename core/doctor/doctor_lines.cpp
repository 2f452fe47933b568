// Formatting the doctor's findings; every text from a database goes through reportName.
#include "core/doctor/doctor_lines.h"

#include <algorithm>
#include <cstdio>

#include "core/identify/identify.h"
#include "core/sys/number_reading.h"

namespace chipsight::doctor {
namespace {

// Runs of 0x00 and 0xFF shown, before the rest are counted.
constexpr std::size_t kFillsShown = 8;

std::string byteHex(std::uint8_t v) { return hexText(v, 2); }

void lead(std::string& block) { block += kLineLead; }

std::string bytesText(std::uint64_t count) {
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

void appendEntry(std::string& block, const FoundEntry& e) {
    block += reportName(e.name);
    block += " : ";
    block += reportName(e.description);
    if (!e.board.empty()) {
        block += " (on the board: ";
        block += reportName(e.board);
        block += ')';
    }
}

std::string transformName(const TransformFinding& t) {
    switch (t.transform) {
        case Transform::ByteSwap:
            return "bytes swapped in each 16-bit word";
        case Transform::WordSwap:
            return "16-bit halves swapped in each 32-bit word";
        case Transform::BitReversal:
            return "bit order reversed (D0..D7 read as D7..D0)";
        case Transform::Inversion:
            return "every bit inverted";
        case Transform::EvenOdd:
            return std::string(t.part == 1 ? "even bytes" : "odd bytes") + " (" +
                   std::to_string(t.part) + " of 2)";
        case Transform::ByteLanes:
            return "byte lane " + std::to_string(t.part - 1) + " of 32-bit words (" +
                   std::to_string(t.part) + " of 4)";
        case Transform::Overdump:
            break;
    }
    return "the repeated block";
}

// The address lines that select an aligned block of `size` bytes at `start` in an image of
// `length` bytes, as "A15=1, A14=0".
std::string blockLines(std::uint64_t start, std::uint64_t size, std::uint64_t length) {
    std::string lines;
    for (int line = 63 - __builtin_clzll(length - 1); (std::uint64_t(1) << line) >= size; --line) {
        if (!lines.empty()) lines += ", ";
        lines += 'A';
        lines += std::to_string(line);
        lines += start >> line & 1 ? "=1" : "=0";
        if (line == 0) break;
    }
    return lines;
}

}  // namespace

void appendFindings(std::string& block, const Findings& f) {
    for (const TransformFinding& t : f.transforms) {
        if (t.transform == Transform::Overdump) {
            lead(block);
            block += "overdump: " + std::to_string(t.parts) + " copies of one block of " +
                     std::to_string(t.size) + " bytes [";
            block += hexDigits(t.crc);
            block += t.entries.empty() ? "], not found" : "]";
        }
        for (const FoundEntry& e : t.entries) {
            lead(block);
            block += transformName(t);
            block += ": ";
            appendEntry(block, e);
        }
    }
    for (const OneBitFinding& o : f.oneBit) {
        lead(block);
        block += "one bit off at byte " + hexText(o.byte) + ", D" + std::to_string(o.bit);
        if (o.confirmed) {
            block += " (SHA-1 confirms): ";
        } else {
            char chance[64];
            std::snprintf(chance, sizeof chance,
                          " (no SHA-1 to confirm; chance of an accident %.2g): ", o.chance);
            block += chance;
        }
        appendEntry(block, o.entry);
    }
    if (f.oneBitUnchecked != 0) {
        lead(block);
        block += std::to_string(f.oneBitUnchecked) +
                 " more entries are one bit off by CRC-32 alone; their SHA-1 was not checked";
    }
    if (f.sameByte) {
        lead(block);
        block += "every byte is " + byteHex(f.firstByte);
        return;
    }
    if (f.allBits != 0 || f.anyBits != 0xFF) {
        lead(block);
        block += "data lines:";
        bool first = true;
        for (int bit = 7; bit >= 0; --bit) {
            const bool one = f.allBits >> bit & 1, used = f.anyBits >> bit & 1;
            if (used && !one) continue;
            block += first ? " D" : ", D";
            block += std::to_string(bit);
            block += one ? " always 1" : " always 0";
            first = false;
        }
        block += ", the others toggle";
    }
    if (f.mirroredLines != 0) {
        lead(block);
        block += "mirrored address lines (each selects two identical halves: stuck or floating):";
        bool first = true;
        for (int line = 31; line >= 0; --line) {
            if ((f.mirroredLines >> line & 1) == 0) continue;
            block += first ? " A" : ", A";
            block += std::to_string(line);
            first = false;
        }
    }
    const std::uint64_t length = f.fills.empty() ? 0 : f.imageLength;
    for (std::size_t i = 0; i < f.fills.size() && i < kFillsShown; ++i) {
        const FillRun& run = f.fills[i];
        lead(block);
        block += byteHex(run.value) + " fills " + hexText(run.start) + "-" + hexText(run.end - 1);
        const std::uint64_t size = run.end - run.start;
        if ((size & (size - 1)) == 0 && run.start % size == 0)
            block += " (the block where " + blockLines(run.start, size, length) + ")";
    }
    if (f.fills.size() > kFillsShown) {
        lead(block);
        block +=
            "and " + std::to_string(f.fills.size() - kFillsShown) + " more runs of 0x00 or 0xFF";
    }
}

void appendReadsComparison(std::string& block, const ReadsComparison& c, std::uint64_t length) {
    lead(block);
    block += std::to_string(c.reads) + " reads of " + std::to_string(length) + " bytes";
    if (c.differingBytes == 0) {
        block += " agree in every byte";
        return;
    }
    block += ": " + bytesText(c.differingBytes) + (c.differingBytes == 1 ? " differs" : " differ");
    int order[8] = {7, 6, 5, 4, 3, 2, 1, 0};
    std::stable_sort(order, order + 8, [&](int a, int b) { return c.flips[a] > c.flips[b]; });
    lead(block);
    block += "unstable data lines, most flips first:";
    for (int i = 0; i < 8 && c.flips[order[i]] != 0; ++i) {
        block += i == 0 ? " D" : ", D";
        block += std::to_string(order[i]) + " in " + bytesText(c.flips[order[i]]);
    }
    lead(block);
    block += "first bytes that differ:";
    for (std::size_t i = 0; i < c.firstDiffering.size(); ++i) {
        block += i == 0 ? " " : ", ";
        block += hexText(c.firstDiffering[i]);
    }
    if (c.differingBytes > c.firstDiffering.size()) block += ", ...";
}

void appendExamination(std::string& block, const Examination& examination) {
    if (examination.findings) appendFindings(block, *examination.findings);
    if (!examination.notExamined.empty()) {
        lead(block);
        block += examination.notExamined;
    }
}

}  // namespace chipsight::doctor
