#include "core/databases/dat/dat_store.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace chipsight {
namespace {

std::shared_ptr<const DatStore> storeOf(const std::vector<std::uint8_t>& block) {
    std::shared_ptr<std::uint8_t[]> bytes(new std::uint8_t[block.size()]);
    std::copy(block.begin(), block.end(), bytes.get());
    return DatStore::open(bytes, block.size());
}

std::vector<std::uint8_t> sample() {
    DatStoreBuilder b;
    DatRom rom;
    rom.name = "pacman.6e";
    rom.setName = "puckman";
    rom.setDescription = "Puck Man (Japan set 1)";
    rom.crc = 0xC1E6AB10;
    rom.size = 4096;
    rom.region = "maincpu";
    rom.sha1 = "E87E059C5BE45753F7E9F33DFF851F16D6751181";
    b.rom(rom);
    rom.name = "a name much longer than eighteen bytes.bin";
    rom.crc = 0x1A6FB2D4;
    rom.sha1 = "not a sha1";
    rom.hasOffset = true;
    rom.offset = 0x1000;
    b.rom(rom);
    rom.name = "u1";
    rom.setName = "game";
    rom.setDescription = "Game \xC3\xA9";
    rom.listName = "vectrex";
    rom.badDump = true;
    rom.hasOffset = false;
    rom.region = "rom";
    rom.endianness = "big";
    rom.loadFlag = "load16_byte";
    rom.dataWidth = 16;
    b.rom(rom);
    return b.finish(DatFormat::SoftwareList);
}

TEST(DatStore, KeepsWhatEachRomSaysAndDescribesItsSet) {
    const auto store = storeOf(sample());
    ASSERT_TRUE(store);
    ASSERT_EQ(store->size(), 3u);
    EXPECT_EQ(store->format(), DatFormat::SoftwareList);
    EXPECT_EQ(store->crc(1), 0x1A6FB2D4u);
    EXPECT_EQ(store->romSize(2), 4096u);

    const DatEntryInfo first = store->info(0), second = store->info(1), third = store->info(2);
    EXPECT_EQ(first.name, "pacman.6e");
    EXPECT_EQ(first.region, "maincpu");
    ASSERT_TRUE(first.sha1);
    EXPECT_EQ((*first.sha1)[0], 0xE8);
    EXPECT_EQ((*first.sha1)[19], 0x81);
    EXPECT_FALSE(first.offset);
    EXPECT_EQ(second.name, "a name much longer than eighteen bytes.bin");
    EXPECT_FALSE(second.sha1) << "what is not 40 hex digits is no SHA-1";
    EXPECT_EQ(second.offset, 0x1000u);
    EXPECT_EQ(datEntryDescription(second), "Puck Man (Japan set 1) [puckman]");
    EXPECT_EQ(datEntryDescription(third), "Game \xC3\xA9 [vectrex:game] (BAD DUMP)");
    EXPECT_EQ(third.endianness, "big");
    EXPECT_EQ(third.loadFlag, "load16_byte");
    EXPECT_EQ(third.dataWidth, 16u);
    EXPECT_EQ(third.region, "rom");
}

// A damaged cache: a block of the wrong length is refused, and numbers inside that point
// anywhere read as nothing instead of outside the block (the sanitizers watch the reads).
TEST(DatStore, NeverReadsOutsideADamagedBlock) {
    const auto block = sample();
    for (std::size_t cut = 0; cut < block.size(); ++cut) {
        const std::vector<std::uint8_t> shorter(block.begin(), block.begin() + cut);
        EXPECT_FALSE(storeOf(shorter)) << cut;
    }
    auto damaged = block;
    for (std::size_t at = 48 + 3 * 8; at < block.size(); ++at) damaged[at] = 0xFF;
    const auto store = storeOf(damaged);
    ASSERT_TRUE(store);
    for (std::size_t i = 0; i < store->size(); ++i) {
        const DatEntryInfo info = store->info(i);
        EXPECT_TRUE(info.name.empty() && info.setName.empty() && info.region.empty());
    }
}

}  // namespace
}  // namespace chipsight
