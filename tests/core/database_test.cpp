// The database files: where they are, how they load, how custom entries are added to them,
// and that no failure loses a record. (The fuzz targets load random files and append to them.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "core/chipsight_core.h"
#include "tests/support/expected_texts.h"
#include "tests/support/fault_injection.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using namespace testing;
namespace fs = std::filesystem;
using Files = std::vector<std::pair<std::string, Bytes>>;

std::vector<std::string> names(const BoundCore& c) {
    std::vector<std::string> out;
    for (const auto& e : c.m_entries) out.emplace_back(e.nameText());
    return out;
}

class Database : public CoreTest {
  protected:
    // A fresh core over `files` alone, loaded with `faults` in force.
    std::unique_ptr<CoreFixture> load(const Files& files, FileFaults faults = {}) {
        for (const auto& entry : fs::directory_iterator(dir.path())) fs::remove(entry);
        for (const auto& [name, bytes] : files) writeFile(dir.file(name), bytes);
        auto f = std::make_unique<CoreFixture>(dir);
        InjectedFaults injected(std::move(faults));
        f->core.loadDatabases();
        return f;
    }
    std::string dat() const { return dir.file("Chipsight.dat"); }
};

TEST_F(Database, CustomRecordsLoadFirstThenTheChipsInFileOrderWhateverTheLetterCase) {
    Bytes custom, roms, games = gameBytes("Game 0");
    append(games, gameBytes("Game 1"));
    for (int k = 0; k < 3; ++k)
        append(custom, romEntryBytes(0x2000 + k, 2048, numbered("X", k), "Mine"));
    for (int k = 0; k < 5; ++k)
        append(roms, romTableBytes(std::int16_t(k % 2), numbered("C", k), 0x1000 + k, 1024));
    custom.resize(custom.size() + 34, 0x55);  // partial records at the end count for nothing
    roms.resize(roms.size() + 20, 0x77);
    writeFile(dat(), custom);
    writeFile(dir.file("chipsight.DAT"),
              romEntryBytes(2, 2, "variant", ""));  // the exact name wins
    writeFile(dir.file("chiplore.rom"), roms);
    writeFile(dir.file("Chiplore.Gam"), games);
    core.m_splitLevel = 5;
    core.loadDatabases();
    EXPECT_TRUE(ui.boxes().empty());
    EXPECT_EQ(names(core),
              (std::vector<std::string>{"X0", "X1", "X2", "C0", "C1", "C2", "C3", "C4"}));
    EXPECT_EQ(core.m_entries[4].descriptionText(), "Game 1");
    EXPECT_EQ(core.m_entries[5].descriptionText(), "Game 0");
    EXPECT_EQ(core.m_programDir, dir.path().string());
    // The split level is set back and pushed before anything is read; the title comes last.
    EXPECT_EQ(core.m_splitLevel, 1);
    EXPECT_EQ(ui.calls.front(), Call{"push"});
    EXPECT_EQ(ui.calls.back(), (Call{"setTitle", title(8)}));
    // Trailing bytes are never read, so they cannot fail.
    auto again = load({{"Chipsight.dat", custom}},
                      {.name = "Chipsight.dat", .readLimit = 3 * 108, .readError = EIO});
    EXPECT_TRUE(again->frontEnd.boxes().empty());
    EXPECT_EQ(again->core.m_entryCount, 3);
}

TEST_F(Database, MissingOrEmptyTablesSayWhatIsWrongAndKeepTheRest) {
    const Bytes chips = romTableBytes(0, "C", 1, 1), mine = romEntryBytes(2, 2, "X", "Mine");
    const Call noGames = box(expected::kCannotOpenGameTable, "Error", MB_ICONSTOP);
    struct Case {
        Files files;
        Calls boxes;
        std::vector<std::string> names;
        FileFaults faults = {};
    };
    const Case cases[] = {
        {{}, {}, {}},
        {{{"CHIPLORE.GAM", gameBytes("G")}}, {}, {}},
        {{{"CHIPLORE.ROM", chips}, {"Chipsight.dat", mine}}, {noGames}, {"X"}},
        {{{"CHIPLORE.ROM", {}}}, {noGames}, {}},
        {{{"CHIPLORE.ROM", {}}, {"CHIPLORE.GAM", {}}}, {}, {}},
        // A chip table read short: the game table is not even looked for.
        {{{"CHIPLORE.ROM", chips}, {"Chipsight.dat", mine}},
         {box("Failed reading CHIPLORE.ROM!", "Error", MB_ICONSTOP)},
         {"X"},
         {.name = "CHIPLORE.ROM", .readLimit = 27}},
    };
    for (const Case& c : cases) {
        const auto f = load(c.files, c.faults);
        EXPECT_EQ(f->frontEnd.boxes(), c.boxes) << c.files.size();
        EXPECT_EQ(names(f->core), c.names);
        EXPECT_EQ(f->frontEnd.title, title(int(c.names.size())));
    }
}

// Each record of each file read short in turn: the message of that file, and what is kept.
TEST_F(Database, AShortReadAtEveryRecordOfEveryFile) {
    Bytes roms, games = gameBytes("G0"), custom;
    append(games, gameBytes("G1"));
    for (int k = 0; k < 4; ++k) {
        append(roms, romTableBytes(std::int16_t(k % 2), numbered("C", k), 0x100u + k, 64));
        append(custom, romEntryBytes(0x200u + k, 64, numbered("X", k), "mine"));
    }
    const Files files = {
        {"CHIPLORE.ROM", roms}, {"CHIPLORE.GAM", games}, {"Chipsight.dat", custom}};
    const std::pair<std::size_t, std::size_t> shapes[] = {
        {28, 4}, {80, 2}, {108, 4}};  // record size, count
    for (std::size_t file = 0; file < 3; ++file) {
        const auto [size, records] = shapes[file];
        const std::string& name = files[file].first;
        for (std::size_t record = 0; record < records; ++record)
            for (const int error : {0, EIO}) {
                const auto f =
                    load(files,
                         {.name = name, .readLimit = record * size + size / 2, .readError = error});
                ASSERT_EQ(f->frontEnd.boxes(),
                          Calls{box("Failed reading " + name + "!", "Error", MB_ICONSTOP)})
                    << name << " record " << record;
                // The custom records before the short one stay, uncounted; the chips go.
                const std::size_t kept = file == 2 ? record : 4;
                ASSERT_EQ(f->core.m_entries.size(), kept + (file == 2 ? 4 : 0))
                    << name << " record " << record;
                ASSERT_EQ(f->core.m_entryCount, 4) << name;
                for (std::size_t i = 0; i < kept; ++i)
                    ASSERT_EQ(f->core.m_entries[i].nameText(), numbered("X", long(i)));
            }
    }
    EXPECT_EQ(readFile(dat()), custom) << "loading never writes";
}

TEST_F(Database, AddedEntriesReachTheFileAndTheTableAfterTheLoadedOnesAndLoadBackFirst) {
    writeFile(dir.file("CHIPLORE.ROM"), romTableBytes(0, "CHIP", 0x1ABCD, 0xFFFFFFFF));
    writeFile(dir.file("CHIPLORE.GAM"), gameBytes("Game"));
    core.loadDatabases();
    const std::string name18 = "ABCDEFGHIJKLMNOPQR";
    EXPECT_TRUE(core.appendCustomEntry("1abcd", "-1", name18, "   "));
    EXPECT_EQ(ui.title, title(2));
    EXPECT_TRUE(core.appendCustomEntry("1ABCD", "4294967295", name18, "   "));
    EXPECT_EQ(ui.title, title(3));
    Bytes expected = romEntryBytes(0x1ABCD, 0xFFFFFFFF, name18, "   ");
    append(expected, expected);
    EXPECT_EQ(readFile(dat()), expected);
    const std::string mine = "\r\n\t- " + name18 + " :    ", chip = "\r\n\t- CHIP : Game";
    EXPECT_EQ(buildManualReport(core.m_entries, 0x1ABCD, 0xFFFFFFFF, "L").block,
              "============================\r\nL: [1ABCD]" + chip + mine + mine);
    CoreFixture restarted(dir);
    restarted.core.loadDatabases();
    EXPECT_EQ(buildManualReport(restarted.core.m_entries, 0x1ABCD, 0xFFFFFFFF, "L").block,
              "============================\r\nL: [1ABCD]" + mine + mine + chip);
}

TEST_F(Database, AnEntryThatIsWrongOrCannotBeStoredChangesNothing) {
    core.loadDatabases();
    ui.calls.clear();
    EXPECT_FALSE(core.appendCustomEntry("", "", "", ""));  // every check runs, in order
    Calls invalid;
    for (const char* text : {expected::kBadChecksum, expected::kBadSize, expected::kEmptyName,
                             expected::kEmptyDescription})
        invalid.push_back(box(text, "Validation Error!", MB_ICONEXCLAMATION));
    EXPECT_EQ(ui.boxes(), invalid);
    EXPECT_FALSE(core.appendCustomEntry("00000000", "16", "n", "d"));
    EXPECT_FALSE(core.appendCustomEntry("1", "0x0", "n", "d"));
    EXPECT_FALSE(fs::exists(dat()));
    ui.calls.clear();
    lockWaitLimit() = std::chrono::milliseconds(20);
    const Call cannotOpen = box(expected::kCannotOpenCustom, "Error", MB_ICONSTOP);
    {
        const int fd = ::open(dat().c_str(), O_RDWR | O_CREAT, 0644);
        ASSERT_EQ(::flock(fd, LOCK_EX), 0);  // another running copy holds it
        EXPECT_FALSE(core.appendCustomEntry("1234", "16", "n", "d"));
        ::close(fd);
        fs::remove(dat());
        InjectedFaults injected({.name = "Chipsight.dat", .openError = EACCES});
        EXPECT_FALSE(core.appendCustomEntry("1234", "16", "n", "d"));
        EXPECT_EQ(ui.boxes(), Calls(2, cannotOpen));
        EXPECT_FALSE(fs::exists(dat()));
    }
    lockWaitLimit() = std::chrono::milliseconds(5000);
    ASSERT_TRUE(core.appendCustomEntry("AAAA", "16", "first", "kept"));
    const Bytes before = readFile(dat());
    std::vector<FileFaults> faults = {{.name = "Chipsight.dat", .syncError = EIO},
                                      {.name = "Chipsight.dat", .closeError = EIO}};
    for (std::size_t stored = 0; stored < 108; ++stored)
        faults.push_back({.name = "Chipsight.dat", .writeLimit = stored});
    for (const FileFaults& fault : faults) {
        InjectedFaults injected(fault);
        ui.calls.clear();
        EXPECT_FALSE(core.appendCustomEntry("BBBB", "16", "second", "lost"));
        ASSERT_EQ(ui.boxes(), Calls{box("Failed writing to Chipsight.dat!", "Error", MB_ICONSTOP)})
            << fault.writeLimit;
        ASSERT_EQ(readFile(dat()), before) << fault.writeLimit;
    }
    EXPECT_EQ(core.m_entries.size(), 1u);
    EXPECT_EQ(core.m_entryCount, 1);
    EXPECT_EQ(ui.title, title(1));
}

// With HOME in a directory of its own (put back afterwards) and XDG_DATA_HOME unset.
class Location : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("HOME", home.path().c_str(), 1);
        ::unsetenv("XDG_DATA_HOME");
    }
    void TearDown() override {
        ::setenv("HOME", savedHome.c_str(), 1);
        ::unsetenv("XDG_DATA_HOME");
    }
    // The file layer's calls with the program's directory read-only (as root, permission bits
    // would not do).
    static FileSystemCalls readOnly(const std::string& directory) {
        FileSystemCalls os = FileSystemCalls::posix();
        os.access = [directory, real = os.access](const char* path, int mode) {
            return path == directory && (mode & W_OK) ? (errno = EACCES, -1) : real(path, mode);
        };
        return os;
    }

    TempDir program, home;
    const std::string programDir = program.path().string();
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "/";
};

TEST_F(Location, PortableBesideTheProgramOrInstalledInTheUsersDataDirectory) {
    EXPECT_EQ(locateDatabases(programDir).directory, programDir) << "writable";
    EXPECT_FALSE(locateDatabases(programDir).perUser);
    // bin/ beside share/applications/chipsight.desktop is installed, writable as for root,
    // unless database files were put beside the program on purpose.
    const std::string bin = programDir + "/bin";
    fs::create_directories(program.path() / "share/applications");
    fs::create_directory(bin);
    writeFile(program.file("share/applications/chipsight.desktop"), Bytes{});
    EXPECT_TRUE(locateDatabases(bin).perUser);
    writeFile(bin + "/CHIPLORE.ROM", Bytes{});
    EXPECT_EQ(locateDatabases(bin).directory, bin);

    ScopedFileSystemCalls scoped(readOnly(programDir));
    writeFile(program.file("chipsight.bak"), Bytes{});  // files of other names do not count
    const std::string fallback = home.path().string() + "/.local/share/chipsight";
    EXPECT_EQ(locateDatabases(programDir).directory, fallback);
    EXPECT_TRUE(locateDatabases(programDir).perUser);
    for (const char* name : {"CHIPLORE.ROM", "chiplore.gam", "Chipsight.dat"}) {
        writeFile(program.file(name), Bytes{});
        EXPECT_EQ(locateDatabases(programDir).directory, programDir) << name;
        EXPECT_FALSE(locateDatabases(programDir).perUser) << name;
        fs::remove(program.file(name));
    }
    ::setenv("XDG_DATA_HOME", "/srv/data", 1);
    EXPECT_EQ(locateDatabases(programDir).directory, "/srv/data/chipsight");
    for (const char* ignored : {"", "relative/data"}) {  // no value at all
        ::setenv("XDG_DATA_HOME", ignored, 1);
        EXPECT_EQ(locateDatabases(programDir).directory, fallback) << '"' << ignored << '"';
    }
    EXPECT_FALSE(fs::exists(home.path() / ".local")) << "looking decides nothing on disk";
}

TEST_F(Location, AnInstalledCoreKeepsItsFilesInTheDataDirectoryOrTheOneItIsGiven) {
    ::setenv("XDG_DATA_HOME", (home.path() / "data").c_str(), 1);
    ScopedFileSystemCalls scoped(readOnly(programDir));
    const std::string data = home.path().string() + "/data/chipsight";
    {
        writeFile(home.file("data"), Bytes{});  // a file where the directory should go
        CoreFixture f(program);
        f.core.loadDatabases();
        EXPECT_FALSE(f.core.appendCustomEntry("8BB98613", "4", "EPROM1", "My board"));
        EXPECT_EQ(f.frontEnd.boxes(),
                  Calls{box(expected::kCannotOpenCustom, "Error", MB_ICONSTOP)});
        EXPECT_EQ(f.core.m_entryCount, 0);
        fs::remove(home.file("data"));
    }
    {
        TempDir named;
        writeFile(named.file("CHIPLORE.ROM"), romTableBytes(0, "U7", 0x1234, 1024));
        writeFile(named.file("CHIPLORE.GAM"), gameBytes("Lander"));
        CoreFixture f(program);
        f.core.useDatabaseDirectory(named.path().string());
        f.core.loadDatabases();
        EXPECT_EQ(f.core.m_entryCount, 1);
        ASSERT_TRUE(f.core.appendCustomEntry("8BB98613", "4", "EPROM1", "My board"));
        EXPECT_EQ(readFile(named.file("Chipsight.dat")).size(), 108u);
    }
    {
        CoreFixture f(program);
        f.core.loadDatabases();
        EXPECT_TRUE(f.frontEnd.boxes().empty());
        EXPECT_EQ(f.core.m_programDir, programDir);
        EXPECT_FALSE(fs::exists(home.path() / "data")) << "loading alone must not make it";
        ASSERT_TRUE(f.core.appendCustomEntry("8BB98613", "4", "EPROM1", "My board"));
        EXPECT_EQ(f.core.customDatabasePath(), data + "/Chipsight.dat");
    }
    EXPECT_EQ(readFile(data + "/Chipsight.dat"),
              romEntryBytes(0x8BB98613, 4, "EPROM1", "My board"));
    EXPECT_FALSE(fs::exists(program.file("Chipsight.dat")));
    for (const std::string& made : {data, data + "/.."}) {  // private to the user, parents too
        struct stat st {};
        EXPECT_TRUE(::stat(made.c_str(), &st) == 0 && (st.st_mode & 07777) == 0700) << made;
    }
    // The chip tables are read from there too, after the custom records.
    writeFile(data + "/CHIPLORE.ROM", romTableBytes(0, "U7", 0x1234, 1024));
    writeFile(data + "/CHIPLORE.GAM", gameBytes("Lander"));
    CoreFixture next(program);
    next.core.loadDatabases();
    EXPECT_TRUE(next.frontEnd.boxes().empty());
    EXPECT_EQ(names(next.core), (std::vector<std::string>{"EPROM1", "U7"}));
    EXPECT_EQ(next.core.m_entries[1].descriptionText(), "Lander");
    EXPECT_EQ(next.core.m_entryCount, 2);
}

}  // namespace
}  // namespace chipsight
