// Identifying image files: report blocks byte for byte, and what each failure changes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "core/chipsight_core.h"
#include "core/crc32.h"
#include "tests/support/expected_texts.h"
#include "tests/support/fault_injection.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using testing::box;
using testing::Bytes;
using testing::makeEntry;

constexpr const char* kHead = "============================";

Bytes filled(std::size_t n, std::uint8_t value) { return Bytes(n, value); }

std::uint32_t crcOf(const Bytes& b) { return Crc32(0, b.data(), std::uint32_t(b.size())); }

std::string hex(std::uint32_t v) {
    char b[9];
    std::snprintf(b, sizeof b, "%X", v);
    return b;
}

class Identify : public ::testing::Test {
  protected:
    // Writes `bytes` as `name` and identifies it; returns what the log received.
    std::string identify(const std::string& name, const Bytes& bytes) {
        testing::writeFile(dir.file(name), bytes);
        const std::size_t before = core.m_logText.size();
        core.identifyFile(dir.file(name));
        return core.m_logText.substr(before);
    }
    std::string report(const Bytes& image, int level = 1, bool ignoreBad = true,
                       std::string_view name = "a.bin") {
        return buildReport(core.m_entries, image, name, level, ignoreBad).block;
    }

    testing::TempDir dir;
    testing::CoreFixture fixture{dir};
    testing::BoundCore& core = fixture.core;
    testing::RecordingFrontEnd& ui = fixture.frontEnd;
};

TEST_F(Identify, WorkedExampleFoundInTheSecondHalf) {
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
    EXPECT_TRUE(ui.buttonEnabled);
    // The log is pulled before it grows and pushed after; then the button is enabled.
    std::vector<std::string> order;
    for (const auto& c : ui.calls) order.push_back(c.what);
    EXPECT_EQ(order, (std::vector<std::string>{"pull", "push", "enable"}));
}

TEST_F(Identify, WorkedExampleNotFound) {
    core.m_splitLevel = 2;
    EXPECT_EQ(identify("test.bin", {0, 1, 2, 3}),
              "============================\r\ntest.bin:[8BB98613] Not Found!\r\n"
              "\t** warning some unused bits [00000011] possible bad ROM.\r\n");
}

TEST_F(Identify, EmptyAndOneByteImages) {
    EXPECT_EQ(identify("empty.bin", {}),
              std::string(kHead) +
                  "\r\n** Warning: ROM appears to be blank! **\r\nempty.bin:[0] Not Found!"
                  "\r\n\t** warning some unused bits [00000000] possible bad ROM.\r\n");
    EXPECT_EQ(core.m_lastCrc, 0u);
    EXPECT_EQ(core.m_lastSize, 0u);
    core.m_entries = {makeEntry(0, 0, "NOTHING", "empty")};
    core.m_splitLevel = 2;
    EXPECT_EQ(identify("empty.bin", {}), std::string(kHead) +
                                             "\r\n** Warning: ROM appears to be blank! **"
                                             "\r\nempty.bin: (1/1) [0]\r\n\t- NOTHING : empty"
                                             "\r\nempty.bin: (1/2) [0]\r\n\t- NOTHING : empty"
                                             "\r\nempty.bin: (2/2) [0]\r\n\t- NOTHING : empty\r\n");
    core.m_entries.clear();
    core.m_splitLevel = 1;
    EXPECT_EQ(
        identify("one.bin", {0xFF}),
        std::string(kHead) +
            "\r\n** Warning: ROM appears to be blank! **\r\none.bin:[FF000000] Not Found!\r\n");
}

TEST_F(Identify, SizesThatAreNotPowersOfTwoChangeNothing) {
    core.m_logText = std::string(40, '\n');
    ui.shownLog = core.m_logText;
    for (const std::size_t size : {3u, 12288u}) {
        ui.calls.clear();
        EXPECT_EQ(identify("odd.bin", filled(size, 0)), "");
        EXPECT_EQ(ui.calls,
                  (std::vector<testing::Call>{box(expected::kNotPowerOfTwo, "Error", MB_OK)}))
            << "no push, no scroll, no button";
    }
    EXPECT_FALSE(ui.buttonEnabled);
    EXPECT_EQ(core.m_lastFileName, "");
}

TEST_F(Identify, BlankImagesUnderIgnoreBad) {
    const Bytes blank = filled(65536, 0xFF);
    core.m_entries = {makeEntry(0xDEAB7E4E, 65536, "27C512", "blank chip")};
    EXPECT_EQ(
        identify("blank.bin", blank),
        std::string(kHead) +
            "\r\n** Warning: ROM appears to be blank! **\r\nblank.bin:[DEAB7E4E] Not Found!\r\n");
    core.m_ignoreBad = 0;
    EXPECT_EQ(identify("blank.bin", blank),
              std::string(kHead) +
                  "\r\n** Warning: ROM appears to be blank! **"
                  "\r\nblank.bin: (1/1) [DEAB7E4E]\r\n\t- 27C512 : blank chip\r\n");
}

TEST_F(Identify, EveryBlankSizeIsSkippedAnd512IsNot) {
    for (std::uint32_t size = 256; size <= 65536; size *= 2) {
        const Bytes blank = filled(size, 0xFF);
        core.m_entries = {makeEntry(crcOf(blank), size, "B", "blank")};
        const bool known = size != 512;
        EXPECT_EQ(isBlankBlock(size, crcOf(blank)), known) << size;
        EXPECT_EQ(report(blank).find("- B : blank") == std::string::npos, known) << size;
        EXPECT_NE(report(blank, 1, false).find("- B : blank"), std::string::npos) << size;
    }
    EXPECT_FALSE(isBlankBlock(2048, 0xB83AFFF4)) << "a checksum of another row";
}

TEST_F(Identify, BlankSecondHalfIsSkippedAndTheFirstLookedUp) {
    Bytes image = filled(65536, 0xFF);
    for (std::size_t i = 0; i < 32768; ++i) image[i] = std::uint8_t(i * 7);
    const Bytes firstHalf(image.begin(), image.begin() + 32768);
    core.m_entries = {makeEntry(0x1B43EABD, 32768, "BLANK", "half"),
                      makeEntry(crcOf(firstHalf), 32768, "LO", "half")};
    EXPECT_EQ(report(image, 2, true, "h.bin"), std::string(kHead) + "\r\nh.bin: (1/2) [" +
                                                   hex(crcOf(firstHalf)) + "]\r\n\t- LO : half");
    EXPECT_NE(report(image, 2, false).find("(2/2) [1B43EABD]\r\n\t- BLANK : half"),
              std::string::npos);
}

TEST_F(Identify, UnusedBitsReadFromBitSevenDown) {
    Bytes image(16);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = std::uint8_t(1u << (i % 6));
    EXPECT_NE(report(image).find("[00111111] possible bad ROM."), std::string::npos);
    image[3] = 0x80;
    EXPECT_NE(report(image).find("[10111111]"), std::string::npos);
    EXPECT_NE(report(Bytes(8, 0xFE)).find("[11111110]"), std::string::npos);
}

TEST_F(Identify, FullNamesAndDuplicates) {
    const Bytes image = {9, 8, 7, 6};
    const std::string name18 = "ABCDEFGHIJKLMNOPQR";
    core.m_entries = {makeEntry(crcOf(image), 4, name18 + "STU", std::string(85, 'd')),
                      makeEntry(crcOf(image), 4, name18, "second")};
    const std::string r = report(image);
    EXPECT_NE(r.find("\r\n\t- " + name18 + " : " + std::string(80, 'd') + "\r\n\t- " + name18 +
                     " : second"),
              std::string::npos);
    EXPECT_EQ(std::count(r.begin(), r.end(), '('), 1) << "one part header for both";
}

TEST_F(Identify, ControlCharactersInTheNameCannotForgeLines) {
    const std::string name = "evil\r\n\t- U1 : Fake\x7f.bin";
    const std::string log = identify(name, {1, 2, 3, 4});
    EXPECT_EQ(log.find("\r\n\t- U1"), std::string::npos);
    EXPECT_NE(log.find("\r\nevil"), std::string::npos);
    EXPECT_NE(log.find(std::string(3, '?') + "- U1 : Fake?.bin:["), std::string::npos);
    EXPECT_EQ(core.m_lastFileName, name) << "the name itself is kept as it is";
}

class IdentifyFailure : public Identify {
  protected:
    void SetUp() override {
        core.m_logText = "typed by the user\r\n" + std::string(20, '\n');
        ui.shownLog = core.m_logText;
        core.m_monitorFile = 1;
        core.m_lastCrc = 0x1234;
        core.m_lastSize = 16;
        core.m_lastFileName = "before.bin";
    }
    void expectUnchangedResult() {
        EXPECT_EQ(core.m_logText, "typed by the user\r\n" + std::string(20, '\n'));
        EXPECT_EQ(core.m_lastCrc, 0x1234u);
        EXPECT_EQ(core.m_lastSize, 16u);
        EXPECT_EQ(core.m_lastFileName, "before.bin");
    }
    void expectOpenFailure(const std::string& path) {
        ui.calls.clear();
        core.m_monitorFile = 1;
        EXPECT_EQ(core.identifyFile(path), Outcome::Failed);
        EXPECT_EQ(
            ui.calls,
            (std::vector<testing::Call>{
                box(expected::kErrorOpening, "Error", MB_OK), {"push"}, testing::scrolled(6)}))
            << path;
        EXPECT_EQ(core.m_monitorFile, 0);
        EXPECT_FALSE(ui.buttonEnabled);
        expectUnchangedResult();
    }
};

TEST_F(IdentifyFailure, ThingsThatCannotBeOpened) {
    expectOpenFailure(dir.file("missing.bin"));
    expectOpenFailure("");
    std::filesystem::create_directory(dir.file("folder"));
    expectOpenFailure(dir.file("folder"));
    ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);
    expectOpenFailure(dir.file("fifo"));  // must not block
    testing::writeFile(dir.file("locked.bin"), Bytes(4, 1));
    const int fd = ::open(dir.file("locked.bin").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    expectOpenFailure(dir.file("locked.bin"));
    ::close(fd);
}

TEST_F(IdentifyFailure, ShortReadEnablesTheButtonButKeepsTheLastResult) {
    testing::writeFile(dir.file("short.bin"), Bytes(1024, 0x5A));
    for (const int error : {0, EIO}) {
        ui.calls.clear();
        ui.buttonEnabled = false;
        core.m_monitorFile = 1;
        testing::FileFaults faults;
        faults.limitReads("short.bin", 1000, error);
        testing::InjectedFaults injected(faults);
        EXPECT_EQ(core.identifyFile(dir.file("short.bin")), Outcome::Failed);
        EXPECT_EQ(ui.calls,
                  (std::vector<testing::Call>{box(expected::kErrorReading, "Error", MB_OK),
                                              {"push"},
                                              {"enable"},
                                              testing::scrolled(6)}));
        EXPECT_EQ(core.m_monitorFile, 0);
        expectUnchangedResult();
    }
}

TEST_F(IdentifyFailure, FilesOfFourGibibytesAreRefused) {
    const std::string path = dir.file("huge.bin");
    const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    const int truncated = ::ftruncate(fd, off_t(1) << 32);  // sparse: no space is used
    ::close(fd);
    if (truncated != 0) GTEST_SKIP() << "the file system cannot hold a 4 GiB sparse file";
    ui.calls.clear();
    EXPECT_EQ(core.identifyFile(path), Outcome::Failed);
    EXPECT_EQ(ui.calls, (std::vector<testing::Call>{box(expected::kBelow4GiB, "Error", MB_OK)}));
    EXPECT_EQ(core.m_monitorFile, 1);
    expectUnchangedResult();
}

TEST_F(Identify, LongLogsScrollToTheirNewestLines) {
    core.m_logText = std::string(14, '\n');  // 15 lines
    ui.shownLog = core.m_logText;
    identify("a.bin", {1, 2, 3, 4});  // three more lines: 18 shown
    EXPECT_EQ(ui.calls.back(), testing::scrolled(2));
    ui.calls.clear();
    core.clearLog();
    ui.shownLog.clear();
    identify("a.bin", {1, 2, 3, 4});
    EXPECT_EQ(ui.count("scroll"), 0);
}

}  // namespace
}  // namespace chipsight
