// The entry table's index against a plain scan, through growth, reserved room and a mix of
// chip records and whole entries.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>

#include "core/entry_table.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

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
                    table.forEachMatch(
                        crc, size, [&](const RomEntry& e) { indexed.emplace_back(e.nameText()); });
                    for (const RomEntry& e : table)
                        if (e.crc == crc && e.size == size) scanned.emplace_back(e.nameText());
                    ASSERT_EQ(indexed, scanned) << crc << "/" << size << " after " << i;
                }
        }
    }
}

// Loads large enough to be entered region by region, the second one moving the first into a
// larger index: pairs that recur a thousand times among pairs that occur once or twice.
TEST(EntryTableIndex, LargeLoadsMatchInTableOrder) {
    std::mt19937 rng(3);
    EntryTable table;
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::vector<std::string>> expected;
    for (int load = 0; load < 2; ++load) {
        constexpr std::size_t kCount = 30000;
        testing::Bytes roms;
        for (std::size_t k = 0; k < kCount; ++k) {
            const std::uint32_t crc = k % 4 == 0 ? rng() % 3 : rng() % 50000;
            const std::uint32_t size = 1u << (rng() % 3);
            const std::string name = testing::numbered(testing::numbered("L", load) + ".", k);
            testing::append(roms, testing::romTableBytes(-1, name, crc, size));
            expected[{crc, size}].push_back(name);
        }
        auto bytes = std::make_shared<std::uint8_t[]>(roms.size());
        std::copy(roms.begin(), roms.end(), bytes.get());
        table.appendChips(std::move(bytes), kCount, nullptr, 0);
    }
    table.push_back(testing::makeEntry(0, 1, "last", ""));
    expected[{0, 1}].push_back("last");
    for (const auto& [key, names] : expected) {
        std::vector<std::string> got;
        table.forEachMatch(key.first, key.second,
                           [&](const RomEntry& e) { got.emplace_back(e.nameText()); });
        ASSERT_EQ(got, names) << key.first << "/" << key.second;
    }
}

TEST(EntryTableIndex, ReservedRoomTakesAppendsWithoutGrowing) {
    EntryTable table{testing::makeEntry(1, 1, "a", "")};
    const testing::Bytes roms = testing::romTableBytes(0, "chip", 2, 2);
    table.appendChips(std::make_shared<std::uint8_t[]>(roms.size()), 0, nullptr, 0);
    table.reserve(41);
    const std::size_t room = table.capacity();
    EXPECT_GE(room, 41u);
    for (int i = 0; i < 40; ++i) table.push_back(testing::makeEntry(2, 2, "b", ""));
    EXPECT_EQ(table.capacity(), room);
    int n = 0;
    table.forEachMatch(2, 2, [&](const RomEntry&) { ++n; });
    EXPECT_EQ(n, 40);
    table.clear();
    EXPECT_TRUE(table.empty());
    table.forEachMatch(2, 2, [&](const RomEntry&) { ++n; });
    EXPECT_EQ(n, 40);
}

// Chip records kept as their bytes read back as the entries joinRecord makes of them, in table
// order among entries appended whole, through the index and through every other way in.
TEST(EntryTableIndex, ChipRecordsAmongWholeEntriesReadAsTheirJoinedEntries) {
    std::mt19937 rng(11);
    EntryTable mixed, plain;
    for (int round = 0; round < 30; ++round) {
        if (rng() % 2) {
            const auto e = testing::makeEntry(rng() % 7, 1u << (rng() % 2),
                                              testing::numbered("W", round), "whole");
            mixed.push_back(e);
            plain.push_back(e);
            continue;
        }
        // Games with a partial record at the end sometimes; indexes in range, past it, negative.
        testing::Bytes games;
        const int gameCount = int(rng() % 4);
        for (int g = 0; g < gameCount; ++g)
            testing::append(games, testing::gameBytes(g == 1 ? std::string(80, 'G')
                                                             : "Game " + std::to_string(g)));
        games.resize(games.size() + rng() % 3, 'p');
        testing::Bytes roms;
        const std::size_t count = rng() % 300;
        for (std::size_t k = 0; k < count; ++k) {
            const auto index = std::int16_t(int(rng() % 6) - 1);
            const std::string name =
                k % 5 == 0 ? std::string(18, 'N')
                           : testing::numbered(testing::numbered("C", round) + ".", k);
            testing::append(roms,
                            testing::romTableBytes(index, name, rng() % 7, 1u << (rng() % 2)));
        }
        roms.resize(roms.size() + rng() % 2 * 13,
                    0xEE);  // bytes past the last record count for nothing
        for (std::size_t k = 0; k < count; ++k) {
            const auto record =
                RomTableRecord::decode(std::span<const std::uint8_t, RomTableRecord::kSize>(
                    &roms[k * RomTableRecord::kSize], RomTableRecord::kSize));
            plain.push_back(joinRecord(record, games));
        }
        auto romBytes = std::make_shared<std::uint8_t[]>(roms.size() + 1);
        std::copy(roms.begin(), roms.end(), romBytes.get());
        auto gameBytes = std::make_shared<std::uint8_t[]>(games.size() + 1);
        std::copy(games.begin(), games.end(), gameBytes.get());
        mixed.appendChips(std::move(romBytes), count, std::move(gameBytes), games.size());
    }
    ASSERT_EQ(mixed.size(), plain.size());
    EXPECT_TRUE(mixed == plain);
    std::size_t i = 0;
    for (const RomEntry& e : mixed) ASSERT_TRUE(e == plain[i++]) << i;
    for (std::uint32_t crc = 0; crc < 8; ++crc)
        for (std::uint32_t size : {1u, 2u, 3u}) {
            std::vector<RomEntry> got, want;
            mixed.forEachMatch(crc, size, [&](const RomEntry& e) { got.push_back(e); });
            plain.forEachMatch(crc, size, [&](const RomEntry& e) { want.push_back(e); });
            ASSERT_EQ(got.size(), want.size()) << crc << "/" << size;
            EXPECT_TRUE(got == want) << crc << "/" << size;
        }
    // Appending whole entries after the chips keeps them in order behind them.
    mixed.push_back(testing::makeEntry(3, 1, "last", ""));
    std::vector<std::string> names;
    mixed.forEachMatch(3, 1, [&](const RomEntry& e) { names.emplace_back(e.nameText()); });
    ASSERT_FALSE(names.empty());
    EXPECT_EQ(names.back(), "last");
}

}  // namespace
}  // namespace chipsight
