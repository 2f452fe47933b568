// DAT files found in the database directory and loaded beside the chip tables, through the
// compiled cache.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "core/databases/dat/dat_files.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using namespace testing;
using ::testing::ElementsAre, ::testing::Field, ::testing::StartsWith;

// A database directory with a custom entry, a DAT of each kind of text, a malformed DAT and a
// file of no known format; the compiled cache in a directory of the test's own.
class DatLoading : public ::testing::Test {
  protected:
    // The image, 16 bytes of 0x42, has the CRC-32 A258F56C.
    DatLoading() {
        writeFile(dir.file("image.bin"), Bytes(16, 0x42));
        writeFile(dir.file("Chipsight.dat"), romEntryBytes(crc, 16, "CUSTOM", "mine"));
        fs::create_directories(dir.path() / "dats/mame");
        writeFile(
            dir.file("dats/mame/list.xml"),
            std::string("<?xml version=\"1.0\"?>\n<softwarelist name=\"vec\"><software "
                        "name=\"mine\"><description>Mine &amp; Co</description><part "
                        "name=\"c\"><dataarea name=\"rom\" size=\"16\"><rom name=\"a rom "
                        "name longer than eighteen.bin\" size=\"16\" crc=\"a258f56c\" "
                        "status=\"baddump\"/></dataarea></part></software></softwarelist>\n"));
        writeFile(dir.file("older.dat"),
                  std::string("clrmamepro ( name \"x\" )\ngame ( name set1 description \"Set "
                              "One\" rom ( name \"u 1.bin\" size 16 crc a258f56c ) )\n"));
        writeFile(dir.file("broken.xml"), std::string("<datafile><game name=\"g\"><rom"));
        writeFile(dir.file("page.xml"), std::string("<html><body/></html>"));
    }

    // The log of a fresh core that loaded the directory and identified the image, then typed its
    // checksum.
    std::string run(CoreFixture& f) {
        f.core.loadDatabases();
        f.core.identifyFile(dir.file("image.bin"));
        f.core.identifyManual(crc, 16, "typed");
        return f.core.logText();
    }

    TempDir dir;
    const ScopedEnv cache{"XDG_CACHE_HOME", dir.file("cache").c_str()};
    const std::uint32_t crc = 0xA258F56C;
};

TEST_F(DatLoading, DatEntriesFollowTheChipsInPathOrderCountInTheTitleAndComeBackFromTheCache) {
    CoreFixture first(dir);
    first.core.m_progressDelay = std::chrono::milliseconds(0);
    const std::string log = run(first);
    const std::string lines =
        "\r\n\t- CUSTOM : mine"
        "\r\n\t- a rom name longer than eighteen.bin : Mine & Co [vec:mine] (BAD DUMP)"
        "\r\n\t- u 1.bin : Set One [set1]";
    EXPECT_EQ(log, "============================\r\nimage.bin: (1/1) [A258F56C]" + lines +
                       "\r\n============================\r\ntyped: [A258F56C]" + lines + "\r\n");
    EXPECT_EQ(first.frontEnd.title, title(3));
    EXPECT_THAT(
        first.frontEnd.boxes(),
        ElementsAre(Field(&Call::text,
                          StartsWith("Failed reading " + dir.file("broken.xml") + "!\nline 1: "))));
    ASSERT_EQ(first.core.dats().size(), 3u) << "the page of no known format is passed over";
    // Progress goes through the files in load order, never back, and ends at 100% with no file.
    Strings files;
    int percent = 0;
    for (const auto& call : first.frontEnd.calls) {
        if (call.what != "progress") continue;
        EXPECT_GE(call.lines, percent);
        percent = call.lines;
        if (files.empty() || files.back() != call.text) files.push_back(call.text);
    }
    EXPECT_EQ(files, (Strings{dir.file("broken.xml"), dir.file("dats/mame/list.xml"),
                              dir.file("older.dat"), dir.file("page.xml"), ""}));
    EXPECT_EQ(percent, 100);
    EXPECT_FALSE(first.core.dats()[1].fromCache || first.core.dats()[2].fromCache);

    CoreFixture second(dir);
    EXPECT_EQ(run(second), log);
    EXPECT_TRUE(second.core.dats()[1].fromCache && second.core.dats()[2].fromCache);

    // A DAT written since is read again.
    writeFile(dir.file("older.dat"), std::string("clrmamepro ( name \"x\" )\n"));
    CoreFixture third(dir);
    EXPECT_EQ(run(third).find("u 1.bin"), std::string::npos);
    EXPECT_EQ(third.frontEnd.title, title(2));
}

// The database directory named in other ways (a trailing slash, "." and ".." in it, relative to
// the working directory, through a link) is the same directory: one cache file serves every
// name, read whole each time, the DATs named as this start named them.
TEST_F(DatLoading, OneCacheServesTheDirectoryWhateverItsName) {
    fs::create_directory_symlink(dir.path(), dir.path() / "self");
    const std::string d = dir.path().string();
    const std::string names[] = {d, d + "/", d + "/./dats/..", fs::relative(dir.path()).string(),
                                 d + "/self"};
    for (const std::string& name : names) {
        CoreFixture f(dir);
        f.core.useDatabaseDirectory(name);
        f.core.loadDatabases();
        EXPECT_EQ(std::count_if(fs::directory_iterator(dir.file("cache/chipsight")), {},
                                [](const auto& f) { return f.path().extension() == ".dats"; }),
                  1)
            << name;
        ASSERT_EQ(f.core.dats().size(), 3u) << name;
        for (const LoadedDat& dat : f.core.dats()) {
            EXPECT_EQ(dat.path.rfind(name + "/", 0), 0u) << dat.path;
            EXPECT_TRUE(name == names[0] || !dat.store || dat.fromCache) << dat.path;
        }
    }
}

// A database directory as a user fills it: its own DAT-like files, a crowded neighbourhood that
// is not walked, and a dats directory with a link to a collection elsewhere and a link loop.
TEST(DatFiles, FindsEveryDatOnceInPathOrder) {
    TempDir db, elsewhere;
    const auto make = [](const std::string& path) { writeFile(path, std::string("x")); };
    fs::create_directories(db.path() / "dats/nested");
    fs::create_directories(db.path() / "photos");
    for (const char* name :
         {"mame.xml", "B.DAT.GZ", "Chipsight.dat", "CHIPSIGHT.DAT", "notes.txt", "CHIPLORE.ROM",
          "photos/board.xml", "dats/nested/sets.Dat", "dats/readme.md", "dats/x.xml.gz"})
        make(db.file(name));
    make(elsewhere.file("vectrex.xml"));
    make(elsewhere.file("extra.bin"));
    fs::create_directory_symlink(elsewhere.path(), db.path() / "dats/hash");
    fs::create_directory_symlink(db.path() / "dats", db.path() / "dats/nested/loop");
    fs::create_symlink(db.file("missing.xml"), db.path() / "dats/dangling.xml");

    const std::string d = db.path().string();
    Strings expected{d + "/B.DAT.GZ",
                     d + "/dats/hash/vectrex.xml",
                     d + "/dats/nested/sets.Dat",
                     d + "/dats/x.xml.gz",
                     d + "/mame.xml",
                     elsewhere.file("extra.bin")};
    std::sort(expected.begin(), expected.end());
    Strings found;
    for (const DatFile& file :
         findDatFiles(d, "Chipsight.dat", {elsewhere.file("extra.bin"), d + "/dats/x.xml.gz"})) {
        found.push_back(file.path);
        EXPECT_EQ(file.identity, datIdentityOf(file.path));
    }
    EXPECT_EQ(found, expected);
    EXPECT_TRUE(findDatFiles(d + "/none", "Chipsight.dat").empty());
}

// One DAT reached by several paths: its own, a link to it, a linked directory, a second name of
// the same file, and named again by the user. It is found once, by the first of its paths; so
// is one in a directory that eight links lead to, whatever the order the directory lists them in.
TEST(DatFiles, FindsAFileReachedThroughLinksOnce) {
    TempDir db, elsewhere;
    std::filesystem::create_directories(db.path() / "dats/sub");
    writeFile(db.file("mame.xml"), std::string("x"));
    writeFile(db.file("dats/sub/list.xml"), std::string("y"));
    writeFile(elsewhere.file("linked.xml"), std::string("z"));
    for (char c = 'a'; c <= 'h'; ++c)
        std::filesystem::create_directory_symlink(elsewhere.path(),
                                                  db.path() / "dats" / std::string{c});
    std::filesystem::create_symlink(db.file("mame.xml"), db.path() / "dats/again.xml");
    std::filesystem::create_directory_symlink(db.path(), db.path() / "dats/top");
    std::filesystem::create_hard_link(db.file("dats/sub/list.xml"), db.path() / "dats/hard.xml");

    const std::string d = db.path().string();
    std::vector<std::string> found;
    for (const DatFile& file :
         findDatFiles(d, "Chipsight.dat", {d + "/dats/top/dats/sub/list.xml"}))
        found.push_back(file.path);
    EXPECT_EQ(found, (std::vector<std::string>{d + "/dats/a/linked.xml", d + "/dats/again.xml",
                                               d + "/dats/hard.xml"}));
}

// Each load keeps the cache in bounds: what it uses stays, whatever the limit; a compiled file
// unused for a month goes, and a temporary a write left a day ago; then, over the limit, the
// least recently used go first. The listing says what is left.
TEST_F(DatLoading, TheCacheKeepsWhatALoadUsesAndDropsWhatIsUnusedOrTooMuch) {
    CoreFixture first(dir);
    run(first);
    const std::filesystem::path cache = dir.file("cache/chipsight");
    std::uint64_t used = 0;
    for (const auto& f : std::filesystem::directory_iterator(cache)) used += f.file_size();
    const auto aged = [&](const std::string& name, std::size_t bytes, int days) {
        writeFile((cache / name).string(), Bytes(bytes, 1));
        std::filesystem::last_write_time(
            cache / name,
            std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * days));
    };
    // The load's own compiled DATs, last marked 40 days ago, are marked used again.
    std::filesystem::path own;
    for (const auto& f : std::filesystem::directory_iterator(cache))
        if (f.path().extension() == ".dats") own = f.path();
    const auto now = std::filesystem::file_time_type::clock::now();
    std::filesystem::last_write_time(own, now - std::chrono::hours(24 * 40));
    aged("month.dats", 10, 31);
    aged("left.tmp", 10, 2);
    aged("writing.tmp", 10, 0);
    aged("older.roms", 1000, 5);
    aged("newer.sets", 1000, 3);
    CoreFixture second(dir);
    second.core.setCacheLimit(used + 20 + 1000);
    run(second);
    // The compiled tables of the load (".runs") stay with its DATs.
    std::vector<std::string> left;
    std::size_t runs = 0;
    for (const auto& f : std::filesystem::directory_iterator(cache))
        if (f.path().extension() == ".runs")
            ++runs;
        else
            left.push_back(f.path().filename().string());
    std::sort(left.begin(), left.end());
    ASSERT_EQ(left.size(), 3u);
    EXPECT_EQ(left[0], own.filename());
    EXPECT_GT(std::filesystem::last_write_time(own), now - std::chrono::hours(1));
    EXPECT_EQ(std::vector<std::string>(left.begin() + 1, left.end()),
              (std::vector<std::string>{"newer.sets", "writing.tmp"}));
    EXPECT_NE(second.core.databaseListing().find("Cache: " + std::to_string(3 + runs) + " files, "),
              std::string::npos)
        << second.core.databaseListing();
}

}  // namespace
}  // namespace chipsight
