// chipsight-cli as a real process: stdout bytes, stderr lines, exit status.
#include <gtest/gtest.h>

#include "tests/support/expected_texts.h"
#include "tests/support/process.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using testing::Bytes;

using CliRun = testing::ProcessResult;

CliRun runCli(std::vector<std::string> args) {
    args.insert(args.begin(), CHIPSIGHT_CLI);
    return testing::runProcess(std::move(args));
}

class Cli : public ::testing::Test {
  protected:
    void SetUp() override {
        Bytes roms;
        testing::append(roms, testing::romTableBytes(0, "U2", 0xEAE621C7, 2));
        testing::append(roms, testing::romTableBytes(1, "U3", 0xEAE621C7, 2));
        Bytes games = testing::gameBytes("Demo board");
        testing::append(games, testing::gameBytes("Spare"));
        testing::writeFile(db.file("CHIPLORE.ROM"), roms);
        testing::writeFile(db.file("CHIPLORE.GAM"), games);
        testing::writeFile(files.file("test.bin"), Bytes{0, 1, 2, 3});
        testing::writeFile(files.file("other.bin"), Bytes{4, 5, 6, 7});
    }
    CliRun cli(std::vector<std::string> args) {
        args.insert(args.begin(), {"--db-dir", db.path().string()});
        return runCli(args);
    }

    testing::TempDir db, files;
};

TEST_F(Cli, WorkedExampleIsTheLogsBytesWithCrlf) {
    const CliRun run = cli({"--crlf", "--split-level", "2", files.file("test.bin")});
    EXPECT_EQ(run.out,
              "============================\r\ntest.bin: (2/2) [EAE621C7]\r\n\t- U2 : Demo "
              "board\r\n\t- U3 : Spare\r\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
}

TEST_F(Cli, PlainLineFeedsByDefaultAndNotFoundExitsOne) {
    const CliRun run = cli({"--split-level", "2", files.file("test.bin"), files.file("other.bin")});
    EXPECT_EQ(run.out.find('\r'), std::string::npos);
    EXPECT_EQ(run.out.rfind("============================\ntest.bin: (2/2) [EAE621C7]\n", 0), 0u);
    EXPECT_NE(run.out.find("other.bin:["), std::string::npos);
    EXPECT_LT(run.out.find("test.bin"), run.out.find("other.bin")) << "argument order";
    EXPECT_EQ(run.status, 1);
}

TEST_F(Cli, NotFoundWorkedExampleWithNoDatabaseSaidOnce) {
    testing::TempDir emptyDb;
    const CliRun run = runCli({"--db-dir", emptyDb.path().string(), "--crlf", "--split-level", "2",
                               files.file("test.bin"), files.file("test.bin")});
    const std::string block =
        "============================\r\ntest.bin:[8BB98613] Not Found!\r\n"
        "\t** warning some unused bits [00000011] possible bad ROM.\r\n";
    EXPECT_EQ(run.out, block + block);
    EXPECT_EQ(run.err, "chipsight-cli: no database file found in " + emptyDb.path().string() +
                           " (looked for CHIPLORE.ROM, CHIPLORE.GAM and Chipsight.dat)\n");
    EXPECT_EQ(run.status, 1);
    // One file of the three is a database, empty or not.
    testing::writeFile(emptyDb.file("chipsight.dat"), Bytes{});
    EXPECT_EQ(runCli({"--db-dir", emptyDb.path().string(), files.file("test.bin")}).err, "");
}

TEST_F(Cli, TypedValuesAreReadAsTheWindowsBoxesHoldThem) {
    const std::string hexOnly =
        "chipsight-cli: Warning: Hexidecimal digits only please 0-9 and A-F\n";
    const std::string badChecksum =
        "chipsight-cli: Validation Error!: Checksum value must be in hexidecimal 0-9 A-F. Correct "
        "it and try again!\n";
    const std::string badSize =
        "chipsight-cli: Validation Error!: Size value must be numeric! Decimal or "
        "hexidecimal (prefix with 0x) Correct it and try again!\n";
    struct Case {
        std::vector<std::string> args;
        std::string err;
        Bytes added;  // what Chipsight.dat holds afterwards
    };
    const std::vector<Case> cases = {
        {{"--add", "7961d62g", "2048", "N", "D"},
         hexOnly,
         testing::romEntryBytes(0x07961D62, 2048, "N", "D")},
        {{"--add", "0x1234", "4", "N", "D"}, hexOnly + badChecksum, {}},
        {{"--add", "8BB98613", std::string(20, '0') + "4", "N", "D"},
         "chipsight-cli: Warning: a size box holds at most 20 characters; read as " +
             std::string(20, '0') + "\n" + badSize,
         {}},
        {{"--add", "8bb98613", "0x" + std::string(17, '0') + "4", "N", "D"},
         "",
         testing::romEntryBytes(0x8BB98613, 4, "N", "D")},
        {{"--manual", "00000000DEADBEEF", "1"},
         "chipsight-cli: Warning: a checksum box holds at most 8 characters; read as 00000000\n" +
             badChecksum,
         {}},
        {{"--manual", "EAE621C7", "00000000002"},
         "chipsight-cli: Warning: a size box holds at most 10 characters; read as 0000000000\n" +
             badSize,
         {}},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(db.file("Chipsight.dat"));
        const CliRun run = cli(c.args);
        EXPECT_EQ(run.err, c.err) << c.args[1];
        EXPECT_EQ(run.status, c.err.empty() ? 0 : 2) << c.args[1];
        const Bytes held = std::filesystem::exists(db.file("Chipsight.dat"))
                               ? testing::readFile(db.file("Chipsight.dat"))
                               : Bytes{};
        EXPECT_EQ(held, c.added) << c.args[1];
    }
}

TEST_F(Cli, DatabaseTextsCannotForgeLinesNorReachTheTerminal) {
    ASSERT_EQ(cli({"--add", "8BB98613", "4", "EP\x1b[2J", "x\r\n\t- FAKE : y\xc2\x9b"}).status, 0);
    Bytes roms = testing::romTableBytes(0, "U2\n\x7f", 0xEAE621C7, 2);
    testing::writeFile(db.file("CHIPLORE.ROM"), roms);
    testing::writeFile(db.file("CHIPLORE.GAM"), testing::gameBytes("Demo\r\nboard"));
    const CliRun run = cli({"--split-level", "2", files.file("test.bin")});
    EXPECT_EQ(
        run.out,
        "============================\ntest.bin: (1/1) [8BB98613]\n\t- EP?[2J : x?\?\?- FAKE : y?\n"
        "test.bin: (2/2) [EAE621C7]\n\t- U2?? : Demo??board\n");
}

TEST_F(Cli, ExitStatusOfSkippedLookupsFullOutputAndAnEmptyDatabaseDirectory) {
    // A blank pair that Ignore Bad passes over found nothing.
    CliRun run = cli({"--manual", "FEA8A821", "256"});
    EXPECT_EQ(run.out + run.err + std::to_string(run.status), "1");
    run = testing::runProcess({"/bin/sh", "-c", "exec \"$0\" --db-dir \"$1\" \"$2\" >/dev/full",
                               CHIPSIGHT_CLI, db.path().string(), files.file("test.bin")});
    EXPECT_EQ(
        run.err,
        "chipsight-cli: cannot write the report to standard output: No space left on device\n");
    EXPECT_EQ(run.status, 2);
    run = runCli({"--db-dir", "", files.file("test.bin")});
    EXPECT_EQ(run.err, "chipsight-cli: --db-dir needs a directory\nTry 'chipsight-cli --help'.\n");
    EXPECT_EQ(run.status, 2);
}

TEST_F(Cli, MessageBoxesBecomeStderrLinesInOrder) {
    testing::writeFile(files.file("odd.bin"), Bytes(3, 0));
    std::filesystem::remove(db.file("CHIPLORE.GAM"));
    const CliRun run =
        cli({files.file("missing.bin"), files.file("odd.bin"), files.file("test.bin")});
    EXPECT_EQ(run.err,
              "chipsight-cli: Error: Cannot Open CHIPLORE.GAM Download Chiplore, and copy the file "
              "to this folder!\n"
              "chipsight-cli: Error: Error opening file :(\n"
              "chipsight-cli: Error: ROM size must be power of 2!\n");
    EXPECT_NE(run.out.find("test.bin:[8BB98613] Not Found!"), std::string::npos);
    EXPECT_EQ(run.status, 2);
}

TEST_F(Cli, ManualLookupRunsAfterTheFiles) {
    CliRun run = cli({"--manual", "eae621c7", "2", files.file("other.bin")});
    EXPECT_GT(run.out.find("Manualy Entered: [EAE621C7]\n\t- U2 : Demo board\n\t- U3 : Spare\n"),
              run.out.find("other.bin"));
    EXPECT_EQ(run.status, 1);
    run = cli({"--manual", "", "zz"});
    EXPECT_EQ(run.err,
              "chipsight-cli: Validation Error!: Checksum value must be in hexidecimal 0-9 A-F. "
              "Correct it and try "
              "again!\n"
              "chipsight-cli: Validation Error!: Size value must be numeric! Decimal or "
              "hexidecimal (prefix with 0x) "
              "Correct it and try again!\n");
    EXPECT_EQ(run.out, "============================\nManualy Entered:[0] Not Found!\n");
    EXPECT_EQ(run.status, 2);
}

TEST_F(Cli, AddedEntriesAreFoundByTheNextRun) {
    CliRun run = cli({"--add", "8BB98613", "4", "EPROM1", "My board"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(testing::readFile(db.file("Chipsight.dat")),
              testing::romEntryBytes(0x8BB98613, 4, "EPROM1", "My board"));
    run = cli({files.file("test.bin")});
    EXPECT_EQ(run.out,
              "============================\ntest.bin: (1/1) [8BB98613]\n\t- EPROM1 : My board\n");
    EXPECT_EQ(run.status, 0);
    run = cli({"--add", "0", "4", "", "x"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(chipsight::expected::kEmptyName), std::string::npos);
}

// Files are read on several threads, yet stdout and stderr carry the same bytes in the same
// order, whatever the number of threads: found, not found, unopenable, of a size that is refused,
// read in pieces and mapped, with more files than the threads read ahead.
TEST_F(Cli, ReportsAndMessagesComeInArgumentOrderWhateverTheJobs) {
    std::vector<std::string> args = {"--split-level", "3", "--manual", "eae621c7", "2"};
    for (int i = 0; i < 300; ++i) {
        const std::string name = files.file(testing::numbered("f", i) + ".bin");
        switch (i % 7) {
            case 0:
                testing::writeFile(name, Bytes{0, 1, 2, 3});  // found, in its second half
                break;
            case 1:
                break;  // missing
            case 2:
                testing::writeFile(name, Bytes(3 + std::size_t(i), 0));  // not a power of two
                break;
            case 3:
                // Mapped, from 2 MiB on.
                testing::writeFile(name,
                                   Bytes(i < 70 ? std::size_t(2) << 20 : 64, std::uint8_t(i)));
                break;
            default:
                testing::writeFile(name, Bytes(std::size_t(1) << (i % 19), std::uint8_t(i * 7)));
                break;
        }
        args.push_back(name);
    }
    const auto withJobs = [&](const char* jobs) {
        std::vector<std::string> a = {"--jobs", jobs};
        a.insert(a.end(), args.begin(), args.end());
        return cli(a);
    };
    const CliRun one = withJobs("1");
    EXPECT_EQ(one.status, 2);
    EXPECT_NE(one.out.find("f0.bin: (2/2) [EAE621C7]"), std::string::npos);
    EXPECT_NE(one.err.find("Error opening file :("), std::string::npos);
    EXPECT_LT(one.out.find("f0.bin"), one.out.find("f4.bin"));
    EXPECT_LT(one.out.find("f298.bin"), one.out.find("Manualy Entered"));
    for (const char* jobs : {"2", "3", "8"}) {
        const CliRun many = withJobs(jobs);
        EXPECT_EQ(many.out, one.out) << jobs << " jobs";
        EXPECT_EQ(many.err, one.err) << jobs << " jobs";
        EXPECT_EQ(many.status, one.status) << jobs << " jobs";
    }
    // The default, one job per processor, too.
    const CliRun byDefault = cli(args);
    EXPECT_EQ(byDefault.out, one.out);
    EXPECT_EQ(byDefault.err, one.err);
}

TEST_F(Cli, OptionsAndUsage) {
    EXPECT_EQ(runCli({"--version"}).out, "chipsight-cli 1.05\n");
    const CliRun help = runCli({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--split-level N"), std::string::npos);
    for (const auto& bad : std::vector<std::vector<std::string>>{{},
                                                                 {"--split-level", "0", "x"},
                                                                 {"--split-level", "10", "x"},
                                                                 {"--split-level", "+2", "x"},
                                                                 {"--frobnicate"},
                                                                 {"--db-dir"},
                                                                 {"--jobs", "0", "x"},
                                                                 {"--jobs", "65", "x"},
                                                                 {"--jobs", "2x", "x"},
                                                                 {"--jobs"},
                                                                 {"--manual", "1"}}) {
        const CliRun run = runCli(bad);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find("chipsight-cli: "), std::string::npos);
    }
    // Ignore Bad is on by default; blank images are then not looked up.
    testing::writeFile(files.file("blank.bin"), Bytes(256, 0xFF));
    ASSERT_EQ(cli({"--add", "FEA8A821", "256", "BLANK", "erased"}).status, 0);
    EXPECT_EQ(cli({files.file("blank.bin")}).status, 1);
    EXPECT_EQ(cli({"--no-ignore-bad", files.file("blank.bin")}).status, 0);
    // "--" ends the options, so a file may start with a dash.
    testing::writeFile(files.file("-dash.bin"), Bytes{0, 1, 2, 3});
    EXPECT_NE(cli({"--", files.file("-dash.bin")}).out.find("-dash.bin:["), std::string::npos);
}

}  // namespace
}  // namespace chipsight
