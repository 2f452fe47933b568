// chipsight-cli as a real process: stdout bytes, stderr lines, exit status; and copies of it
// sharing one database: appenders killed at random moments, copies identifying at once while
// another appends, a database larger than memory.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <numeric>
#include <random>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>
#include "core/identify/identify.h"
#include "tests/support/archive_writer.h"
#include "tests/support/process.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using namespace testing;
using Json = nlohmann::json;
using ::testing::AllOf, ::testing::HasSubstr, ::testing::StartsWith;

// The words of `line` between '|' signs.
Strings words(const std::string& line) {
    Strings out(1);
    for (char c : line) c == '|' ? out.emplace_back() : out.back() += c;
    return line.empty() ? Strings{} : out;
}

ProcessResult runCli(Strings args) {
    args.insert(args.begin(), CHIPSIGHT_CLI);
    return runProcess(std::move(args));
}

// The objects of a --json run, one a line.
std::vector<Json> objects(const std::string& out) {
    std::vector<Json> all;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) all.push_back(Json::parse(line));
    return all;
}

// The value under `key` of the last JSON object of `out` that starts with it.
Json lastObject(const std::string& out, const std::string& key) {
    return Json::parse(out.substr(out.rfind("{\"" + key + "\""))).at(key);
}

// A <rom> element of a DAT for `bytes`, with its CRC-32 and SHA-1.
std::string romXml(const std::string& name, const Bytes& bytes, const std::string& more = "") {
    return "<rom name=\"" + name + "\" size=\"" + std::to_string(bytes.size()) + "\" crc=\"" +
           hexText(crcOf(bytes)) + "\" sha1=\"" + sha1Hex(bytes) + "\"" + more + "/>";
}

// The report text that the --json objects of a run stand for, built from the objects alone, and
// the message lines of its failures ("CAPTION: TEXT", as a run without --json writes them).
struct FromJson {
    std::string report;
    Strings messages, paths;  // a message names its file only with -r
};
FromJson fromJson(const std::string& out) {
    const auto hex = [](const Json& digits) {
        return hexText(std::uint32_t(std::stoul(digits.get<std::string>(), nullptr, 16)), "%X");
    };
    FromJson result;
    std::string& text = result.report;
    for (const Json& j : objects(out)) {
        if (j.contains("error")) {
            std::string message =
                j.at("caption").get<std::string>() + ": " + j.at("error").get<std::string>();
            std::replace(message.begin(), message.end(), '\n', ' ');
            result.messages.push_back(message);
            result.paths.push_back(j.value("path", ""));
            continue;
        }
        if (j.contains("added")) continue;
        const std::string name = reportName(j.at("name").get<std::string>());
        const bool typed = j.value("typed", false);
        text += "============================";
        if (!typed && j.at("blank").get<bool>())
            text += "\n** Warning: ROM appears to be blank! **";
        for (const auto& part : j.at("matches")) {
            text += "\n" + name;
            text += typed ? ": ["
                          : ": (" + std::to_string(part.at("part").get<int>()) + "/" +
                                std::to_string(part.at("parts").get<int>()) + ") [";
            text += hex(part.at("crc")) + "]";
            for (const auto& e : part.at("entries")) {
                std::string description = e.at("description");
                if (e.contains("set"))
                    description +=
                        " [" + (e.contains("list") ? e.at("list").get<std::string>() + ":" : "") +
                        e.at("set").get<std::string>() + "]";
                if (e.value("status", "") == "baddump") description += " (BAD DUMP)";
                text += "\n\t- " + reportName(e.at("name").get<std::string>()) + " : " +
                        reportName(description);
            }
        }
        if (!j.at("found").get<bool>()) {
            text += "\n" + name + ":[" + hex(j.at("crc")) + "] Not Found!";
            if (!typed && j.at("unused_bits") != "11111111")
                text += "\n\t** warning some unused bits [" +
                        j.at("unused_bits").get<std::string>() + "] possible bad ROM.";
        }
        if (j.contains("header"))
            text += "\n\t** " + j.at("header").at("kind").get<std::string>() + " header of " +
                    std::to_string(j.at("header").at("bytes").get<int>()) + " bytes left out";
        text += "\n";
    }
    return result;
}

class Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        writeFile(db.file("CHIPLORE.ROM"), join({romTableBytes(0, "U2", 0xEAE621C7, 2),
                                                 romTableBytes(1, "U3", 0xEAE621C7, 2)}));
        writeFile(db.file("CHIPLORE.GAM"), join({gameBytes("Demo board"), gameBytes("Spare")}));
        writeFile(test, Bytes{0, 1, 2, 3});
        writeFile(other, Bytes{4, 5, 6, 7});
    }
    // Runs the program, and again with --json unless it adds entries: the objects must say
    // what the report says, with the same messages and the same exit status.
    ProcessResult cli(Strings args) {
        ProcessResult run = raw(args);
        if (std::ranges::count(args, "--add") || std::ranges::count(args, "--json")) return run;
        args.insert(args.begin(), "--json");
        const ProcessResult json = raw(args);
        FromJson expected;
        EXPECT_NO_THROW(expected = fromJson(json.out)) << json.out;
        std::string report = run.out;
        std::erase(report, '\r');
        // The doctor's findings are objects of their own in JSON, checked where they are made.
        for (std::size_t at; (at = report.find("\t>> ")) != std::string::npos;)
            report.erase(at, report.find('\n', at) + 1 - at);
        EXPECT_EQ(expected.report, report);
        Strings messages;
        std::istringstream err(run.err);
        for (std::string line; std::getline(err, line);)
            for (const char* caption : {"Error: ", "Warning: ", "Validation Error!: "})
                if (line.starts_with(std::string("chipsight-cli: ") + caption))
                    messages.push_back(line.substr(15));
        EXPECT_EQ(expected.messages.size(), messages.size()) << json.out << run.err;
        for (std::size_t i = 0; i < std::min(messages.size(), expected.messages.size()); ++i) {
            // The terminal shows names under the report's rule; JSON holds them as they are.
            const std::string named = reportName(expected.messages[i] + " " + expected.paths[i]);
            EXPECT_TRUE(messages[i] == reportName(expected.messages[i]) || messages[i] == named)
                << messages[i] << " from " << named;
        }
        EXPECT_EQ(json.status, run.status);
        return run;
    }
    // The program over this test's database, without the JSON cross-check.
    ProcessResult raw(Strings args) {
        args.insert(args.begin(), {"--db-dir", db.path().string()});
        return runCli(std::move(args));
    }
    std::string dat() const { return db.file("Chipsight.dat"); }

    TempDir db, files, cache;
    // The compiled caches the runs write stay the test's own.
    const ScopedEnv cacheHome{"XDG_CACHE_HOME", cache.path().c_str()};
    const std::string test = files.file("test.bin"), other = files.file("other.bin");
};

TEST_F(Cli, WorkedExamplesWithCrlfOrPlainLineFeedsInArgumentOrder) {
    ProcessResult run = cli({"--crlf", "--split-level", "2", test});
    EXPECT_EQ(run.out,
              "============================\r\ntest.bin: (2/2) [EAE621C7]\r\n\t- U2 : Demo "
              "board\r\n\t- U3 : Spare\r\n");
    EXPECT_EQ(run.err + std::to_string(run.status), "0");
    run = cli({"--split-level", "2", test, other});
    EXPECT_EQ(run.out.rfind("============================\ntest.bin: (2/2) [EAE621C7]\n", 0), 0u);
    EXPECT_GT(run.out.find("other.bin:["), run.out.find("test.bin"));
    EXPECT_EQ(run.out.find('\r'), std::string::npos);
    EXPECT_EQ(run.status, 1) << "something was not found";
    // No database at all is said once, with the directory looked in.
    TempDir none;
    run = runCli({"--db-dir", none.path().string(), "--crlf", "--split-level", "2", test, test});
    const std::string block =
        "============================\r\ntest.bin:[8BB98613] Not Found!\r\n"
        "\t** warning some unused bits [00000011] possible bad ROM.\r\n";
    EXPECT_EQ(run.out, block + block);
    EXPECT_EQ(run.err + std::to_string(run.status),
              "chipsight-cli: no database file found in " + none.path().string() +
                  " (looked for CHIPLORE.ROM, CHIPLORE.GAM and Chipsight.dat)\n1");
    writeFile(none.file("chipsight.dat"), Bytes{});  // one of the three, empty or not
    EXPECT_EQ(runCli({"--db-dir", none.path().string(), test}).err, "");
    // A dump behind a known header is found by the bytes after it, and says so in its report and
    // in its JSON record (from which the cross-check builds the same line).
    writeFile(files.file("game.nes"), join({{'N', 'E', 'S', 0x1A}, Bytes(12), {2, 3}}));
    EXPECT_EQ(cli({files.file("game.nes")}).out,
              "============================\ngame.nes: (1/1) [EAE621C7]\n\t- U2 : Demo board\n"
              "\t- U3 : Spare\n\t** iNES header of 16 bytes left out\n");
}

TEST_F(Cli, TypedValuesAreReadAsTheWindowsBoxesHoldThem) {
    const std::string hexOnly =
        "chipsight-cli: Warning: Hexidecimal digits only please 0-9 and A-F\n";
    const std::string badChecksum =
        "chipsight-cli: Validation Error!: Checksum value must be in hexidecimal 0-9 "
        "A-F. Correct it and try again!\n";
    const std::string badSize =
        "chipsight-cli: Validation Error!: Size value must be numeric! Decimal or "
        "hexidecimal (prefix with 0x) Correct it and try again!\n";
    const std::string cut = "chipsight-cli: Warning: a ", zeros(20, '0');
    struct Case {
        std::string args, err;
        std::uint32_t added;  // the checksum of the entry stored, 0 for none
    };
    const Case cases[] = {
        {"--add|7961d62g|2048|N|D", hexOnly, 0x07961D62},
        {"--add|0x1234|2048|N|D", hexOnly + badChecksum, 0},
        {"--add|8BB98613|" + zeros + "4|N|D",
         cut + "size box holds at most 20 characters; read as " + zeros + "\n" + badSize, 0},
        {"--add|8bb98613|0x" + zeros.substr(5) + "800|N|D", "", 0x8BB98613},
        {"--add|0|2048||x", badChecksum + "chipsight-cli: Validation Error!: ROM Name is empty!\n",
         0},
        {"--manual|00000000DEADBEEF|1",
         cut + "checksum box holds at most 8 characters; read as 00000000\n" + badChecksum, 0},
        {"--manual|EAE621C7|00000000002",
         cut + "size box holds at most 10 characters; read as 0000000000\n" + badSize, 0},
    };
    for (const Case& c : cases) {
        fs::remove(dat());
        const ProcessResult run = cli(words(c.args));
        EXPECT_EQ(run.err + std::to_string(run.status), c.err + (c.err.empty() ? "0" : "2"))
            << c.args;
        EXPECT_EQ(fs::exists(dat()) ? readFile(dat()) : Bytes{},
                  c.added ? romEntryBytes(c.added, 2048, "N", "D") : Bytes{})
            << c.args;
    }
    // An added entry is found by the next run; the typed lookups come after the files.
    ASSERT_EQ(cli({"--add", "8BB98613", "4", "EPROM1", "My board"}).status, 0);
    ProcessResult run = cli({"--manual", "eae621c7", "2", test});
    EXPECT_EQ(run.out + std::to_string(run.status),
              "============================\ntest.bin: (1/1) [8BB98613]\n\t- EPROM1 : My board\n"
              "============================\nManualy Entered: [EAE621C7]\n\t- U2 : Demo board\n\t- "
              "U3 : Spare\n0");
    run = cli({"--manual", "", "zz"});
    EXPECT_EQ(run.out + run.err + std::to_string(run.status),
              "============================\nManualy Entered:[0] Not Found!\n" + badChecksum +
                  badSize + "2");
}

TEST_F(Cli, DatabaseTextsCannotForgeLinesNorReachTheTerminal) {
    ASSERT_EQ(cli({"--add", "8BB98613", "4", "EP\x1b[2J", "x\r\n\t- FAKE : y\xc2\x9b"}).status, 0);
    writeFile(db.file("CHIPLORE.ROM"), romTableBytes(0, "U2\n\x7f", 0xEAE621C7, 2));
    writeFile(db.file("CHIPLORE.GAM"), gameBytes("Demo\r\nboard"));
    EXPECT_EQ(
        cli({"--split-level", "2", test}).out,
        "============================\ntest.bin: (1/1) [8BB98613]\n\t- EP?[2J : x?\?\?- FAKE : y?\n"
        "test.bin: (2/2) [EAE621C7]\n\t- U2?? : Demo??board\n");
}

TEST_F(Cli, ErrorsGoToStderrInOrderAndExitTwo) {
    ProcessResult run =
        runProcess({"/bin/sh", "-c", "exec \"$0\" --db-dir \"$1\" \"$2\" >/dev/full", CHIPSIGHT_CLI,
                    db.path().string(), test});
    EXPECT_EQ(
        run.err + std::to_string(run.status),
        "chipsight-cli: cannot write the report to standard output: No space left on device\n2");
    writeFile(files.file("odd.bin"), Bytes(3, 0));
    fs::remove(db.file("CHIPLORE.GAM"));
    run = cli({files.file("missing.bin"), files.file("odd.bin"), test});
    EXPECT_EQ(run.err + std::to_string(run.status),
              "chipsight-cli: Error: Cannot Open CHIPLORE.GAM Download Chiplore, and copy the file "
              "to this folder!\n"
              "chipsight-cli: Error: Error opening file :(\n"
              "chipsight-cli: Error: ROM size must be power of 2!\n2");
    EXPECT_THAT(run.out, HasSubstr("test.bin:[8BB98613] Not Found!"));
    // Usage errors: nothing on stdout, status 2, and a message with a hint on stderr.
    const auto usage = [](const char* args) {
        const std::string hint = "\nTry 'chipsight-cli --help'.\n";
        const ProcessResult r = runCli(words(args));
        EXPECT_EQ(r.out + std::to_string(r.status), "2") << args;
        EXPECT_TRUE(r.err.starts_with("chipsight-cli: ") && r.err.ends_with(hint)) << r.err;
        return r.err.substr(0, r.err.size() - std::min(hint.size(), r.err.size()));
    };
    for (const char* bad : {"", "--split-level|0|x", "--split-level|10|x", "--split-level|+2|x",
                            "--frobnicate", "--db-dir", "--jobs|0|x", "--jobs|65|x", "--jobs|2x|x",
                            "--jobs", "--reads|x", "--reads|x|--doctor"})
        usage(bad);
    EXPECT_EQ(usage("--db-dir||x"), "chipsight-cli: --db-dir needs a directory");
    EXPECT_EQ(usage("--frobnicate|x"), "chipsight-cli: unknown option --frobnicate");
    EXPECT_EQ(usage("--split-level"), "chipsight-cli: --split-level takes a number from 1 to 9");
    EXPECT_EQ(usage("--add|1|2|N"), "chipsight-cli: --add needs CRC, SIZE, NAME and DESCRIPTION");
    EXPECT_EQ(usage("--manual|1"), "chipsight-cli: --manual needs CRC and SIZE");
}

TEST_F(Cli, OptionsAndExitStatusOfBlankImages) {
    EXPECT_EQ(runCli({"--version"}).out, "chipsight-cli 1.05\n");
    const ProcessResult help = runCli({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_THAT(help.out, HasSubstr("--split-level N"));
    // Ignore Bad is on by default: a blank image or pair is not looked up, so not found.
    writeFile(files.file("blank.bin"), Bytes(256, 0xFF));
    ASSERT_EQ(cli({"--add", "FEA8A821", "256", "BLANK", "erased"}).status, 0);
    EXPECT_EQ(cli({files.file("blank.bin")}).status, 1);
    const ProcessResult skipped = cli({"--manual", "FEA8A821", "256"});
    EXPECT_EQ(skipped.out + skipped.err + std::to_string(skipped.status), "1");
    EXPECT_EQ(cli({"--no-ignore-bad", files.file("blank.bin")}).status, 0);
    // "--" ends the options, so a file may start with a dash.
    writeFile(files.file("-dash.bin"), Bytes{0, 1, 2, 3});
    EXPECT_THAT(cli({"--", files.file("-dash.bin")}).out, HasSubstr("-dash.bin:["));
}

// Typed names and descriptions may start with a dash; --json says what was stored; --dat may be
// given twice; usage errors are said in the program's words; no name reaches the terminal as
// control bytes, in messages or in the listing of databases.
TEST_F(Cli, TypedTextsOptionsAndNamesOnTheTerminal) {
    ASSERT_EQ(cli({"--add", "8BB98613", "4", "-U2", "-prototype-"}).status, 0);
    EXPECT_THAT(cli({test}).out, HasSubstr("\t- -U2 : -prototype-"));
    const ProcessResult added =
        cli({"--json", "--add", "8bb98613", "4", std::string(25, 'N'), "-" + std::string(99, 'D')});
    EXPECT_EQ(Json::parse(added.out),
              Json::parse(R"({"added": {"crc": "8BB98613", "size": "4", "name": ")" +
                          std::string(18, 'N') + R"(", "description": "-)" + std::string(79, 'D') +
                          "\"}}"));
    EXPECT_THAT(cli({"--manual", "-1", "4"}).err,
                StartsWith("chipsight-cli: Warning: Hexidecimal digits only"));

    const std::string dat = files.file("a\x1b]0;title\x07\nb.xml");
    fs::create_directory(files.file("dats"));
    const std::string xml =
        "<?xml version=\"1.0\"?><datafile><game name=\"g\"><rom name=\"r\" "
        "size=\"4\" crc=\"8bb98613\"/></game></datafile>\n";
    writeFile(dat, xml);
    writeFile(files.file("dats/c.xml"), xml);
    const ProcessResult listed = raw({"--dat", dat, "--dat", files.file("dats"), "--databases"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_THAT(listed.out, AllOf(HasSubstr("a?]0;title??b.xml: Logiqx XML, 1 entries"),
                                  HasSubstr("dats/c.xml: Logiqx XML, 1 entries")));

    writeArchive(files.file("t.zip"), "zip", {{"\x1b]0;x\x07\x1b[2J\r.bin", Bytes(3, 0)}});
    EXPECT_EQ(cli({files.file("t.zip")}).err,
              "chipsight-cli: Error: ROM size must be power of 2! " + files.file("t.zip") +
                  "/?]0;x??[2J?.bin\n");
}

// Reads are compared a block of each at a time: three reads of 64 MiB are not held whole.
TEST_F(Cli, ReadsAreComparedWithoutHoldingThem) {
    constexpr std::size_t kSize = 64 << 20;
    Bytes read(kSize, 0x5A);
    Strings args = {"--reads"};
    for (int r = 0; r < 3; ++r) {
        read[std::size_t(r) * 12345 + 7] ^= 0x10;
        args.push_back(files.file(numbered("read", r)));
        writeFile(args.back(), read);
    }
    const ProcessResult run = cli(args);
    EXPECT_THAT(run.out, HasSubstr("majority of 3 reads:[")) << run.err;
    // The majority is held, and little more: not the reads. (Under AddressSanitizer, whose
    // quarantine holds freed memory and whose shadow adds an eighth, the peak says nothing.)
    if (!kAddressSanitizer) {
        EXPECT_LT(run.peakKiB, long(2 * kSize / 1024)) << run.peakKiB;
    }
}

// The doctor's lines follow the plain report, and only with --doctor; reads are compared and
// their majority identified.
TEST_F(Cli, DoctorLinesAndReadsCompared) {
    ASSERT_EQ(cli({"--add", "8BB98613", "4", "CHIP", "Demo"}).status, 0);
    const std::string swapped = files.file("swapped.bin"), third = files.file("third.bin");
    writeFile(swapped, Bytes{1, 0, 3, 2});
    const std::string plain =
        "============================\nswapped.bin:[5CDB8A96] Not Found!\n"
        "\t** warning some unused bits [00000011] possible bad ROM.\n";
    EXPECT_EQ(cli({swapped}).out, plain);
    ProcessResult run = cli({"--doctor", swapped});
    EXPECT_EQ(run.out + std::to_string(run.status),
              plain +
                  "\t>> bytes swapped in each 16-bit word: CHIP : Demo\n"
                  "\t>> data lines: D7 always 0, D6 always 0, D5 always 0, D4 always "
                  "0, D3 always 0, D2 always 0, the others toggle\n1");
    EXPECT_EQ(Json::parse(raw({"--json", "--doctor", swapped}).out).at("doctor"),
              Json::parse(R"([{"kind": "transform", "transform": "byte_swap", "part": 1,
                  "parts": 1, "crc": "8BB98613", "size": 4, "entries": [{"name": "CHIP",
                  "description": "Demo"}]}, {"kind": "data_lines", "always_0": [7, 6, 5, 4, 3, 2],
                  "always_1": []}])"));
    writeFile(third, Bytes{0, 1, 2, 7});
    EXPECT_EQ(Json::parse(raw({"--json", "--reads", test, third, test}).out).at("doctor"),
              Json::parse(R"([{"kind": "reads", "rule": "majority", "reads": 3, "size": 4,
                  "differing_bytes": 1, "flips": [0, 0, 1, 0, 0, 0, 0, 0],
                  "first_differing": [3]}])"));
    run = cli({"--reads", test, third, test});
    EXPECT_EQ(
        run.out + run.err + std::to_string(run.status),
        "============================\nmajority of 3 reads: (1/1) [8BB98613]\n\t- CHIP : Demo\n"
        "\t>> 3 reads of 4 bytes: 1 byte differs\n"
        "\t>> unstable data lines, most flips first: D2 in 1 byte\n"
        "\t>> first bytes that differ: 0x3\n0");
    // The EPROM rule: a bit read as 0 by any read is 0, where the majority reads it lifted.
    EXPECT_EQ(cli({"--reads", third, third, test}).status, 1);
    run = cli({"--reads-rule", "and", "--reads", third, third, test});
    EXPECT_THAT(run.out, HasSubstr("AND of 3 reads: (1/1) [8BB98613]\n\t- CHIP : Demo\n"));
    writeFile(files.file("odd.bin"), Bytes(8, 0));
    run = cli({"--reads", test, files.file("missing.bin"), "--reads", test, files.file("odd.bin")});
    EXPECT_EQ(run.out + run.err + std::to_string(run.status),
              "chipsight-cli: Error: Cannot open the read " + files.file("missing.bin") +
                  ".\nchipsight-cli: Error: The reads differ in length: " + test +
                  " has 4 bytes, " + files.file("odd.bin") + " has 8.\n2");
}

// A board's dumps judged as one against a ListXML: the machine named with its revision, each
// chip's state, and the doctor's finds named against the right ROM: a byte-swapped dump, a dump
// one bit off, and a 16-bit ROM dumped as two 8-bit halves; the JSON object says the same.
TEST_F(Cli, ABoardIsJudgedAsOneWithTheDoctorsFindsAgainstItsChips) {
    const Bytes a = randomBytes(4096, 1), b = randomBytes(4096, 2), c = randomBytes(4096, 3),
                d = randomBytes(4096, 4), e = randomBytes(8192, 5), clone = randomBytes(4096, 6);
    const std::string xml = files.file("mame.xml");
    writeFile(xml,
              "<?xml version=\"1.0\"?><mame><machine name=\"brd\"><description>Board"
              "</description>" +
                  romXml("a.u1", a) + romXml("b.u2", b) + romXml("c.u3", c) + romXml("d.u4", d) +
                  romXml("e.u5", e, " region=\"maincpu\"") +
                  "</machine><machine name=\"brd2\" cloneof=\"brd\" romof=\"brd\">"
                  "<description>Board, second revision</description>" +
                  romXml("a.u1", a, " merge=\"a.u1\"") + romXml("b.u2", b, " merge=\"b.u2\"") +
                  romXml("c.u3", c, " merge=\"c.u3\"") + romXml("d.u4", d, " merge=\"d.u4\"") +
                  romXml("z.u9", clone) + "</machine></mame>\n");
    fs::create_directory(files.file("board"));
    writeFile(files.file("board/a.bin"), a);
    Bytes swapped(4096), off = c, even, odd;
    for (std::size_t i = 0; i < 4096; ++i) swapped[i] = b[i ^ 1];
    writeFile(files.file("board/b.bin"), swapped);
    off[0x123] ^= 0x08;
    writeFile(files.file("board/c.bin"), off);
    for (std::size_t i = 0; i < 4096; ++i) even.push_back(e[2 * i]), odd.push_back(e[2 * i + 1]);
    writeFile(files.file("board/e-even.bin"), even);
    writeFile(files.file("board/e-odd.bin"), odd);
    const auto board = [&](Strings more = {}) {
        more.insert(more.begin(), {"--dat", xml, "--board", files.file("board")});
        return raw(more).out;
    };
    const std::string out = board();
    // The cache file of the sets, as the first run compiled it.
    const auto setsFile = [&] {
        fs::path found;
        for (const auto& f : fs::recursive_directory_iterator(cache.path()))
            if (f.path().extension() == ".sets") found = f.path();
        return found;
    };
    struct stat compiled {};
    ASSERT_EQ(::stat(setsFile().c_str(), &compiled), 0);
    const std::string rose = (off[0x123] & 0x08) ? "read 1 for 0 (charge lost)" : "read 0 for 1";
    const std::string block = out.substr(out.rfind("============================"));
    EXPECT_EQ(block,
              "============================\n"
              "Board of 5 dumps: brd : Board, 1 of 5 chips\n"
              "\tcandidates:\n"
              "\t1. brd : Board, 1 of 5 chips; no dump is b.u2, c.u3, d.u4, e.u5\n"
              "\t2. brd2 : Board, second revision, 1 of 5 chips, a clone of brd; no dump is z.u9, "
              "b.u2, c.u3, d.u4\n"
              "\tchips of brd:\n"
              "\t- a.u1, 4096 bytes: found, a.bin\n"
              "\t- b.u2, 4096 bytes: found as b.bin with the bytes of each 16-bit word swapped "
              "(SHA-1 confirms)\n"
              "\t- c.u3, 4096 bytes: found as c.bin with one bit off: byte 0x123 D3 " +
                  rose +
                  " (SHA-1 confirms)\n"
                  "\t- d.u4, 4096 bytes: missing\n"
                  "\t- e.u5, 8192 bytes, region maincpu: found as e-even.bin (even bytes) and "
                  "e-odd.bin (odd bytes) interleaved (SHA-1 confirms)\n")
        << out;
    const auto json = lastObject(board({"--json"}), "board");
    EXPECT_EQ(json.at("candidates").at(0).at("set"), "brd");
    Strings states;
    for (const auto& line : json.at("chips"))
        states.push_back(
            line.at("state").get<std::string>() +
            (line.contains("near") ? " " + line.at("near").at("kind").get<std::string>() : ""));
    EXPECT_EQ(states, (Strings{"found", "found_transformed transformed", "bits_off bits_off",
                               "missing", "found_transformed interleaved"}));
    EXPECT_EQ(json.at("chips").at(2).at("near").at("bits").at(0).at("address"), 0x123);

    // Its set written with the doctor's finds undone: each chip exactly as the set has it.
    const std::string written = board({"--write-set", files.file("sets")});
    EXPECT_THAT(written,
                HasSubstr("Set written: " + files.file("sets") +
                          "/brd.zip, 4 of 5 chips; mended "
                          "from the dumps: b.u2, c.u3, e.u5; not in it: d.u4 (missing)\n"));
    EXPECT_EQ(membersOf(files.file("sets/brd.zip")),
              (std::vector<Member>{{"a.u1", a}, {"b.u2", b}, {"c.u3", c}, {"e.u5", e}}));

    // The sets were compiled into the cache by the first run and read from it by the second. A
    // byte of it damaged costs reading the DAT again, and a new cache; a changed DAT is read.
    const fs::path sets = setsFile();
    struct stat read {};
    ASSERT_EQ(::stat(sets.c_str(), &read), 0);
    EXPECT_EQ(read.st_ino, compiled.st_ino) << "the later runs read the sets, never compile them";
    Bytes damaged = readFile(sets.string());
    std::uint64_t blockAt = 0;
    std::memcpy(&blockAt, damaged.data() + 24, 8);
    ASSERT_LT(blockAt + 100, damaged.size());
    damaged[blockAt + 100] ^= 0xFF;
    writeFile(sets.string(), damaged);
    const std::string again = board();
    EXPECT_EQ(again.substr(again.rfind("============================")), block);
    EXPECT_NE(readFile(sets.string()), damaged);
    std::string changed = readText(xml);
    changed.replace(changed.find("second revision"), 15, "third revision");
    writeFile(xml, changed);
    EXPECT_THAT(board(), HasSubstr("brd2 : Board, third revision, 1 of 5"));
}

// Files are read on several threads, yet stdout and stderr carry the same bytes in the same
// order whatever the number of threads: found, missing, of a refused size, read in pieces and
// mapped (from 2 MiB on), with more files than the threads read ahead.
TEST_F(Cli, ReportsAndMessagesComeInArgumentOrderWhateverTheJobs) {
    Strings args = {"--split-level", "3", "--manual", "eae621c7", "2"};
    for (int i = 0; i < 300; ++i) {  // found, missing, of a refused size, mapped, any other
        args.push_back(files.file(numbered("f", i) + ".bin"));
        const std::size_t size = i % 5 == 2             ? 3 + std::size_t(i)
                                 : i % 5 == 3 && i < 70 ? std::size_t(2) << 20
                                                        : std::size_t(1) << (i % 19);
        if (i % 5 != 1)
            writeFile(args.back(), i % 5 ? Bytes(size, std::uint8_t(i)) : Bytes{0, 1, 2, 3});
    }
    const auto withJobs = [&](Strings jobs) {
        jobs.insert(jobs.end(), args.begin(), args.end());
        return cli(jobs);
    };
    const ProcessResult one = withJobs({"--jobs", "1"});
    EXPECT_EQ(one.status, 2);
    EXPECT_THAT(one.out, HasSubstr("f0.bin: (2/2) [EAE621C7]"));
    EXPECT_THAT(one.err, HasSubstr("Error opening file :("));
    EXPECT_LT(one.out.find("f0.bin"), one.out.find("f3.bin"));
    EXPECT_LT(one.out.find("f298.bin"), one.out.find("Manualy Entered"));
    for (const char* jobs : {"--jobs|3", "--jobs|8", ""}) {
        const ProcessResult many = withJobs(words(jobs));
        EXPECT_EQ(std::tie(many.out, many.err, many.status), std::tie(one.out, one.err, one.status))
            << jobs;
    }
}

// A DAT entry's object names its set, list, database file and status; the image's SHA-1 comes
// along once any DAT carries SHA-1s. Names that are no UTF-8 still give valid JSON.
TEST_F(Cli, JsonOfDatEntriesAndOfAnyName) {
    const std::string dat = files.file("board.dat");
    writeFile(dat, std::string("<?xml version=\"1.0\"?>\n<datafile><game name=\"demo\">"
                               "<description>Demo \"board\"</description><rom name=\"u2.bin\" "
                               "size=\"4\" crc=\"8bb98613\" sha1=\"a02a05b025b928c039cf1ae7e8ee04e7"
                               "c190c0db\" status=\"baddump\"/></game></datafile>\n"));
    const std::string odd = files.file("n\xff\x01.bin");
    writeFile(odd, Bytes{0, 1, 2, 3});
    ASSERT_EQ(cli({"--dat", dat, test, files.file("\x1b[2J.bin")}).status, 2);
    const ProcessResult run = cli({"--json", "--dat", dat, test, odd});
    const auto first = Json::parse(run.out.substr(0, run.out.find('\n')));
    EXPECT_EQ(first.at("sha1"), "a02a05b025b928c039cf1ae7e8ee04e7c190c0db");
    EXPECT_EQ(first.at("matches").at(0).at("entries").at(0),
              Json::parse(R"({"name": "u2.bin", "description": "Demo \"board\"",
                  "set": "demo", "database": ")" +
                          dat + R"(", "status": "baddump"})"));
    const auto second = Json::parse(run.out.substr(run.out.find('\n') + 1));
    EXPECT_EQ(second.at("name"), "n\xef\xbf\xbd\x01.bin");
}

// -r walks each directory named, sorted by name, into archives but not along links; a report
// names its file by the way down from the directory, every message by its path, and a path
// longer than the system takes is said, not passed over. Without -r a directory is a file that
// cannot be opened.
TEST_F(Cli, FoldersAreWalkedInOrderWithoutFollowingLinks) {
    TempDir tree;
    fs::create_directories(tree.path() / "b-dir" / "inner");
    fs::create_directories(tree.path() / "b");
    for (const auto& [name, bytes] : {std::pair<const char*, Bytes>{"b/x.bin", {0, 1, 2, 3}},
                                      {"b-dir/inner/y.bin", {4, 5, 6, 7}},
                                      {"a.bin", {0, 1, 2, 3}},
                                      {"odd.bin", Bytes(3, 0)}})
        writeFile(tree.file(name), bytes);
    writeArchive(tree.file("c.zip"), "zip", {{"z.bin", {0, 1, 2, 3}}});
    writeFile(tree.file("secret.bin"), Bytes{9, 9, 9, 9});
    fs::permissions(tree.file("secret.bin"), fs::perms::none);
    fs::create_symlink(tree.file("a.bin"), tree.file("link.bin"));
    fs::create_directory_symlink(tree.file("b"), tree.file("dirlink"));
    // z/ holds folders nested deeper than a path may be long; made and removed relative to a
    // folder's descriptor, which no length limits.
    fs::create_directory(tree.path() / "z");
    std::string deep = tree.file("z");
    int at = ::open(deep.c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < 24; ++level) {
        const std::string name(200, char('a' + level));
        ASSERT_EQ(::mkdirat(at, name.c_str(), 0700), 0);
        const int inner = ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY);
        ::close(at);
        at = inner;
        deep += "/" + name;
    }
    ::close(::openat(at, "deep.bin", O_WRONLY | O_CREAT, 0600));
    ::close(at);
    const ProcessResult run = cli({"-r", tree.path().string()});
    EXPECT_EQ(runProcess({"/bin/rm", "-rf", tree.file("z")}).status, 0);
    // The name each report block starts with.
    Strings named;
    for (std::size_t at = 0; (at = run.out.find("=\n", at)) != std::string::npos; at += 2)
        named.push_back(run.out.substr(at + 2, run.out.find(':', at) - at - 2));
    // Root reads the file whatever its mode: then it is identified like any other.
    const bool root = ::geteuid() == 0;
    Strings expected = {"a.bin", "b/x.bin", "b-dir/inner/y.bin", "c.zip/z.bin"};
    if (root) expected.push_back("secret.bin");
    EXPECT_EQ(named, expected) << run.out;
    std::string err =
        "chipsight-cli: Error: ROM size must be power of 2! " + tree.file("odd.bin") + "\n";
    if (!root)
        err += "chipsight-cli: Error: Error opening file :( " + tree.file("secret.bin") + "\n";
    // The first folder on the way down whose path is too long for the system (4096 with its
    // end) is the one named.
    err += "chipsight-cli: Error: Error opening file :( " + deep.substr(0, deep.find('/', 4096)) +
           "\n";
    EXPECT_EQ(run.err + std::to_string(run.status), err + "2");
    EXPECT_EQ(cli({tree.path().string()}).err, "chipsight-cli: Error: Error opening file :(\n");
}

TEST(Processes, KilledAppendersLeaveOnlyWholeRecords) {
    TempDir db;
    std::mt19937 rng(1234);
    std::size_t before = 0;
    // Each round starts where the last stopped: the next append realigns a cut record.
    for (int round = 0; round <= 50; ++round) {
        Strings args = {CHIPSIGHT_CLI, "--db-dir", db.path().string()};
        for (int k = 0; k < (round < 50 ? 400 : 1); ++k) {
            const std::string crc = hexText(0x10000 * (round + 1) + k, "%X");
            args.insert(args.end(), {"--add", crc, "64", numbered("R", k), "mine"});
        }
        Child child(args);
        if (round < 50) {
            std::this_thread::sleep_for(std::chrono::microseconds(rng() % 20000));
            ::kill(child.pid(), SIGKILL);
        }
        const int status = child.finish().status;
        if (round == 50) {
            ASSERT_EQ(status, 0);
            EXPECT_EQ(fs::file_size(db.file("Chipsight.dat")) % 108, 0u);
        }
        CoreFixture f(db);
        f.core.loadDatabases();
        ASSERT_TRUE(f.frontEnd.boxes().empty());
        // Entry k of a run carries k in its name and in the low bits of its checksum (read as hex).
        for (const RomEntry& e : f.core.m_entries)
            ASSERT_EQ(std::string(e.nameText()) + "," + std::string(e.descriptionText()),
                      numbered("R", e.crc & 0xFFFF) + ",mine")
                << std::hex << e.crc;
        ASSERT_GE(f.core.m_entries.size(), before + (round == 50))
            << "round " << round << ": a record stored before was lost";
        before = f.core.m_entries.size();
    }
}

TEST(Processes, ADatabaseLargerThanMemoryGivesItsMessageAndTheFilesAreStillIdentified) {
    for (const std::string file : {"CHIPLORE.ROM", "Chipsight.dat"}) {
        TempDir db;
        writeFile(db.file("CHIPLORE.GAM"), gameBytes("Game"));
        writeFile(db.file(file), Bytes());
        fs::resize_file(db.file(file), 100ull << 30);  // sparse: costs no disk
        writeFile(db.file("a.bin"), Bytes(16, 1));
        const auto run =
            runProcess({CHIPSIGHT_CLI, "--db-dir", db.path().string(), db.file("a.bin")});
        EXPECT_EQ(run.err + std::to_string(run.status),
                  "chipsight-cli: Error: Failed reading " + file + "!\n2");
        EXPECT_THAT(run.out, HasSubstr("a.bin:[52A028B7] Not Found!"));
    }
}

TEST(Processes, CopiesIdentifyingAtOnceWhileAnotherAppendsAllFindTheChip) {
    TempDir db;
    Bytes image(64 * 1024);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = std::uint8_t(i * 7 + i / 251);
    writeFile(db.file("image.bin"), image);
    // A million chips, the one that matches last.
    Bytes roms;
    roms.reserve(1000000 * 28);
    for (std::uint32_t i = 1; i < 1000000; ++i)
        append(roms, romTableBytes(0, "C", i * 2654435761u, 65536));
    append(roms, romTableBytes(0, "KNOWN", crcOf(image), 65536));
    writeFile(db.file("CHIPLORE.ROM"), roms);
    writeFile(db.file("CHIPLORE.GAM"), gameBytes("The game"));
    Child appender({CHIPSIGHT_APPENDER, db.file("Chipsight.dat"), "100000", "400"});
    ASSERT_EQ(appender.readLine(), "added 00100000");
    std::vector<ProcessResult> runs(8);
    std::vector<std::thread> copies;
    for (auto& run : runs)
        copies.emplace_back([&] {
            run = runProcess({CHIPSIGHT_CLI, "--db-dir", db.path().string(), db.file("image.bin")});
        });
    for (auto& copy : copies) copy.join();
    EXPECT_EQ(appender.finish().status, 0);
    for (const auto& run : runs) {
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_THAT(run.out, HasSubstr("- KNOWN : The game"));
    }
}

// A board's best set written as the zip MAME takes: a software list's item as LIST/ITEM.zip,
// its chips under the list's names, in name order; a zip there already is kept without --force.
// MAME's own audit agrees, and calls the zip with a chip missing bad, as the board said. Names
// that would lead out of the folder write nothing.
TEST_F(Cli, TheBestSetIsWrittenAsTheZipMameTakesAndNothingOutsideTheFolder) {
    const Bytes a = randomBytes(4096, 1), b = randomBytes(4096, 2), c = randomBytes(4096, 3);
    const auto list = [](const std::string& list, const std::string& item,
                         const std::string& roms) {
        return "<?xml version=\"1.0\"?><softwarelist name=\"" + list + "\"><software name=\"" +
               item + "\"><description>" + item +
               "</description><part name=\"cart\" interface=\"nes_cart\"><dataarea name=\"prg\" "
               "size=\"8192\">" +
               roms + "</dataarea></part></software></softwarelist>\n";
    };
    fs::create_directories(files.file("hash"));
    writeFile(files.file("hash/nes.xml"),
              list("nes", "item", romXml("b.prg", b) + romXml("a.prg", a)));
    writeFile(files.file("hash/evil.xml"), list("..", "evil", romXml("c.prg", c)));
    for (const char* dir : {"board", "evil", "out"}) fs::create_directory(files.file(dir));
    for (const auto& [name, bytes] :
         {std::pair{"board/a.bin", a}, {"board/b.bin", b}, {"evil/c.bin", c}})
        writeFile(files.file(name), bytes);
    const std::string out = files.file("out");
    const auto board = [&](const std::string& dir, Strings more) {
        more.insert(more.begin(), {"--dat", files.file("hash"), "--board", files.file(dir)});
        return raw(more);
    };
    ProcessResult run = board("board", {"--write-set", out});
    const std::string zip = out + "/nes/item.zip";
    EXPECT_THAT(run.out, HasSubstr("Set written: " + zip + ", 2 of 2 chips\n")) << run.err;
    EXPECT_EQ(membersOf(zip), (std::vector<Member>{{"a.prg", a}, {"b.prg", b}}));
    const Bytes written = readFile(zip);
    run = board("board", {"--write-set", out});
    EXPECT_EQ(
        run.err + std::to_string(run.status),
        "chipsight-cli: Error: Cannot write " + zip + ": a file of that name is there already\n2");
    EXPECT_EQ(readFile(zip), written);

    // Nothing written for the item of a list named "..".
    const auto everything = [&] {
        Strings paths;
        for (const auto& f : fs::recursive_directory_iterator(files.path()))
            paths.push_back(f.path().string());
        std::sort(paths.begin(), paths.end());
        return paths;
    };
    const Strings before = everything();
    run = board("evil", {"--write-set", out});
    EXPECT_THAT(run.err, HasSubstr("The set ..:evil cannot stand as a file's path"));
    EXPECT_EQ(everything(), before);

    const bool mame = ::access("/usr/games/mame", X_OK) == 0;
    const auto audit = [&] {
        return runProcess({"/usr/games/mame", "-hashpath", files.file("hash"), "-rompath", out,
                           "-verifysoftlist", "nes"})
            .out;
    };
    if (mame) {
        EXPECT_THAT(audit(), HasSubstr("romset nes:item is good"));
    }
    fs::remove(files.file("board/b.bin"));
    run = board("board", {"--write-set", out, "--force"});
    EXPECT_THAT(run.out, HasSubstr(", 1 of 2 chips; not in it: b.prg (missing)\n"));
    EXPECT_EQ(
        lastObject(board("board", {"--write-set", out, "--force", "--json"}).out, "set_written"),
        Json::parse("{\"path\":\"" + zip +
                    "\",\"chips\":1,\"of\":2,\"left\":[{\"name\":\"b.prg\","
                    "\"why\":\"missing\"}]}"));
    if (mame) {
        EXPECT_THAT(audit(), AllOf(HasSubstr("b.prg (4096 bytes) - NOT FOUND"),
                                   HasSubstr("romset nes:item is bad")));
    }

    // The missing chip from the user's collection (a zip of theirs), into the set and burnt for a
    // 27C512; then the chip one bit off, burnt from its dump with the bit put back.
    fs::create_directory(files.file("mine"));
    writeArchive(files.file("mine/nes.zip"), "zip", {{"b.prg", b}});
    const auto burn = [&](Strings more) {
        more.insert(more.begin(), {"--burn", files.file("burn"), "--eprom", "27c512", "--force"});
        return board("board", more);
    };
    run = burn({"--collection", files.file("mine"), "--write-set", out});
    const std::string burnt = files.file("burn/item/b.prg");
    Bytes sixteen;
    for (int i = 0; i < 16; ++i) sixteen.insert(sixteen.end(), b.begin(), b.end());
    EXPECT_EQ(readFile(burnt), sixteen);
    EXPECT_THAT(run.out,
                HasSubstr("Set written: " + zip + ", 2 of 2 chips; from the collection: b.prg\n" +
                          "Image to burn, from the collection: " + burnt + ": CRC-32 " +
                          hexText(crcOf(sixteen), "%08X") + ", byte sums "))
        << run.err;
    EXPECT_EQ(membersOf(zip).size(), 2u);
    Bytes off = b;
    off[0x345] ^= 0x04;
    writeFile(files.file("board/b.bin"), off);
    fs::remove(burnt);
    run = burn({});
    EXPECT_THAT(run.out, HasSubstr("Image to burn, from its dump with 1 bit put back: " + burnt))
        << run.err;
    EXPECT_EQ(readFile(burnt), sixteen);
    const auto image = lastObject(burn({"--json"}).out, "burnt").at("images").at(0);
    EXPECT_EQ(image.at("path"), burnt);
    EXPECT_EQ(image.at("crc"), hexText(crcOf(sixteen), "%08X"));
    EXPECT_EQ(image.at("sum32"), 16 * std::accumulate(b.begin(), b.end(), 0u));
    if (!mame) GTEST_SKIP() << "MAME is not installed: its audit of the zips is not run";
}

// A DAT that gives SHA-1s and MD5s: --manual-hash, and the line under an entry whose SHA-1 is not
// the bytes', in the report and in JSON.
class HashCli : public Cli {
  protected:
    void SetUp() override {
        Cli::SetUp();
        writeFile(db.file("demo.xml"),
                  "<?xml version=\"1.0\"?>\n<datafile><game name=\"demo\"><description>Demo"
                  "</description>\n<rom name=\"same\" size=\"4\" crc=\"8bb98613\" sha1=\"" +
                      kSha1 + "\" md5=\"" + kMd5 +
                      "\"/>\n<rom name=\"other\" size=\"4\" crc=\"8bb98613\" sha1=\"" +
                      std::string(40, '1') +
                      "\"/>\n<rom name=\"plain\" size=\"4\" crc=\"8bb98613\"/>\n"
                      "</game></datafile>\n");
    }
    const std::string kSha1 = "a02a05b025b928c039cf1ae7e8ee04e7c190c0db";  // of 00 01 02 03
    const std::string kMd5 = "37b59afd592725f9305e484a5d7f5168";
};

TEST_F(HashCli, ManualHashFindsTheEntriesThatCarryASha1OrAnMd5OfEitherCase) {
    Strings hashes = {"--manual-hash", "A02A05B025B928C039CF1AE7E8EE04E7C190C0DB",
                      "--manual-hash", "37B59afd592725f9305e484a5d7f5168",
                      "--manual-hash", std::string(40, '2')};
    ProcessResult run = raw(hashes);
    EXPECT_EQ(run.out,
              "============================\n"
              "Manualy Entered: [A02A05B025B928C039CF1AE7E8EE04E7C190C0DB]\n"
              "\t- same : Demo [demo]\n"
              "============================\n"
              "Manualy Entered: [37B59AFD592725F9305E484A5D7F5168]\n"
              "\t- same : Demo [demo]\n"
              "============================\n"
              "Manualy Entered:[" +
                  std::string(40, '2') + "] Not Found!\n");
    EXPECT_EQ(run.err + std::to_string(run.status), "1");

    hashes.insert(hashes.begin(), "--json");
    run = raw(hashes);
    const std::vector<Json> found = objects(run.out);
    ASSERT_EQ(found.size(), 3u) << run.out;
    EXPECT_EQ(found[0], Json::parse(R"({"name": "Manualy Entered", "sha1": ")" + kSha1 +
                                    R"(", "typed": true, "found": true, "matches": [
        {"level": 0, "part": 1, "parts": 1, "crc": "8BB98613", "size": 4, "entries": [
            {"name": "same", "description": "Demo", "set": "demo", "database": ")" +
                                    db.file("demo.xml") + R"(", "status": "good"}]}]})"));
    EXPECT_EQ(found[1].at("md5"), kMd5);
    EXPECT_EQ(found[1].at("matches"), found[0].at("matches"));
    EXPECT_EQ(found[2],
              Json::parse(R"({"name": "Manualy Entered", "sha1": ")" + std::string(40, '2') +
                          R"(", "typed": true, "found": false, "matches": []})"));
    EXPECT_EQ(run.status, 1);

    for (const std::string& bad : {std::string(39, 'a'), std::string(41, 'a'), std::string(32, 'g'),
                                   std::string("0x") + std::string(30, '0'), std::string()}) {
        run = raw({"--manual-hash", bad});
        EXPECT_EQ(run.out + run.err + std::to_string(run.status),
                  "chipsight-cli: --manual-hash takes a SHA-1 (40 hex digits) or an MD5 (32)\n"
                  "Try 'chipsight-cli --help'.\n2")
            << bad;
    }
    run = raw({"--manual-hash"});
    EXPECT_TRUE(run.err.starts_with("chipsight-cli: --manual-hash takes a SHA-1")) << run.err;
    EXPECT_EQ(run.status, 2);
}

// The file named is not kept after its digest without --json: its bytes are read again for the
// SHA-1, as they are taken from the one read with it.
TEST_F(HashCli, TheReportAndJsonSayWhichEntrysSha1IsNotTheBytes) {
    EXPECT_EQ(raw({test}).out,
              "============================\n"
              "test.bin: (1/1) [8BB98613]\n"
              "\t- same : Demo [demo]\n"
              "\t- other : Demo [demo]\n"
              "\t  CRC matches, SHA-1 differs\n"
              "\t- plain : Demo [demo]\n");
    const std::vector<Json> found = objects(raw({"--json", test}).out);
    ASSERT_EQ(found.size(), 1u);
    const Json& entries = found[0].at("matches").at(0).at("entries");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_FALSE(entries[0].contains("sha1_differs"));
    EXPECT_EQ(entries[1].value("sha1_differs", false), true);
    EXPECT_FALSE(entries[2].contains("sha1_differs"));
}

}  // namespace
}  // namespace chipsight
