// Where the database files are found and written: beside a portable copy, in the user's data
// directory for an installed one, and in a directory the caller names.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "core/chipsight_core.h"
#include "core/database_location.h"
#include "core/file_layer.h"
#include "tests/support/expected_texts.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using testing::Bytes;
namespace fs = std::filesystem;

// Sets or clears an environment variable for the lifetime of the object.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) saved_ = old;
        if (value != nullptr)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedVariable() {
        if (saved_)
            ::setenv(name_, saved_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

  private:
    const char* name_;
    std::optional<std::string> saved_;
};

// Makes `directory` read-only for the file layer's writability check. Permission bits alone
// would not do: the tests may run as root, who can write anywhere.
class ReadOnlyDirectory {
  public:
    explicit ReadOnlyDirectory(std::string directory) : scoped_(calls(std::move(directory))) {}

  private:
    static FileSystemCalls calls(std::string directory) {
        FileSystemCalls os = FileSystemCalls::posix();
        os.access = [directory, real = os.access](const char* path, int mode) {
            if (path == directory && (mode & W_OK) != 0) {
                errno = EACCES;
                return -1;
            }
            return real(path, mode);
        };
        return os;
    }
    ScopedFileSystemCalls scoped_;
};

class DatabaseLocationTest : public ::testing::Test {
  protected:
    std::string programDir() const { return program.path().string(); }

    testing::TempDir program, home;
    ScopedVariable homeVariable{"HOME", home.path().c_str()};
    ScopedVariable dataVariable{"XDG_DATA_HOME", nullptr};
};

TEST_F(DatabaseLocationTest, AWritableProgramDirectoryIsPortable) {
    const DatabaseLocation location = locateDatabases(programDir());
    EXPECT_EQ(location.directory, programDir());
    EXPECT_FALSE(location.perUser);
}

TEST_F(DatabaseLocationTest, AReadOnlyDirectoryHoldingAnyDatabaseFileIsPortable) {
    ReadOnlyDirectory readOnly(programDir());
    // Letter case does not matter, as when the files are opened.
    for (const char* name : {"CHIPLORE.ROM", "chiplore.gam", "Chipsight.dat"}) {
        testing::writeFile(program.file(name), Bytes{});
        const DatabaseLocation location = locateDatabases(programDir());
        EXPECT_EQ(location.directory, programDir()) << name;
        EXPECT_FALSE(location.perUser) << name;
        fs::remove(program.file(name));
    }
}

TEST_F(DatabaseLocationTest, AnInstalledCopyUsesTheUsersDataDirectory) {
    ReadOnlyDirectory readOnly(programDir());
    // Files of other names do not make the directory portable.
    testing::writeFile(program.file("chipsight.bak"), Bytes{});
    const std::string fallback = home.path().string() + "/.local/share/chipsight";
    DatabaseLocation location = locateDatabases(programDir());
    EXPECT_EQ(location.directory, fallback);
    EXPECT_TRUE(location.perUser);
    {
        ScopedVariable data("XDG_DATA_HOME", "/srv/data");
        EXPECT_EQ(locateDatabases(programDir()).directory, "/srv/data/chipsight");
    }
    // An empty or relative value is no value at all.
    for (const char* ignored : {"", "relative/data"}) {
        ScopedVariable data("XDG_DATA_HOME", ignored);
        EXPECT_EQ(locateDatabases(programDir()).directory, fallback) << '"' << ignored << '"';
    }
    // Looking decides nothing on disk.
    EXPECT_FALSE(fs::exists(home.path() / ".local"));
}

TEST_F(DatabaseLocationTest, AnInstalledLayoutIsInstalledEvenWhenWritable) {
    // bin/ beside share/applications/chipsight.desktop, writable as it is for root.
    const std::string bin = programDir() + "/bin";
    fs::create_directories(program.path() / "share/applications");
    fs::create_directory(bin);
    testing::writeFile(program.file("share/applications/chipsight.desktop"), Bytes{});
    EXPECT_TRUE(locateDatabases(bin).perUser);
    // Database files put beside the programs on purpose still win.
    testing::writeFile(bin + "/CHIPLORE.ROM", Bytes{});
    EXPECT_EQ(locateDatabases(bin).directory, bin);
}

TEST_F(DatabaseLocationTest, MakingTheDirectoryMakesItsParentsPrivately) {
    const std::string target = home.path().string() + "/a/b/chipsight";
    ASSERT_TRUE(makeDirectories(target));
    for (const fs::path& made : {fs::path(target), home.path() / "a/b", home.path() / "a"}) {
        struct stat st {};
        ASSERT_EQ(::stat(made.c_str(), &st), 0) << made;
        EXPECT_EQ(st.st_mode & 07777, 0700u) << made;
    }
    EXPECT_TRUE(makeDirectories(target)) << "an existing directory is fine";
    testing::writeFile(home.file("plain"), Bytes{1});
    EXPECT_FALSE(makeDirectories(home.file("plain")));
    EXPECT_FALSE(makeDirectories(home.file("plain") + "/chipsight"));
}

// The core over an installed copy: the program lies in a read-only directory without database
// files, so everything happens in $XDG_DATA_HOME/chipsight.
class InstalledCore : public DatabaseLocationTest {
  protected:
    std::string dataDir() const { return home.path().string() + "/data/chipsight"; }
    std::string dat() const { return dataDir() + "/Chipsight.dat"; }

    ScopedVariable data{"XDG_DATA_HOME", (home.path() / "data").c_str()};
    ReadOnlyDirectory readOnly{programDir()};
};

TEST_F(InstalledCore, TheFirstCustomEntryMakesTheDirectoryAndTheNextRunLoadsIt) {
    {
        testing::CoreFixture fixture(program);
        fixture.core.loadDatabases();
        EXPECT_TRUE(fixture.frontEnd.boxes().empty());
        EXPECT_EQ(fixture.core.m_programDir, programDir());
        EXPECT_FALSE(fs::exists(home.path() / "data")) << "loading alone must not make it";
        ASSERT_TRUE(fixture.core.appendCustomEntry("8BB98613", "4", "EPROM1", "My board"));
        EXPECT_EQ(fixture.core.customDatabasePath(), dat());
    }
    EXPECT_EQ(testing::readFile(dat()),
              testing::romEntryBytes(0x8BB98613, 4, "EPROM1", "My board"));
    EXPECT_FALSE(fs::exists(program.file("Chipsight.dat")));

    // The chip tables are read from there too, after the custom records.
    testing::writeFile(dataDir() + "/CHIPLORE.ROM", testing::romTableBytes(0, "U7", 0x1234, 1024));
    testing::writeFile(dataDir() + "/CHIPLORE.GAM", testing::gameBytes("Lander"));
    testing::CoreFixture next(program);
    next.core.loadDatabases();
    EXPECT_TRUE(next.frontEnd.boxes().empty());
    ASSERT_EQ(next.core.m_entries.size(), 2u);
    EXPECT_EQ(next.core.m_entries[0].nameText(), "EPROM1");
    EXPECT_EQ(next.core.m_entries[1].descriptionText(), "Lander");
    EXPECT_EQ(next.core.m_entryCount, 2);
}

TEST_F(InstalledCore, ADirectoryThatCannotBeMadeIsAFileThatCannotBeOpened) {
    testing::writeFile(home.file("data"), Bytes{});  // a file where the directory should go
    testing::CoreFixture fixture(program);
    fixture.core.loadDatabases();
    EXPECT_FALSE(fixture.core.appendCustomEntry("8BB98613", "4", "EPROM1", "My board"));
    EXPECT_EQ(fixture.frontEnd.boxes(), (std::vector<testing::Call>{testing::box(
                                            expected::kCannotOpenCustom, "Error", MB_ICONSTOP)}));
    EXPECT_TRUE(fixture.core.m_entries.empty());
    EXPECT_EQ(fixture.core.m_entryCount, 0);
}

TEST_F(InstalledCore, ANamedDirectoryOverridesTheRule) {
    testing::TempDir named;
    testing::writeFile(named.file("CHIPLORE.ROM"), testing::romTableBytes(0, "U7", 0x1234, 1024));
    testing::writeFile(named.file("CHIPLORE.GAM"), testing::gameBytes("Lander"));
    testing::CoreFixture fixture(program);
    fixture.core.useDatabaseDirectory(named.path().string());
    fixture.core.loadDatabases();
    EXPECT_EQ(fixture.core.m_entryCount, 1);
    ASSERT_TRUE(fixture.core.appendCustomEntry("8BB98613", "4", "EPROM1", "My board"));
    EXPECT_EQ(testing::readFile(named.file("Chipsight.dat")).size(), RomEntry::kSize);
    EXPECT_FALSE(fs::exists(home.path() / "data"));
}

}  // namespace
}  // namespace chipsight
