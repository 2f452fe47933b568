// The entry table and its index.
#include "core/databases/entry_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>

#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using namespace testing;

// Whole entries among chip records kept as their bytes, and a run of DAT entries among them,
// read back as joinRecord and the DAT's entry lines make them, and are found in table order
// through growth.
TEST(EntryTable, ReadsAsItsEntriesAndFindsThemInTableOrder) {
    std::mt19937 rng(11);
    TempDir dir;
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
        if (round == 20) {
            std::string dat = "<datafile><game name=\"s\"><description>D</description>";
            for (int k = 0; k < 300; ++k) {
                const std::uint32_t crc = rng() % 7, size = 1u << (rng() % 2);
                dat += "<rom name=\"" + numbered("D", k) + "\" size=\"" + std::to_string(size) +
                       "\" crc=\"0000000" + std::to_string(crc) + "\"/>";
                plain.push_back(makeEntry(crc, size, numbered("D", k), "D [s]"));
            }
            writeFile(dir.file("d.dat"), dat + "</game></datafile>");
            table.appendDats(loadDatSet({datFileAt(dir.file("d.dat"))}, "", ""));
        }
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

// Loads large enough to be entered region by region, the second one moving the first into a
// larger index: pairs that recur a thousand times among pairs that occur once or twice.
TEST(EntryTableIndex, LargeLoadsMatchInTableOrder) {
    std::mt19937 rng(3);
    EntryTable table;
    std::map<std::pair<std::uint32_t, std::uint32_t>, Strings> expected;
    for (int load = 0; load < 2; ++load) {
        constexpr std::size_t kCount = 30000;
        Bytes roms;
        for (std::size_t k = 0; k < kCount; ++k) {
            const std::uint32_t crc = k % 4 == 0 ? rng() % 3 : rng() % 50000;
            const std::uint32_t size = 1u << (rng() % 3);
            const std::string name = numbered(numbered("L", load) + ".", k);
            append(roms, romTableBytes(-1, name, crc, size));
            expected[{crc, size}].push_back(name);
        }
        auto bytes = std::make_shared<std::uint8_t[]>(roms.size());
        std::copy(roms.begin(), roms.end(), bytes.get());
        table.appendChips(std::move(bytes), kCount, nullptr, 0);
    }
    table.push_back(makeEntry(0, 1, "last", ""));
    expected[{0, 1}].push_back("last");
    for (const auto& [key, names] : expected) {
        Strings got;
        table.forEachMatch(key.first, key.second,
                           [&](const RomEntry& e) { got.emplace_back(e.nameText()); });
        ASSERT_EQ(got, names) << key.first << "/" << key.second;
    }
}

// Keys that half the entries share among a thousand others and ten thousand pairs of one
// checksum in as many sizes, entered all at once (region by region, as a large load is), in runs
// and one by one: each entry costs a slot or two to enter however many share its pair, each pair
// takes one slot, and lookups give a pair's entries in order. Over a damaged index a lookup still
// ends and gives only entries of the pair, in order.
TEST(KeyIndex, TakesOneSlotForEachPairAndFewProbesForEachEntry) {
    std::mt19937 rng(5);
    constexpr std::uint32_t kCount = 40000;
    std::vector<IndexKey> keys(kCount);
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::vector<std::uint32_t>> expected;
    for (std::uint32_t i = 0; i < kCount; ++i) {
        keys[i] = i % 2   ? IndexKey{0, 0}
                  : i % 4 ? IndexKey{7, i}
                          : IndexKey{std::uint32_t(rng() % 1000), 1u << (rng() % 2)};
        expected[{keys[i].crc, keys[i].size}].push_back(i);
    }
    const std::size_t slots = KeyIndexView::slotsFor(kCount);
    for (const std::uint32_t run : {kCount, 1000u, 1u}) {
        std::vector<std::uint8_t> tags(slots, KeyIndexView::kFree);
        std::vector<std::uint32_t> entries(slots), next(kCount);
        std::vector<std::uint64_t> filter(KeyIndexView::filterWordsFor(slots));
        std::size_t probes = 0;
        for (std::uint32_t first = 0; first < kCount; first += run)
            probes += linkKeys(keys.data(), next.data(), first, std::min(first + run, kCount),
                               tags.data(), entries.data(), filter.data(), slots - 1);
        EXPECT_LE(probes, 2 * kCount) << run;
        EXPECT_EQ(
            std::size_t(std::count_if(tags.begin(), tags.end(),
                                      [](std::uint8_t t) { return t != KeyIndexView::kFree; })),
            expected.size())
            << run;
        const auto found = [&](const KeyIndexView& view, std::uint32_t crc, std::uint32_t size) {
            std::vector<std::uint32_t> numbers;
            view.forEachMatch(crc, size, [&](std::uint32_t n) { numbers.push_back(n); });
            return numbers;
        };
        const KeyIndexView view(keys.data(), next.data(), kCount, tags.data(), entries.data(),
                                filter.data(), slots);
        for (const auto& [key, numbers] : expected)
            ASSERT_EQ(found(view, key.first, key.second), numbers) << run;

        for (int round = 0; round < 20; ++round) {
            auto badNext = next, badEntries = entries;
            auto badTags = tags;
            for (int k = 0; k < 500; ++k) {
                badNext[rng() % kCount] = std::uint32_t(rng() % (kCount + 10));
                badEntries[rng() % slots] = std::uint32_t(rng() % (kCount + 10));
                badTags[rng() % slots] = std::uint8_t(rng());
            }
            const KeyIndexView bad(keys.data(), badNext.data(), kCount, badTags.data(),
                                   badEntries.data(), filter.data(), slots);
            for (const auto& [key, numbers] : expected) {
                const auto got = found(bad, key.first, key.second);
                ASSERT_TRUE(std::is_sorted(got.begin(), got.end()) &&
                            std::adjacent_find(got.begin(), got.end()) == got.end());
                for (const std::uint32_t n : got)
                    ASSERT_TRUE(n < kCount && keys[n].crc == key.first &&
                                keys[n].size == key.second);
            }
        }
    }
}

}  // namespace
}  // namespace chipsight
