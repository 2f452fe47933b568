// The database files shared with other processes: links, locks, stale lengths, rolled-back
// appends. A second process is held at a known point inside the file layer, so every race here
// happens the same way each time.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <map>
#include <sstream>

#include "core/chipsight_core.h"
#include "tests/support/expected_texts.h"
#include "tests/support/fault_injection.h"
#include "tests/support/process.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using namespace testing;

// The record tests/support/appender.cpp appends for `crc`.
Bytes appended(std::uint32_t crc) {
    char name[16];
    std::snprintf(name, sizeof name, "n%08X", crc);
    return romEntryBytes(crc, 64, name, "appender");
}

// A lock on the file at `path` held by this process, as another program would hold it; false
// when it could not be taken at once.
bool locked(int& fd, const std::string& path, int operation) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return ::flock(fd, operation | LOCK_NB) == 0;
}

class SharedFiles : public CoreTest {
  protected:
    void TearDown() override { lockWaitLimit() = std::chrono::milliseconds(5000); }
    // The custom database, holding one record and then 40 bytes of a partial one.
    void writeStart() {
        Bytes start = romEntryBytes(1, 1, "first", "kept");
        start.resize(start.size() + 40, 0x33);
        writeFile(dat, start);
    }
    void writeTables() {
        writeFile(dir.file("CHIPLORE.ROM"), romTableBytes(0, "CHIP", 0x77, 8));
        writeFile(dir.file("CHIPLORE.GAM"), gameBytes("Game"));
        writeFile(dat, romEntryBytes(1, 1, "first", "kept"));
    }
    const std::string dat = dir.file("Chipsight.dat");
};

TEST_F(SharedFiles, AnAppendNeverFollowsALinkInPlaceOfTheFileButFollowsALinkedDirectory) {
    core.loadDatabases();
    const Bytes victim(150, 0x5A);
    writeFile(dir.file("victim"), victim);
    for (const char* target : {"victim", "nowhere"}) {
        std::filesystem::remove(dat);
        std::filesystem::create_symlink(dir.file(target), dat);
        EXPECT_FALSE(core.appendCustomEntry("1234", "16", "n", "d")) << target;
    }
    EXPECT_EQ(ui.boxes(), Calls(2, box(expected::kCannotOpenCustom, "Error", MB_ICONSTOP)));
    EXPECT_EQ(readFile(dir.file("victim")), victim);
    EXPECT_FALSE(std::filesystem::exists(dir.file("nowhere")));
    EXPECT_TRUE(core.m_entries.empty());
    // A linked directory above the file is the user's own arrangement.
    TempDir real;
    std::filesystem::create_symlink(real.path(), dir.file("db"));
    core.useDatabaseDirectory(dir.file("db"));
    EXPECT_TRUE(core.appendCustomEntry("1234", "16", "n", "d"));
    EXPECT_EQ(readFile(real.file("Chipsight.dat")), romEntryBytes(0x1234, 16, "n", "d"));
}

TEST_F(SharedFiles, AFirstAppendThatFailsLeavesNoFileAndOneThatWorksFlushesTheDirectory) {
    core.loadDatabases();
    {
        InjectedFaults injected({.name = "Chipsight.dat", .writeLimit = 50});
        EXPECT_FALSE(core.appendCustomEntry("1234", "16", "n", "d"));
    }
    EXPECT_FALSE(std::filesystem::exists(dat));
    // The new file's directory entry reaches the disk before the user is told it was added.
    std::vector<std::string> synced;
    std::map<int, std::string> paths;
    FileSystemCalls os = FileSystemCalls::posix();
    const FileSystemCalls real = FileSystemCalls::posix();
    os.open = [&](const char* p, int f, mode_t m) {
        const int fd = real.open(p, f, m);
        paths[fd] = p;
        return fd;
    };
    os.fsync = [&](int fd) { return synced.push_back(paths[fd]), real.fsync(fd); };
    ScopedFileSystemCalls injected(os);
    EXPECT_TRUE(core.appendCustomEntry("1234", "16", "n", "d"));
    EXPECT_EQ(synced, (std::vector<std::string>{dat, dir.path().string()}));
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
    Bytes expected = romEntryBytes(1, 1, "first", "kept");
    append(expected, romEntryBytes(0xA000, 64, "nA", "mine"));
    append(expected, appended(0xB000));
    EXPECT_EQ(readFile(dat), expected);
}

TEST_F(SharedFiles, AFailedCloseTakesBackOnlyItsOwnRecordBeforeLettingGo) {
    core.loadDatabases();
    ASSERT_TRUE(core.appendCustomEntry("1", "1", "first", "kept"));
    Bytes expected = readFile(dat);
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
    append(expected, romEntryBytes(0xA000, 64, "nA", "mine"));
    EXPECT_EQ(readFile(dat), expected);
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
        std::vector<std::string> args = {CHIPSIGHT_APPENDER, dat, numbered("", i) + "0000", "200"};
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
        const auto crc =
            RomEntry::decode(std::span<const std::uint8_t, 108>(record.data(), 108)).crc;
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

}  // namespace
}  // namespace chipsight
