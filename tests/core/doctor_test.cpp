// The dump doctor through the core: dumps made from random true images by each fault, each
// finding made; nothing said of an untouched image against 100,000 random entries; with the
// doctor off, every report is the plain one.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "core/checksum/crc32.h"
#include "core/doctor/flipped_sha1.h"
#include "core/doctor/near_rom.h"
#include "core/doctor/one_bit.h"
#include "core/doctor/transform_crcs.h"
#include "core/sys/file_layer.h"
#include "tests/support/reference_report.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using namespace testing;
using ::testing::HasSubstr;

// The entries collected, as the DAT entries of a table.
std::shared_ptr<const DatSet> storeOf(const DatStoreBuilder& builder) {
    LoadedDat dat;
    dat.store = openStore(builder.finish(DatFormat::ListXml));
    return makeDatSet({dat});
}

class Doctor : public CoreTest {
  protected:
    // Identifies `dump` with the doctor off, then on. Off, the report is the plain reference;
    // on, it is that report and the doctor's lines after it, which are returned.
    std::string doctorLines(const Bytes& dump) {
        const std::string path = dir.file("dump.bin");
        writeFile(path, dump);
        const std::string plain = referenceReport(core.m_entries, dump, "dump.bin", 1, true);
        core.clearLog();
        core.setDoctor(false);
        core.identifyFile(path);
        EXPECT_EQ(core.logText(), plain + "\r\n");
        core.clearLog();
        core.setDoctor(true);
        core.identifyFile(path);
        const std::string on = core.logText();
        EXPECT_EQ(on.substr(0, plain.size()), plain);
        std::string lines = on.substr(plain.size(), on.size() - plain.size() - 2);
        for (std::size_t at = 0; at < lines.size(); at = lines.find("\r\n", at + 1))
            EXPECT_EQ(lines.compare(at, 6, "\r\n\t>> "), 0) << lines;
        return lines;
    }
};

TEST_F(Doctor, EveryFaultOfARandomTrueImageIsFound) {
    std::mt19937 rng(4711);
    constexpr std::size_t n = 1 << 14;
    const Bytes chip = randomBytes(n, rng);
    std::vector<Bytes> halves{randomBytes(n / 2, rng), randomBytes(n / 2, rng)};
    std::vector<Bytes> lanes;
    for (int j = 0; j < 4; ++j) lanes.push_back(randomBytes(n / 4, rng));
    Strings hashes;  // kept while the builder reads them
    DatStoreBuilder builder;
    const auto add = [&](const Bytes& bytes, const char* name, std::string_view flag) {
        hashes.push_back(sha1Hex(bytes));
        DatRom rom;
        rom.name = name, rom.setName = "board", rom.setDescription = "Board";
        rom.sha1 = hashes.back(), rom.crc = crc32Portable(0, bytes.data(), bytes.size());
        rom.size = std::uint32_t(bytes.size()), rom.loadFlag = flag, rom.dataWidth = 16;
        rom.endianness = "big", rom.hasOffset = true, rom.offset = flag.empty() ? 0 : 1;
        builder.rom(rom);
    };
    hashes.reserve(8);
    add(chip, "chip", ""), add(halves[0], "hi", ""), add(halves[1], "lo", "load16_byte");
    for (const char* lane : {"l0", "l1", "l2", "l3"})
        add(lanes[std::size_t(lane[1] - '0')], lane, "");
    core.m_entries.appendDats(storeOf(builder));

    const auto map = [&](auto f) {
        Bytes out(n);
        for (std::size_t i = 0; i < n; ++i) out[i] = f(i);
        return out;
    };
    const std::string entry =
        ": chip : Board [board] (on the board: 16-bit bus big-endian, at "
        "offset 0x0)";
    // The doctor's lines for `dump` hold each of `expected`.
    const auto expect = [&](const Bytes& dump, std::initializer_list<std::string> expected) {
        const std::string lines = doctorLines(dump);
        for (const std::string& line : expected) EXPECT_THAT(lines, HasSubstr(line));
    };
    expect(map([&](std::size_t i) { return chip[i ^ 1]; }),
           {"bytes swapped in each 16-bit word" + entry});
    expect(map([&](std::size_t i) { return chip[i ^ 2]; }),
           {"16-bit halves swapped in each 32-bit word" + entry});
    expect(map([&](std::size_t i) {
               std::uint8_t r = 0;
               for (int b = 0; b < 8; ++b) r = std::uint8_t(r | (chip[i] >> b & 1) << (7 - b));
               return r;
           }),
           {"bit order reversed (D0..D7 read as D7..D0)" + entry});
    expect(map([&](std::size_t i) { return std::uint8_t(~chip[i]); }),
           {"every bit inverted" + entry});
    expect(map([&](std::size_t i) { return halves[i % 2][i / 2]; }),
           {"even bytes (1 of 2): hi : Board [board] (on the board: 16-bit bus big-endian, at "
            "offset 0x0)",
            "odd bytes (2 of 2): lo : Board [board] (on the board: 16-bit bus big-endian, "
            "load16_byte (the odd bytes of 16-bit words), at offset 0x1)"});
    expect(
        map([&](std::size_t i) { return lanes[i % 4][i / 4]; }),
        {"byte lane 0 of 32-bit words (1 of 4): l0", "byte lane 3 of 32-bit words (4 of 4): l3"});
    expect(map([&](std::size_t i) { return std::uint8_t(chip[i] & ~0x20); }),
           {"data lines: D5 always 0, the others toggle"});
    expect(map([&](std::size_t i) { return std::uint8_t(chip[i] | 1); }),
           {"data lines: D0 always 1, the others toggle"});
    expect(map([&](std::size_t i) { return i >= 3 * n / 4 ? std::uint8_t(0xFF) : chip[i]; }),
           {"0xFF fills 0x3000-0x3FFF (the block where A13=1, A12=1)"});
    for (const std::size_t copies : {2, 8}) {
        Bytes over;
        for (std::size_t c = 0; c < copies; ++c) over.insert(over.end(), chip.begin(), chip.end());
        expect(over, {"overdump: " + std::to_string(copies) + " copies of one block of 16384",
                      "the repeated block" + entry});
    }
    for (int round = 0; round < 6; ++round) {
        const int line = round < 4 ? int(rng() % 13) : round - 4;  // A0 and A1 read by words
        expect(
            map([&](std::size_t i) { return chip[i & ~(std::size_t(1) << line)]; }),
            {"(each selects two identical halves: stuck or floating): A" + std::to_string(line)});
        const std::size_t byte = round == 0 ? 0 : round == 1 ? n - 1 : rng() % n;
        const int bit = int(rng() % 8);
        Bytes flipped = chip;
        flipped[byte] ^= std::uint8_t(1 << bit);
        char at[64];
        std::snprintf(at, sizeof at,
                      "one bit off at byte 0x%zX, D%d (SHA-1 confirms): chip : ", byte, bit);
        expect(flipped, {at});
    }

    // Without a SHA-1 the chance decides: one entry of the size is told, forty are not.
    core.m_entries.clear();
    core.m_entries.push_back(makeEntry(crc32Portable(0, chip.data(), n), n, "plain", "no hash"));
    Bytes flipped = chip;
    flipped[77] ^= 0x10;
    EXPECT_EQ(doctorLines(flipped),
              "\r\n\t>> one bit off at byte 0x4D, D4 (no SHA-1 to confirm; chance of an accident "
              "3.1e-05): plain : no hash");
    for (int i = 0; i < 40; ++i)
        core.m_entries.push_back(makeEntry(std::uint32_t(rng()), n, "r", "r"));
    EXPECT_EQ(doctorLines(flipped), "");
}

TEST_F(Doctor, SaysNothingOfAnUntouchedImageAgainst100000RandomEntries) {
    std::mt19937 rng(90210);
    constexpr std::size_t n = 1 << 16;
    const Bytes image = randomBytes(n, rng);
    DatStoreBuilder builder;
    std::vector<std::uint32_t> sameSize;
    for (int i = 0; i < 100000; ++i) {
        const std::string sha1 =
            sha1Hex(Bytes{std::uint8_t(i), std::uint8_t(i >> 8), std::uint8_t(i >> 16)});
        DatRom rom;
        rom.name = "r", rom.setName = "s", rom.setDescription = "S", rom.sha1 = sha1;
        rom.crc = std::uint32_t(rng()), rom.size = std::uint32_t(n >> (i % 3));
        if (rom.size == n) sameSize.push_back(rom.crc);
        builder.rom(rom);
    }
    core.m_entries.appendDats(storeOf(builder));
    // Random checksums one bit away from the image's are expected (a dozen): their SHA-1 refutes
    // them.
    std::vector<doctor::OneBitHit> hits;
    doctor::findOneBitAway(crc32Portable(0, image.data(), n), n, sameSize, hits);
    EXPECT_GT(hits.size(), 0u);
    EXPECT_EQ(doctorLines(image), "");
}

TEST(OneBit, EveryFlipIsFoundAndEveryHitIsAFlipOnEveryPath) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 200; ++round) {
        const std::size_t n = std::size_t(1) << (rng() % 21);
        const Bytes image = randomBytes(n, rng);
        const std::uint32_t crc = crc32Portable(0, image.data(), n);
        std::vector<std::uint32_t> crcs;
        for (int i = 0; i < 50; ++i) crcs.push_back(std::uint32_t(rng()));
        const std::size_t byte = rng() % n;
        const int bit = int(rng() % 8);
        Bytes flipped = image;
        flipped[byte] ^= std::uint8_t(1 << bit);
        crcs.push_back(crc32Portable(0, flipped.data(), n));
        std::swap(crcs.back(), crcs[rng() % crcs.size()]);  // anywhere in a batch, or after
        std::vector<doctor::OneBitHit> fast, portable;
        doctor::findOneBitAway(crc, std::uint32_t(n), crcs, fast);
        doctor::findOneBitAwayPortable(crc, std::uint32_t(n), crcs, portable);
        ASSERT_EQ(fast.size(), portable.size());
        bool flipFound = false;
        for (std::size_t i = 0; i < fast.size(); ++i) {
            ASSERT_EQ(fast[i].byte, portable[i].byte);
            ASSERT_EQ(fast[i].bit, portable[i].bit);
            Bytes check = image;
            check[fast[i].byte] ^= std::uint8_t(1 << fast[i].bit);
            ASSERT_EQ(crc32Portable(0, check.data(), n), fast[i].entryCrc) << n;
            flipFound |= fast[i].byte == byte && fast[i].bit == bit;
        }
        EXPECT_TRUE(flipFound) << "length " << n << " byte " << byte << " bit " << bit;
    }
}

TEST(FlippedSha1, OnTwoThreadsEachHitGetsTheDigestOfItsOwnFlip) {
    std::mt19937 rng(77);
    constexpr std::size_t n = 1 << 20;
    const Bytes image = randomBytes(n, rng);
    // Hits in no order, two in one block, one at the last byte; all in the second half, so that
    // the second thread is ready long before the first state is.
    std::vector<doctor::OneBitHit> hits = {
        {0, n - 1, 7}, {0, n / 2 + 4100, 3}, {0, n / 2 + 4097, 5}};
    for (int i = 0; i < 12; ++i) hits.push_back({0, n / 2 + rng() % (n / 2), int(rng() % 8)});
    const doctor::FlippedSha1s serial = doctor::flippedSha1s(image, hits, 1);
    const doctor::FlippedSha1s shared = doctor::flippedSha1s(image, hits, 2);
    std::uint64_t suffixes = 0;
    for (std::size_t i = 0; i < hits.size(); ++i) {
        Bytes flipped = image;
        flipped[hits[i].byte] ^= std::uint8_t(1 << hits[i].bit);
        EXPECT_EQ(serial.digests[i], doctor::sha1(flipped)) << i;
        EXPECT_EQ(shared.digests[i], doctor::sha1(flipped)) << i;
        suffixes += n - hits[i].byte / 64 * 64;
    }
    EXPECT_EQ(serial.suffixBytes, suffixes);
    EXPECT_EQ(shared.suffixBytes, suffixes);
}

TEST(TransformCrcs, FromTheBitStreamsAsFromEachTransformMade) {
    std::mt19937 rng(99);
    for (std::size_t n = 1; n <= (std::size_t(1) << 20); n *= 2) {
        const Bytes image = randomBytes(n, rng);
        const doctor::TransformCrcs fast = doctor::transformCrcs(image);
        const doctor::TransformCrcs direct = doctor::transformCrcsDirect(image);
        const auto all = [](const doctor::TransformCrcs& t) {
            return std::tie(t.byteSwap, t.wordSwap, t.reversed, t.even, t.odd, t.lane[0], t.lane[1],
                            t.lane[2], t.lane[3]);
        };
        EXPECT_EQ(all(fast), all(direct)) << n;
    }
}

}  // namespace
}  // namespace chipsight

namespace chipsight::doctor {
namespace {

// Against one ROM: each way a dump, or two, can be it is named against the right dump, bits off
// as far as two with the bit and its direction, and confirmed by the SHA-1.
TEST(NearRom, EachFaultOfADumpIsNamedAgainstTheRom) {
    constexpr std::size_t n = 4096;
    const Bytes rom = randomBytes(n, 99);
    const ExpectedRom expected{Crc32(0, rom.data(), n), n, sha1(rom)};
    std::vector<Bytes> dumps(7);
    dumps[0].resize(n);  // bytes swapped
    for (std::size_t i = 0; i < n; ++i) dumps[0][i] = rom[i ^ 1];
    dumps[1] = rom;  // D3 of byte 0x123 rose from 0 to 1, as charge loss does
    dumps[1][0x123] |= 0x08;
    if (rom[0x123] & 0x08) dumps[1][0x123] &= std::uint8_t(~0x08);
    dumps[2] = rom;  // two bits off
    dumps[2][7] ^= 0x01;
    dumps[2][4000] ^= 0x80;
    for (std::size_t i = 0; i < n / 2; ++i) {  // the even and odd bytes, dumped apart
        dumps[3].push_back(rom[2 * i + 1]);
        dumps[4].push_back(rom[2 * i]);
    }
    dumps[5] = join({rom, rom});  // dumped twice over
    dumps[6] = Bytes(n, 0x5A);    // nothing of it
    std::vector<DumpView> views;
    for (const Bytes& d : dumps) views.push_back({d, crcOf(d)});
    const NearSearch found = findNear(expected, views);
    Strings said;
    for (const NearMatch& m : found.matches) {
        std::string line = std::to_string(int(m.kind)) + " t" + std::to_string(int(m.transform)) +
                           " " + std::to_string(m.part) + "/" + std::to_string(m.parts) + " d" +
                           std::to_string(m.dump) + "," + std::to_string(m.second);
        // Piece by piece: GCC 12 misreads " " + a temporary string at -O3.
        for (const BitOff& b : m.bits) {
            line += ' ';
            line += std::to_string(b.byte) + ":D" + std::to_string(b.bit) + (b.rose ? "+" : "-");
        }
        said.push_back(line + (m.confirmed ? " sha1" : ""));
    }
    const auto rose = [](bool set) { return std::string(set ? "+" : "-"); };
    EXPECT_EQ(said, (Strings{"0 t0 1/1 d0,0 sha1",
                             "3 t0 1/1 d1,0 291:D3" + rose(dumps[1][0x123] & 0x08) + " sha1",
                             "3 t0 1/1 d2,0 7:D0" + rose(dumps[2][7] & 1) + " 4000:D7" +
                                 rose(dumps[2][4000] & 0x80) + " sha1",
                             "1 t6 1/2 d5,0 sha1", "2 t4 1/1 d4,3 sha1"}));
    EXPECT_FALSE(found.twoBitsSkipped);
    // A megabyte ROM has too many two-bit candidates to confirm within the budget: said.
    Bytes big(1 << 20, 0x11);
    Bytes bigDump = big;
    bigDump[5] ^= 0x03;
    const DumpView bigView{bigDump, crcOf(bigDump)};
    EXPECT_TRUE(findNear({crcOf(big), 1 << 20, sha1(big)}, std::span(&bigView, 1)).twoBitsSkipped);
}

}  // namespace
}  // namespace chipsight::doctor
