// Identifying image files and typed checksums through the core, and watching a file: report
// blocks byte for byte, the calls on the front end in order, and what each failure leaves alone.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/expected_texts.h"
#include "tests/support/fault_injection.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using namespace testing;
constexpr auto npos = std::string::npos;

class Identify : public CoreTest {
  protected:
    // Writes `bytes` as `name` and identifies it; returns what the log received.
    std::string identify(const std::string& name, const Bytes& bytes) {
        writeFile(dir.file(name), bytes);
        const std::size_t before = core.m_logText.size();
        core.identifyFile(dir.file(name));
        return core.m_logText.substr(before);
    }
};

TEST_F(Identify, WorkedExamples) {
    core.m_entries = {
        makeEntry(0x11111111, 4, "other", "x"), makeEntry(0xEAE621C7, 2, "U2", "Demo board"),
        makeEntry(0xEAE621C7, 3, "wrong size", "x"), makeEntry(0xEAE621C7, 2, "U3", "Spare")};
    core.m_splitLevel = 2;
    EXPECT_EQ(identify("test.bin", {0, 1, 2, 3}),
              "============================\r\ntest.bin: (2/2) [EAE621C7]\r\n\t- U2 : Demo board"
              "\r\n\t- U3 : Spare\r\n");
    EXPECT_EQ(core.m_lastCrc, 0x8BB98613u);
    EXPECT_EQ(core.m_lastSize, 4u);
    EXPECT_EQ(core.m_lastFileName, "test.bin");
    // The log is pulled before it grows and pushed after; then the button is enabled.
    EXPECT_EQ(ui.calls, (Calls{{"pull"}, {"push"}, {"enable"}}));
    core.m_entries.clear();
    EXPECT_EQ(identify("test.bin", {0, 1, 2, 3}),
              "============================\r\ntest.bin:[8BB98613] Not Found!\r\n"
              "\t** warning some unused bits [00000011] possible bad ROM.\r\n");
    EXPECT_EQ(identify("one.bin", {0xFF}),
              "============================\r\n** Warning: ROM appears to be blank! **\r\n"
              "one.bin:[FF000000] Not Found!\r\n");
    // Control characters in a name cannot forge lines nor reach a terminal; the name is kept.
    const std::string name = "evil\r\n\t- U1 : Fake\x7f\x1b[2J\xff.bin";
    EXPECT_NE(identify(name, {1, 2, 3, 4}).find("\r\nevil??\?- U1 : Fake?\?[2J\xff.bin:["), npos);
    EXPECT_EQ(core.m_lastFileName, name);
    // Past 16 lines the log is scrolled to its newest ones.
    ui.shownLog = std::string(14, '\n');
    identify("a.bin", {1, 2, 3, 4});
    EXPECT_EQ(ui.calls.back(), scrolled(2));
}

class IdentifyFailure : public Identify {
  protected:
    void SetUp() override {
        core.m_logText = ui.shownLog = "typed by the user\r\n" + std::string(20, '\n');
        core.m_lastCrc = 0x1234;
        core.m_lastSize = 16;
        core.m_lastFileName = "before.bin";
    }
    // Identifies `path` while it is watched: the calls are `calls`, the watch goes on or not,
    // and the log and the last result are as they were.
    void expectFailure(const std::string& path, const Calls& calls, bool watched) {
        ui.calls.clear();
        core.m_monitorFile = 1;
        EXPECT_EQ(core.identifyFile(path), Outcome::Failed) << path;
        EXPECT_EQ(ui.calls, calls) << path;
        EXPECT_EQ(core.m_monitorFile, watched ? 1 : 0) << path;
        EXPECT_EQ(core.m_logText, "typed by the user\r\n" + std::string(20, '\n'));
        EXPECT_EQ(core.m_lastCrc, 0x1234u);
        EXPECT_EQ(core.m_lastSize, 16u);
        EXPECT_EQ(core.m_lastFileName, "before.bin");
    }
};

TEST_F(IdentifyFailure, WhatCannotBeOpenedOrReadOrHasARefusedSize) {
    // Nothing but a regular file that no writer holds is read; a FIFO must not block.
    std::filesystem::create_directory(dir.file("folder"));
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    writeFile(dir.file("locked.bin"), Bytes(4, 1));
    const int fd = ::open(dir.file("locked.bin").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    for (const std::string& path :
         {dir.file("missing.bin"), std::string(), dir.file("folder"), dir.file("fifo"),
          std::string("/dev/zero"), dir.file("locked.bin")})
        expectFailure(path, {box(expected::kErrorOpening, "Error", MB_OK), {"push"}, scrolled(6)},
                      false);
    ::close(fd);
    // Refused sizes show their message alone. Cut to 32 bits, 5 GiB would pass for 1 GiB.
    for (const std::size_t size : {3ul, 12288ul, 4ul << 30, 5ul << 30}) {
        writeFile(dir.file("odd.bin"), Bytes{});
        std::filesystem::resize_file(dir.file("odd.bin"), size);  // sparse: costs no disk
        expectFailure(dir.file("odd.bin"),
                      {box(size < (4ul << 30) ? expected::kNotPowerOfTwo : expected::kBelow4GiB,
                           "Error", MB_OK)},
                      true);
    }
    EXPECT_FALSE(ui.buttonEnabled);
    // A read that comes short or fails enables the button, and keeps the last result.
    writeFile(dir.file("short.bin"), Bytes(1024, 0x5A));
    for (const int error : {0, EIO}) {
        InjectedFaults injected({.name = "short.bin", .readLimit = 1000, .readError = error});
        expectFailure(
            dir.file("short.bin"),
            {box(expected::kErrorReading, "Error", MB_OK), {"push"}, {"enable"}, scrolled(6)},
            false);
    }
}

// A value that reads as 0 shows its message and is looked up as 0. Under Ignore Bad a blank pair
// is passed over without a call (512 bytes is no blank row).
TEST_F(Identify, TypedChecksums) {
    core.m_entries = {makeEntry(0xEAE621C7, 4, "no", "x"), makeEntry(0xEAE621C7, 2, "U2", "D"),
                      makeEntry(0xEAE621C7, 2, "U3", "S"), makeEntry(0, 2048, "ZERO", "zero")};
    core.m_lastFileName = "kept.bin";
    const Call badChecksum = box(expected::kBadChecksum, "Validation Error!", MB_ICONEXCLAMATION);
    const Call badSize = box(expected::kBadSize, "Validation Error!", MB_ICONEXCLAMATION);
    struct Case {
        const char *checksum, *size;
        int ignoreBad;
        Outcome outcome;
        Calls boxes;
        std::string log;
    };
    const Case cases[] = {
        {"EAE621C7", "2", 1, Outcome::Found, {}, ": [EAE621C7]\r\n\t- U2 : D\r\n\t- U3 : S"},
        {"", "", 1, Outcome::NotFound, {badChecksum, badSize}, ":[0] Not Found!"},
        {"zz", "0x800", 1, Outcome::Found, {badChecksum}, ": [0]\r\n\t- ZERO : zero"},
        {"3F55D17F", "0x800", 1, Outcome::Skipped, {}, ""},
        {"BD7BC39F", "512", 1, Outcome::NotFound, {}, ":[BD7BC39F] Not Found!"},
        {"3F55D17F", "0x800", 0, Outcome::NotFound, {}, ":[3F55D17F] Not Found!"},
    };
    for (Case c : cases) {
        core.m_logText.clear();
        ui.calls.clear();
        core.m_ignoreBad = c.ignoreBad;
        EXPECT_EQ(core.identifyTypedEntry(c.checksum, c.size), c.outcome) << c.checksum;
        if (c.outcome != Outcome::Skipped)
            c.boxes.insert(c.boxes.end(), {{"pull"}, {"push"}, {"enable"}});
        EXPECT_EQ(ui.calls, c.boxes) << c.checksum;
        if (!c.log.empty())
            c.log = "============================\r\nManualy Entered" + c.log + "\r\n";
        EXPECT_EQ(core.m_logText, c.log);
    }
    EXPECT_EQ(core.m_lastFileName, "kept.bin");
}

class Monitor : public CoreTest {
  protected:
    void SetUp() override {
        writeFile(path, Bytes{0, 1, 2, 3});
        setTime(1'000'000);
        core.m_monitorFile = 1;  // as the check box leaves it when clicked
    }
    void setTime(std::int64_t seconds, long nanoseconds = 0) {
        const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    int reports() const {
        int n = 0;
        for (auto at = core.m_logText.find("test.bin:"); at != npos;
             at = core.m_logText.find("test.bin:", at + 1))
            ++n;
        return n;
    }
    std::string path = dir.file("test.bin");
};

TEST_F(Monitor, OneReportAtOnceThenOneAtEachChangeOfTimeWhileTheFileIsThere) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    EXPECT_FALSE(core.startMonitor(path)) << "a file that cannot be opened cannot be watched";
    ::close(fd);
    EXPECT_EQ(ui.calls, Calls{box(expected::kUnableToMonitor, "Error", MB_OK)});
    EXPECT_EQ(core.m_monitorFile, 0);
    core.m_monitorFile = 1;
    ui.calls.clear();
    ASSERT_TRUE(core.startMonitor(path));
    EXPECT_FALSE(core.monitorTick()) << "nothing changed";
    setTime(1'000'005);
    EXPECT_TRUE(core.monitorTick());
    setTime(1'000'005, 900'000'000);  // another save within the same second goes unseen
    EXPECT_FALSE(core.monitorTick());
    setTime(999'000);  // an older copy put back is a change too
    EXPECT_TRUE(core.monitorTick());
    // Away, or a folder in its place: nothing is reported until the file is back.
    std::filesystem::rename(path, dir.file("away"));
    EXPECT_FALSE(core.monitorTick());
    std::filesystem::create_directory(path);
    setTime(6'000'000);
    EXPECT_FALSE(core.monitorTick());
    std::filesystem::remove(path);
    std::filesystem::rename(dir.file("away"), path);
    setTime(6'000'001);
    EXPECT_TRUE(core.monitorTick());
    EXPECT_EQ(reports(), 4);
    EXPECT_TRUE(ui.boxes().empty());
    // A refused size is reported at the start and at each change, and the watch goes on.
    writeFile(path, Bytes(3, 1));
    EXPECT_TRUE(core.startMonitor(path));
    setTime(7'000'000);
    EXPECT_TRUE(core.monitorTick());
    EXPECT_EQ(ui.boxes(), Calls(2, box(expected::kNotPowerOfTwo, "Error", MB_OK)));
    EXPECT_EQ(core.m_monitorFile, 1);
}

}  // namespace
}  // namespace chipsight
