// The report of an image against the plain per-level reference, the entry table it looks in,
// and the reading of typed numbers. (The fuzz targets check the number readers against sscanf
// and the join of chips with their games on random tables.)
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "core/crc32.h"
#include "core/identify.h"
#include "core/number_reading.h"
#include "tests/support/reference_report.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using namespace testing;

TEST(Report, OnePassEqualsThePlainReferenceOnRandomImagesLevelsAndTables) {
    std::mt19937 rng(20261207);
    for (int round = 0; round < 400; ++round) {
        const std::size_t length = round % 7 == 0 ? 0 : std::size_t(1) << (rng() % 19);
        Bytes image(length);
        const int style = int(rng() % 4);  // blank, two bits unused, random, blank upper half
        for (auto& b : image)
            b = style == 0 ? 0xFF : style == 1 ? std::uint8_t(rng() & 0x3F) : std::uint8_t(rng());
        if (style == 3) std::fill(image.begin() + std::ptrdiff_t(length / 2), image.end(), 0xFF);
        // Entries for some real parts (twice for some), each beside a near miss.
        EntryTable entries;
        for (int k = 0; k < 6; ++k) {
            const std::size_t parts = std::size_t(1) << (rng() % 9), size = length / parts;
            const std::uint32_t crc = crc32Portable(0, image.data() + rng() % parts * size, size);
            for (int copies = 1 + int(rng() % 2); copies > 0; --copies)
                entries.push_back(makeEntry(crc, std::uint32_t(size), numbered("P", k), "d"));
            entries.push_back(makeEntry(crc ^ 1, std::uint32_t(size), "noise", "x"));
        }
        const int level = int(rng() % 12) - 1;
        const bool ignoreBad = rng() % 2;
        const std::string expected = referenceReport(entries, image, "img.bin", level, ignoreBad);
        ASSERT_EQ(buildReport(entries, image, "img.bin", level, ignoreBad).block, expected)
            << "length " << length << " level " << level << " ignoreBad " << ignoreBad;
        // The digest taken as the bytes arrive, in pieces of any size as reading a file gives.
        ImageDigest digest(std::uint32_t(length), level);
        for (std::size_t at = 0, piece; at < length; at += piece) {
            piece = std::min<std::size_t>(length - at, rng() % 4 == 0 ? rng() % 8 : rng() % 70000);
            digest.add({image.data() + at, piece});
        }
        digest.finish();
        ASSERT_EQ(buildReport(entries, digest, "img.bin", ignoreBad).block, expected)
            << "in pieces";
    }
}

TEST(Report, ErasedBlocksAreKnownAtEverySizeBut512) {
    for (std::uint32_t size = 256; size <= 65536; size *= 2) {
        const Bytes blank(size, 0xFF);
        EXPECT_EQ(isBlankBlock(size, crc32Portable(0, blank.data(), size)), size != 512) << size;
    }
    EXPECT_FALSE(isBlankBlock(2048, 0xB83AFFF4)) << "the checksum of another row";
}

// Whole entries among chip records kept as their bytes (joined with their games only when read)
// read back as joinRecord makes them, and are found in table order, through growth.
TEST(EntryTable, ReadsAsItsEntriesAndFindsThemInTableOrder) {
    std::mt19937 rng(11);
    EntryTable table;
    std::vector<RomEntry> plain;
    for (int round = 0; round < 40; ++round) {
        for (int k = int(rng() % 300); k > 0; --k) {  // few pairs, so chains are long and shared
            plain.push_back(makeEntry(rng() % 7, 1u << (rng() % 2), numbered("W", k), "whole"));
            table.push_back(plain.back());
        }
        // Games, the last one sometimes cut short; game indexes in range, past it and negative.
        Bytes games, roms;
        for (int g = int(rng() % 4); g > 0; --g)
            append(games, gameBytes(g == 1 ? std::string(80, 'G') : numbered("Game ", g)));
        games.resize(games.size() + rng() % 3, 'p');
        const std::size_t count = rng() % 300;
        for (std::size_t k = 0; k < count; ++k) {
            append(roms, romTableBytes(std::int16_t(int(rng() % 6) - 1),
                                       k % 5 ? numbered("C", long(k)) : std::string(18, 'N'),
                                       rng() % 7, 1u << (rng() % 2)));
            plain.push_back(joinRecord(
                RomTableRecord::decode(std::span<const std::uint8_t, 28>(&roms[k * 28], 28)),
                games));
        }
        roms.resize(roms.size() + 13, 0xEE);  // bytes past the last record count for nothing
        const auto held = [](const Bytes& b) {
            auto p = std::make_shared<std::uint8_t[]>(b.size() + 1);
            std::copy(b.begin(), b.end(), p.get());
            return p;
        };
        table.appendChips(held(roms), count, held(games), games.size());
        if (round % 8 != 7) continue;
        ASSERT_EQ(table.size(), plain.size());
        for (std::size_t i = 0; i < plain.size(); ++i) ASSERT_TRUE(table[i] == plain[i]) << i;
        for (std::uint32_t crc = 0; crc < 8; ++crc)
            for (std::uint32_t size : {1u, 2u, 3u}) {
                std::vector<RomEntry> found, scanned;
                table.forEachMatch(crc, size, [&](const RomEntry& e) { found.push_back(e); });
                std::copy_if(plain.begin(), plain.end(), std::back_inserter(scanned),
                             [&](const RomEntry& e) { return e.crc == crc && e.size == size; });
                ASSERT_TRUE(found == scanned) << crc << "/" << size << " in round " << round;
            }
    }
    // Room made beforehand takes entries without allocating, so adding one cannot fail.
    table.reserve(table.size() + 40);
    const std::size_t room = table.capacity();
    for (int i = 0; i < 40; ++i) table.push_back(makeEntry(2, 2, "b", ""));
    EXPECT_EQ(table.capacity(), room);
}

TEST(NumberReading, SizesAreDecimalFirstThenHexadecimalWithItsPrefix) {
    const std::pair<const char*, std::uint32_t> sizes[] = {{"100", 100},
                                                           {"0x100", 256},
                                                           {"0x8000", 32768},
                                                           {"FF", 255},
                                                           {"1A", 1},
                                                           {"-1", 0xFFFFFFFF},
                                                           {"4294967295", 0xFFFFFFFF},
                                                           {"0", 0},
                                                           {"0x0", 0},
                                                           {"zz", 0},
                                                           {"", 0},
                                                           {"9999999999", 0}};
    for (const auto& [text, size] : sizes) EXPECT_EQ(readSize(text), size) << text;
    EXPECT_EQ(readChecksum("00000000"), 0u);
    EXPECT_EQ(readChecksum(" 3F55D17F"), 0x3F55D17Fu);
    EXPECT_EQ(readChecksum("100000000"), 0u);
}

}  // namespace
}  // namespace chipsight
