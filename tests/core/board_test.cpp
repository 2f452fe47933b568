// Boards judged against hand-built catalogues shaped like MAME's: families of revisions, PROMs
// many games share, a BIOS, devices, identical sets; and dumps forged to a given CRC-32.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/board/board.h"
#include "core/checksum/crc32.h"
#include "tests/support/test_support.h"

namespace chipsight::board {
namespace {

constexpr std::uint32_t kSize = 0x1000;

struct RomSpec {
    std::string_view name;
    std::uint32_t crc;
    std::string_view merge{};
    RomStatus status = RomStatus::Good;
    std::string_view bios{};
};

void addSet(CatalogueBuilder& builder, const SetInfo& set, const std::vector<RomSpec>& roms,
            std::initializer_list<std::string_view> devices = {}) {
    builder.addSet(set);
    for (const RomSpec& rom : roms)
        builder.addRom({.name = rom.name,
                        .size = kSize,
                        .crc = rom.crc,
                        .status = rom.status,
                        .merge = rom.merge,
                        .bios = rom.bios,
                        .region = "maincpu"});
    for (const std::string_view device : devices) builder.addDeviceRef(device);
}

SetInfo clone(std::string_view name, std::string_view parent) {
    return {.name = name, .cloneOf = parent, .romOf = parent};
}

Dump dump(std::string name, std::uint32_t crc) { return {std::move(name), crc, kSize, {}}; }

// "14 of 14", and the devices' apart.
std::string counts(const Candidate& c) {
    std::string text = std::to_string(c.matched) + " of " + std::to_string(c.dumpable);
    if (c.deviceDumpable > 0)
        text += ", devices " + std::to_string(c.deviceMatched) + " of " +
                std::to_string(c.deviceDumpable);
    return text;
}

std::vector<std::string> names(const BoardAnswer& answer) {
    std::vector<std::string> out;
    for (const Candidate& c : answer.candidates) out.emplace_back(c.name);
    return out;
}

std::vector<std::string> romNames(const Catalogue& catalogue, const std::vector<RomId>& roms) {
    std::vector<std::string> out;
    for (const RomId id : roms) out.emplace_back(catalogue.rom(id).name);
    return out;
}

std::vector<std::string> setNames(const Catalogue& catalogue, const std::vector<SetId>& sets) {
    std::vector<std::string> out;
    for (const SetId id : sets) out.emplace_back(catalogue.set(id).name);
    return out;
}

// "name [from set|device set] state [= dump]", one per chip line.
std::vector<std::string> chips(const Catalogue& catalogue, const BoardAnswer& answer,
                               const std::vector<Dump>& dumps) {
    std::vector<std::string> out;
    for (const ChipLine& line : answer.chips) {
        std::string text(catalogue.rom(line.rom).name);
        const std::string origin =
            line.origin == kNoSet ? "?" : std::string(catalogue.set(line.origin).name);
        if (line.from == ChipFrom::Inherited) text += " from " + origin;
        if (line.from == ChipFrom::Device) text += " device " + origin;
        switch (line.state) {
            case ChipState::Found:
                text += " found";
                break;
            case ChipState::BadDumpKnown:
                text += " bad dump known";
                break;
            case ChipState::NoGoodDump:
                text += " no good dump";
                break;
            case ChipState::Missing:
                text += " missing";
                break;
            default:
                text += " ?";
                break;
        }
        if (line.dump) text += " = " + dumps[*line.dump].name;
        out.push_back(text);
    }
    return out;
}

// A parent, two clones and a bootleg, an unrelated hack that shares most of the parent's ROMs,
// and ten other games that share the video PROM.
class BoardOfAFamily : public ::testing::Test {
  protected:
    BoardOfAFamily() {
        CatalogueBuilder b;
        addSet(b, {.name = "galaga", .description = "Galaga (Namco rev. B)"},
               {{"gg1", 0x1001},
                {"gg2", 0x1002},
                {"gg3", 0x1003},
                {"gfx1", 0x1004},
                {"prom1", 0x5001}});
        // As MAME lists a clone: in region order, what it takes over under its parent's name.
        addSet(b, clone("galagao", "galaga"),
               {{"gg2", 0x1002, "gg2"},
                {"go1", 0x2001},
                {"gg3", 0x1003, "gg3"},
                {"gfx1", 0x1004, "gfx1"},
                {"prom1", 0x5001, "prom1"}});
        addSet(b, clone("galagamw", "galaga"),
               {{"gg1", 0x1001, "gg1"},
                {"gg2", 0x1002, "gg2"},
                {"mw3", 0x3003},
                {"gfx1", 0x1004, "gfx1"},
                {"prom1", 0x5001, "prom1"}});
        addSet(b, clone("gallag", "galaga"),
               {{"gb1", 0x4001},
                {"gg2", 0x1002, "gg2"},
                {"gg3", 0x1003, "gg3"},
                {"gb4", 0x4004},
                {"prom1", 0x5001, "prom1"},
                {"gallag.6", 0x4006}});
        addSet(b, {.name = "xgalaga"},
               {{"xg1", 0x6001},
                {"gg2", 0x1002},
                {"gg3", 0x1003},
                {"gfx1", 0x1004},
                {"prom1", 0x5001}});
        for (int i = 0; i < 10; ++i)
            addSet(b, {.name = testing::numbered("namco", i)},
                   {{"cpu", 0x7000u + std::uint32_t(i)}, {"prom1", 0x5001}});
        catalogue = b.build();
    }
    Catalogue catalogue;
};

TEST_F(BoardOfAFamily, TheCloneSpecificChipDecidesTheRevisionAndTheFamilyStaysTogether) {
    const std::vector<Dump> board{dump("a.bin", 0x2001), dump("b.bin", 0x1002),
                                  dump("c.bin", 0x1003), dump("d.bin", 0x1004),
                                  dump("e.bin", 0x5001)};
    const BoardAnswer answer = judgeBoard(catalogue, board);
    // xgalaga explains as much as galaga and more than the other revisions, but it is another
    // game: it comes after the whole family.
    EXPECT_EQ(names(answer),
              (std::vector<std::string>{"galagao", "galaga", "galagamw", "gallag", "xgalaga"}));
    const Candidate& best = answer.candidates[0];
    EXPECT_EQ(counts(best), "5 of 5");
    EXPECT_TRUE(best.missing.empty());
    EXPECT_TRUE(best.tiedWith.empty());
    EXPECT_EQ(answer.candidates[1].description, "Galaga (Namco rev. B)");
    EXPECT_EQ(romNames(catalogue, answer.candidates[1].missing), std::vector<std::string>{"gg1"});
    EXPECT_TRUE(answer.unexplained.otherSets.empty());
    EXPECT_TRUE(answer.unexplained.knownChips.empty());
    EXPECT_TRUE(answer.unexplained.unknown.empty());
}

TEST_F(BoardOfAFamily, TwoChipsPulledStillNameTheRevisionAndTheChipsMissing) {
    const std::vector<Dump> board{dump("a.bin", 0x2001), dump("b.bin", 0x1002),
                                  dump("e.bin", 0x5001)};
    const BoardAnswer answer = judgeBoard(catalogue, board);
    ASSERT_FALSE(answer.candidates.empty());
    const Candidate& best = answer.candidates[0];
    EXPECT_EQ(best.name, "galagao");
    EXPECT_EQ(counts(best), "3 of 5");
    EXPECT_EQ(romNames(catalogue, best.missing), (std::vector<std::string>{"gg3", "gfx1"}));
    // Its own chip first, then those it takes from its parent.
    EXPECT_EQ(chips(catalogue, answer, board),
              (std::vector<std::string>{"go1 found = a.bin", "gg2 from galaga found = b.bin",
                                        "gg3 from galaga missing", "gfx1 from galaga missing",
                                        "prom1 from galaga found = e.bin"}));
}

TEST(Board, APromManyGamesShareDoesNotDragAnUnrelatedGameUp) {
    CatalogueBuilder b;
    addSet(b, {.name = "bosco"}, {{"bo1", 0x1001}, {"bo2", 0x1002}, {"p1", 0x5001}});
    addSet(b, {.name = "rallyx"},
           {{"rx1", 0x2001}, {"p1", 0x5001}, {"p2", 0x5002}, {"p3", 0x5003}, {"p4", 0x5004}});
    for (int i = 0; i < 30; ++i)
        addSet(b, {.name = testing::numbered("namco", 10 + i)},
               {{"cpu", 0x7000u + std::uint32_t(i)},
                {"p1", 0x5001},
                {"p2", 0x5002},
                {"p3", 0x5003},
                {"p4", 0x5004}});
    const Catalogue catalogue = b.build();
    // The two CPU ROMs only bosco holds, and four PROMs that rallyx and thirty others hold.
    const std::vector<Dump> board{dump("1", 0x1001), dump("2", 0x1002), dump("3", 0x5001),
                                  dump("4", 0x5002), dump("5", 0x5003), dump("6", 0x5004)};
    const BoardAnswer answer = judgeBoard(catalogue, board);
    ASSERT_FALSE(answer.candidates.empty());
    EXPECT_EQ(answer.candidates[0].name, "bosco");
    // Nor are the PROMs left over said to be rallyx's: no set is told apart by them.
    EXPECT_TRUE(answer.unexplained.otherSets.empty());
    ASSERT_EQ(answer.unexplained.knownChips.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        const Unexplained::KnownChip& chip = answer.unexplained.knownChips[i];
        EXPECT_EQ(chip.dump, 3 + i);
        EXPECT_EQ(chip.setCount, 31u);
        EXPECT_EQ(setNames(catalogue, chip.sets),
                  (std::vector<std::string>{"namco10", "namco11", "namco12"}));
    }
}

TEST(Board, AMixedBoardIsSplitByTheSetsItsChipsComeFrom) {
    CatalogueBuilder b;
    addSet(b, {.name = "puckman"},
           {{"pm1", 0x1001}, {"pm2", 0x1002}, {"pm3", 0x1003}, {"pm4", 0x1004}});
    std::uint32_t own = 0x2000;
    for (const char* name : {"pacman", "pacmanf", "puckmod", "pacmod", "hangly", "newpuc2"})
        addSet(b, clone(name, "puckman"),
               {{"pm1", 0x1001, "pm1"},
                {"pm2", 0x1002, "pm2"},
                {"pm3", 0x1003, "pm3"},
                {"own", ++own}});
    addSet(b, {.name = "digdug"}, {{"dd1", 0x3001}, {"dd2", 0x3002}});
    b.addRom({.name = "dd3", .size = kSize, .crc = 0x3003, .sha1 = Sha1{1}});
    const Catalogue catalogue = b.build();
    // puckman's four chips, two of digdug's, and one nobody knows: it has the CRC-32 of
    // digdug's third chip but not its SHA-1.
    std::vector<Dump> board{dump("1", 0x1001), dump("2", 0x3001), dump("3", 0x1002),
                            dump("4", 0x1003), dump("5", 0x3002), dump("6", 0x1004),
                            dump("7", 0x3003)};
    board.back().sha1 = Sha1{2};
    const BoardAnswer answer = judgeBoard(catalogue, board);
    ASSERT_FALSE(answer.candidates.empty());
    // Four chips of a game with six clones are more than two of a game without any.
    EXPECT_EQ(answer.candidates[0].name, "puckman");
    EXPECT_EQ(counts(answer.candidates[0]), "4 of 4");
    ASSERT_EQ(answer.unexplained.otherSets.size(), 1u);
    EXPECT_EQ(catalogue.set(answer.unexplained.otherSets[0].set).name, "digdug");
    EXPECT_EQ(answer.unexplained.otherSets[0].dumps, (std::vector<std::size_t>{1, 4}));
    EXPECT_TRUE(answer.unexplained.knownChips.empty());
    EXPECT_EQ(answer.unexplained.unknown, std::vector<std::size_t>{6});
}

// A BIOS and three games that take its ROMs over, as MAME lists them.
class BoardWithABios : public ::testing::Test {
  protected:
    BoardWithABios() {
        CatalogueBuilder b;
        // Two BIOS programs to choose from (a board carries one), and the chips all boards have.
        const std::vector<RomSpec> bios{{"sp-s2", 0x1001, {}, RomStatus::Good, "euro"},
                                        {"sp-u2", 0x1005, {}, RomStatus::Good, "us"},
                                        {"sm1", 0x1002},
                                        {"sfix", 0x1003},
                                        {"lo", 0x1004}};
        addSet(b, {.name = "neogeo", .isBios = true}, bios);
        // A game lists the BIOS's ROMs after its own, under the names they have there.
        const auto game = [&](const SetInfo& set, std::vector<RomSpec> roms) {
            for (const RomSpec& rom : bios)
                roms.push_back({rom.name, rom.crc, rom.name, rom.status, rom.bios});
            addSet(b, set, roms);
        };
        game({.name = "mslug", .romOf = "neogeo"},
             {{"ms-p1", 0x2001}, {"ms-s1", 0x2002}, {"ms-m1", 0x2003}});
        game({.name = "kof98", .romOf = "neogeo"}, {{"k-p1", 0x3001}, {"k-p2", 0x3002}});
        // Its BIOS ROMs come through its parent.
        game({.name = "kof98a", .cloneOf = "kof98", .romOf = "kof98"},
             {{"k-p1", 0x3001, "k-p1"}, {"ka-p2", 0x3102}});
        game({.name = "lbowling", .romOf = "neogeo"}, {{"lb-p1", 0x4001}});
        game(clone("ng_mv1", "neogeo"), {});
        catalogue = b.build();
    }
    Catalogue catalogue;
    std::vector<Dump> bios{dump("sp", 0x1001), dump("sm", 0x1002), dump("sfix", 0x1003),
                           dump("lo", 0x1004)};
};

TEST_F(BoardWithABios, TheGameIsTheAnswerWithTheBiosChipsAsItsOwn) {
    std::vector<Dump> board = bios;
    board.push_back(dump("p1", 0x3001));
    board.push_back(dump("p2", 0x3102));
    const BoardAnswer answer = judgeBoard(catalogue, board);
    ASSERT_FALSE(answer.candidates.empty());
    EXPECT_EQ(answer.candidates[0].name, "kof98a");
    EXPECT_EQ(counts(answer.candidates[0]), "6 of 6");
    EXPECT_EQ(
        chips(catalogue, answer, board),
        (std::vector<std::string>{"ka-p2 found = p2", "k-p1 from kof98 found = p1",
                                  "sp-s2 from neogeo found = sp", "sm1 from neogeo found = sm",
                                  "sfix from neogeo found = sfix", "lo from neogeo found = lo"}));
}

TEST_F(BoardWithABios, TheBiosChipsAloneAreTheMotherboardNotAGameMissingItsCartridge) {
    const BoardAnswer answer = judgeBoard(catalogue, bios);
    // The motherboard holds exactly the BIOS's ROMs; of the two, the machine is said first.
    EXPECT_EQ(names(answer),
              (std::vector<std::string>{"ng_mv1", "neogeo", "lbowling", "kof98", "kof98a"}));
    EXPECT_EQ(counts(answer.candidates[0]), "4 of 4");
    EXPECT_EQ(setNames(catalogue, answer.candidates[0].tiedWith),
              std::vector<std::string>{"neogeo"});
}

TEST(Board, SetsOfTheSameRomsAreTiedAndNodumpsAndBadDumpsAreSaid) {
    CatalogueBuilder b;
    // Nobody has read the PAL; the only dump of i4 the database knows is a bad one.
    addSet(b, {.name = "invaders"},
           {{"i1", 0x1001},
            {"i2", 0x1002},
            {"pal", 0, {}, RomStatus::NoDump},
            {"i3", 0x1003},
            {"i4", 0x1004, {}, RomStatus::BadDump}});
    addSet(b, clone("invadrmr", "invaders"),
           {{"i1", 0x1001, "i1"},
            {"i2", 0x1002, "i2"},
            {"i3", 0x1003, "i3"},
            {"i4", 0x1004, "i4", RomStatus::BadDump}});
    addSet(b, clone("sitv", "invaders"),
           {{"i1", 0x1001, "i1"}, {"i2", 0x1002, "i2"}, {"i3", 0x1003, "i3"}, {"tv4", 0x2004}});
    const Catalogue catalogue = b.build();
    const std::vector<Dump> board{dump("1", 0x1001), dump("2", 0x1002), dump("3", 0x1003),
                                  dump("4", 0x1004)};
    const BoardAnswer answer = judgeBoard(catalogue, board);
    EXPECT_EQ(names(answer), (std::vector<std::string>{"invaders", "invadrmr", "sitv"}));
    EXPECT_EQ(counts(answer.candidates[0]), "4 of 4");
    EXPECT_TRUE(answer.candidates[0].missing.empty());
    EXPECT_EQ(setNames(catalogue, answer.candidates[0].tiedWith),
              std::vector<std::string>{"invadrmr"});
    EXPECT_EQ(setNames(catalogue, answer.candidates[1].tiedWith),
              std::vector<std::string>{"invaders"});
    EXPECT_TRUE(answer.candidates[2].tiedWith.empty());
    EXPECT_EQ(chips(catalogue, answer, board),
              (std::vector<std::string>{"i1 found = 1", "i2 found = 2", "pal no good dump",
                                        "i3 found = 3", "i4 bad dump known = 4"}));
}

TEST(Board, DeviceRomsExplainDumpsButAreCountedApart) {
    CatalogueBuilder b;
    addSet(b, {.name = "polepos"}, {{"pp1", 0x1001}, {"pp2", 0x1002}}, {"z80", "namco51"});
    // A bootleg that carries the MCU's program in an EPROM of its own.
    addSet(b, clone("poleposb", "polepos"),
           {{"pp1", 0x1001, "pp1"}, {"pp2", 0x1002, "pp2"}, {"51xx", 0x5100}});
    addSet(b, {.name = "namco51", .isDevice = true}, {{"51xx", 0x5100}});
    addSet(b, {.name = "z80", .isDevice = true}, {});
    const Catalogue catalogue = b.build();

    const std::vector<Dump> withMcu{dump("1", 0x1001), dump("2", 0x1002), dump("mcu", 0x5100)};
    const BoardAnswer bootleg = judgeBoard(catalogue, withMcu);
    EXPECT_EQ(names(bootleg), (std::vector<std::string>{"poleposb", "polepos", "namco51"}));
    const Candidate& polepos = bootleg.candidates[1];
    EXPECT_EQ(counts(polepos), "2 of 2, devices 1 of 1");

    const std::vector<Dump> cpuOnly{dump("1", 0x1001), dump("2", 0x1002)};
    const BoardAnswer original = judgeBoard(catalogue, cpuOnly);
    EXPECT_EQ(names(original), (std::vector<std::string>{"polepos", "poleposb"}));
    EXPECT_EQ(counts(original.candidates[0]), "2 of 2, devices 0 of 1");
    EXPECT_EQ(chips(catalogue, original, cpuOnly),
              (std::vector<std::string>{"pp1 found = 1", "pp2 found = 2",
                                        "51xx device namco51 missing"}));
}

TEST(ForgedDump, HasTheCrcAskedForAtEverySize) {
    for (const std::size_t size : {4u, 5u, 7u, 64u, 4096u, 65537u})
        for (const std::uint32_t crc : {0x00000000u, 0xFFFFFFFFu, 0xDEADBEEFu, 0x12345678u}) {
            const testing::Bytes bytes = testing::bytesWithCrc(crc, size, std::uint32_t(size));
            ASSERT_EQ(bytes.size(), size);
            EXPECT_EQ(Crc32(0, bytes.data(), std::uint32_t(size)), crc) << size;
        }
    EXPECT_NE(testing::bytesWithCrc(0x1234, 64, 1), testing::bytesWithCrc(0x1234, 64, 2));
}

}  // namespace
}  // namespace chipsight::board
