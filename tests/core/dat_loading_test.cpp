#include <gtest/gtest.h>
#include <stdlib.h>

#include "core/checksum/crc32.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using testing::Bytes;

// A database directory with a custom entry, a DAT of each kind of text, a malformed DAT and a
// file of no known format; the compiled cache in a directory of the test's own.
class DatLoading : public ::testing::Test {
  protected:
    DatLoading() {
        ::setenv("XDG_CACHE_HOME", dir.file("cache").c_str(), 1);
        const Bytes image(16, 0x42);
        testing::writeFile(dir.file("image.bin"), image);
        crc = Crc32(0, image.data(), 16);
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08x", crc);
        testing::writeFile(dir.file("Chipsight.dat"),
                           testing::romEntryBytes(crc, 16, "CUSTOM", "mine"));
        std::filesystem::create_directories(dir.path() / "dats/mame");
        testing::writeFile(
            dir.file("dats/mame/list.xml"),
            "<?xml version=\"1.0\"?>\n<softwarelist name=\"vec\">"
            "<software name=\"mine\"><description>Mine &amp; Co</description>"
            "<part name=\"c\"><dataarea name=\"rom\" size=\"16\"><rom name=\"a rom name "
            "longer than eighteen.bin\" size=\"16\" crc=\"" +
                std::string(hex) +
                "\" status=\"baddump\"/></dataarea></part></software></softwarelist>\n");
        testing::writeFile(
            dir.file("older.dat"),
            "clrmamepro ( name \"x\" )\ngame ( name set1 description \"Set One\" rom ( "
            "name \"u 1.bin\" size 16 crc " +
                std::string(hex) + " ) )\n");
        testing::writeFile(dir.file("broken.xml"), std::string("<datafile><game name=\"g\"><rom"));
        testing::writeFile(dir.file("page.xml"), std::string("<html><body/></html>"));
    }
    ~DatLoading() override { ::unsetenv("XDG_CACHE_HOME"); }

    // The log of a fresh core that loaded the directory and identified the image, then typed its
    // checksum.
    std::string run(testing::CoreFixture& f) {
        f.core.loadDatabases();
        f.core.identifyFile(dir.file("image.bin"));
        f.core.identifyManual(crc, 16, "typed");
        return f.core.logText();
    }

    testing::TempDir dir;
    std::uint32_t crc = 0;
};

TEST_F(DatLoading, DatEntriesFollowTheChipsInPathOrderCountInTheTitleAndComeBackFromTheCache) {
    testing::CoreFixture first(dir);
    first.core.m_progressDelay = std::chrono::milliseconds(0);
    const std::string log = run(first);
    const std::string lines =
        "\r\n\t- CUSTOM : mine"
        "\r\n\t- a rom name longer than eighteen.bin : Mine & Co [vec:mine] (BAD DUMP)"
        "\r\n\t- u 1.bin : Set One [set1]";
    char hex[9];
    std::snprintf(hex, sizeof hex, "%X", crc);
    EXPECT_NE(log.find("image.bin: (1/1) [" + std::string(hex) + "]" + lines + "\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("typed: [" + std::string(hex) + "]" + lines + "\r\n"), std::string::npos);
    EXPECT_EQ(first.frontEnd.title, testing::title(3));
    const auto boxes = first.frontEnd.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text.rfind("Failed reading " + dir.file("broken.xml") + "!\nline 1: ", 0),
              0u)
        << boxes[0].text;
    ASSERT_EQ(first.core.dats().size(), 3u) << "the page of no known format is passed over";
    // Progress goes through the files in load order, never back, and ends at 100% with no file.
    std::vector<std::string> files;
    int percent = 0;
    for (const auto& call : first.frontEnd.calls) {
        if (call.what != "progress") continue;
        EXPECT_GE(call.lines, percent);
        percent = call.lines;
        if (files.empty() || files.back() != call.text) files.push_back(call.text);
    }
    EXPECT_EQ(files,
              (std::vector<std::string>{dir.file("broken.xml"), dir.file("dats/mame/list.xml"),
                                        dir.file("older.dat"), dir.file("page.xml"), ""}));
    EXPECT_EQ(percent, 100);
    EXPECT_FALSE(first.core.dats()[1].fromCache || first.core.dats()[2].fromCache);

    testing::CoreFixture second(dir);
    EXPECT_EQ(run(second), log);
    EXPECT_TRUE(second.core.dats()[1].fromCache && second.core.dats()[2].fromCache);

    // A DAT written since is read again.
    testing::writeFile(dir.file("older.dat"), std::string("clrmamepro ( name \"x\" )\n"));
    testing::CoreFixture third(dir);
    EXPECT_EQ(run(third).find("u 1.bin"), std::string::npos);
    EXPECT_EQ(third.frontEnd.title, testing::title(2));
}

// The database directory named in other ways (a trailing slash, "." and ".." in it, relative to
// the working directory, through a link) is the same directory: one cache file serves every
// name, read whole each time, the DATs named as this start named them.
TEST_F(DatLoading, OneCacheServesTheDirectoryWhateverItsName) {
    std::filesystem::create_directory_symlink(dir.path(), dir.path() / "self");
    const std::string d = dir.path().string();
    const std::string names[] = {d, d + "/", d + "/./dats/..",
                                 std::filesystem::relative(dir.path()).string(), d + "/self"};
    for (const std::string& name : names) {
        testing::CoreFixture f(dir);
        f.core.useDatabaseDirectory(name);
        f.core.loadDatabases();
        EXPECT_EQ(
            std::distance(std::filesystem::directory_iterator(dir.file("cache/chipsight")), {}), 1)
            << name;
        ASSERT_EQ(f.core.dats().size(), 3u) << name;
        for (const LoadedDat& dat : f.core.dats()) {
            EXPECT_EQ(dat.path.rfind(name + "/", 0), 0u) << dat.path;
            EXPECT_TRUE(name == names[0] || !dat.store || dat.fromCache) << dat.path;
        }
    }
}

}  // namespace
}  // namespace chipsight
