// The database files shared with other processes: links, locks, stale lengths, rolled-back
// appends, and files too large for memory. A second process is held at a known point inside
// the file layer, so every race here happens the same way each time.
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

using testing::box;
using testing::Bytes;

// Record k of an appender with checksum base B, as tests/support/appender.cpp writes it.
Bytes appended(std::uint32_t crc) {
    char text[16];
    std::snprintf(text, sizeof text, "n%08X", crc);
    return testing::romEntryBytes(crc, 64, text, "appender");
}

std::vector<std::string> appender(const std::string& dat, std::uint32_t base, int count,
                                  std::vector<std::string> more = {}) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", base);
    std::vector<std::string> args = {CHIPSIGHT_APPENDER, dat, hex, std::to_string(count)};
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

// Holds the file at `path` under a lock of this process's own, as another program would.
class HeldLock {
  public:
    HeldLock(const std::string& path, int operation)
        : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        EXPECT_GE(fd_, 0);
        EXPECT_EQ(::flock(fd_, operation | LOCK_NB), 0);
    }
    ~HeldLock() { ::close(fd_); }

  private:
    int fd_;
};

class SharedFiles : public ::testing::Test {
  protected:
    void SetUp() override { lockWaitLimit() = std::chrono::milliseconds(5000); }
    void TearDown() override { lockWaitLimit() = std::chrono::milliseconds(5000); }
    std::string dat() const { return dir.file("Chipsight.dat"); }

    testing::TempDir dir;
    testing::CoreFixture fixture{dir};
    testing::BoundCore& core = fixture.core;
    testing::RecordingFrontEnd& ui = fixture.frontEnd;
};

TEST_F(SharedFiles, AnAppendNeverFollowsALinkInPlaceOfTheFile) {
    core.loadDatabases();
    const Bytes victim(150, 0x5A);
    testing::writeFile(dir.file("victim"), victim);
    std::filesystem::create_symlink(dir.file("victim"), dat());
    EXPECT_FALSE(core.appendCustomEntry("1234", "16", "n", "d"));
    std::filesystem::remove(dat());
    std::filesystem::create_symlink(dir.file("nowhere"), dat());
    EXPECT_FALSE(core.appendCustomEntry("1234", "16", "n", "d"));
    EXPECT_EQ(ui.boxes(), std::vector<testing::Call>(
                              2, box(expected::kCannotOpenCustom, "Error", MB_ICONSTOP)));
    EXPECT_EQ(testing::readFile(dir.file("victim")), victim);
    EXPECT_FALSE(std::filesystem::exists(dir.file("nowhere")));
    EXPECT_TRUE(core.m_entries.empty());

    // A linked directory above the file is the user's own arrangement, and is followed.
    testing::TempDir real;
    std::filesystem::create_symlink(real.path(), dir.file("db"));
    core.useDatabaseDirectory(dir.file("db"));
    EXPECT_TRUE(core.appendCustomEntry("1234", "16", "n", "d"));
    EXPECT_EQ(testing::readFile(real.file("Chipsight.dat")),
              testing::romEntryBytes(0x1234, 16, "n", "d"));
}

TEST_F(SharedFiles, AFirstAppendThatFailsLeavesNoFileAndOneThatWorksFlushesTheDirectory) {
    core.loadDatabases();
    {
        testing::FileFaults faults;
        faults.limitWrites("Chipsight.dat", 50);
        testing::InjectedFaults injected(faults);
        EXPECT_FALSE(core.appendCustomEntry("1234", "16", "n", "d"));
    }
    EXPECT_FALSE(std::filesystem::exists(dat()));

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
    os.fsync = [&](int fd) {
        synced.push_back(paths[fd]);
        return real.fsync(fd);
    };
    ScopedFileSystemCalls injected(os);
    EXPECT_TRUE(core.appendCustomEntry("1234", "16", "n", "d"));
    EXPECT_EQ(synced, (std::vector<std::string>{dat(), dir.path().string()}));
}

TEST_F(SharedFiles, TheLengthIsTakenUnderTheLock) {
    // Another copy opens the file while it ends in a partial record, and is held before it
    // locks; meanwhile this one appends. The other must not cut by the length it saw first.
    Bytes start = testing::romEntryBytes(1, 1, "first", "kept");
    start.resize(start.size() + 40, 0x33);
    testing::writeFile(dat(), start);
    core.loadDatabases();
    testing::Child other(appender(dat(), 0xB000, 1, {"before-lock"}));
    ASSERT_EQ(other.readLine(), "paused");
    ASSERT_TRUE(core.appendCustomEntry("A000", "64", "nA", "mine"));
    other.writeLine("go");
    EXPECT_EQ(other.finish().out, "added 0000B000\n");
    Bytes expected = testing::romEntryBytes(1, 1, "first", "kept");
    testing::append(expected, testing::romEntryBytes(0xA000, 64, "nA", "mine"));
    testing::append(expected, appended(0xB000));
    EXPECT_EQ(testing::readFile(dat()), expected);
}

TEST_F(SharedFiles, AFailedCloseTakesBackOnlyItsOwnRecordBeforeLettingGo) {
    core.loadDatabases();
    ASSERT_TRUE(core.appendCustomEntry("1", "1", "first", "kept"));
    const Bytes before = testing::readFile(dat());
    testing::Child other(appender(dat(), 0xB000, 1, {"failing-close"}));
    ASSERT_EQ(other.readLine(), "paused");
    // The other copy's close has failed; until it has taken its record back, nobody may write.
    const int fd = ::open(dat().c_str(), O_RDONLY | O_CLOEXEC);
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    EXPECT_FALSE(free) << "the lock was let go before the failed append was undone";
    if (free) core.appendCustomEntry("A000", "64", "nA", "mine");
    other.writeLine("go");
    EXPECT_EQ(other.finish().out, "failed 0000B000\n");
    if (!free) {
        ASSERT_TRUE(core.appendCustomEntry("A000", "64", "nA", "mine"));
    }
    Bytes expected = before;
    testing::append(expected, testing::romEntryBytes(0xA000, 64, "nA", "mine"));
    EXPECT_EQ(testing::readFile(dat()), expected);
}

TEST_F(SharedFiles, ReadersShareFilesAndWaitForAWriter) {
    testing::writeFile(dir.file("CHIPLORE.ROM"), testing::romTableBytes(0, "CHIP", 0x77, 8));
    testing::writeFile(dir.file("CHIPLORE.GAM"), testing::gameBytes("Game"));
    testing::writeFile(dat(), testing::romEntryBytes(1, 1, "first", "kept"));
    const Bytes image(4, 0);
    testing::writeFile(dir.file("image.bin"), image);

    // Another copy reading every file at the same time keeps nothing from this one.
    {
        HeldLock rom(dir.file("CHIPLORE.ROM"), LOCK_SH), gam(dir.file("CHIPLORE.GAM"), LOCK_SH),
            custom(dat(), LOCK_SH), img(dir.file("image.bin"), LOCK_SH);
        core.loadDatabases();
        EXPECT_EQ(core.m_entryCount, 2);
        EXPECT_EQ(core.identifyFile(dir.file("image.bin")), Outcome::NotFound);
        EXPECT_TRUE(ui.boxes().empty());
    }
    // An image that a writer holds is refused at once, as before.
    {
        HeldLock img(dir.file("image.bin"), LOCK_EX);
        EXPECT_EQ(core.identifyFile(dir.file("image.bin")), Outcome::Failed);
        EXPECT_EQ(ui.boxes(),
                  std::vector<testing::Call>{box(expected::kErrorOpening, "Error", MB_OK)});
    }

    // A loader that meets an appender inside its append waits for it, and sees its record.
    testing::Child other(appender(dat(), 0xB000, 1, {"after-sync"}));
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
    testing::CoreFixture later(dir);
    later.core.loadDatabases();
    EXPECT_TRUE(metTheWriter);
    EXPECT_EQ(other.finish().out, "added 0000B000\n");
    EXPECT_TRUE(later.frontEnd.boxes().empty());
    EXPECT_EQ(later.core.m_entryCount, 3);
    EXPECT_EQ(later.core.m_entries[1],
              RomEntry::decode(std::span<const std::uint8_t, 108>(appended(0xB000).data(), 108)));
}

TEST_F(SharedFiles, AWriterThatNeverLetsGoGivesTheReadFailureOfItsFile) {
    testing::writeFile(dir.file("CHIPLORE.ROM"), testing::romTableBytes(0, "CHIP", 0x77, 8));
    testing::writeFile(dir.file("CHIPLORE.GAM"), testing::gameBytes("Game"));
    testing::writeFile(dat(), testing::romEntryBytes(1, 1, "first", "kept"));
    lockWaitLimit() = std::chrono::milliseconds(50);
    // Each as after a short read: the held file's entries are gone, the other file's count.
    for (const std::string file : {"CHIPLORE.ROM", "CHIPLORE.GAM", "Chipsight.dat"}) {
        HeldLock held(dir.file(file), LOCK_EX);
        testing::CoreFixture f(dir);
        f.core.loadDatabases();
        EXPECT_EQ(f.frontEnd.boxes(), std::vector<testing::Call>{box("Failed reading " + file + "!",
                                                                     "Error", MB_ICONSTOP)});
        EXPECT_EQ(f.core.m_entryCount, 1) << file;
    }
}

TEST_F(SharedFiles, EightAppendersWithFailuresKeepExactlyTheRecordsTheyReported) {
    Bytes start = testing::romEntryBytes(1, 1, "first", "kept");
    start.resize(start.size() + 40, 0x33);
    testing::writeFile(dat(), start);
    std::vector<std::unique_ptr<testing::Child>> children;
    for (std::uint32_t i = 0; i < 8; ++i) {
        std::vector<std::string> more;
        if (i % 2 == 1) more = {"fail-every", "5"};
        children.push_back(
            std::make_unique<testing::Child>(appender(dat(), 0x10000 * (i + 1), 200, more)));
    }
    std::map<std::uint32_t, bool> reported;  // checksum -> reported as added
    for (auto& child : children) {
        std::istringstream lines(child->finish().out);
        std::string said, crc;
        while (lines >> said >> crc)
            reported[std::uint32_t(std::stoul(crc, nullptr, 16))] = said == "added";
    }
    ASSERT_EQ(reported.size(), 1600u);
    const Bytes file = testing::readFile(dat());
    ASSERT_EQ(file.size() % 108, 0u);
    std::map<std::uint32_t, int> inFile;
    for (std::size_t at = 108; at < file.size(); at += 108) {
        const auto e = RomEntry::decode(std::span<const std::uint8_t, 108>(&file[at], 108));
        ASSERT_EQ(Bytes(file.begin() + long(at), file.begin() + long(at) + 108), appended(e.crc));
        ++inFile[e.crc];
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
