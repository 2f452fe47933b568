// The entry table and its index.
#include "core/entry_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using namespace testing;

// Whole entries among chip records kept as their bytes read back as joinRecord makes them, and
// are found in table order through growth.
TEST(EntryTable, ReadsAsItsEntriesAndFindsThemInTableOrder) {
    std::mt19937 rng(11);
    const auto games = std::make_shared<const Bytes>(gameBytes("G"));
    EntryTable table;
    std::vector<RomEntry> plain;
    for (int round = 0; round < 40; ++round) {
        for (int k = int(rng() % 300); k > 0; --k) {  // few pairs, so chains are long and shared
            plain.push_back(makeEntry(rng() % 7, 1u << (rng() % 2), numbered("W", k), "whole"));
            table.push_back(plain.back());
        }
        auto roms = std::make_shared<Bytes>();
        const std::size_t count = rng() % 300;
        for (std::size_t k = 0; k < count; ++k) {
            append(*roms, romTableBytes(0, numbered("C", long(k)), rng() % 7, 1u << (rng() % 2)));
            plain.push_back(joinRecord(
                RomTableRecord::decode(std::span<const std::uint8_t, 28>(&(*roms)[k * 28], 28)),
                *games));
        }
        table.appendChips({roms, roms->data()}, count, {games, games->data()}, games->size());
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

}  // namespace
}  // namespace chipsight
