// The database files: where they are, how they load, how custom entries are added to them, and
// that no failure loses a record, with other processes reading and writing them too (held at a
// known point inside the file layer, so every race happens the same way each time). The fuzz
// targets load random files and append to them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <sstream>

#include "core/session/session.h"
#include "tests/support/expected_texts.h"
#include "tests/support/fault_injection.h"
#include "tests/support/process.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using namespace testing;
using Files = std::vector<std::pair<std::string, Bytes>>;

// "NAME DESCRIPTION" of each entry, in table order.
Strings entries(const BoundCore& c) {
    Strings out;
    for (const auto& e : c.m_entries)
        out.push_back(std::string(e.nameText()) + " " + std::string(e.descriptionText()));
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
    void TearDown() override { lockWaitLimit() = std::chrono::milliseconds(5000); }
    // The custom database, holding one record and then 40 bytes of a partial one.
    void writeStart() {
        writeFile(dat, join({romEntryBytes(1, 1, "first", "kept"), Bytes(40, 0x33)}));
    }
    void writeTables() {
        writeFile(dir.file("CHIPLORE.ROM"), romTableBytes(0, "CHIP", 0x77, 8));
        writeFile(dir.file("CHIPLORE.GAM"), gameBytes("Game"));
        writeFile(dat, romEntryBytes(1, 1, "first", "kept"));
    }
    const std::string dat = dir.file("Chipsight.dat");
};

TEST_F(Database, CustomRecordsLoadFirstThenTheChipsInFileOrderWhateverTheLetterCase) {
    Bytes custom, roms;
    for (int k = 0; k < 3; ++k)
        append(custom, romEntryBytes(0x2000 + k, 2048, numbered("X", k), "Mine"));
    for (int k = 0; k < 5; ++k)
        append(roms, romTableBytes(std::int16_t(k % 2), numbered("C", k), 0x1000 + k, 1024));
    custom.resize(custom.size() + 34, 0x55);  // partial records at the end count for nothing
    roms.resize(roms.size() + 20, 0x77);
    writeFile(dat, custom);
    // The exact name wins.
    writeFile(dir.file("chipsight.DAT"), romEntryBytes(2, 2, "variant", ""));
    writeFile(dir.file("chiplore.rom"), roms);
    writeFile(dir.file("Chiplore.Gam"), join({gameBytes("Game 0"), gameBytes("Game 1")}));
    core.m_splitLevel = 5;
    core.loadDatabases();
    EXPECT_TRUE(ui.boxes().empty());
    EXPECT_EQ(entries(core), (Strings{"X0 Mine", "X1 Mine", "X2 Mine", "C0 Game 0", "C1 Game 1",
                                      "C2 Game 0", "C3 Game 1", "C4 Game 0"}));
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

// (fuzz_load checks that no other set of files shows a message, and what each set loads.)
TEST_F(Database, MissingOrEmptyTablesSayWhatIsWrongAndKeepTheRest) {
    const Bytes chips = romTableBytes(0, "C", 1, 1), mine = romEntryBytes(2, 2, "X", "Mine");
    const Call noGames = box(expected::kCannotOpenGameTable, "Error", MB_ICONSTOP);
    struct Case {
        Files files;
        Calls boxes;
        Strings entries;
        FileFaults faults = {};
    };
    const Case cases[] = {
        {{{"CHIPLORE.ROM", chips}, {"Chipsight.dat", mine}}, {noGames}, {"X Mine"}},
        {{{"CHIPLORE.ROM", {}}}, {noGames}, {}},
        // A chip table read short: the game table is not even looked for.
        {{{"CHIPLORE.ROM", chips}, {"Chipsight.dat", mine}},
         {box("Failed reading CHIPLORE.ROM!", "Error", MB_ICONSTOP)},
         {"X Mine"},
         {.name = "CHIPLORE.ROM", .readLimit = 27}},
    };
    for (const Case& c : cases) {
        const auto f = load(c.files, c.faults);
        EXPECT_EQ(f->frontEnd.boxes(), c.boxes) << c.files.size();
        EXPECT_EQ(entries(f->core), c.entries);
        EXPECT_EQ(f->frontEnd.title, title(int(c.entries.size())));
    }
}

// Each record of each file read short in turn: the message of that file, and what is kept.
TEST_F(Database, AShortReadAtEveryRecordOfEveryFile) {
    Bytes roms, custom;
    for (int k = 0; k < 4; ++k) {
        append(roms, romTableBytes(std::int16_t(k % 2), numbered("C", k), 0x100u + k, 64));
        append(custom, romEntryBytes(0x200u + k, 64, numbered("X", k), "mine"));
    }
    const Files files = {{"CHIPLORE.ROM", roms},
                         {"CHIPLORE.GAM", join({gameBytes("G0"), gameBytes("G1")})},
                         {"Chipsight.dat", custom}};
    const std::pair<std::size_t, std::size_t> shapes[] = {
        {28, 4}, {80, 2}, {108, 4}};  // record size, count
    for (std::size_t file = 0; file < 3; ++file) {
        const auto [size, records] = shapes[file];
        const std::string& name = files[file].first;
        for (std::size_t record = 0; record < records; ++record)
            for (const int error : {0, EIO}) {
                SCOPED_TRACE(name + numbered(" record ", long(record)));
                const auto f =
                    load(files,
                         {.name = name, .readLimit = record * size + size / 2, .readError = error});
                ASSERT_EQ(f->frontEnd.boxes(),
                          Calls{box("Failed reading " + name + "!", "Error", MB_ICONSTOP)});
                // The custom records before the short one stay, uncounted; the chips go.
                Strings kept;
                for (std::size_t i = 0; i < (file == 2 ? record : 4); ++i)
                    kept.push_back(numbered("X", long(i)) + " mine");
                if (file == 2) kept.insert(kept.end(), {"C0 G0", "C1 G1", "C2 G0", "C3 G1"});
                ASSERT_EQ(entries(f->core), kept);
                ASSERT_EQ(f->core.m_entryCount, 4);
            }
    }
    EXPECT_EQ(readFile(dat), custom) << "loading never writes";
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
    const Bytes entry = romEntryBytes(0x1ABCD, 0xFFFFFFFF, name18, "   ");
    EXPECT_EQ(readFile(dat), join({entry, entry}));
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
    EXPECT_FALSE(fs::exists(dat));
    ui.calls.clear();
    lockWaitLimit() = std::chrono::milliseconds(20);
    const Call cannotOpen = box(expected::kCannotOpenCustom, "Error", MB_ICONSTOP);
    {
        const int fd = ::open(dat.c_str(), O_RDWR | O_CREAT, 0644);
        ASSERT_EQ(::flock(fd, LOCK_EX), 0);  // another running copy holds it
        EXPECT_FALSE(core.appendCustomEntry("1234", "16", "n", "d"));
        ::close(fd);
        fs::remove(dat);
        InjectedFaults injected({.name = "Chipsight.dat", .openError = EACCES});
        EXPECT_FALSE(core.appendCustomEntry("1234", "16", "n", "d"));
        EXPECT_EQ(ui.boxes(), Calls(2, cannotOpen));
        EXPECT_FALSE(fs::exists(dat));
    }
    {
        InjectedFaults injected({.name = "Chipsight.dat", .writeLimit = 50});
        EXPECT_FALSE(core.appendCustomEntry("1234", "16", "n", "d"));
        EXPECT_FALSE(fs::exists(dat)) << "a first append that fails leaves no file";
    }
    // One that works has the new file's directory entry on disk before the user hears of it.
    Strings synced;
    std::map<int, std::string> paths;
    FileSystemCalls os = FileSystemCalls::posix();
    os.open = [&, real = os.open](const char* p, int f, mode_t m) {
        const int fd = real(p, f, m);
        paths[fd] = p;
        return fd;
    };
    os.fsync = [&, real = os.fsync](int fd) { return synced.push_back(paths[fd]), real(fd); };
    {
        ScopedFileSystemCalls injected(os);
        ASSERT_TRUE(core.appendCustomEntry("AAAA", "16", "first", "kept"));
    }
    EXPECT_EQ(synced, (Strings{dat, dir.path().string()}));
    const Bytes before = readFile(dat);
    std::vector<FileFaults> faults = {{.name = "Chipsight.dat", .syncError = EIO},
                                      {.name = "Chipsight.dat", .closeError = EIO}};
    for (std::size_t stored = 0; stored < 108; ++stored)
        faults.push_back({.name = "Chipsight.dat", .writeLimit = stored});
    for (const FileFaults& fault : faults) {
        InjectedFaults injected(fault);
        ui.calls.clear();
        EXPECT_FALSE(core.appendCustomEntry("BBBB", "16", "second", "lost"));
        ASSERT_EQ(ui.boxes(), Calls{box(expected::kFailedWritingCustom, "Error", MB_ICONSTOP)})
            << fault.writeLimit;
        ASSERT_EQ(readFile(dat), before) << fault.writeLimit;
    }
    EXPECT_EQ(entries(core), Strings{"first kept"});
    EXPECT_EQ(ui.title, title(core.m_entryCount));
}

// The record tests/support/appender.cpp appends for `crc`.
Bytes appended(std::uint32_t crc) {
    return romEntryBytes(crc, 64, "n" + hexText(crc, "%08X"), "appender");
}

// A lock on the file at `path` held by this process, as another program would hold it; false
// when it could not be taken at once.
bool locked(int& fd, const std::string& path, int operation) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return ::flock(fd, operation | LOCK_NB) == 0;
}

using SharedFiles = Database;

TEST_F(SharedFiles, AnAppendNeverFollowsALinkInPlaceOfTheFileButFollowsALinkedDirectory) {
    core.loadDatabases();
    const Bytes victim(150, 0x5A);
    writeFile(dir.file("victim"), victim);
    for (const char* target : {"victim", "nowhere"}) {
        fs::remove(dat);
        fs::create_symlink(dir.file(target), dat);
        EXPECT_FALSE(core.appendCustomEntry("1234", "16", "n", "d")) << target;
    }
    EXPECT_EQ(ui.boxes(), Calls(2, box(expected::kCannotOpenCustom, "Error", MB_ICONSTOP)));
    EXPECT_EQ(readFile(dir.file("victim")), victim);
    EXPECT_FALSE(fs::exists(dir.file("nowhere")));
    EXPECT_TRUE(core.m_entries.empty());
    // A linked directory above the file is the user's own arrangement.
    TempDir real;
    fs::create_symlink(real.path(), dir.file("db"));
    core.useDatabaseDirectory(dir.file("db"));
    EXPECT_TRUE(core.appendCustomEntry("1234", "16", "n", "d"));
    EXPECT_EQ(readFile(real.file("Chipsight.dat")), romEntryBytes(0x1234, 16, "n", "d"));
}

TEST_F(SharedFiles, TheLengthIsTakenUnderTheLock) {
    // Another copy opens the file while it ends in a partial record, and is held before it
    // locks; meanwhile this one appends. The other must not cut by the length it saw first.
    writeStart();
    core.loadDatabases();
    Child other({CHIPSIGHT_APPENDER, dat, "B000", "1", "before-lock"});
    ASSERT_EQ(other.readLine(), "paused");
    ASSERT_TRUE(core.appendCustomEntry("A000", "64", "nA", "mine"));
    other.writeLine("go");
    EXPECT_EQ(other.finish().out, "added 0000B000\n");
    EXPECT_EQ(readFile(dat), join({romEntryBytes(1, 1, "first", "kept"),
                                   romEntryBytes(0xA000, 64, "nA", "mine"), appended(0xB000)}));
}

TEST_F(SharedFiles, AFailedCloseTakesBackOnlyItsOwnRecordBeforeLettingGo) {
    core.loadDatabases();
    ASSERT_TRUE(core.appendCustomEntry("1", "1", "first", "kept"));
    const Bytes before = readFile(dat);
    Child other({CHIPSIGHT_APPENDER, dat, "B000", "1", "failing-close"});
    ASSERT_EQ(other.readLine(), "paused");
    // The other copy's close has failed; until it has taken its record back, nobody may write.
    int fd;
    const bool free = locked(fd, dat, LOCK_EX);
    ::close(fd);
    EXPECT_FALSE(free) << "the lock was let go before the failed append was undone";
    if (free) core.appendCustomEntry("A000", "64", "nA", "mine");
    other.writeLine("go");
    EXPECT_EQ(other.finish().out, "failed 0000B000\n");
    if (!free) core.appendCustomEntry("A000", "64", "nA", "mine");
    EXPECT_EQ(readFile(dat), join({before, romEntryBytes(0xA000, 64, "nA", "mine")}));
}

TEST_F(SharedFiles, ReadersShareFilesAndWaitForAWriter) {
    writeTables();
    writeFile(dir.file("image.bin"), Bytes(4, 0));
    // Another copy reading every file at the same time keeps nothing from this one.
    int fds[4];
    const char* files[] = {"CHIPLORE.ROM", "CHIPLORE.GAM", "Chipsight.dat", "image.bin"};
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(locked(fds[i], dir.file(files[i]), LOCK_SH));
    core.loadDatabases();
    EXPECT_EQ(core.m_entryCount, 2);
    EXPECT_EQ(core.identifyFile(dir.file("image.bin")), Outcome::NotFound);
    EXPECT_TRUE(ui.boxes().empty());
    for (int fd : fds) ::close(fd);

    // A loader that meets an appender inside its append waits for it, and sees its record.
    Child other({CHIPSIGHT_APPENDER, dat, "B000", "1", "after-sync"});
    ASSERT_EQ(other.readLine(), "paused");
    bool metTheWriter = false;
    FileSystemCalls os = FileSystemCalls::posix();
    os.flock = [&](int fd, int operation) {
        const int result = ::flock(fd, operation);
        if (result != 0 && errno == EWOULDBLOCK && !metTheWriter) {
            metTheWriter = true;
            other.writeLine("go");
            errno = EWOULDBLOCK;
        }
        return result;
    };
    ScopedFileSystemCalls injected(os);
    CoreFixture later(dir);
    later.core.loadDatabases();
    EXPECT_TRUE(metTheWriter);
    EXPECT_EQ(other.finish().out, "added 0000B000\n");
    EXPECT_TRUE(later.frontEnd.boxes().empty());
    EXPECT_EQ(later.core.m_entryCount, 3);
    EXPECT_EQ(later.core.m_entries[1],
              RomEntry::decode(std::span<const std::uint8_t, 108>(appended(0xB000).data(), 108)));
}

TEST_F(SharedFiles, AWriterThatNeverLetsGoGivesTheReadFailureOfItsFile) {
    writeTables();
    lockWaitLimit() = std::chrono::milliseconds(50);
    // Each as after a short read: the held file's entries are gone, the other file's counted.
    for (const std::string file : {"CHIPLORE.ROM", "CHIPLORE.GAM", "Chipsight.dat"}) {
        int fd;
        ASSERT_TRUE(locked(fd, dir.file(file), LOCK_EX));
        CoreFixture f(dir);
        f.core.loadDatabases();
        ::close(fd);
        EXPECT_EQ(f.frontEnd.boxes(),
                  Calls{box("Failed reading " + file + "!", "Error", MB_ICONSTOP)});
        EXPECT_EQ(f.core.m_entryCount, 1) << file;
    }
}

TEST_F(SharedFiles, EightAppendersWithFailuresKeepExactlyTheRecordsTheyReported) {
    writeStart();
    std::vector<std::unique_ptr<Child>> children;
    for (int i = 1; i <= 8; ++i) {  // every other one with a failure in every fifth append
        Strings args = {CHIPSIGHT_APPENDER, dat, numbered("", i) + "0000", "200"};
        if (i % 2 == 0) args.insert(args.end(), {"fail-every", "5"});
        children.push_back(std::make_unique<Child>(args));
    }
    std::map<std::uint32_t, bool> reported;  // checksum -> reported as added
    for (auto& child : children) {
        std::istringstream lines(child->finish().out);
        for (std::string said, crc; lines >> said >> crc;)
            reported[std::stoul(crc, nullptr, 16)] = said == "added";
    }
    ASSERT_EQ(reported.size(), 1600u);
    const Bytes file = readFile(dat);
    ASSERT_EQ(file.size() % 108, 0u);
    std::map<std::uint32_t, int> inFile;
    for (std::size_t at = 108; at < file.size(); at += 108) {
        const Bytes record(file.begin() + long(at), file.begin() + long(at) + 108);
        const std::uint32_t crc = record[0] | record[1] << 8 | record[2] << 16 | record[3] << 24;
        ASSERT_EQ(record, appended(crc));
        ++inFile[crc];
    }
    int failed = 0;
    for (const auto& [crc, added] : reported) {
        EXPECT_EQ(inFile[crc], added ? 1 : 0) << std::hex << crc;
        failed += added ? 0 : 1;
    }
    EXPECT_EQ(failed, 4 * 40);
}

// The file layer's calls with `directory` read-only (as root, permission bits would not do).
FileSystemCalls readOnly(const std::string& directory) {
    FileSystemCalls os = FileSystemCalls::posix();
    os.access = [directory, real = os.access](const char* path, int mode) {
        return path == directory && (mode & W_OK) ? (errno = EACCES, -1) : real(path, mode);
    };
    return os;
}

// With HOME in a directory of its own and XDG_DATA_HOME unset.
class Location : public ::testing::Test {
  protected:
    static std::string where(const std::string& programDir) {
        const DatabaseLocation location = locateDatabases(programDir);
        return (location.perUser ? "per user " : "portable ") + location.directory;
    }

    TempDir program, home;
    const ScopedEnv homeEnv{"HOME", home.path().c_str()}, dataHome{"XDG_DATA_HOME", nullptr};
    const std::string programDir = program.path().string();
};

TEST_F(Location, PortableBesideTheProgramOrInstalledInTheUsersDataDirectory) {
    EXPECT_EQ(where(programDir), "portable " + programDir) << "writable";
    // bin/ beside share/applications/chipsight.desktop is installed even where it is writable (as
    // for root), unless database files were put beside the program on purpose.
    fs::create_directories(program.path() / "share/applications");
    fs::create_directory(program.file("bin"));
    writeFile(program.file("share/applications/chipsight.desktop"), Bytes{});
    EXPECT_TRUE(locateDatabases(program.file("bin")).perUser);
    writeFile(program.file("bin/CHIPLORE.ROM"), Bytes{});
    EXPECT_EQ(where(program.file("bin")), "portable " + program.file("bin"));

    ScopedFileSystemCalls scoped(readOnly(programDir));
    writeFile(program.file("chipsight.bak"), Bytes{});  // files of other names do not count
    const std::string fallback = "per user " + home.path().string() + "/.local/share/chipsight";
    EXPECT_EQ(where(programDir), fallback);
    for (const char* name : {"CHIPLORE.ROM", "chiplore.gam", "Chipsight.dat"}) {
        writeFile(program.file(name), Bytes{});
        EXPECT_EQ(where(programDir), "portable " + programDir) << name;
        fs::remove(program.file(name));
    }
    for (const char* value : {"/srv/data", "", "relative/data"}) {  // only an absolute path counts
        ::setenv("XDG_DATA_HOME", value, 1);
        EXPECT_EQ(where(programDir), *value == '/' ? "per user /srv/data/chipsight" : fallback)
            << value;
    }
    EXPECT_FALSE(fs::exists(home.path() / ".local")) << "looking decides nothing on disk";
}

// (The package test runs an installed copy: nothing made before the first entry, then the data
// directory made private to the user and the entry found there by the next run.)
TEST_F(Location, AnInstalledCoreMakesTheDataDirectoryOnlyWhenItAddsAnEntryThere) {
    ::setenv("XDG_DATA_HOME", (home.path() / "data").c_str(), 1);
    ScopedFileSystemCalls scoped(readOnly(programDir));
    // A run of the program (over `named` when given) that loads and adds an entry.
    const auto run = [&](const std::string& named = "") {
        auto f = std::make_unique<CoreFixture>(program);
        if (!named.empty()) f->core.useDatabaseDirectory(named);
        f->core.loadDatabases();
        f->core.appendCustomEntry("8BB98613", "4", "EPROM1", "My board");
        return f;
    };
    writeFile(home.file("data"), Bytes{});  // a file where the directory should go
    const auto failed = run();
    EXPECT_EQ(failed->frontEnd.boxes(),
              Calls{box(expected::kCannotOpenCustom, "Error", MB_ICONSTOP)});
    EXPECT_EQ(failed->core.m_entryCount, 0);
    fs::remove(home.file("data"));
    TempDir named;  // a directory the caller names is used as it is
    EXPECT_EQ(run(named.path().string())->core.m_entryCount, 1);
    EXPECT_EQ(readFile(named.file("Chipsight.dat")).size(), 108u);
    EXPECT_FALSE(fs::exists(home.path() / "data"));
    EXPECT_EQ(run()->core.customDatabasePath(),
              home.path().string() + "/data/chipsight/Chipsight.dat");
    struct stat st {};  // its parents are made private too
    EXPECT_TRUE(::stat((home.path() / "data").c_str(), &st) == 0 && (st.st_mode & 07777) == 0700);
}

}  // namespace
}  // namespace chipsight
