// The one-pass report against the plain per-level reference, and the table's index against a
// plain scan.
#include <gtest/gtest.h>

#include <random>

#include "core/crc32.h"
#include "core/identify.h"
#include "tests/support/reference_report.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

TEST(OnePassReport, EqualsTheReferenceOnRandomImagesLevelsAndTables) {
    std::mt19937 rng(20261207);
    for (int round = 0; round < 400; ++round) {
        // Mostly powers of two, as identification only ever sees; some other lengths too.
        const int bits = int(rng() % 17);
        std::size_t length = (round % 5 == 4) ? rng() % 3000 : (round % 7 == 0 ? 0 : std::size_t(1) << bits);
        std::vector<std::uint8_t> image(length);
        const int style = int(rng() % 4);
        for (auto& b : image) b = style == 0 ? 0xFF : style == 1 ? std::uint8_t(rng() & 0x3F) : std::uint8_t(rng());
        if (style == 3 && length >= 2)
            std::fill(image.begin() + std::ptrdiff_t(length / 2), image.end(), 0xFF);  // blank upper half

        // Entries for some real parts (twice for some), and noise.
        EntryTable entries;
        for (int k = 0; k < 6; ++k) {
            const int level = int(rng() % 9);
            const std::size_t parts = std::size_t(1) << level, size = length / parts;
            const std::size_t j = rng() % parts;
            const std::uint32_t crc = crc32Portable(0, image.data() + j * size, size);
            const int copies = 1 + int(rng() % 2);
            for (int c = 0; c < copies; ++c)
                entries.push_back(testing::makeEntry(crc, std::uint32_t(size), "P" + std::to_string(k), "d"));
            entries.push_back(testing::makeEntry(crc ^ 1, std::uint32_t(size), "noise", "x"));
        }
        const int level = int(rng() % 12) - 1;
        const bool ignoreBad = rng() % 2;
        ASSERT_EQ(buildReport(entries, image, "img.bin", level, ignoreBad).block,
                  testing::referenceReport(entries, image, "img.bin", level, ignoreBad))
            << "length " << length << " level " << level << " ignoreBad " << ignoreBad;
    }
}

TEST(EntryTableIndex, MatchesComeInTableOrderThroughGrowth) {
    EntryTable table;
    std::mt19937 rng(7);
    for (std::uint32_t i = 0; i < 5000; ++i) {
        // Few distinct pairs, so chains are long and shared.
        table.push_back(testing::makeEntry(rng() % 13, 1u << (rng() % 3), std::to_string(i), ""));
        if (i % 997 == 0 || i == 4999) {
            for (std::uint32_t crc = 0; crc < 13; ++crc)
                for (std::uint32_t size : {1u, 2u, 4u, 3u}) {
                    std::vector<std::string> indexed, scanned;
                    table.forEachMatch(crc, size, [&](const RomEntry& e) { indexed.emplace_back(e.nameText()); });
                    for (const RomEntry& e : table)
                        if (e.crc == crc && e.size == size) scanned.emplace_back(e.nameText());
                    ASSERT_EQ(indexed, scanned) << crc << "/" << size << " after " << i;
                }
        }
    }
}

TEST(EntryTableIndex, ReservedRoomTakesAppendsWithoutMoving) {
    EntryTable table{testing::makeEntry(1, 1, "a", "")};
    table.reserve(40);
    const RomEntry* first = &table[0];
    for (int i = 0; i < 39; ++i) table.push_back(testing::makeEntry(2, 2, "b", ""));
    EXPECT_EQ(&table[0], first);
    int n = 0;
    table.forEachMatch(2, 2, [&](const RomEntry&) { ++n; });
    EXPECT_EQ(n, 39);
    table.clear();
    table.forEachMatch(2, 2, [&](const RomEntry&) { ++n; });
    EXPECT_EQ(n, 39);
}

}  // namespace
}  // namespace chipsight
