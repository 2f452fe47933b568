// chipsight-cli with DATs that give SHA-1s and MD5s: --manual-hash, and the line under an entry
// whose SHA-1 is not the bytes', in the report and in JSON.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <nlohmann/json.hpp>

#include "tests/support/process.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using namespace testing;

const std::string kSha1 = "a02a05b025b928c039cf1ae7e8ee04e7c190c0db";  // of 00 01 02 03
const std::string kMd5 = "37b59afd592725f9305e484a5d7f5168";

class HashCli : public ::testing::Test {
  protected:
    void SetUp() override {
        writeFile(db.file("demo.xml"),
                  "<?xml version=\"1.0\"?>\n<datafile><game name=\"demo\"><description>Demo"
                  "</description>\n"
                  "<rom name=\"same\" size=\"4\" crc=\"8bb98613\" sha1=\"" +
                      kSha1 + "\" md5=\"" + kMd5 +
                      "\"/>\n<rom name=\"other\" size=\"4\" crc=\"8bb98613\" sha1=\"" +
                      std::string(40, '1') +
                      "\"/>\n<rom name=\"plain\" size=\"4\" crc=\"8bb98613\"/>\n"
                      "</game></datafile>\n");
        writeFile(test, Bytes{0, 1, 2, 3});
        ::setenv("XDG_CACHE_HOME", cache.path().c_str(), 1);
    }
    void TearDown() override { ::unsetenv("XDG_CACHE_HOME"); }
    ProcessResult cli(std::vector<std::string> args) {
        args.insert(args.begin(), {CHIPSIGHT_CLI, "--db-dir", db.path().string()});
        return runProcess(std::move(args));
    }
    // The objects of a --json run, one a line.
    static std::vector<nlohmann::json> objects(const std::string& out) {
        std::vector<nlohmann::json> all;
        for (std::size_t at = 0, end; (end = out.find('\n', at)) != std::string::npos; at = end + 1)
            all.push_back(nlohmann::json::parse(out.substr(at, end - at)));
        return all;
    }

    TempDir db, files, cache;
    const std::string test = files.file("test.bin");
};

TEST_F(HashCli, ManualHashFindsTheEntriesThatCarryASha1OrAnMd5OfEitherCase) {
    const std::vector<std::string> hashes = {
        "--manual-hash", "A02A05B025B928C039CF1AE7E8EE04E7C190C0DB",
        "--manual-hash", "37B59afd592725f9305e484a5d7f5168",
        "--manual-hash", std::string(40, '2')};
    ProcessResult run = cli(hashes);
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
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 1);

    std::vector<std::string> json = hashes;
    json.insert(json.begin(), "--json");
    run = cli(json);
    const std::vector<nlohmann::json> found = objects(run.out);
    ASSERT_EQ(found.size(), 3u) << run.out;
    EXPECT_EQ(found[0], nlohmann::json::parse(R"({"name": "Manualy Entered", "sha1": ")" + kSha1 +
                                              R"(", "typed": true, "found": true, "matches": [
        {"level": 0, "part": 1, "parts": 1, "crc": "8BB98613", "size": 4, "entries": [
            {"name": "same", "description": "Demo", "set": "demo", "database": ")" +
                                              db.file("demo.xml") + R"(", "status": "good"}]}]})"));
    EXPECT_EQ(found[1].at("md5"), kMd5);
    EXPECT_EQ(found[1].at("matches"), found[0].at("matches"));
    EXPECT_EQ(found[2], nlohmann::json::parse(
                            R"({"name": "Manualy Entered", "sha1": ")" + std::string(40, '2') +
                            R"(", "typed": true, "found": false, "matches": []})"));
    EXPECT_EQ(run.status, 1);

    for (const std::string& bad : {std::string(39, 'a'), std::string(41, 'a'), std::string(32, 'g'),
                                   std::string("0x") + std::string(30, '0'), std::string()}) {
        run = cli({"--manual-hash", bad});
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err,
                  "chipsight-cli: --manual-hash takes a SHA-1 (40 hex digits) or an MD5 (32)\n"
                  "Try 'chipsight-cli --help'.\n")
            << bad;
        EXPECT_EQ(run.status, 2);
    }
    run = cli({"--manual-hash"});
    EXPECT_TRUE(run.err.starts_with("chipsight-cli: --manual-hash takes a SHA-1")) << run.err;
    EXPECT_EQ(run.status, 2);
}

// The file named is not kept after its digest without --json: its bytes are read again for the
// SHA-1, as they are taken from the one read with it.
TEST_F(HashCli, TheReportAndJsonSayWhichEntrysSha1IsNotTheBytes) {
    EXPECT_EQ(cli({test}).out,
              "============================\n"
              "test.bin: (1/1) [8BB98613]\n"
              "\t- same : Demo [demo]\n"
              "\t- other : Demo [demo]\n"
              "\t  CRC matches, SHA-1 differs\n"
              "\t- plain : Demo [demo]\n");
    const std::vector<nlohmann::json> found = objects(cli({"--json", test}).out);
    ASSERT_EQ(found.size(), 1u);
    const nlohmann::json& entries = found[0].at("matches").at(0).at("entries");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_FALSE(entries[0].contains("sha1_differs"));
    EXPECT_EQ(entries[1].value("sha1_differs", false), true);
    EXPECT_FALSE(entries[2].contains("sha1_differs"));
}

}  // namespace
}  // namespace chipsight
