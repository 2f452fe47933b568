#include "core/databases/dat/dat_files.h"

#include <gtest/gtest.h>
#include <algorithm>

#include "tests/support/test_support.h"

namespace chipsight {
namespace {

// A database directory as a user fills it: its own DAT-like files, a crowded neighbourhood that
// is not walked, and a dats directory with a link to a collection elsewhere and a link loop.
TEST(DatFiles, FindsEveryDatOnceInPathOrder) {
    testing::TempDir db, elsewhere;
    const auto make = [](const std::string& path) { testing::writeFile(path, std::string("x")); };
    std::filesystem::create_directories(db.path() / "dats/nested");
    std::filesystem::create_directories(db.path() / "photos");
    for (const char* name :
         {"mame.xml", "B.DAT.GZ", "Chipsight.dat", "CHIPSIGHT.DAT", "notes.txt", "CHIPLORE.ROM",
          "photos/board.xml", "dats/nested/sets.Dat", "dats/readme.md", "dats/x.xml.gz"})
        make(db.file(name));
    make(elsewhere.file("vectrex.xml"));
    make(elsewhere.file("extra.bin"));
    std::filesystem::create_directory_symlink(elsewhere.path(), db.path() / "dats/hash");
    std::filesystem::create_directory_symlink(db.path() / "dats", db.path() / "dats/nested/loop");
    std::filesystem::create_symlink(db.file("missing.xml"), db.path() / "dats/dangling.xml");

    const std::string d = db.path().string();
    std::vector<std::string> expected{d + "/B.DAT.GZ",
                                      d + "/dats/hash/vectrex.xml",
                                      d + "/dats/nested/sets.Dat",
                                      d + "/dats/x.xml.gz",
                                      d + "/mame.xml",
                                      elsewhere.file("extra.bin")};
    std::sort(expected.begin(), expected.end());
    std::vector<std::string> found;
    for (const DatFile& file :
         findDatFiles(d, "Chipsight.dat", {elsewhere.file("extra.bin"), d + "/dats/x.xml.gz"})) {
        found.push_back(file.path);
        EXPECT_EQ(file.identity, datIdentityOf(file.path));
    }
    EXPECT_EQ(found, expected);
    EXPECT_TRUE(findDatFiles(d + "/none", "Chipsight.dat").empty());
}

// One DAT reached by several paths: its own, a link to it, a linked directory, a second name of
// the same file, and named again by the user. It is found once, by the first of its paths.
TEST(DatFiles, FindsAFileReachedThroughLinksOnce) {
    testing::TempDir db;
    std::filesystem::create_directories(db.path() / "dats/sub");
    testing::writeFile(db.file("mame.xml"), std::string("x"));
    testing::writeFile(db.file("dats/sub/list.xml"), std::string("y"));
    std::filesystem::create_symlink(db.file("mame.xml"), db.path() / "dats/again.xml");
    std::filesystem::create_directory_symlink(db.path(), db.path() / "dats/top");
    std::filesystem::create_hard_link(db.file("dats/sub/list.xml"), db.path() / "dats/hard.xml");

    const std::string d = db.path().string();
    std::vector<std::string> found;
    for (const DatFile& file :
         findDatFiles(d, "Chipsight.dat", {d + "/dats/top/dats/sub/list.xml"}))
        found.push_back(file.path);
    EXPECT_EQ(found, (std::vector<std::string>{d + "/dats/again.xml", d + "/dats/hard.xml"}));
}

}  // namespace
}  // namespace chipsight
