// Boards judged against hand-built catalogues shaped like MAME's (families of revisions, PROMs
// many games share, a BIOS, devices, identical sets) and against catalogues loaded from DATs of
// every format.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "core/board/board.h"
#include "core/board/catalogue_loading.h"
#include "core/checksum/crc32.h"
#include "core/databases/dat/dat_internal.h"
#include "tests/support/test_support.h"

namespace chipsight::board {
namespace {

using namespace testing;

constexpr std::uint32_t kSize = 0x1000;

// Adds `set` with its ROMs, each "NAME:CRC" (the CRC in hex) followed by ">MERGE", "@BIOS",
// "!bad" or "!nodump" where the ROM has them, and the devices it uses.
void addSet(CatalogueBuilder& builder, const SetInfo& set, const std::string& roms,
            std::initializer_list<std::string_view> devices = {}) {
    builder.addSet(set);
    std::istringstream in(roms);
    for (std::string rom; in >> rom;) {
        const auto field = [&](char mark) {
            const auto at = rom.find(mark);
            return at == rom.npos ? ""
                                  : rom.substr(at + 1, rom.find_first_of(">@!", at + 1) - at - 1);
        };
        const std::string status = field('!');
        builder.addRom({.name = rom.substr(0, rom.find(':')),
                        .size = kSize,
                        .crc = std::uint32_t(std::stoul(field(':'), nullptr, 16)),
                        .status = status == "bad"      ? RomStatus::BadDump
                                  : status == "nodump" ? RomStatus::NoDump
                                                       : RomStatus::Good,
                        .merge = field('>'),
                        .bios = field('@'),
                        .region = "maincpu"});
    }
    for (const std::string_view device : devices) builder.addDeviceRef(device);
}

SetInfo clone(std::string_view name, std::string_view parent) {
    return {.name = name, .cloneOf = parent, .romOf = parent};
}

// Dumps as read from a board, each "NAME:CRC" (the CRC in hex).
std::vector<Dump> dumps(const std::string& list) {
    std::vector<Dump> out;
    std::istringstream in(list);
    for (std::string d; in >> d;)
        out.push_back({d.substr(0, d.find(':')),
                       std::uint32_t(std::stoul(d.substr(d.find(':') + 1), nullptr, 16)),
                       kSize,
                       {}});
    return out;
}

// Each candidate, best first: "name M of N[, devices M of N][; missing ROM...][; tied SET...]".
Strings candidates(const Catalogue& catalogue, const BoardAnswer& answer) {
    Strings out;
    for (const Candidate& c : answer.candidates) {
        std::string text(c.name);
        text += numbered(" ", long(c.matched)) + numbered(" of ", long(c.dumpable));
        if (c.deviceDumpable > 0)
            text += numbered(", devices ", long(c.deviceMatched)) +
                    numbered(" of ", long(c.deviceDumpable));
        if (!c.missing.empty()) text += "; missing";
        for (const RomId id : c.missing) text.append(" ").append(catalogue.rom(id).name);
        if (!c.tiedWith.empty()) text += "; tied";
        for (const SetId id : c.tiedWith) text.append(" ").append(catalogue.set(id).name);
        out.push_back(text);
    }
    return out;
}

std::string best(const Catalogue& catalogue, const BoardAnswer& answer) {
    const Strings all = candidates(catalogue, answer);
    return all.empty() ? "" : all[0];
}

// What no candidate explains: "SET has DUMP...", "DUMP is in N sets, SET...", "unknown DUMP...".
Strings unexplained(const Catalogue& catalogue, const BoardAnswer& answer) {
    Strings out;
    for (const Unexplained::FromOtherSet& other : answer.unexplained.otherSets) {
        std::string text = std::string(catalogue.set(other.set).name) + " has";
        for (const std::size_t dump : other.dumps) text += numbered(" ", long(dump));
        out.push_back(text);
    }
    for (const Unexplained::KnownChip& chip : answer.unexplained.knownChips) {
        std::string text = numbered(numbered("", long(chip.dump)) + " is in ", long(chip.setCount));
        text += " sets";
        for (const SetId id : chip.sets) text.append(", ").append(catalogue.set(id).name);
        out.push_back(text);
    }
    if (!answer.unexplained.unknown.empty()) out.push_back("unknown");
    for (const std::size_t dump : answer.unexplained.unknown)
        out.back() += numbered(" ", long(dump));
    return out;
}

// "name origin state [= dump]", one per chip line; the origin is "from SET" for a chip taken over
// from a parent or a BIOS, "device SET" for a device's, and the set itself otherwise.
Strings chips(const Catalogue& catalogue, const BoardAnswer& answer,
              const std::vector<Dump>& dumps) {
    Strings out;
    for (const ChipLine& line : answer.chips) {
        std::string text(catalogue.rom(line.rom).name);
        text += line.from == ChipFrom::Inherited ? " from "
                : line.from == ChipFrom::Device  ? " device "
                                                 : " ";
        text += line.origin == kNoSet ? "?" : std::string(catalogue.set(line.origin).name);
        text += line.state == ChipState::Found          ? " found"
                : line.state == ChipState::BadDumpKnown ? " bad dump known"
                : line.state == ChipState::NoGoodDump   ? " no good dump"
                : line.state == ChipState::Missing      ? " missing"
                                                        : " ?";
        if (line.dump) text += " = " + dumps[*line.dump].name;
        out.push_back(text);
    }
    return out;
}

// A parent, two clones and a bootleg, an unrelated hack that shares most of the parent's ROMs,
// and ten other games that share the video PROM: the clone-specific chip decides the revision,
// and the family stays together.
TEST(BoardOfAFamily, TheCloneSpecificChipDecidesTheRevisionAndTheFamilyStaysTogether) {
    CatalogueBuilder b;
    addSet(b, {.name = "galaga", .description = "Galaga (Namco rev. B)"},
           "gg1:1001 gg2:1002 gg3:1003 gfx1:1004 prom1:5001");
    // As MAME lists a clone: in region order, what it takes over under its parent's name.
    addSet(b, clone("galagao", "galaga"),
           "gg2:1002>gg2 go1:2001 gg3:1003>gg3 gfx1:1004>gfx1 prom1:5001>prom1");
    addSet(b, clone("galagamw", "galaga"),
           "gg1:1001>gg1 gg2:1002>gg2 mw3:3003 gfx1:1004>gfx1 prom1:5001>prom1");
    addSet(b, clone("gallag", "galaga"),
           "gb1:4001 gg2:1002>gg2 gg3:1003>gg3 gb4:4004 prom1:5001>prom1 gallag.6:4006");
    addSet(b, {.name = "xgalaga"}, "xg1:6001 gg2:1002 gg3:1003 gfx1:1004 prom1:5001");
    for (int i = 0; i < 10; ++i)
        addSet(b, {.name = numbered("namco", i)}, "cpu:" + hexText(0x7000 + i) + " prom1:5001");
    const Catalogue catalogue = b.build();

    const std::vector<Dump> board = dumps("a.bin:2001 b.bin:1002 c.bin:1003 d.bin:1004 e.bin:5001");
    const BoardAnswer answer = judgeBoard(catalogue, board);
    // xgalaga explains as much as galaga and more than the other revisions, but it is another
    // game: it comes after the whole family.
    EXPECT_EQ(
        candidates(catalogue, answer),
        (Strings{"galagao 5 of 5", "galaga 4 of 5; missing gg1", "galagamw 3 of 5; missing mw3 gg1",
                 "gallag 3 of 6; missing gb1 gb4 gallag.6", "xgalaga 4 of 5; missing xg1"}));
    EXPECT_EQ(answer.candidates[1].description, "Galaga (Namco rev. B)");
    EXPECT_EQ(unexplained(catalogue, answer), Strings{});

    // Two chips pulled: the revision is still named, with the chips missing; its own chip first,
    // then those it takes from its parent.
    const std::vector<Dump> pulled{board[0], board[1], board[4]};
    const BoardAnswer fewer = judgeBoard(catalogue, pulled);
    EXPECT_EQ(best(catalogue, fewer), "galagao 3 of 5; missing gg3 gfx1");
    EXPECT_EQ(chips(catalogue, fewer, pulled),
              (Strings{"go1 galagao found = a.bin", "gg2 from galaga found = b.bin",
                       "gg3 from galaga missing", "gfx1 from galaga missing",
                       "prom1 from galaga found = e.bin"}));
}

TEST(Board, APromManyGamesShareDoesNotDragAnUnrelatedGameUp) {
    CatalogueBuilder b;
    addSet(b, {.name = "bosco"}, "bo1:1001 bo2:1002 p1:5001");
    const std::string proms = " p1:5001 p2:5002 p3:5003 p4:5004";
    addSet(b, {.name = "rallyx"}, "rx1:2001" + proms);
    for (int i = 0; i < 30; ++i)
        addSet(b, {.name = numbered("namco", 10 + i)}, "cpu:" + hexText(0x7000 + i) + proms);
    const Catalogue catalogue = b.build();
    // The two CPU ROMs only bosco holds, and four PROMs that rallyx and thirty others hold.
    const BoardAnswer answer =
        judgeBoard(catalogue, dumps("1:1001 2:1002 3:5001 4:5002 5:5003 6:5004"));
    EXPECT_EQ(best(catalogue, answer), "bosco 3 of 3");
    // Nor are the PROMs left over said to be rallyx's: no set is told apart by them.
    const std::string sets = " is in 31 sets, namco10, namco11, namco12";
    EXPECT_EQ(unexplained(catalogue, answer), (Strings{"3" + sets, "4" + sets, "5" + sets}));
}

TEST(Board, AMixedBoardIsSplitByTheSetsItsChipsComeFrom) {
    CatalogueBuilder b;
    addSet(b, {.name = "puckman"}, "pm1:1001 pm2:1002 pm3:1003 pm4:1004");
    std::uint32_t own = 0x2000;
    for (const char* name : {"pacman", "pacmanf", "puckmod", "pacmod", "hangly", "newpuc2"})
        addSet(b, clone(name, "puckman"),
               "pm1:1001>pm1 pm2:1002>pm2 pm3:1003>pm3 own:" + hexText(++own));
    addSet(b, {.name = "digdug"}, "dd1:3001 dd2:3002");
    b.addRom({.name = "dd3", .size = kSize, .crc = 0x3003, .sha1 = Sha1{1}});
    const Catalogue catalogue = b.build();
    // puckman's four chips, two of digdug's, and one nobody knows: it has the CRC-32 of
    // digdug's third chip but not its SHA-1.
    std::vector<Dump> board = dumps("1:1001 2:3001 3:1002 4:1003 5:3002 6:1004 7:3003");
    board.back().sha1 = Sha1{2};
    const BoardAnswer answer = judgeBoard(catalogue, board);
    // Four chips of a game with six clones are more than two of a game without any.
    EXPECT_EQ(best(catalogue, answer), "puckman 4 of 4");
    EXPECT_EQ(unexplained(catalogue, answer), (Strings{"digdug has 1 4", "unknown 6"}));
}

// A BIOS and three games that take its ROMs over, as MAME lists them: a game's board is the game
// with the BIOS chips as its own, the BIOS chips alone are the motherboard.
TEST(Board, AGameOnABiosOwnsItsChipsAndTheBiosAloneIsTheMotherboard) {
    CatalogueBuilder b;
    // Two BIOS programs to choose from (a board carries one), and the chips all boards have.
    addSet(b, {.name = "neogeo", .isBios = true},
           "sp-s2:1001@euro sp-u2:1005@us sm1:1002 sfix:1003 lo:1004");
    // A game lists the BIOS's ROMs after its own, under the names they have there.
    const std::string bios =
        " sp-s2:1001>sp-s2@euro sp-u2:1005>sp-u2@us sm1:1002>sm1 sfix:1003>sfix lo:1004>lo";
    addSet(b, {.name = "mslug", .romOf = "neogeo"}, "ms-p1:2001 ms-s1:2002 ms-m1:2003" + bios);
    addSet(b, {.name = "kof98", .romOf = "neogeo"}, "k-p1:3001 k-p2:3002" + bios);
    // Its BIOS ROMs come through its parent.
    addSet(b, {.name = "kof98a", .cloneOf = "kof98", .romOf = "kof98"},
           "k-p1:3001>k-p1 ka-p2:3102" + bios);
    addSet(b, {.name = "lbowling", .romOf = "neogeo"}, "lb-p1:4001" + bios);
    addSet(b, clone("ng_mv1", "neogeo"), bios);
    const Catalogue catalogue = b.build();

    const std::vector<Dump> board = dumps("sp:1001 sm:1002 sfix:1003 lo:1004 p1:3001 p2:3102");
    const BoardAnswer answer = judgeBoard(catalogue, board);
    EXPECT_EQ(best(catalogue, answer), "kof98a 6 of 6");
    EXPECT_EQ(chips(catalogue, answer, board),
              (Strings{"ka-p2 kof98a found = p2", "k-p1 from kof98 found = p1",
                       "sp-s2 from neogeo found = sp", "sm1 from neogeo found = sm",
                       "sfix from neogeo found = sfix", "lo from neogeo found = lo"}));

    // The motherboard holds exactly the BIOS's ROMs; of the two, the machine is said first.
    const BoardAnswer alone = judgeBoard(catalogue, {board.begin(), board.begin() + 4});
    EXPECT_EQ(candidates(catalogue, alone),
              (Strings{"ng_mv1 4 of 4; tied neogeo", "neogeo 4 of 4; tied ng_mv1",
                       "lbowling 4 of 5; missing lb-p1", "kof98 4 of 6; missing k-p1 k-p2",
                       "kof98a 4 of 6; missing ka-p2 k-p1"}));
}

TEST(Board, SetsOfTheSameRomsAreTiedAndNodumpsAndBadDumpsAreSaid) {
    CatalogueBuilder b;
    // Nobody has read the PAL; the only dump of i4 the database knows is a bad one.
    addSet(b, {.name = "invaders"}, "i1:1001 i2:1002 pal:0!nodump i3:1003 i4:1004!bad");
    addSet(b, clone("invadrmr", "invaders"), "i1:1001>i1 i2:1002>i2 i3:1003>i3 i4:1004>i4!bad");
    addSet(b, clone("sitv", "invaders"), "i1:1001>i1 i2:1002>i2 i3:1003>i3 tv4:2004");
    const Catalogue catalogue = b.build();
    const std::vector<Dump> board = dumps("1:1001 2:1002 3:1003 4:1004");
    const BoardAnswer answer = judgeBoard(catalogue, board);
    EXPECT_EQ(candidates(catalogue, answer),
              (Strings{"invaders 4 of 4; tied invadrmr", "invadrmr 4 of 4; tied invaders",
                       "sitv 3 of 4; missing tv4"}));
    EXPECT_EQ(
        chips(catalogue, answer, board),
        (Strings{"i1 invaders found = 1", "i2 invaders found = 2", "pal invaders no good dump",
                 "i3 invaders found = 3", "i4 invaders bad dump known = 4"}));
}

TEST(Board, DeviceRomsExplainDumpsButAreCountedApart) {
    CatalogueBuilder b;
    addSet(b, {.name = "polepos"}, "pp1:1001 pp2:1002", {"z80", "namco51"});
    // A bootleg that carries the MCU's program in an EPROM of its own.
    addSet(b, clone("poleposb", "polepos"), "pp1:1001>pp1 pp2:1002>pp2 51xx:5100");
    addSet(b, {.name = "namco51", .isDevice = true}, "51xx:5100");
    addSet(b, {.name = "z80", .isDevice = true}, "");
    const Catalogue catalogue = b.build();

    EXPECT_EQ(candidates(catalogue, judgeBoard(catalogue, dumps("1:1001 2:1002 mcu:5100"))),
              (Strings{"poleposb 3 of 3", "polepos 2 of 2, devices 1 of 1", "namco51 1 of 1"}));

    const std::vector<Dump> cpuOnly = dumps("1:1001 2:1002");
    const BoardAnswer original = judgeBoard(catalogue, cpuOnly);
    EXPECT_EQ(candidates(catalogue, original),
              (Strings{"polepos 2 of 2, devices 0 of 1", "poleposb 2 of 3; missing 51xx"}));
    EXPECT_EQ(
        chips(catalogue, original, cpuOnly),
        (Strings{"pp1 polepos found = 1", "pp2 polepos found = 2", "51xx device namco51 missing"}));
}

// Catalogues loaded from hand-made DATs of every format: the sets, their relations and every
// ROM as the DAT lists it, and a board of forged dumps judged against what was loaded.

// A set on one line, "name "description" cloneof P romof R bios device uses D...", then each of
// its ROMs on one of its own, "  name size crc [sha1 00112233] [bad|nodump] [merge M]
// [bios B] region[@offset] [wN]". A name that resolves to no set is shown with a "?".
Strings describe(const Catalogue& c) {
    Strings out;
    const auto related = [&](SetId id, std::string_view name) {
        return id == kNoSet ? std::string("?").append(name) : std::string(c.set(id).name);
    };
    for (SetId id = 0; id < c.setCount(); ++id) {
        const CatalogueSet& s = c.set(id);
        std::string line = std::string(s.name) + " \"" + std::string(s.description) + "\"";
        if (!s.cloneOf.empty()) line.append(" cloneof ").append(related(s.parent, s.cloneOf));
        if (!s.romOf.empty()) line.append(" romof ").append(related(s.romOfSet, s.romOf));
        if (s.isBios) line += " bios";
        if (s.isDevice) line += " device";
        for (const SetId device : c.devices(id))
            line.append(" uses ").append(std::string(c.set(device).name));
        out.push_back(line);
        for (const CatalogueRom& r : c.roms(id)) {
            std::string rom = "  ";
            rom.append(r.name).append(" ").append(std::to_string(r.size));
            if (r.dumpable()) rom.append(" ").append(hexText(r.crc));
            if (r.sha1) rom.append(" sha1 ").append(hexBytes(std::span(*r.sha1).first(4)));
            if (r.status == RomStatus::BadDump) rom += " bad";
            if (r.status == RomStatus::NoDump) rom += " nodump";
            if (!r.merge.empty()) rom.append(" merge ").append(std::string(r.merge));
            if (!r.bios.empty()) rom.append(" bios ").append(std::string(r.bios));
            rom.append(" ").append(std::string(r.region));
            if (r.offset) rom.append("@").append(std::to_string(*r.offset));
            if (r.dataWidth) rom.append(" w").append(std::to_string(r.dataWidth));
            if (r.bigEndian) rom.append(" big");
            out.push_back(rom);
        }
    }
    return out;
}

// Dumps of the ROMs named, as read from a board.
std::vector<Dump> forge(const Catalogue& c, SetId set,
                        std::initializer_list<std::string_view> names) {
    std::vector<Dump> dumps;
    for (const std::string_view name : names) {
        std::optional<CatalogueRom> found;
        for (const CatalogueRom& r : c.roms(set))
            if (r.name == name) found = r;
        if (found)
            dumps.push_back({std::string(name) + ".bin", found->crc, found->size, {}});
        else
            ADD_FAILURE() << "no ROM " << name;
    }
    return dumps;
}

// `dats` (file name, text) written to a temporary directory and loaded.
struct Loaded {
    Loaded(std::initializer_list<std::pair<std::string, std::string>> dats) {
        Strings paths;
        for (const auto& [name, text] : dats) {
            paths.push_back(dir.file(name));
            if (!text.empty()) writeFile(paths.back(), text);
        }
        catalogue = loadCatalogue(paths, files);
    }
    // Each file as "format SETS/ROMS[: why nothing came from it]".
    Strings said() const {
        Strings out;
        for (const CatalogueFile& f : files)
            out.push_back(std::string(datFormatName(f.format)) + numbered(" ", long(f.sets)) +
                          numbered("/", long(f.roms)) + (f.failure.empty() ? "" : ": ") +
                          f.failure);
        return out;
    }

    TempDir dir;
    Catalogue catalogue;
    std::vector<CatalogueFile> files;
};

// A BIOS with two choices, a game on it with a clone, and the devices they use.
const char* const kListXml = R"(<?xml version="1.0"?>
<mame build="test">
  <machine name="mvs" isbios="yes"><description>MVS BIOS</description>
    <biosset name="euro" description="Europe" default="yes"/><biosset name="asia" description="Asia"/>
    <rom name="euro.sp1" bios="euro" size="4096" crc="b1000001" region="mainbios" offset="0"/>
    <rom name="asia.sp1" bios="asia" size="4096" crc="b1000002" region="mainbios" offset="0"/>
    <rom name="sfix.sfix" size="4096" crc="b1000003" sha1="00112233445566778899AABBCCDDEEFF00112233" region="fixed" offset="0"/>
    <device_ref name="audiocpu"/><device_ref name="speaker"/>
  </machine>
  <machine name="puzzle" romof="mvs"><description>Puzzle &amp; Match</description>
    <rom name="euro.sp1" merge="euro.sp1" bios="euro" size="4096" crc="b1000001" region="mainbios" offset="0"/>
    <rom name="asia.sp1" merge="asia.sp1" bios="asia" size="4096" crc="b1000002" region="mainbios" offset="0"/>
    <rom name="sfix.sfix" merge="sfix.sfix" size="4096" crc="b1000003" region="fixed" offset="0"/>
    <rom name="pz.p1" size="4096" crc="a1000001" region="cslot1:maincpu" offset="0x100"/>
    <rom name="pz.c1" size="4096" status="nodump" region="cslot1:sprites" offset="0"/>
    <chip type="cpu" tag="maincpu" name="68000" clock="12000000"/>
    <device_ref name="audiocpu"/><device_ref name="speaker"/><driver status="good"/>
  </machine>
  <machine name="puzzlea" cloneof="puzzle" romof="puzzle">
    <description>Puzzle &amp; Match (set 2)</description>
    <rom name="euro.sp1" merge="euro.sp1" bios="euro" size="4096" crc="b1000001" region="mainbios" offset="0"/>
    <rom name="asia.sp1" merge="asia.sp1" bios="asia" size="4096" crc="b1000002" region="mainbios" offset="0"/>
    <rom name="sfix.sfix" merge="sfix.sfix" size="4096" crc="b1000003" region="fixed" offset="0"/>
    <rom name="pza.p1" size="4096" crc="a2000001" status="baddump" region="cslot1:maincpu" offset="0x100"/>
    <rom name="pz.c1" merge="pz.c1" size="4096" status="nodump" region="cslot1:sprites" offset="0"/>
    <device_ref name="audiocpu"/>
  </machine>
  <machine name="audiocpu" isdevice="yes" runnable="no"><description>Sound CPU</description>
    <rom name="audio.bin" size="4096" crc="d1000001" region="audiocpu:prg"/>
  </machine>
  <machine name="speaker" isdevice="yes" runnable="no"><description>Speaker</description></machine>
</mame>
)";

TEST(CatalogueLoading, ListXmlMachinesKeepEveryRomTheirBiosChoicesAndTheirDevices) {
    const Loaded loaded{{"mame.xml", kListXml}};
    EXPECT_EQ(loaded.said(), Strings{"MAME ListXML 5/14"});
    const Catalogue& c = loaded.catalogue;
    EXPECT_EQ(describe(c), (Strings{
                               "mvs \"MVS BIOS\" bios uses audiocpu",
                               "  euro.sp1 4096 b1000001 bios euro mainbios@0",
                               "  asia.sp1 4096 b1000002 bios asia mainbios@0",
                               "  sfix.sfix 4096 b1000003 sha1 00112233 fixed@0",
                               "puzzle \"Puzzle & Match\" romof mvs uses audiocpu",
                               "  euro.sp1 4096 b1000001 merge euro.sp1 bios euro mainbios@0",
                               "  asia.sp1 4096 b1000002 merge asia.sp1 bios asia mainbios@0",
                               "  sfix.sfix 4096 b1000003 merge sfix.sfix fixed@0",
                               "  pz.p1 4096 a1000001 cslot1:maincpu@256",
                               "  pz.c1 4096 nodump cslot1:sprites@0",
                               "puzzlea \"Puzzle & Match (set 2)\" cloneof puzzle romof puzzle "
                               "uses audiocpu",
                               "  euro.sp1 4096 b1000001 merge euro.sp1 bios euro mainbios@0",
                               "  asia.sp1 4096 b1000002 merge asia.sp1 bios asia mainbios@0",
                               "  sfix.sfix 4096 b1000003 merge sfix.sfix fixed@0",
                               "  pza.p1 4096 a2000001 bad cslot1:maincpu@256",
                               "  pz.c1 4096 nodump merge pz.c1 cslot1:sprites@0",
                               "audiocpu \"Sound CPU\" device",
                               "  audio.bin 4096 d1000001 audiocpu:prg",
                               "speaker \"Speaker\" device",
                           }));
    const auto puzzle = c.find(SetKind::Machine, "", "puzzle"),
               mvs = c.find(SetKind::Machine, "", "mvs"),
               audio = c.find(SetKind::Machine, "", "audiocpu");
    ASSERT_TRUE(puzzle && mvs && audio);
    EXPECT_EQ(c.originOf(*puzzle, c.roms(*puzzle)[0]), *mvs);

    // Puzzle's board as it is: the European BIOS, its own ROM and the sound CPU's.
    std::vector<Dump> board = forge(c, *puzzle, {"euro.sp1", "sfix.sfix", "pz.p1"});
    const std::vector<Dump> sound = forge(c, *audio, {"audio.bin"});
    board.insert(board.end(), sound.begin(), sound.end());
    const BoardAnswer answer = judgeBoard(c, board);
    EXPECT_EQ(best(c, answer), "puzzle 3 of 3, devices 1 of 1");
    EXPECT_EQ(chips(c, answer, board),
              (Strings{"pz.p1 puzzle found = pz.p1.bin", "pz.c1 puzzle no good dump",
                       "euro.sp1 from mvs found = euro.sp1.bin",
                       "sfix.sfix from mvs found = sfix.sfix.bin",
                       "audio.bin device audiocpu found = audio.bin.bin"}));
}

// An item and its clone, whose 16-bit ROM is loaded in pieces, and a second list with an item
// of the same name as the first list's clone.
const char* const kNes = R"(<?xml version="1.0"?>
<softwarelist name="nes" description="NES cartridges">
  <software name="quest"><description>Quest</description>
    <part name="cart" interface="nes_cart">
      <dataarea name="prg" size="8192">
        <rom name="quest.prg" size="8192" crc="c1000001" sha1="00112233445566778899aabbccddeeff00112233" offset="0"/>
      </dataarea>
      <dataarea name="chr" size="4096"><rom name="quest.chr" size="4096" crc="c1000002" offset="0"/></dataarea>
    </part>
  </software>
  <software name="questj" cloneof="quest"><description>Quest (Japan)</description>
    <part name="cart" interface="nes_cart">
      <dataarea name="prg" size="16384" width="16" endianness="big">
        <rom name="questj.lo" size="4096" crc="c2000001" offset="0" loadflag="load16_byte"/>
        <rom size="4096" offset="0x2000" loadflag="continue"/>
        <rom name="questj.hi" size="4096" crc="c2000002" offset="1" loadflag="load16_byte"/>
      </dataarea>
      <dataarea name="chr" size="4096">
        <rom name="quest.chr" size="4096" crc="c1000002" offset="0"/>
        <rom name="questj.chr2" size="4096" status="nodump" offset="0x1000"/>
      </dataarea>
    </part>
  </software>
</softwarelist>
)";

const char* const kFamicom = R"(<?xml version="1.0"?>
<softwarelist name="famicom" description="Famicom cartridges">
  <software name="questj" cloneof="quest"><description>Quest (Famicom)</description>
    <part name="cart" interface="famicom_cart">
      <dataarea name="prg" size="4096"><rom name="fc.prg" size="4096" crc="c3000001" offset="0"/></dataarea>
    </part>
  </software>
</softwarelist>
)";

TEST(CatalogueLoading, SoftwareListItemsResolveWithinTheirListAndKeepTheirDataAreas) {
    const Loaded loaded{{"nes.xml", kNes}, {"famicom.xml", kFamicom}};
    EXPECT_EQ(loaded.said(), (Strings{"MAME software list 2/6", "MAME software list 1/1"}));
    const Catalogue& c = loaded.catalogue;
    EXPECT_EQ(describe(c), (Strings{
                               "quest \"Quest\"",
                               "  quest.prg 8192 c1000001 sha1 00112233 prg@0",
                               "  quest.chr 4096 c1000002 chr@0",
                               "questj \"Quest (Japan)\" cloneof quest",
                               "  questj.lo 4096 c2000001 prg@0 w16 big",
                               "  questj.hi 4096 c2000002 prg@1 w16 big",
                               "  quest.chr 4096 c1000002 chr@0",
                               "  questj.chr2 4096 nodump chr@4096",
                               "questj \"Quest (Famicom)\" cloneof ?quest",
                               "  fc.prg 4096 c3000001 prg@0",
                           }));
    const auto questj = c.find(SetKind::SoftwareItem, "nes", "questj");
    ASSERT_TRUE(questj);
    EXPECT_EQ(c.set(*questj).list, "nes");
    EXPECT_EQ(c.find(SetKind::SoftwareItem, "famicom", "questj"), SetId(2));
    EXPECT_EQ(best(c, judgeBoard(c, forge(c, *questj, {"questj.lo", "questj.hi", "quest.chr"}))),
              "questj 3 of 3");
}

// A BIOS in a resource block, a game on it and its clone as a split DAT lists it: its own ROMs
// only. A Logiqx DAT has sets of the same names, which must not mix with these.
const char* const kClrMamePro = R"dat(clrmamepro ( name "Test arcade" description "Test arcade" )

resource ( name sysbios description "System BIOS"
	rom ( name bios.u1 size 4096 crc e1000001 )
)

game (
	name racer
	description "Racer"
	romof sysbios
	rom ( name racer.u2 size 4096 crc e2000001 sha1 00112233445566778899aabbccddeeff00112233 )
	rom ( name bios.u1 merge bios.u1 size 4096 crc e1000001 )
	rom ( name racer.u4 merge gone.u4 size 4096 crc e2000004 )
)

game (
	name racerb
	description "Racer (bootleg)"
	cloneof racer
	romof racer
	rom ( name racerb.u2 size 4096 crc e3000001 flags baddump )
	rom ( name racer.u3 size 4096 flags nodump )
)
)dat";

const char* const kLogiqx = R"(<?xml version="1.0"?>
<datafile>
  <header><name>Other arcade</name></header>
  <game name="sysbios" isbios="yes"><description>Other BIOS</description>
    <rom name="other.u1" size="4096" crc="f1000001" status="good"/>
  </game>
  <machine name="racer" romof="sysbios"><description>Racer (other)</description>
    <rom name="other.u2" size="4096" crc="f2000001"/>
  </machine>
  <machine name="racerb" cloneof="racer" romof="racer"><description>Racer (other bootleg)</description>
    <rom name="other.u3" size="4096" crc="f3000001"/>
  </machine>
</datafile>
)";

TEST(CatalogueLoading, DatGamesKeepTheirRelationsWithinTheirOwnDat) {
    const Loaded loaded{{"arcade.dat", kClrMamePro}, {"other.xml", kLogiqx}};
    EXPECT_EQ(loaded.said(), (Strings{"ClrMamePro 3/6", "Logiqx XML 3/3"}));
    const Catalogue& c = loaded.catalogue;
    EXPECT_EQ(describe(c), (Strings{
                               "sysbios \"System BIOS\" bios",
                               "  bios.u1 4096 e1000001 ",
                               "racer \"Racer\" romof sysbios",
                               "  racer.u2 4096 e2000001 sha1 00112233 ",
                               "  bios.u1 4096 e1000001 merge bios.u1 ",
                               "  racer.u4 4096 e2000004 merge gone.u4 ",
                               "racerb \"Racer (bootleg)\" cloneof racer romof racer",
                               "  racerb.u2 4096 e3000001 bad ",
                               "  racer.u3 4096 nodump ",
                               "sysbios \"Other BIOS\" bios",
                               "  other.u1 4096 f1000001 ",
                               "racer \"Racer (other)\" romof sysbios",
                               "  other.u2 4096 f2000001 ",
                               "racerb \"Racer (other bootleg)\" cloneof racer romof racer",
                               "  other.u3 4096 f3000001 ",
                           }));
    const std::string other = loaded.dir.file("other.xml");
    const auto racer = c.find(SetKind::DatGame, loaded.dir.file("arcade.dat"), "racer"),
               otherRacer = c.find(SetKind::DatGame, other, "racer"),
               otherBootleg = c.find(SetKind::DatGame, other, "racerb");
    ASSERT_TRUE(racer && otherRacer && otherBootleg);
    EXPECT_EQ(c.set(*otherBootleg).parent, *otherRacer);
    // A merge name its romof set does not hold takes nothing over: the chip is racer's own.
    const std::vector<Dump> board = forge(c, *racer, {"racer.u2", "bios.u1", "racer.u4"});
    const BoardAnswer answer = judgeBoard(c, board);
    EXPECT_EQ(best(c, answer), "racer 3 of 3");
    EXPECT_EQ(chips(c, answer, board),
              (Strings{"racer.u2 racer found = racer.u2.bin", "racer.u4 racer found = racer.u4.bin",
                       "bios.u1 from sysbios found = bios.u1.bin"}));
}

TEST(CatalogueLoading, AFileThatFailsGivesNoneOfItsSetsAndSaysWhy) {
    // Its first machine is whole; the second is cut off.
    const std::string cut = std::string(kListXml).substr(
        0, std::string(kListXml).find("<machine name=\"puzzlea\"") + 60);
    const Loaded loaded{{"cut.xml", cut},
                        {"missing.dat", ""},
                        {"readme.txt", "Nothing to see here.\n"},
                        {"arcade.dat", kClrMamePro}};
    EXPECT_EQ(loaded.said(), (Strings{"MAME ListXML 0/0: line 20: unclosed <machine> element",
                                      " 0/0: cannot open the file", " 0/0", "ClrMamePro 3/6"}));
    EXPECT_EQ(loaded.catalogue.setCount(), 3u);
    EXPECT_FALSE(loaded.catalogue.find(SetKind::Machine, "", "mvs"));
}

// What a sink that wants whole sets hears, one line per set and one per ROM.
struct SetRecorder : DatSink {
    bool wantsSets() const override { return true; }
    void rom(const DatRom& r) override { entries.push_back(std::string(r.name)); }
    void set(const DatWholeSet& s) override {
        std::string line = std::string(s.name) + "|" + std::string(s.description) + "|" +
                           std::string(s.listName) + "|" + std::string(s.cloneOf) + "|" +
                           std::string(s.romOf) + (s.isBios ? "|bios" : "") +
                           (s.isDevice ? "|device" : "");
        for (const std::string_view ref : s.deviceRefs) line += "|uses " + std::string(ref);
        sets.push_back(line);
        for (const DatSetRom& r : s.roms)
            sets.push_back(
                "  " + std::string(r.name) + "|" + (r.size ? std::to_string(*r.size) : "-") + "|" +
                (r.crc ? hexText(*r.crc) : "-") + "|" + std::string(r.sha1) + "|" +
                std::to_string(int(r.status)) + "|" + std::string(r.merge) + "|" +
                std::string(r.bios) + "|" + std::string(r.region) + "|" +
                (r.offset ? std::to_string(*r.offset) : "-") + "|" + std::to_string(r.dataWidth));
    }
    Strings entries, sets;
};

TEST(CatalogueLoading, WholeSetsAreTheSameWhicheverWayTheXmlIsReadAndEntriesAreUnchanged) {
    for (const char* dat : {kListXml, kNes, kLogiqx}) {
        SetRecorder scanner, expat, pieces;
        ASSERT_TRUE(dat::readDatBytesWith(dat, scanner, dat::XmlEngine::Scanner).ok);
        ASSERT_TRUE(dat::readDatBytesWith(dat, expat, dat::XmlEngine::ExpatOnly).ok);
        ASSERT_TRUE(dat::readDatBytesWith(dat, pieces, dat::XmlEngine::Scanner, 7).ok);
        EXPECT_FALSE(scanner.sets.empty());
        EXPECT_EQ(scanner.sets, expat.sets);
        EXPECT_EQ(scanner.sets, pieces.sets);
        // The entries are those a sink that wants no sets gets.
        struct Names : DatSink {
            void rom(const DatRom& r) override { names.push_back(std::string(r.name)); }
            Strings names;
        } plain;
        ASSERT_TRUE(readDatBytes(dat, plain).ok);
        EXPECT_EQ(scanner.entries, plain.names);
    }
}
}  // namespace
}  // namespace chipsight::board
