// Identifying image files and typed checksums through the core, and watching a file: report
// blocks byte for byte, the calls on the front end in order, and what each failure leaves alone,
// images that change while they are read included.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

#include "core/checksum/crc32.h"
#include "core/doctor/doctor.h"
#include "core/input/image_reader.h"
#include "core/sys/file_layer.h"
#include "tests/support/archive_writer.h"
#include "tests/support/expected_texts.h"
#include "tests/support/fault_injection.h"
#include "tests/support/reference_report.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using namespace testing;
using ::testing::HasSubstr;

enum Change { CutShort, Grown, WrittenOver };

// Changes the file at `path` of `size` bytes from another descriptor, as an EPROM programmer
// rewriting it would.
void change(const std::string& path, std::size_t size, Change how) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    const Bytes bytes = how == WrittenOver ? randomBytes(size, 777) : Bytes(size, 0x5A);
    if (how == CutShort)
        EXPECT_EQ(::ftruncate(fd, off_t(size / 4)), 0);
    else
        EXPECT_EQ(::pwrite(fd, bytes.data(), size, how == Grown ? off_t(size) : 0), ssize_t(size));
    ::close(fd);
}

class Identify : public CoreTest {
  protected:
    // Writes `bytes` as `name` and identifies it; returns what the log received, the calls on
    // the front end kept in `ui`, the outcome in `outcome`.
    std::string identify(const std::string& name, const Bytes& bytes) {
        writeFile(dir.file(name), bytes);
        const std::size_t before = core.m_logText.size();
        ui.calls.clear();
        outcome = core.identifyFile(dir.file(name));
        return core.m_logText.substr(before);
    }
    // The last result: "CRC SIZE NAME".
    std::string last() const {
        return hexText(core.m_lastCrc) + numbered(" ", core.m_lastSize) + " " + core.m_lastFileName;
    }
    Outcome outcome = Outcome::Failed;
};

TEST_F(Identify, WorkedExamples) {
    core.m_entries = {
        makeEntry(0x11111111, 4, "other", "x"), makeEntry(0xEAE621C7, 2, "U2", "Demo board"),
        makeEntry(0xEAE621C7, 3, "wrong size", "x"), makeEntry(0xEAE621C7, 2, "U3", "Spare")};
    core.m_splitLevel = 2;
    EXPECT_EQ(identify("test.bin", {0, 1, 2, 3}),
              "============================\r\ntest.bin: (2/2) [EAE621C7]\r\n\t- U2 : Demo board"
              "\r\n\t- U3 : Spare\r\n");
    EXPECT_EQ(last(), "8bb98613 4 test.bin");
    // The log is pulled before it grows and pushed after; then the button is enabled.
    EXPECT_EQ(ui.calls, (Calls{{"pull"}, {"push"}, {"enable"}}));
    core.m_entries.clear();
    EXPECT_EQ(identify("one.bin", {0xFF}),
              "============================\r\n** Warning: ROM appears to be blank! **\r\n"
              "one.bin:[FF000000] Not Found!\r\n");
    // Control characters in a name cannot forge lines nor reach a terminal; the name is kept.
    const std::string name = "evil\r\n\t- U1 : Fake\x7f\x1b[2J\xff.bin";
    EXPECT_THAT(identify(name, {1, 2, 3, 4}), HasSubstr("\r\nevil??\?- U1 : Fake?\?[2J\xff.bin:["));
    EXPECT_EQ(core.m_lastFileName, name);
    // A typed checksum is reported as a file's is, and the last file's name stays; a blank pair
    // is skipped under Ignore Bad, without a call. (The command-line tests show typed values that
    // read as 0 looked up as 0, with their messages.)
    core.m_entries = {makeEntry(0xEAE621C7, 4, "no", "x"), makeEntry(0xEAE621C7, 2, "U2", "D")};
    ui.calls.clear();
    const std::size_t before = core.m_logText.size();
    EXPECT_EQ(core.identifyTypedEntry("EAE621C7", "2"), Outcome::Found);
    EXPECT_EQ(core.m_logText.substr(before),
              "============================\r\nManualy Entered: [EAE621C7]\r\n\t- U2 : D\r\n");
    EXPECT_EQ(ui.calls, (Calls{{"pull"}, {"push"}, {"enable"}}));
    EXPECT_EQ(core.m_lastFileName, name);
    ui.calls.clear();
    EXPECT_EQ(core.identifyTypedEntry("3F55D17F", "0x800"), Outcome::Skipped);
    EXPECT_TRUE(ui.calls.empty());
    core.m_ignoreBad = 0;
    EXPECT_EQ(core.identifyTypedEntry("3F55D17F", "0x800"), Outcome::NotFound);
    EXPECT_TRUE(core.m_logText.ends_with("\r\nManualy Entered:[3F55D17F] Not Found!\r\n"));
    // Past 16 lines the log is scrolled to its newest ones.
    ui.shownLog = std::string(14, '\n');
    identify("a.bin", {1, 2, 3, 4});
    EXPECT_EQ(ui.calls.back(), scrolled(2));
}

// A dump behind a header its emulator wants is identified by the bytes after it, whether read in
// pieces or mapped, its bytes kept or not; a file of that length without a known signature is
// refused as ever.
TEST_F(Identify, DumpsBehindAKnownHeaderAreIdentifiedWithoutIt) {
    struct Header {
        std::string kind;
        Bytes bytes;
    };
    const Header headers[] = {{"iNES", join({{'N', 'E', 'S', 0x1A, 1, 1}, Bytes(10)})},
                              {"A78", join({{0}, bytesOf("ATARI7800"), Bytes(118)})},
                              {"LNX", join({bytesOf("LYNX"), Bytes(60)})}};
    for (const std::size_t size : {16ul << 10, 2ul << 20}) {
        const Bytes dump = randomBytes(size, 5);
        const std::uint32_t crc = Crc32(0, dump.data(), size);
        core.m_entries = {makeEntry(crc, std::uint32_t(size), "PRG", "Game")};
        for (const Header& header : headers) {
            Bytes file = join({header.bytes, dump});
            for (const bool doctor : {false, true}) {
                core.setDoctor(doctor);
                EXPECT_EQ(identify("game", file),
                          "============================\r\ngame: (1/1) [" + hexText(crc, "%X") +
                              "]\r\n\t- PRG : Game\r\n\t** " + header.kind + " header of " +
                              std::to_string(header.bytes.size()) + " bytes left out\r\n")
                    << header.kind << " " << size;
                EXPECT_EQ(core.m_lastSize, size);
            }
            file[header.kind == "A78" ? 1 : 0] ^= 0x20;
            EXPECT_EQ(identify("game", file), "");
            EXPECT_EQ(ui.calls, Calls{box(expected::kNotPowerOfTwo, "Error", MB_OK)});
        }
    }
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
        EXPECT_EQ(last(), "00001234 16 before.bin");
    }
    const Calls errorReading = {
        box(expected::kErrorReading, "Error", MB_OK), {"push"}, {"enable"}, scrolled(6)};
};

TEST_F(IdentifyFailure, WhatCannotBeOpenedOrReadOrHasARefusedSize) {
    // Nothing but a regular file that no writer holds is read; a FIFO must not block.
    fs::create_directory(dir.file("folder"));
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
        fs::resize_file(dir.file("odd.bin"), size);  // sparse: costs no disk
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
        expectFailure(dir.file("short.bin"), errorReading, false);
    }
}

// Firmware may start with a gzip stream, or as a zip does: the database knowing the dump whole
// wins over its first bytes, whether it is read in pieces or mapped.
TEST_F(Identify, ADumpThatLooksLikeAnArchiveIsReportedWholeWhenKnown) {
    const std::string path = dir.file("fw.bin");
    writeArchive(path, "gz", {{"kernel", randomBytes(1000, 5)}});
    const Bytes stream = readFile(path);
    for (const std::uint32_t size : {4096u, 4u << 20}) {
        Bytes dump = randomBytes(size, 7);
        std::copy(stream.begin(), stream.end(), dump.begin());
        core.m_entries = {makeEntry(crcOf(dump), size, "FW", "Board")};
        EXPECT_EQ(identify("fw.bin", dump), "============================\r\nfw.bin: (1/1) [" +
                                                hexText(crcOf(dump), "%X") +
                                                "]\r\n\t- FW : Board\r\n");
        EXPECT_EQ(outcome, Outcome::Found);
        EXPECT_TRUE(ui.boxes().empty());
    }
}

// With the doctor on and the records of a JSON line wanted, a file read ahead that is not found
// is read once: the doctor and the SHA-1 take the bytes that made its digest.
TEST_F(Identify, ADumpNotFoundIsReadOnceForTheDoctorAndItsRecord) {
    struct Wanting : RecordingFrontEnd {
        bool wantsRecords() const override { return true; }
        void recorded(const ImageRecord& r) override { records.push_back(r); }
        std::vector<ImageRecord> records;
    } front;
    const ScopedEnv cache("XDG_CACHE_HOME", dir.file("cache").c_str());
    writeFile(dir.file("sha1.xml"),
              std::string("<?xml version=\"1.0\"?><datafile><game name=\"g\"><rom name=\"r\" "
                          "size=\"4\" crc=\"01020304\" sha1=\"") +
                  std::string(40, 'a') + "\"/></game></datafile>\n");
    BoundCore own(front, dir.programPath(), {});
    own.addDatPath(dir.file("sha1.xml"));
    own.loadDatabases();
    own.setDoctor(true);
    const std::string path = dir.file("dump.bin");
    const Bytes dump = randomBytes(1 << 20, 9);
    writeFile(path, dump);
    int opens = 0;
    FileSystemCalls calls = FileSystemCalls::posix();
    calls.open = [&](const char* name, int flags, mode_t mode) {
        opens += path == name;
        return ::open(name, flags, mode);
    };
    ScopedFileSystemCalls counted(calls);
    const Strings paths = {path};
    ImageReader reader(paths, 1, 2, true);
    const ReadAhead read = reader.take(0);
    EXPECT_EQ(own.identifyImage(path, read.image, {}, read.kept()), Outcome::NotFound);
    EXPECT_EQ(opens, 1);
    ASSERT_EQ(front.records.size(), 1u);
    EXPECT_EQ(front.records[0].sha1, doctor::sha1(dump));
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
    // Whether a tick reports the file, once its time is set.
    bool tickAt(std::int64_t seconds, long nanoseconds = 0) {
        setTime(seconds, nanoseconds);
        return core.monitorTick();
    }
    int reports() const { return occurrences(core.m_logText, "test.bin:"); }
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
    EXPECT_TRUE(tickAt(1'000'005));
    EXPECT_FALSE(
        tickAt(1'000'005, 900'000'000));  // another save within the same second goes unseen
    EXPECT_TRUE(tickAt(999'000));         // an older copy put back is a change too
    // Away, or a folder in its place: nothing is reported until the file is back.
    fs::rename(path, dir.file("away"));
    EXPECT_FALSE(core.monitorTick());
    fs::create_directory(path);
    EXPECT_FALSE(tickAt(6'000'000));
    fs::remove(path);
    fs::rename(dir.file("away"), path);
    EXPECT_TRUE(tickAt(6'000'001));
    EXPECT_EQ(reports(), 4);
    EXPECT_TRUE(ui.boxes().empty());
    // A refused size is reported at the start and at each change, and the watch goes on.
    writeFile(path, Bytes(3, 1));
    EXPECT_TRUE(core.startMonitor(path));
    EXPECT_TRUE(tickAt(7'000'000));
    EXPECT_EQ(ui.boxes(), Calls(2, box(expected::kNotPowerOfTwo, "Error", MB_OK)));
    EXPECT_EQ(core.m_monitorFile, 1);
}

class ChangingFile : public IdentifyFailure {
  protected:
    // Identifying the file at `path` now, left alone, reports what the plain reference does,
    // with entries for a part of every level.
    void expectReportOfItsBytes(const std::string& path) {
        const Bytes image = readFile(path);
        for (std::size_t level = 0, parts = 1; level < 9; ++level, parts *= 2) {
            const std::size_t size = image.size() / parts, at = level * 7 % parts * size;
            core.m_entries.push_back(makeEntry(crc32Portable(0, &image[at], size), size, "P", "d"));
        }
        core.m_logText.clear();
        core.m_splitLevel = 9;
        ASSERT_NE(core.identifyFile(path), Outcome::Failed);
        EXPECT_EQ(core.m_logText,
                  referenceReport(core.m_entries, image, fileNameOf(path), 9, true) + "\r\n");
        EXPECT_EQ(last(), hexText(crcOf(image)) + numbered(" ", long(image.size())) + " " +
                              fileNameOf(path));
        EXPECT_EQ(ui.boxes(), Calls{box(expected::kErrorReading, "Error", MB_OK)}) << "no more";
    }
};

// A file of 1 MiB is read in four pieces, the change coming after the first; one of 4 MiB is
// mapped, the change coming once it is, before a byte was read (cut short, the pages past the
// new end raise SIGBUS when read), or, with the doctor on, read in pieces into the bytes kept
// for it; one of 8 MiB is cut short half way through the digest of its mapping, the bytes before
// the cut read and those after raising SIGBUS. Every mapping is dropped all the same, and the
// program goes on as ever.
TEST_F(ChangingFile, IsAnErrorReadingWhetherReadInPiecesOrMapped) {
    for (const Change how : {CutShort, Grown, WrittenOver})
        for (const int way : {0, 1, 2, 3}) {  // in pieces, mapped, kept, mapped and half read
            if (way == 3 && how != CutShort) continue;
            const bool mapped = way % 2 == 1;
            SCOPED_TRACE(numbered(numbered("way ", way) + ", change ", how));
            SetUp();  // the log and the last result of a failure, no entries
            core.m_entries.clear();
            core.setDoctor(way == 2);
            const std::size_t size = std::size_t(way == 0 ? 1 : way == 3 ? 8 : 4) << 20;
            const std::string path = dir.file(numbered("image", how * 4 + way));
            writeFile(path, randomBytes(size, 1));
            FileSystemCalls calls = FileSystemCalls::posix();
            int reads = 0, maps = 0, unmaps = 0;
            calls.read = [&](int fd, void* buffer, std::size_t count) {
                if (++reads == 2) change(path, size, how);
                return ::read(fd, buffer, count);
            };
            calls.mmap = [&](void* at, std::size_t length, int prot, int flags, int fd,
                             off_t offset) {
                auto* p = static_cast<std::uint8_t*>(::mmap(at, length, prot, flags, fd, offset));
                ++maps;
                volatile std::uint8_t sink = 0;
                for (std::size_t i = 0; way == 3 && i < length / 2; i += 4096) sink = sink + p[i];
                change(path, size, how);
                return static_cast<void*>(p);
            };
            calls.munmap = [&](void* at, std::size_t length) {
                return ++unmaps, ::munmap(at, length);
            };
            {
                ScopedFileSystemCalls injected(calls);
                expectFailure(path, errorReading, false);
            }
            EXPECT_EQ(maps, mapped ? 1 : 0);
            EXPECT_EQ(unmaps, maps);
            EXPECT_TRUE(mapped ? reads == 0 : reads >= 2)
                << "mapped and not read, or read in pieces";
            core.setDoctor(false);
            if (how == CutShort) writeFile(path, randomBytes(size, 4));
            expectReportOfItsBytes(path);
        }
}

// The handler for reads of mappings leaves every other SIGBUS to what handled it before: a
// page past the end of a mapping read outside readMapped still ends the program.
TEST(StableFilesDeathTest, ASigbusOutsideAGuardedReadStillEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempDir dir;
    // Each child runs this body again from its start and dies with the folder it made: made
    // inside this one, it goes when this one does.
    const ScopedEnv tmpDir("TMPDIR", dir.path().c_str());
    const std::string path = dir.file("short.bin");
    writeFile(path, Bytes(8192, 1));
    {  // installs the handler, as the first large image read does
        auto file = File::open(path, File::Mode::Read);
        ASSERT_TRUE(file);
        auto mapping = file->map(8192);
        ASSERT_TRUE(mapping && readMapped(*mapping, [] {}));
    }
    EXPECT_DEATH(
        {
            const int fd = ::open(path.c_str(), O_RDWR);
            auto* p = static_cast<volatile std::uint8_t*>(
                ::mmap(nullptr, 8192, PROT_READ, MAP_SHARED, fd, 0));
            if (::ftruncate(fd, 0) != 0) std::abort();
            std::fprintf(stderr, "%d\n", p[4096]);
        },
        "");
    EXPECT_DEATH(std::raise(SIGBUS), "");
}

}  // namespace
}  // namespace chipsight
