// Searching a few dumps for one expected ROM: transforms and copies from the dumps' transform
// checksums, interleaved pairs from each dump's checksum spread over even and odd bytes, and bits
// off from the checksum's linearity, confirmed by the ROM's SHA-1.
#include "core/doctor/near_rom.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "core/checksum/crc32.h"
#include "core/doctor/one_bit.h"
#include "core/doctor/transform_crcs.h"

namespace chipsight::doctor {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t crcOf(std::span<const std::uint8_t> bytes) {
    return Crc32(0, bytes.data(), std::uint32_t(bytes.size()));
}

// The change a flipped bit makes to the CRC-32 of a message is the same whatever the message
// holds: the register's step over the bit, then over every byte after it. The steps over a zero
// byte, from register 0, are those of the CRC's byte table.

// The change of the CRC-32 of an n-byte message when bit `bit` of byte `byte` flips, for every
// bit, numbered byte * 8 + bit.
std::vector<std::uint32_t> bitChanges(std::uint64_t n) {
    std::vector<std::uint32_t> changes(n * 8);
    const std::uint32_t* table = crc32ByteTable();
    std::uint32_t last[8];
    for (int bit = 0; bit < 8; ++bit) last[bit] = table[1u << bit];
    for (std::uint64_t byte = n; byte-- > 0;) {
        for (int bit = 0; bit < 8; ++bit) {
            changes[byte * 8 + bit] = last[bit];
            last[bit] = table[last[bit] & 0xFF] ^ last[bit] >> 8;
        }
    }
    return changes;
}

bool sameSha1(std::span<const std::uint8_t> bytes, const ExpectedRom& rom) {
    return rom.sha1 && sha1(bytes) == *rom.sha1;
}

// `dump` into `out` with the bits flipped.
void flipped(std::span<const std::uint8_t> dump, const std::vector<BitOff>& bits, Bytes& out) {
    out.assign(dump.begin(), dump.end());
    for (const BitOff& b : bits)
        if (b.byte < out.size()) out[b.byte] ^= std::uint8_t(1u << b.bit);
}

// Whether the dump with the bits flipped has the ROM's SHA-1; `scratch` is reused from one
// candidate to the next.
bool flippedMatches(std::span<const std::uint8_t> dump, const std::vector<BitOff>& bits,
                    const ExpectedRom& rom, Bytes& scratch) {
    if (!rom.sha1) return false;
    flipped(dump, bits, scratch);
    return sha1(scratch) == *rom.sha1;
}

BitOff bitOff(std::span<const std::uint8_t> dump, std::uint64_t byte, int bit) {
    return {byte, bit, (dump[byte] >> bit & 1) != 0};
}

// How fast this machine takes a SHA-1, in bytes a second, measured once.
double sha1Speed() {
    static const double speed = [] {
        const Bytes probe(1 << 20, 0x5A);
        const auto start = std::chrono::steady_clock::now();
        static_cast<void>(sha1(probe));
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return seconds > 0 ? double(probe.size()) / seconds : 1e9;
    }();
    return speed;
}

// Two bits off: every pair of bits whose changes add up to the difference of the checksums,
// each confirmed by the SHA-1. The changes of the bits are distinct (x has order 2^32 - 1, far
// above the bits of any image), so a table keyed by change finds each bit's partner at once.
void findTwoBitsOff(std::size_t d, const DumpView& dump, const ExpectedRom& rom, NearSearch& out) {
    const std::uint64_t n = dump.bytes.size();
    const double bits = double(n) * 8;
    // The pairs that match by CRC-32 alone by accident, each to be hashed whole.
    const double candidates = bits * bits / 2 / 4294967296.0 + 1;
    if (!rom.sha1 || candidates * double(n) / sha1Speed() > kTwoBitsBudgetSeconds) {
        out.twoBitsSkipped = true;
        return;
    }
    const std::vector<std::uint32_t> changes = bitChanges(n);
    std::size_t slots = 16;
    while (slots < changes.size() * 2) slots *= 2;
    constexpr std::uint32_t kEmpty = UINT32_MAX;
    std::vector<std::uint32_t> table(slots, kEmpty);
    const auto home = [&](std::uint32_t change) {
        return (std::uint64_t(change) * 0x9E3779B97F4A7C15ull >> 20) & (slots - 1);
    };
    for (std::uint32_t k = 0; k < changes.size(); ++k) {
        std::size_t s = home(changes[k]);
        while (table[s] != kEmpty) s = (s + 1) & (slots - 1);
        table[s] = k;
    }
    const std::uint32_t difference = dump.crc ^ rom.crc;
    Bytes scratch;
    for (std::uint32_t i = 0; i < changes.size(); ++i) {
        const std::uint32_t want = difference ^ changes[i];
        for (std::size_t s = home(want); table[s] != kEmpty; s = (s + 1) & (slots - 1)) {
            const std::uint32_t j = table[s];
            if (changes[j] != want || j <= i) continue;
            NearMatch m;
            m.kind = NearMatch::Kind::BitsOff;
            m.dump = d;
            m.bits = {bitOff(dump.bytes, i / 8, int(i % 8)), bitOff(dump.bytes, j / 8, int(j % 8))};
            if (!flippedMatches(dump.bytes, m.bits, rom, scratch)) continue;
            m.confirmed = true;
            out.matches.push_back(std::move(m));
        }
    }
}

void sameSize(std::size_t d, const DumpView& dump, const ExpectedRom& rom, NearSearch& out) {
    const std::uint64_t n = dump.bytes.size();
    const TransformCrcs t = transformCrcs(dump.bytes);
    const std::uint32_t inverted = dump.crc ^ crcOfRepeated(0xFF, n) ^ crcOfRepeated(0x00, n);
    const std::pair<Transform, std::uint32_t> whole[] = {{Transform::ByteSwap, t.byteSwap},
                                                         {Transform::WordSwap, t.wordSwap},
                                                         {Transform::BitReversal, t.reversed},
                                                         {Transform::Inversion, inverted}};
    for (const auto& [transform, crc] : whole) {
        // A swap of an image too short to have the words it swaps is the image itself.
        if (crc != rom.crc || crc == dump.crc) continue;
        NearMatch m;
        m.transform = transform;
        m.dump = d;
        if (rom.sha1) m.confirmed = sameSha1(madeRom(m, dump.bytes, {}, n), rom);
        out.matches.push_back(std::move(m));
    }
    std::vector<OneBitHit> hits;
    const std::uint32_t target[] = {rom.crc};
    findOneBitAway(dump.crc, std::uint32_t(n), target, hits);
    Bytes scratch;
    bool one = false;
    for (const OneBitHit& hit : hits) {
        NearMatch m;
        m.kind = NearMatch::Kind::BitsOff;
        m.dump = d;
        m.bits = {bitOff(dump.bytes, hit.byte, hit.bit)};
        m.confirmed = flippedMatches(dump.bytes, m.bits, rom, scratch);
        // Without a SHA-1 a CRC-32 one bit away is still worth saying; with one, it must agree.
        if (rom.sha1 && !m.confirmed) continue;
        one = true;
        out.matches.push_back(std::move(m));
    }
    if (!one) findTwoBitsOff(d, dump, rom, out);
}

// A dump `parts` times the ROM's size that holds it as a share of its bytes, or as copies.
void largerDump(std::size_t d, const DumpView& dump, const ExpectedRom& rom, NearSearch& out) {
    const std::uint64_t n = rom.size, parts = dump.bytes.size() / n;
    const auto add = [&](Transform transform, std::uint32_t part) {
        NearMatch m;
        m.kind = NearMatch::Kind::Within;
        m.transform = transform;
        m.part = part;
        m.parts = std::uint32_t(parts);
        m.dump = d;
        m.confirmed = sameSha1(madeRom(m, dump.bytes, {}, n), rom);
        out.matches.push_back(std::move(m));
    };
    const TransformCrcs t = transformCrcs(dump.bytes);
    if (parts == 2) {
        if (t.even == rom.crc) add(Transform::EvenOdd, 1);
        if (t.odd == rom.crc) add(Transform::EvenOdd, 2);
    } else if (parts == 4) {
        for (std::uint32_t lane = 0; lane < 4; ++lane)
            if (t.lane[lane] == rom.crc) add(Transform::ByteLanes, lane + 1);
    }
    const std::span<const std::uint8_t> first = dump.bytes.first(n);
    if (crcOf(first) != rom.crc) return;
    for (std::uint64_t copy = 1; copy < parts; ++copy)
        if (std::memcmp(first.data(), dump.bytes.data() + copy * n, n) != 0) return;
    add(Transform::Overdump, 1);
}

// The checksum of a dump spread over the even (or the odd) bytes of one twice its size, the
// other bytes zero: two dumps interleave into the ROM when their spreads add up to it.
std::uint32_t spreadCrc(std::span<const std::uint8_t> bytes, bool odd) {
    Bytes spread(bytes.size() * 2, 0);
    for (std::size_t i = 0; i < bytes.size(); ++i) spread[i * 2 + (odd ? 1 : 0)] = bytes[i];
    return crcOf(spread);
}

}  // namespace

std::vector<std::uint8_t> madeRom(const NearMatch& m, std::span<const std::uint8_t> dump,
                                  std::span<const std::uint8_t> second, std::uint64_t romSize) {
    Bytes made;
    switch (m.kind) {
        case NearMatch::Kind::Transformed:
            if (dump.size() != romSize) break;
            made.resize(romSize);
            for (std::size_t i = 0; i < made.size(); ++i) {
                switch (m.transform) {
                    case Transform::ByteSwap:
                        made[i] = dump[i ^ 1];
                        break;
                    case Transform::WordSwap:
                        made[i] = dump[i ^ 2];
                        break;
                    case Transform::BitReversal:
                        made[i] = reverseBits(dump[i]);
                        break;
                    default:
                        made[i] = std::uint8_t(~dump[i]);
                        break;
                }
            }
            break;
        case NearMatch::Kind::Within:
            if (m.parts == 0 || m.part == 0 || m.part > m.parts || dump.size() != romSize * m.parts)
                break;
            if (m.transform == Transform::Overdump) {
                made.assign(dump.begin(), dump.begin() + std::ptrdiff_t(romSize));
                break;
            }
            made.resize(romSize);
            for (std::uint64_t i = 0; i < romSize; ++i) made[i] = dump[i * m.parts + m.part - 1];
            break;
        case NearMatch::Kind::Interleaved:
            if (dump.size() * 2 != romSize || second.size() * 2 != romSize) break;
            made.resize(romSize);
            for (std::size_t i = 0; i < dump.size(); ++i) {
                made[i * 2] = dump[i];
                made[i * 2 + 1] = second[i];
            }
            break;
        case NearMatch::Kind::BitsOff:
            if (dump.size() == romSize) flipped(dump, m.bits, made);
            break;
    }
    return made;
}

NearSearch findNear(const ExpectedRom& rom, std::span<const DumpView> dumps) {
    NearSearch out;
    if (rom.size == 0 || (rom.size & (rom.size - 1)) != 0) return out;
    std::vector<std::size_t> halves;
    for (std::size_t d = 0; d < dumps.size(); ++d) {
        const std::uint64_t size = dumps[d].bytes.size();
        // Identification admits no other lengths, and the transforms need them.
        if (size == 0 || (size & (size - 1)) != 0) continue;
        if (size == rom.size)
            sameSize(d, dumps[d], rom, out);
        else if (size > rom.size && size % rom.size == 0 &&
                 (size / rom.size == 2 || size / rom.size == 4))
            largerDump(d, dumps[d], rom, out);
        else if (size * 2 == rom.size)
            halves.push_back(d);
    }
    if (halves.size() < 2) return out;
    std::vector<std::uint32_t> even, odd;
    for (const std::size_t d : halves) {
        even.push_back(spreadCrc(dumps[d].bytes, false));
        odd.push_back(spreadCrc(dumps[d].bytes, true));
    }
    const std::uint32_t zeros = crcOfRepeated(0x00, rom.size);
    for (std::size_t a = 0; a < halves.size(); ++a) {
        for (std::size_t b = 0; b < halves.size(); ++b) {
            if (a == b || (even[a] ^ odd[b] ^ zeros) != rom.crc) continue;
            NearMatch m;
            m.kind = NearMatch::Kind::Interleaved;
            m.transform = Transform::EvenOdd;
            m.dump = halves[a];
            m.second = halves[b];
            if (rom.sha1)
                m.confirmed = sameSha1(
                    madeRom(m, dumps[halves[a]].bytes, dumps[halves[b]].bytes, rom.size), rom);
            out.matches.push_back(std::move(m));
        }
    }
    return out;
}

}  // namespace chipsight::doctor
