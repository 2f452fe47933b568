// The compiled forms of DAT files: a store keeps what each ROM says and reads nothing outside its
// block; the cache of all of them is trusted only for the files it names, as they are, and whole,
// and renewed in place by any number of processes at once.
#include "core/databases/dat/dat_set.h"
#include "core/databases/dat/dat_store.h"
#include "core/databases/entry_table.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "tests/support/fault_injection.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using namespace testing;

// All a store says of its entry `i`: "name crc size region endianness loadflag width offset
// sha1 description".
std::string said(const DatStore& store, std::size_t i) {
    const DatEntryInfo e = store.info(i);
    return std::string(e.name) + " " + hexText(store.crc(i)) + numbered(" ", store.romSize(i)) +
           " " + std::string(e.region) + " " + std::string(e.endianness) + " " +
           std::string(e.loadFlag) + numbered(" w", e.dataWidth) +
           (e.offset ? numbered(" @", long(*e.offset)) : " @-") + " " +
           (e.sha1 ? hexBytes(*e.sha1) : "-") + " " + datEntryDescription(e);
}

std::vector<std::uint8_t> sample() {
    DatStoreBuilder b;
    DatRom rom;
    rom.name = "pacman.6e", rom.setName = "puckman", rom.setDescription = "Puck Man (Japan set 1)";
    rom.crc = 0xC1E6AB10, rom.size = 4096, rom.region = "maincpu";
    rom.sha1 = "E87E059C5BE45753F7E9F33DFF851F16D6751181";
    b.rom(rom);
    rom.name = "a name much longer than eighteen bytes.bin", rom.crc = 0x1A6FB2D4;
    rom.sha1 = "not a sha1", rom.hasOffset = true, rom.offset = 0x1000;
    b.rom(rom);
    rom.name = "u1", rom.setName = "game", rom.setDescription = "Game \xC3\xA9";
    rom.listName = "vectrex", rom.badDump = true, rom.hasOffset = false, rom.region = "rom";
    rom.endianness = "big", rom.loadFlag = "load16_byte", rom.dataWidth = 16;
    b.rom(rom);
    return b.finish(DatFormat::SoftwareList);
}

// What is not 40 hex digits is no SHA-1.
TEST(DatStore, KeepsWhatEachRomSaysAndDescribesItsSet) {
    const auto store = openStore(sample());
    ASSERT_TRUE(store);
    EXPECT_EQ(store->format(), DatFormat::SoftwareList);
    Strings entries;
    for (std::size_t i = 0; i < store->size(); ++i) entries.push_back(said(*store, i));
    EXPECT_EQ(
        entries,
        (Strings{"pacman.6e c1e6ab10 4096 maincpu   w0 @- "
                 "e87e059c5be45753f7e9f33dff851f16d6751181 Puck Man (Japan set 1) [puckman]",
                 "a name much longer than eighteen bytes.bin 1a6fb2d4 4096 maincpu   w0 @4096 "
                 "- Puck Man (Japan set 1) [puckman]",
                 "u1 1a6fb2d4 4096 rom big load16_byte w16 @- - Game \xC3\xA9 "
                 "[vectrex:game] (BAD DUMP)"}));
}

// A damaged cache: a block of the wrong length is refused, and numbers inside that point
// anywhere read as nothing instead of outside the block (the sanitizers watch the reads).
TEST(DatStore, NeverReadsOutsideADamagedBlock) {
    const auto block = sample();
    for (std::size_t cut = 0; cut < block.size(); ++cut) {
        const std::vector<std::uint8_t> shorter(block.begin(), block.begin() + cut);
        EXPECT_FALSE(openStore(shorter)) << cut;
    }
    auto damaged = block;
    for (std::size_t at = 48 + 3 * 8; at < block.size(); ++at) damaged[at] = 0xFF;
    const auto store = openStore(damaged);
    ASSERT_TRUE(store);
    for (std::size_t i = 0; i < store->size(); ++i) {
        const DatEntryInfo info = store->info(i);
        EXPECT_TRUE(info.name.empty() && info.setName.empty() && info.region.empty());
    }
}

class DatSetCache : public ::testing::Test {
  protected:
    DatSetCache() {
        for (const char* name : {"a.dat", "b.dat"}) writeFile(dir.file(name), game(name));
    }
    // A DAT of one game `name` with one ROM, 12345678/1024.
    static std::string game(const std::string& name) {
        return "<datafile><game name=\"" + name +
               "\"><rom name=\"u1\" size=\"1024\" crc=\"12345678\"/></game></datafile>";
    }
    std::shared_ptr<const DatSet> load() {
        return loadDatSet({datFileAt(paths[0]), datFileAt(paths[1])}, cache, "key");
    }
    // The set names of the entries of 12345678/1024, in the order the index gives them.
    static std::string sets(const DatSet& set) {
        std::string names;
        set.index().forEachMatch(0x12345678, 1024, [&](std::uint32_t n) {
            names += std::string(set.entry(n).info().setName) + " ";
        });
        return names;
    }
    // Those names, then where each file came from: "a.dat b.dat | cache read".
    static std::string fromWhere(const DatSet& set) {
        std::string text = sets(set) + "|";
        for (const LoadedDat& file : set.files()) text += file.fromCache ? " cache" : " read";
        return text;
    }

    TempDir dir;
    const Strings paths = {dir.file("a.dat"), dir.file("b.dat")};
    const std::string cache = dir.file("cache/chipsight"), file = datCacheFile(cache, "key");
};

// A DAT written since is read again, the other keeping its compiled form. So is one written again
// too soon after the cache read it for its times to show it: on a file system that stamps whole
// seconds, a rewrite of the same length in the same second leaves its identity as it was, as the
// start finds it here. Its bytes tell, and a DAT whose bytes are the same still comes from the
// cache.
TEST_F(DatSetCache, IsTrustedOnlyForTheSameFilesUnchanged) {
    EXPECT_EQ(fromWhere(*load()), "a.dat b.dat | read read");
    EXPECT_EQ(fromWhere(*load()), "a.dat b.dat | cache cache");
    const std::vector<DatFile> found = {datFileAt(paths[0]), datFileAt(paths[1])};
    writeFile(paths[1], game("c.dat"));
    EXPECT_EQ(fromWhere(*loadDatSet(found, cache, "key")), "a.dat c.dat | cache read");

    writeFile(dir.file("b.dat"), std::string("<datafile/>"));
    EXPECT_EQ(fromWhere(*load()), "a.dat | cache read");
    EXPECT_EQ(fromWhere(*load()), "a.dat | cache cache") << "the renewed cache";
}

// What a start answers from a set: its files, the checksums of each size, and every entry of
// the pairs looked up with all it says, as the entry table gives them.
std::string answers(const std::shared_ptr<const DatSet>& set) {
    std::string text;
    for (const LoadedDat& dat : set->files())
        text += dat.path + " " + std::to_string(int(dat.format)) + " " + dat.failure + " " +
                std::to_string(dat.store ? dat.store->size() : 0) + "\n";
    EntryTable table;
    table.appendDats(set);
    for (std::size_t i = 0; i < table.size(); ++i)
        text += std::string(table[i].nameText()) + ": " + std::string(table[i].descriptionText()) +
                "\n";
    for (const std::uint32_t size : {512u, 1024u, 2048u, 4096u}) {
        table.forEachCrcOfSize(size, [&](std::uint32_t crc) { text += std::to_string(crc) + " "; });
        for (const std::uint32_t crc : {0x12345678u, 0xDEADBEEFu, 0x0BADF00Du})
            table.forEachMatch(crc, size, [&](const auto& e, std::size_t at) {
                if constexpr (std::is_same_v<std::decay_t<decltype(e)>, DatEntry>)
                    text += numbered("", long(at)) + " " + said(*e.store, e.index) + "\n";
            });
    }
    return text;
}

// A cache with any one byte changed (every byte of the header, every field of the table of
// files, and a sample of the blocks and the index, which span several chunks): a start gives the
// answers of the DATs themselves, whether it takes the cache whole or renews it for a DAT changed
// since, keeping the other's block; and the cache it renews gives them too. A damaged cache costs
// time, never an answer.
TEST_F(DatSetCache, AnyByteChangedGivesTheAnswersOfTheDatsThemselves) {
    std::string roms;
    for (int k = 0; k < 150; ++k)
        roms += "<rom name=\"" + numbered("f", k) + "\" size=\"512\" crc=\"" +
                std::to_string(10000000 + k) + "\"/>";
    writeFile(paths[0],
              "<datafile><game name=\"g1\"><description>Game One</description>"
              "<rom name=\"u1\" size=\"1024\" crc=\"12345678\" "
              "sha1=\"0123456789abcdef0123456789abcdef01234567\"/>"
              "<rom name=\"u2\" size=\"2048\" crc=\"deadbeef\"/></game>"
              "<game name=\"g2\"><description>Game Two</description>"
              "<rom name=\"u3\" size=\"1024\" crc=\"12345678\" status=\"baddump\"/>"
              "</game><game name=\"g3\"><description>Fillers</description>" +
                  roms + "</game></datafile>");
    const auto list = [](const char* crc) {
        return std::string(
                   "<softwarelist name=\"vec\"><software name=\"s\"><description>Soft"
                   "</description><part name=\"c\"><dataarea name=\"rom\" size=\"4096\" "
                   "endianness=\"big\" width=\"16\"><rom name=\"p1\" size=\"2048\" "
                   "crc=\"deadbeef\" offset=\"0x800\" loadflag=\"load16_byte\"/><rom "
                   "name=\"p2\" size=\"1024\" crc=\"") +
               crc + "\"/></dataarea></part></software></softwarelist>";
    };
    writeFile(paths[1], list("12345678"));
    const auto start = [&] { return answers(load()); };
    const auto fresh = [&] { return answers(makeDatSet({loadDat(paths[0]), loadDat(paths[1])})); };
    const std::string expected = fresh();
    ASSERT_EQ(start(), expected);
    const auto whole = readFile(file);
    const std::size_t table =
        88 + ((112 + paths[0].size() + 7) / 8 + (112 + paths[1].size() + 7) / 8) * 8;
    std::vector<std::size_t> sample;
    for (std::size_t at = 0; at < whole.size(); at += at < 88 ? 1 : at < table ? 3 : 13)
        sample.push_back(at);
    const auto damage = [&](std::size_t at) {
        auto damaged = whole;
        damaged[at] ^= std::uint8_t(1 << (at % 8));
        writeFile(file, damaged);
    };
    // A changed byte of the header or the table of files, and any cut, makes the file untrusted.
    for (const std::size_t at : sample) {
        damage(at);
        if (at < table) {
            EXPECT_FALSE(openDatSetCache(file)) << at;
        }
        ASSERT_EQ(start(), expected) << "byte " << at;
        writeFile(file, Bytes(whole.begin(), whole.begin() + long(at)));
        EXPECT_FALSE(openDatSetCache(file)) << at;
    }

    writeFile(paths[1], list("0badf00d"));
    const std::string changed = fresh();
    for (const std::size_t at : sample) {
        damage(at);
        ASSERT_EQ(start(), changed) << "byte " << at;
        ASSERT_EQ(start(), changed) << "byte " << at << ", from the renewed cache";
    }
}

TEST_F(DatSetCache, TwoProcessesBuildingAtOnceBothSucceedAndReadersSeeAWholeCache) {
    pid_t builders[2];
    for (pid_t& pid : builders) {
        pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // Each round finds no cache, reads both DATs and writes the cache anew.
            bool ok = true;
            for (int i = 0; i < 40; ++i) {
                ::unlink(file.c_str());
                ok = sets(*load()) == "a.dat b.dat " && ok;
            }
            ::_exit(ok ? 0 : 1);
        }
    }
    for (int i = 0; i < 300; ++i) {
        if (const auto opened = openDatSetCache(file)) {
            ASSERT_EQ(sets(*opened), "a.dat b.dat ");
        }
    }
    for (const pid_t pid : builders) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_TRUE(load()->files()[1].fromCache);
    EXPECT_EQ(std::distance(fs::directory_iterator(cache), {}), 1)
        << "no temporary file left behind";
}

// Leaves freed blocks of many sizes behind, each filled with `fill`, for the next allocations
// to take.
void dirtyTheHeap(std::uint8_t fill) {
    std::vector<void*> blocks;
    for (std::size_t size = 16; size <= (1 << 20); size += size / 4)
        for (int i = 0; i < 8; ++i) {
            blocks.push_back(std::malloc(size));
            std::memset(blocks.back(), fill, size);
            asm volatile("" : : "r"(blocks.back()) : "memory");
        }
    for (void* block : blocks) std::free(block);
}

// A cache holds nothing but what it was made of: made twice from the same DATs, in memory
// left with different bytes each time, it is the same bytes.
TEST_F(DatSetCache, HoldsTheSameBytesWhateverTheMemoryHeldBefore) {
    const std::vector<LoadedDat> files = {loadDat(paths[0]), loadDat(paths[1])};
    std::vector<Bytes> made;
    for (const std::uint8_t fill : {0x00, 0xA5}) {
        dirtyTheHeap(fill);
        const std::string out = dir.file("made" + std::to_string(fill));
        ASSERT_TRUE(storeDatSet(out, *makeDatSet(files)));
        made.push_back(readFile(out));
    }
    ASSERT_EQ(made[0].size(), made[1].size());
    const auto differ = std::mismatch(made[0].begin(), made[0].end(), made[1].begin());
    EXPECT_TRUE(differ.first == made[0].end())
        << "first differing byte at " << differ.first - made[0].begin();
}

// Each step of writing the cache failing in turn: no cache, whole or broken, stands under its
// name, no temporary file is left, the answers are the DATs' all the same, and the next start
// reads the DATs again and writes the cache. A cache directory that cannot be made is no error.
TEST_F(DatSetCache, AWriteThatFailsAtAnyStepLeavesNoCacheAndTheNextStartReadsTheDats) {
    const FileFaults faults[] = {
        {.name = ".tmp", .openError = EACCES},   {.name = ".tmp", .writeLimit = 100},
        {.name = ".tmp", .syncError = EIO},      {.name = ".tmp", .closeError = EIO},
        {.name = ".tmp", .renameError = EACCES}, {.name = "/chipsight", .mkdirError = EACCES},
    };
    for (const FileFaults& fault : faults) {
        fs::remove_all(dir.file("cache"));
        {
            const InjectedFaults injected(fault);
            EXPECT_EQ(sets(*load()), "a.dat b.dat ");
        }
        EXPECT_FALSE(fs::exists(file)) << "fault " << &fault - faults;
        EXPECT_TRUE(!fs::exists(cache) || fs::is_empty(cache));
        EXPECT_EQ(fromWhere(*load()), "a.dat b.dat | read read");
        EXPECT_EQ(fromWhere(*load()), "a.dat b.dat | cache cache");
    }
    // A file where the cache directory should be is no error either, start after start.
    writeFile(dir.file("plain"), std::string("x"));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(fromWhere(*loadDatSet({datFileAt(paths[0]), datFileAt(paths[1])},
                                        dir.file("plain/chipsight"), "key")),
                  "a.dat b.dat | read read");
    }
}

}  // namespace
}  // namespace chipsight
