// The dump doctor's examination: transformed images looked up whole, one bit off, and the
// health of the data and address lines.
#include "core/doctor/doctor.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "core/checksum/crc32.h"
#include "core/checksum/image_digest.h"
#include "core/checksum/sha1.h"
#include "core/doctor/flipped_sha1.h"
#include "core/doctor/one_bit.h"
#include "core/doctor/transform_crcs.h"
#include "core/sys/byte_order.h"
#include "core/sys/number_reading.h"

namespace chipsight::doctor {
namespace {

// Each SHA-1 check hashes the image from the flipped bit on; past this many candidates the
// rest are counted, not hashed, so that a huge database cannot stall a report.
constexpr std::size_t kMaxHashed = 64;
// Below this many bytes to hash, a second thread costs more to start than it saves.
constexpr std::uint64_t kSharedHashing = 1 << 19;

// How the database says the entry sits on the board, in words.
std::string boardOf(const DatEntryInfo& info) {
    std::string facts;
    const auto add = [&](const std::string& fact) {
        if (!facts.empty()) facts += ", ";
        facts += fact;
    };
    const std::uint64_t offset = info.offset.value_or(0);
    if (info.dataWidth != 0) {
        std::string bus = std::to_string(info.dataWidth) + "-bit bus";
        if (!info.endianness.empty()) {
            bus += ' ';
            bus += info.endianness;
            bus += "-endian";
        }
        add(bus);
    }
    if (!info.loadFlag.empty()) {
        std::string flag(info.loadFlag);
        if (info.loadFlag == "load16_byte")
            flag += offset % 2 == 0 ? " (the even bytes of 16-bit words)"
                                    : " (the odd bytes of 16-bit words)";
        else if (info.loadFlag == "load32_byte")
            flag += " (byte " + std::to_string(offset % 4) + " of 32-bit words)";
        else if (info.loadFlag == "load16_word_swap" || info.loadFlag == "load32_word_swap")
            flag += " (the bytes of each 16-bit word swapped)";
        else if (info.loadFlag == "load32_word")
            flag += offset % 4 < 2 ? " (the first 16-bit half of 32-bit words)"
                                   : " (the second 16-bit half of 32-bit words)";
        add(flag);
    }
    if (info.offset) add("at offset " + hexText(*info.offset));
    return facts;
}

// Every entry of `crc` and `size`, as findings name them.
std::vector<FoundEntry> entriesOf(
    const EntryTable& table, std::uint32_t crc, std::uint32_t size,
    std::vector<std::optional<std::array<std::uint8_t, 20>>>* sha1s = nullptr) {
    std::vector<FoundEntry> found;
    table.forEachMatch(crc, size, [&](const auto& e) {
        if constexpr (std::is_same_v<std::decay_t<decltype(e)>, DatEntry>) {
            const DatEntryInfo info = e.info();
            found.push_back({std::string(info.name), datEntryDescription(info), boardOf(info)});
            if (sha1s) sha1s->push_back(info.sha1);
        } else {
            found.push_back(
                {std::string(e.nameText()), std::string(e.descriptionText()), std::string()});
            if (sha1s) sha1s->push_back(std::nullopt);
        }
    });
    return found;
}

void findOneBitOff(std::span<const std::uint8_t> image, std::uint32_t crc, const EntryTable& table,
                   SameSizeIndex& index, Findings& findings) {
    const auto size = std::uint32_t(image.size());
    const std::span<const std::uint32_t> crcs = index.crcsOfSize(table, size);
    std::vector<OneBitHit> hits;
    findOneBitAway(crc, size, crcs, hits);
    if (hits.empty()) return;
    // Several entries may share a checksum; each hit is looked at once.
    std::sort(hits.begin(), hits.end(),
              [](const OneBitHit& a, const OneBitHit& b) { return a.entryCrc < b.entryCrc; });
    hits.erase(std::unique(
                   hits.begin(), hits.end(),
                   [](const OneBitHit& a, const OneBitHit& b) { return a.entryCrc == b.entryCrc; }),
               hits.end());
    const double chance = double(crcs.size()) * 8.0 * double(size) / 4294967296.0;
    std::vector<std::vector<FoundEntry>> entries(hits.size());
    std::vector<std::vector<std::optional<std::array<std::uint8_t, 20>>>> sums(hits.size());
    std::vector<OneBitHit> toHash;
    for (std::size_t i = 0; i < hits.size(); ++i) {
        entries[i] = entriesOf(table, hits[i].entryCrc, size, &sums[i]);
        if (std::any_of(sums[i].begin(), sums[i].end(),
                        [](const auto& s) { return s.has_value(); }))
            toHash.push_back(hits[i]);
    }
    if (toHash.size() > kMaxHashed) toHash.resize(kMaxHashed);
    std::uint64_t suffixes = 0;
    for (const OneBitHit& h : toHash) suffixes += size - (h.byte & ~std::uint64_t(63));
    const unsigned threads =
        suffixes < kSharedHashing ? 1 : std::clamp(std::thread::hardware_concurrency(), 1u, 2u);
    const FlippedSha1s confirmed = flippedSha1s(image, toHash, threads);
    findings.oneBitHashedBytes = confirmed.suffixBytes;
    const auto& flipped = confirmed.digests;
    for (std::size_t i = 0; i < hits.size(); ++i) {
        const auto hashed = std::find_if(toHash.begin(), toHash.end(), [&](const OneBitHit& h) {
            return h.entryCrc == hits[i].entryCrc;
        });
        const std::optional<std::array<std::uint8_t, 20>>* sum =
            hashed == toHash.end() ? nullptr : &flipped[std::size_t(hashed - toHash.begin())];
        for (std::size_t e = 0; e < entries[i].size(); ++e) {
            if (sums[i][e]) {
                if (!sum || !*sum)
                    ++findings.oneBitUnchecked;
                else if (**sum == *sums[i][e])
                    findings.oneBit.push_back(
                        {hits[i].byte, hits[i].bit, std::move(entries[i][e]), true, chance});
            } else if (chance < 0.001) {
                findings.oneBit.push_back(
                    {hits[i].byte, hits[i].bit, std::move(entries[i][e]), false, chance});
            }
        }
    }
    std::sort(findings.oneBit.begin(), findings.oneBit.end(),
              [](const OneBitFinding& a, const OneBitFinding& b) {
                  return a.byte != b.byte ? a.byte < b.byte : a.bit < b.bit;
              });
}

// Whether every pair of bytes whose addresses differ only in bit `line` holds the same byte.
bool mirrored(std::span<const std::uint8_t> image, int line) {
    const std::size_t stride = std::size_t(1) << line, n = image.size();
    if (stride < 8 && n >= 8) {
        // Within eight bytes: each lower byte of a pair against the upper one, shifted onto it.
        static constexpr std::uint64_t kLower[] = {0x00FF00FF00FF00FFull, 0x0000FFFF0000FFFFull,
                                                   0x00000000FFFFFFFFull};
        for (std::size_t i = 0; i < n; i += 8) {
            const std::uint64_t v = load64(image.data() + i);
            if (((v ^ v >> 8 * stride) & kLower[line]) != 0) return false;
        }
        return true;
    }
    for (std::size_t base = 0; base < n; base += 2 * stride)
        if (std::memcmp(image.data() + base, image.data() + base + stride, stride) != 0)
            return false;
    return true;
}

void examineHealth(std::span<const std::uint8_t> image, Findings& f) {
    std::uint64_t all = ~std::uint64_t(0), any = 0;
    accumulateBits(image, all, any);
    f.allBits = image[0], f.anyBits = image[0];
    for (int i = 0; i < 8; ++i) {
        f.allBits &= std::uint8_t(all >> 8 * i);
        f.anyBits |= std::uint8_t(any >> 8 * i);
    }
    f.firstByte = image[0];
    f.sameByte = f.allBits == f.anyBits;
    if (f.sameByte) return;
    const std::size_t n = image.size();
    // Two or more copies: the image is the first block, repeated.
    std::size_t block = n;
    while (block >= 2 && std::memcmp(image.data(), image.data() + block / 2, block / 2) == 0)
        block /= 2;
    f.copies = std::uint32_t(n / block);
    // The lines above the block are mirrored by the copies, and said with them.
    for (int line = 0; (std::size_t(1) << line) < block; ++line)
        if (mirrored(image.first(block), line)) f.mirroredLines |= 1u << line;
    const std::size_t grain = std::max<std::size_t>(n >> 8, 256);
    if (grain >= n) return;
    for (std::size_t at = 0; at < n; at += grain) {
        const std::uint8_t b = image[at];
        if ((b != 0x00 && b != 0xFF) || std::memcmp(&image[at], &image[at + 1], grain - 1) != 0)
            continue;
        if (!f.fills.empty() && f.fills.back().end == at && f.fills.back().value == b)
            f.fills.back().end = at + grain;
        else
            f.fills.push_back({at, at + grain, b});
    }
}

}  // namespace

bool Findings::any() const {
    return !transforms.empty() || copies > 1 || !oneBit.empty() || oneBitUnchecked != 0 ||
           sameByte || allBits != 0 || anyBits != 0xFF || mirroredLines != 0 || !fills.empty();
}

std::span<const std::uint32_t> SameSizeIndex::crcsOfSize(const EntryTable& table,
                                                         std::uint32_t size) {
    if (table.size() != tableSize_) {
        bySize_.clear();
        tableSize_ = table.size();
    }
    const auto known = bySize_.find(size);
    if (known != bySize_.end()) return known->second;
    std::vector<std::uint32_t>& crcs = bySize_[size];
    table.forEachCrcOfSize(size, [&](std::uint32_t crc) { crcs.push_back(crc); });
    // One search per checksum, whatever number of entries carry it.
    std::sort(crcs.begin(), crcs.end());
    crcs.erase(std::unique(crcs.begin(), crcs.end()), crcs.end());
    return crcs;
}

Findings examine(std::span<const std::uint8_t> image, std::uint32_t crc, const EntryTable& table,
                 SameSizeIndex& index) {
    Findings f;
    const auto n = std::uint32_t(image.size());
    f.imageLength = n;
    if (n == 0) return f;
    examineHealth(image, f);

    const TransformCrcs c = transformCrcs(image);
    const auto look = [&](Transform t, std::uint32_t part, std::uint32_t parts, std::uint32_t crc,
                          std::uint32_t size) {
        std::vector<FoundEntry> entries = entriesOf(table, crc, size);
        if (!entries.empty() || t == Transform::Overdump)
            f.transforms.push_back({t, part, parts, crc, size, std::move(entries)});
    };
    if (n >= 2) look(Transform::ByteSwap, 1, 1, c.byteSwap, n);
    if (n >= 4) look(Transform::WordSwap, 1, 1, c.wordSwap, n);
    look(Transform::BitReversal, 1, 1, c.reversed, n);
    look(Transform::Inversion, 1, 1, crc ^ crcOfRepeated(0xFF, n) ^ crcOfRepeated(0x00, n), n);
    if (n >= 2) {
        look(Transform::EvenOdd, 1, 2, c.even, n / 2);
        look(Transform::EvenOdd, 2, 2, c.odd, n / 2);
    }
    for (std::uint32_t j = 0; j < 4 && n >= 4; ++j)
        look(Transform::ByteLanes, j + 1, 4, c.lane[j], n / 4);
    if (f.copies > 1) {
        const std::uint32_t block = n / f.copies;
        look(Transform::Overdump, 1, f.copies, Crc32(0, image.data(), block), block);
    }
    findOneBitOff(image, crc, table, index, f);
    return f;
}

std::array<std::uint8_t, 20> sha1(std::span<const std::uint8_t> bytes) { return sha1Of(bytes); }

}  // namespace chipsight::doctor
