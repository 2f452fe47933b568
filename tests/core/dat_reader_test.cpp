// The DAT readers over hand-made DATs of every format: which ROMs become entries and what
// they keep, and what a malformed file says. Every XML case is read by the scanner and by
// expat alone, which must agree.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>

#include "core/databases/dat/dat_internal.h"
#include "tests/support/archive_writer.h"
#include "tests/support/fault_injection.h"
#include "tests/support/process.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using namespace testing;

// Every field of a ROM on one line: set|description|list|name|crc|size|sha1|region|offset|
// width|endianness|loadflag, then "bad" for a bad dump.
struct Recorder : DatSink {
    void rom(const DatRom& r) override {
        char numbers[64];
        std::snprintf(numbers, sizeof numbers, "%08x|%u", r.crc, r.size);
        std::string line = std::string(r.setName) + "|" + std::string(r.setDescription) + "|" +
                           std::string(r.listName) + "|" + std::string(r.name) + "|" + numbers +
                           "|" + std::string(r.sha1) + "|" + std::string(r.region) + "|" +
                           (r.hasOffset ? std::to_string(r.offset) : "-") + "|" +
                           std::to_string(r.dataWidth) + "|" + std::string(r.endianness) + "|" +
                           std::string(r.loadFlag);
        lines.push_back(r.badDump ? line + "|bad" : line);
    }
    Strings lines;
};

struct Read {
    DatResult result;
    Strings roms;
};

Read readWith(std::string_view bytes, dat::XmlEngine engine) {
    Recorder sink;
    Read read{dat::readDatBytesWith(bytes, sink, engine), {}};
    read.roms = std::move(sink.lines);
    return read;
}

// Reads `bytes` with both XML engines, which must agree on everything.
Read readBoth(std::string_view bytes) {
    const Read scanner = readWith(bytes, dat::XmlEngine::Scanner);
    const Read expat = readWith(bytes, dat::XmlEngine::ExpatOnly);
    const auto all = [](const Read& r) {
        return std::tie(r.roms, r.result.format, r.result.ok, r.result.line, r.result.reason);
    };
    EXPECT_EQ(all(scanner), all(expat));
    return scanner;
}

const char* const kSha1 = "0123456789abcdef0123456789abcdef01234567";

struct Good {
    const char* what;
    std::string dat;
    DatFormat format;
    Strings roms;
};

class DatReader : public ::testing::TestWithParam<Good> {};

TEST_P(DatReader, ReadsEntriesWithWhatTheyKeep) {
    const Good& c = GetParam();
    const Read read = readBoth(c.dat);
    EXPECT_TRUE(read.result.ok) << read.result.line << ": " << read.result.reason;
    EXPECT_EQ(read.result.format, c.format);
    EXPECT_EQ(read.roms, c.roms);
    if (c.format != DatFormat::None) {
        EXPECT_EQ(read.result.bytes, c.dat.size());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, DatReader,
    ::testing::Values(
        Good{"ListXML: attributes in any order, entities, merge, nodump, bad dumps, any hex case",
             R"(<?xml version="1.0"?>
<!DOCTYPE mame [
<!ELEMENT mame (machine+)>
]>
<mame build="x">
	<machine name="tom" sourcefile="t.cpp">
		<description>Tom &amp; Jerry &lt;World&gt; &#x263A;&#65;</description>
		<year>1990</year>
		<rom name="t1.bin" size="1024" crc="DEADBEEF" sha1="0123456789ABCDEF0123456789abcdef01234567" region="maincpu" offset="8000"/>
		<rom crc="0000abCD" offset="0" region="gfx" size="0x800" name="t2.bin" status="baddump"/>
		<rom name="t3.bin" size="512" status="nodump"/>
		<rom name="t4.bin" crc="12345678"/>
		<rom name="t5.bin" size="16"/>
		<chip name="rom" size="x" crc="y"/>
	</machine>
	<machine name="tomj" cloneof="tom">
		<description>Tom (Japan)</description>
		<rom name="t1.bin" merge="t1.bin" size="1024" crc="deadbeef"/>
		<rom name="tj2.bin" size="2048" crc="cafef00d" bios="jp"/>
	</machine>
</mame>
)",
             DatFormat::ListXml,
             {"tom|Tom & Jerry <World> \xe2\x98\xba"
              "A||t1.bin|deadbeef|1024|" +
                  std::string(kSha1) + "|maincpu|32768|0||",
              "tom|Tom & Jerry <World> \xe2\x98\xba"
              "A||t2.bin|0000abcd|2048||gfx|0|0|||bad",
              "tomj|Tom (Japan)||tj2.bin|cafef00d|2048|||-|0||"}},
        Good{"older ListXML: <mess> and <game>; a BOM, CR LF, comments, a description after the "
             "ROMs",
             "\xef\xbb\xbf<?xml version=\"1.0\"?>\r\n<mess>\r\n<!-- a comment -->\r\n<game "
             "name=\"g\">\r\n<rom name=\"a\r\nb\" size=\"1\" crc=\"00000001\"/>\r\n"
             "<description>two\r\nlines<!-- inside -->, kept</description>\r\n</game>\r\n"
             "</mess>\r\n",
             DatFormat::ListXml,
             {"g|two\nlines, kept||a b|00000001|1|||-|0||"}},
        Good{"a DTD's defaults and its token attributes' blanks",
             R"(<!DOCTYPE mame [
<!ATTLIST rom status (baddump|nodump|good) "baddump">
<!ATTLIST rom status CDATA "good">
<!ATTLIST rom region NMTOKEN #IMPLIED>
]><mame><machine name="m"><rom name="r" size="1" crc="00000002" region="  cpu  "/>
<rom name="s" size="1" crc="00000003" status="  good"/></machine></mame>)",
             DatFormat::ListXml,
             {"m|||r|00000002|1||cpu|-|0|||bad", "m|||s|00000003|1|||-|0||"}},
        Good{"software lists: list name, dataarea, loadflag, UTF-8, single quotes",
             R"(<?xml version="1.0"?>
<!DOCTYPE softwarelist SYSTEM "softwarelist.dtd">
<softwarelist name="cart" description="Carts">
	<software name='s1'>
		<description>Café &quot;One&quot;</description>
		<part name="cart" interface="c">
			<dataarea name="rom" size="0x10000" width="16" endianness="big">
				<rom name="s1.lo" size="32768" crc="11111111" offset="0x000000" loadflag="load16_byte"/>
				<rom size="32768" offset="0x10000" loadflag="continue"/>
			</dataarea>
			<diskarea name="cdrom"><disk name="d" sha1="0123456789abcdef0123456789abcdef01234567"/></diskarea>
		</part>
	</software>
</softwarelist>
)",
             DatFormat::SoftwareList,
             {"s1|Caf\xc3\xa9 \"One\"|cart|s1.lo|11111111|32768||rom|0|16|big|load16_byte"}},
        Good{
            "software lists under <softwarelists>",
            R"(<softwarelists><softwarelist name="a"><software name="x"><description>X</description>
<part name="p"><dataarea name="d"><rom name="x.bin" size="4" crc="0000000f"/></dataarea></part>
</software></softwarelist><softwarelist name="b"><software name="y"><part name="p">
<dataarea name="d"><rom name="y.bin" size="4" crc="000000f0"/></dataarea></part></software>
</softwarelist></softwarelists>)",
            DatFormat::SoftwareList,
            {"x|X|a|x.bin|0000000f|4||d|-|0||", "y||b|y.bin|000000f0|4||d|-|0||"}},
        Good{"Logiqx: header, <game> and <machine>, md5 passed over",
             R"(<?xml version="1.0" encoding="utf-8"?>
<datafile>
	<header><name>Hand-made</name><description>Test</description></header>
	<game name="one"><description>One</description>
		<rom name="1.bin" size="8" crc="aaaaaaaa" md5="00112233445566778899aabbccddeeff" status="verified"/>
		<rom name="2.bin" size="8" crc="bbbbbbbb" merge="2.bin"/>
	</game>
	<machine name="two"><description>Two</description><rom name="3.bin" size="8" crc="cccccccc" status="baddump"/></machine>
</datafile>
)",
             DatFormat::Logiqx,
             {"one|One||1.bin|aaaaaaaa|8|||-|0||", "two|Two||3.bin|cccccccc|8|||-|0|||bad"}},
        Good{"ClrMamePro: quoting, unknown keys and blocks, merge, flags, CR LF",
             "clrmamepro (\r\n\tname \"Hand made\"\r\n\tversion 1\r\n)\r\n\r\n"
             "emulator ( name x ( nested ( deeper ) ) )\r\n"
             "game (\r\n\tname pac\r\n\tdescription \"Pac (the  one)\"\r\n"
             "\tsample ( x )\r\n\tmanufacturer \"Someone\"\r\n"
             "\trom ( name \"pac 1.bin\" size 4096 crc ABCDEF01 sha1 " +
                 std::string(kSha1) +
                 " region cpu offset 100 )\r\n"
                 "\trom ( name p2.bin size 0x1000 crc 00000002 flags baddump )\r\n"
                 "\trom ( name p3.bin size 16 flags nodump )\r\n"
                 "\trom ( name p4.bin merge p4.bin size 16 crc 00000004 )\r\n)\r\n"
                 "resource ( name bios description Bios rom ( name b.bin size 1 crc 00000005 ) "
                 ")\r\n",
             DatFormat::ClrMamePro,
             {"pac|Pac (the  one)||pac 1.bin|abcdef01|4096|" + std::string(kSha1) + "|cpu|256|0||",
              "pac|Pac (the  one)||p2.bin|00000002|4096|||-|0|||bad",
              "bios|Bios||b.bin|00000005|1|||-|0||"}},
        Good{"ClrMamePro whose header is an emulator block",
             "emulator (\n\tname \"Hand made\"\n)\ngame ( name g rom ( name r.bin size 1 crc "
             "00000004 ) )\n",
             DatFormat::ClrMamePro,
             {"g|||r.bin|00000004|1|||-|0||"}},
        // Encodings expat does not know itself, each to UTF-8.
        Good{"windows-1252",
             "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<datafile><game "
             "name=\"caf\xe9\"><description>\x93Quoted\x94 \x80</description><rom "
             "name=\"\xe9t\xe9.bin\" size=\"1\" crc=\"00000001\"/></game></datafile>",
             DatFormat::Logiqx,
             {"caf\xc3\xa9|\xe2\x80\x9cQuoted\xe2\x80\x9d \xe2\x82\xac||\xc3\xa9t\xc3\xa9.bin|"
              "00000001|1|||-|0||"}},
        Good{"ISO-8859-15",
             "<?xml version='1.0' encoding='ISO-8859-15'?><softwarelist name=\"l\"><software "
             "name=\"s\"><description>C\xbdur \xa4</description><part name=\"p\"><dataarea "
             "name=\"rom\"><rom name=\"\xe9.bin\" size=\"2\" crc=\"00000002\"/></dataarea></part>"
             "</software></softwarelist>",
             DatFormat::SoftwareList,
             {"s|C\xc5\x93ur \xe2\x82\xac|l|\xc3\xa9.bin|00000002|2||rom|-|0||"}},
        Good{"Shift_JIS, whose second bytes may be ASCII's",
             "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n<mame><machine name=\"soft\">"
             "<description>\x83\x5c\x83\x74\x83\x67 \xb1</description><rom name=\"\x83\x5c.bin\" "
             "size=\"3\" crc=\"00000003\"/></machine></mame>",
             DatFormat::ListXml,
             {"soft|\xe3\x82\xbd\xe3\x83\x95\xe3\x83\x88 \xef\xbd\xb1||\xe3\x82\xbd.bin|00000003|3|"
              "||-|0||"}},
        Good{"not a DAT: other XML",
             "<?xml version=\"1.0\"?><hashfile><hash/></hashfile>",
             DatFormat::None,
             {}},
        Good{"not a DAT: text", "Hello, this is not a DAT.\n", DatFormat::None, {}},
        Good{"not a DAT: nothing", "", DatFormat::None, {}},
        Good{"not a DAT: XML broken before its root",
             "<?xml version=\"1.0\"?><!-- x -- y -->",
             DatFormat::None,
             {}}),
    [](const auto& info) { return numbered("case", info.index); });

struct Bad {
    std::string dat;
    DatFormat format;
    std::uint64_t line;
    std::string reason;
};

TEST(DatReaderMalformed, SaysWhereAndWhyAndLoadsNothingOfAFileThatIsMalformed) {
    const std::string head = "<mame>\n<machine name=\"m\">\n";
    const std::string rom = "<rom name=\"r\" size=\"1\" crc=\"00000001\"/>\n";
    const std::string tail = "</machine>\n</mame>\n";
    const std::string clr = "clrmamepro ( name x )\ngame ( name g\n";
    const auto bad = [&](const std::string& attributes) {
        return head + "<rom name=\"r\" " + attributes + "/>\n" + tail;
    };
    const Bad cases[] = {
        {head + rom, DatFormat::ListXml, 4, "unclosed <machine> element"},
        {head + "<rom name=\"r\" si", DatFormat::ListXml, 3, "unclosed <machine> element"},
        {head + rom + "</game>\n" + tail, DatFormat::ListXml, 4,
         "end tag does not match <machine>"},
        {head + rom + "<rom name=\"r\" size=\"12k\" crc=\"00000001\"/>\n" + tail,
         DatFormat::ListXml, 4, "size is not a number"},
        {bad("size=\"4294967296\" crc=\"1\""), DatFormat::ListXml, 3, "size is not a number"},
        {bad("size=\"1\" crc=\"0000001\""), DatFormat::ListXml, 3, "crc is not 8 hex digits"},
        {bad("size=\"1\" crc=\"0000000g\""), DatFormat::ListXml, 3, "crc is not 8 hex digits"},
        {bad("size=\"1\" crc=\"00000001\" sha1=\"abc\""), DatFormat::ListXml, 3,
         "sha1 is not 40 hex digits"},
        {bad("size=\"1\" crc=\"00000001\" offset=\"x\""), DatFormat::ListXml, 3,
         "offset is not a number"},
        {head + rom + "<rom name=\"&nbsp;\"/>\n" + tail, DatFormat::ListXml, 4,
         "not well-formed XML (undefined entity)"},
        {head + rom + "<rom name=\"a\" name=\"b\"/>\n" + tail, DatFormat::ListXml, 4,
         "not well-formed XML (duplicate attribute)"},
        {"<softwarelist name=\"l\"><software name=\"s\"><part name=\"p\">\n<dataarea name=\"d\" "
         "width=\"wide\"></dataarea></part></software></softwarelist>",
         DatFormat::SoftwareList, 2, "width is not a number"},
        {"<datafile>\n<game name=\"g\">\n<rom name=\"r\" size=\"1\" crc=\"00000001\">\n</datafile>",
         DatFormat::Logiqx, 4, "end tag does not match <rom>"},
        {"<!DOCTYPE datafile>\n<datafile", DatFormat::Logiqx, 2,
         "not well-formed XML (unclosed token)"},
        {"<?xml version=\"1.0\" encoding=\"x-none\"?>\n<mame/>", DatFormat::None, 1,
         "the encoding x-none is not supported"},
        {"<?xml version=\"1.0\" encoding=\"EBCDIC-US\"?>\n<mame/>", DatFormat::None, 1,
         "the encoding EBCDIC-US is not supported"},
        {clr + "rom ( name r size 1 crc 00000001 )\n", DatFormat::ClrMamePro, 2,
         "unclosed game block"},
        {clr + "rom ( name r size 1 crc 00000001\n", DatFormat::ClrMamePro, 3,
         "unclosed rom block"},
        {clr + "description \"open\n)\n", DatFormat::ClrMamePro, 3, "unclosed quote"},
        {clr + "rom ( name r size 1 crc 0x000001 ) )\n", DatFormat::ClrMamePro, 3,
         "crc is not 8 hex digits"},
        {clr + "rom ( name r size one crc 00000001 ) )\n", DatFormat::ClrMamePro, 3,
         "size is not a number"},
        {clr + "rom ( name r size )\n)\n", DatFormat::ClrMamePro, 3, "size has no value"},
        {clr + ")\n)\n", DatFormat::ClrMamePro, 4, "expected a block name"},
        {clr + ")\nmachine name\n", DatFormat::ClrMamePro, 4, "expected ( after machine"},
    };
    for (const Bad& c : cases) {
        const DatResult r = readBoth(c.dat).result;
        EXPECT_EQ(std::tie(r.ok, r.format, r.line, r.reason),
                  std::make_tuple(false, c.format, c.line, c.reason))
            << c.dat;
    }
}

// A ListXML of `machines` machines of three ROMs each, `padding` bytes of comment in each.
std::string bigListXml(int machines, std::size_t padding) {
    std::string xml = "<?xml version=\"1.0\"?>\n<mame>\n";
    for (int i = 0; i < machines; ++i) {
        const std::string n = numbered("m", i);
        xml += "<machine name=\"" + n + "\"><description>" + n + " &amp; co</description><!--" +
               std::string(padding, 'x') + "-->\n";
        for (int r = 0; r < 3; ++r)
            xml += "<rom name=\"" + n + numbered(".", r) +
                   "\" size=\"1024\" crc=\"0000abcd\" sha1=\"" + kSha1 + "\"/>\n";
        xml += "</machine>\n";
    }
    return xml + "</mame>\n";
}

// Over 2 MiB, so tokens lie across the pieces the file is read in.
TEST(DatReaderFiles, ReadsPlainAndGzipFilesInPiecesAndFailsOnesCutShortOrDamaged) {
    TempDir dir;
    const std::string xml = bigListXml(6000, 250), path = dir.file("list.dat");
    ASSERT_GT(xml.size(), 2u << 20);
    const Read whole = readBoth(xml);
    ASSERT_TRUE(whole.result.ok);
    ASSERT_EQ(whole.roms.size(), 18000u);
    EXPECT_EQ(whole.roms[4], "m1|m1 & co||m1.1|0000abcd|1024|" + std::string(kSha1) + "||-|0||");

    writeArchive(path, "gz", {{"list.dat", bytesOf(xml)}});
    const std::string packed = readText(path);
    const Read unpacked = readBoth(packed);
    EXPECT_EQ(unpacked.roms, whole.roms);
    EXPECT_EQ(unpacked.result.bytes, xml.size());

    for (const std::string* content : {&packed, &xml}) {
        writeFile(path, *content);
        Recorder sink;
        std::vector<std::uint64_t> progress;
        const DatResult result =
            readDatFile(path, sink, [&](std::uint64_t done) { progress.push_back(done); });
        EXPECT_EQ(std::tie(result.ok, result.format), std::make_tuple(true, DatFormat::ListXml))
            << result.reason;
        EXPECT_EQ(sink.lines, whole.roms);
        ASSERT_FALSE(progress.empty());
        EXPECT_EQ(progress.back(), content->size());
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    }
    const auto failed = [](const DatResult& r, DatFormat format, const char* reason) {
        EXPECT_EQ(std::tie(r.ok, r.format, r.reason), std::make_tuple(false, format, reason));
    };
    {
        InjectedFaults injected({.name = "list.dat", .readLimit = 1 << 20, .readError = EIO});
        Recorder sink;
        failed(readDatFile(path, sink), DatFormat::ListXml,
               "the file could not be read to its end");
    }
    std::string damaged = packed;
    damaged[damaged.size() - 6] ^= 0x55;  // the CRC-32 of what it holds
    failed(readBoth(damaged).result, DatFormat::ListXml, "the compressed data is damaged");
    failed(readBoth(packed.substr(0, 5000)).result, DatFormat::ListXml,
           "the compressed data ends early");
    Recorder sink;
    failed(readDatFile(dir.file("missing.dat"), sink), DatFormat::None, "cannot open the file");
}

// Writes `head`, `fill` over and over to `fillBytes` bytes, and `tail` as a gzip file, without
// holding the whole.
void writeGzipped(const std::string& path, const std::string& head, std::string_view fill,
                  std::size_t fillBytes, const std::string& tail) {
    gzFile out = gzopen(path.c_str(), "wb1");
    ASSERT_NE(out, nullptr);
    std::string block;
    while (block.size() < (1u << 20)) block += fill;
    EXPECT_EQ(gzwrite(out, head.data(), unsigned(head.size())), int(head.size()));
    for (std::size_t done = 0; done < fillBytes; done += block.size())
        EXPECT_GT(gzwrite(out, block.data(), unsigned(std::min(block.size(), fillBytes - done))),
                  0);
    EXPECT_EQ(gzwrite(out, tail.data(), unsigned(tail.size())), int(tail.size()));
    EXPECT_EQ(gzclose(out), Z_OK);
}

TEST(DatReaderFiles, ACommentOrBlanksAsLongAsTheFileAreReadWithoutHoldingThem) {
    if (kAddressSanitizer)
        GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit leaves";
    // 64 MiB of comment or blanks in a small gzip file: a reader that holds them runs out of
    // the 16 MiB the child may take. Each DAT ends in a mistake whose line tells that every
    // line break of the long run was counted.
    constexpr std::size_t kFill = 64 << 20, kBudget = 16 << 20;
    const std::string machine = "<machine name=\"m\"><rom name=\"a\" size=\"1\" crc=\"00000001\"/>";
    const std::string bad = "\n<rom name=\"b\" size=\"12k\" crc=\"00000002\"/>";
    const auto line = [](std::size_t n) { return "line " + std::to_string(n) + ": "; };
    const std::size_t lines = kFill / 2;  // of "x\n" over and over
    struct Case {
        std::string head;
        std::string_view fill;
        std::string tail, said;
    } cases[] = {
        {"<?xml version=\"1.0\"?>\n<!--", "x\n", "--><mame>" + machine + bad,
         line(3 + lines) + "size is not a number"},
        {"<!DOCTYPE mame [\n<!--", "x\n", "-->]><mame>" + machine + bad,
         line(3 + lines) + "size is not a number"},
        {"<mame>\n" + machine + "<!--", "ab\r\n", "-->" + bad,
         line(3 + kFill / 4) + "size is not a number"},
        {"<mame>\n" + machine, " \r\n\t", bad, line(3 + kFill / 4) + "size is not a number"},
        {"<mame>\n" + machine + "</machine></mame><!--", "x\n", "-->\n<mame/>",
         line(3 + lines) + "not well-formed XML (junk after document element)"},
        {"<mame>\n" + machine + "<!--", "x\n", "", line(2) + "unclosed <machine> element"},
        {"<mame>\n" + machine + "<!--", "x\n", "--\n>",
         line(2 + lines) + "not well-formed XML (not well-formed (invalid token))"},
    };
    TempDir dir;
    const std::string path = dir.file("long.xml.gz");
    for (const Case& c : cases) {
        writeGzipped(path, c.head, c.fill, kFill, c.tail);
        EXPECT_EQ(saidWithin(kBudget,
                             [&] {
                                 Recorder sink;
                                 const DatResult r = readDatFile(path, sink);
                                 return r.ok ? numbered("entries ", sink.lines.size())
                                             : numbered("line ", r.line) + ": " + r.reason;
                             }),
                  c.said)
            << c.head;
    }
}

}  // namespace
}  // namespace chipsight
