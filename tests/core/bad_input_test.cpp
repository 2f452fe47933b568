// Input that is not a plain image or a plain database: what the user sees, and that nothing
// is lost.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <random>

#include "core/chipsight_core.h"
#include "tests/support/expected_texts.h"
#include "tests/support/fault_injection.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using testing::box;
using testing::Bytes;

class BadInput : public ::testing::Test {
  protected:
    std::vector<testing::Call> identify(const std::string& path) {
        ui.calls.clear();
        core.identifyFile(path);
        return ui.boxes();
    }
    static std::vector<testing::Call> only(const char* text) { return {box(text, "Error", MB_OK)}; }

    testing::TempDir dir;
    testing::CoreFixture fixture{dir};
    testing::BoundCore& core = fixture.core;
    testing::RecordingFrontEnd& ui = fixture.frontEnd;
};

TEST_F(BadInput, ThingsThatAreNotRegularFilesCannotBeOpened) {
    const auto cannotOpen = only(expected::kErrorOpening);
    EXPECT_EQ(identify("/dev/zero"), cannotOpen);
    EXPECT_EQ(identify(dir.path().string()), cannotOpen);

    const std::string socketPath = dir.file("sock");
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(identify(socketPath), cannotOpen);
    ::close(fd);

    ASSERT_EQ(::symlink(dir.file("nowhere").c_str(), dir.file("dangling").c_str()), 0);
    EXPECT_EQ(identify(dir.file("dangling")), cannotOpen);
    ASSERT_EQ(::symlink(dir.file("loop-b").c_str(), dir.file("loop-a").c_str()), 0);
    ASSERT_EQ(::symlink(dir.file("loop-a").c_str(), dir.file("loop-b").c_str()), 0);
    EXPECT_EQ(identify(dir.file("loop-a")), cannotOpen);
    EXPECT_EQ(core.m_logText, "");
    EXPECT_FALSE(ui.buttonEnabled);
}

TEST_F(BadInput, HugeSparseFilesAreRefusedWithoutReading) {
    for (const off_t size : {off_t(4) << 30, off_t(5) << 30}) {
        ui.calls.clear();
        const std::string path = dir.file("huge.bin");
        const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0600);
        const int resized = ::ftruncate(fd, size);
        ::close(fd);
        if (resized != 0) GTEST_SKIP() << "no sparse files here";
        EXPECT_EQ(identify(path), only(expected::kBelow4GiB)) << size;
    }
    // Cut to 32 bits, 5 GiB would pass for an image of 1 GiB.
    EXPECT_EQ(core.m_lastFileName, "");
}

TEST_F(BadInput, AFileThatShrinksBetweenLengthAndReadIsAShortRead) {
    const std::string path = dir.file("shrinking.bin");
    testing::writeFile(path, Bytes(4096, 0x11));
    FileSystemCalls calls = FileSystemCalls::posix();
    calls.read = [path](int fd, void* buffer, std::size_t count) {
        // An EPROM programmer rewriting it right now; the test has failed if it could not.
        EXPECT_EQ(::truncate(path.c_str(), 1000), 0);
        return ::read(fd, buffer, count);
    };
    ScopedFileSystemCalls injected(std::move(calls));
    EXPECT_EQ(identify(path), only(expected::kErrorReading));
    EXPECT_EQ(core.m_logText, "");
    EXPECT_EQ(core.m_lastFileName, "");
}

TEST_F(BadInput, NamesKeepTheirBytesButNotTheirControlCharacters) {
    const std::string name = "\xff\xfe rom\t\x1b[2J.bin";
    testing::writeFile(dir.file(name), Bytes{1, 2, 3, 4});
    core.identifyFile(dir.file(name));
    EXPECT_NE(core.m_logText.find("\r\n\xff\xfe rom??[2J.bin:["), std::string::npos);
    EXPECT_EQ(core.m_lastFileName, name);
}

TEST_F(BadInput, RandomDatabasesLoadByTheirRecordCounts) {
    std::mt19937 rng(99);
    for (int round = 0; round < 40; ++round) {
        Bytes roms(rng() % 400), games(rng() % 500), custom(rng() % 700);
        for (auto* b : {&roms, &games, &custom})
            for (auto& x : *b) x = std::uint8_t(rng());
        // Game indexes anywhere: negative, in range, past the end.
        for (std::size_t i = 0; i + 1 < roms.size(); i += 28) {
            const auto index = std::int16_t(int(rng() % 40) - 8);
            roms[i] = std::uint8_t(index);
            roms[i + 1] = std::uint8_t(std::uint16_t(index) >> 8);
        }
        testing::writeFile(dir.file("CHIPLORE.ROM"), roms);
        testing::writeFile(dir.file("CHIPLORE.GAM"), games);
        testing::writeFile(dir.file("Chipsight.dat"), custom);
        testing::CoreFixture f(dir);
        f.core.loadDatabases();
        ASSERT_TRUE(f.frontEnd.boxes().empty());
        const std::size_t expected = custom.size() / 108 + roms.size() / 28;
        ASSERT_EQ(f.core.m_entries.size(), expected);
        ASSERT_EQ(f.core.m_entryCount, std::int32_t(expected));
        for (std::size_t i = 0; i < roms.size() / 28; ++i) {
            const auto index = std::int16_t(roms[i * 28] | (roms[i * 28 + 1] << 8));
            const RomEntry& e = f.core.m_entries[custom.size() / 108 + i];
            if (index < 0 || std::size_t(index) >= games.size() / 80)
                ASSERT_EQ(e.descriptionText(), "");
            else
                ASSERT_EQ(e.descriptionText(),
                          fieldText(std::span(games).subspan(std::size_t(index) * 80, 80)));
        }
        Bytes image(std::size_t(1) << (rng() % 12));
        for (auto& x : image) x = std::uint8_t(rng());
        testing::writeFile(dir.file("img.bin"), image);
        f.core.m_splitLevel = int(rng() % 9) + 1;
        EXPECT_NE(f.core.identifyFile(dir.file("img.bin")), Outcome::Failed);
    }
}

TEST_F(BadInput, AOneByteCustomFileHoldsNothingAndIsRealignedByTheNextAppend) {
    testing::writeFile(dir.file("Chipsight.dat"), Bytes{0x42});
    core.loadDatabases();
    EXPECT_TRUE(ui.boxes().empty());
    EXPECT_TRUE(core.m_entries.empty());
    ASSERT_TRUE(core.appendCustomEntry("ABCD", "16", "first", "real"));
    EXPECT_EQ(testing::readFile(dir.file("Chipsight.dat")),
              testing::romEntryBytes(0xABCD, 16, "first", "real"));
}

// Each record of each file, read short in turn: the message of that file, and everything the
// rules keep is kept.
TEST_F(BadInput, AShortReadAtEveryRecordOfEveryFile) {
    Bytes roms, games, custom;
    for (int k = 0; k < 4; ++k) {
        testing::append(roms, testing::romTableBytes(std::int16_t(k % 2), testing::numbered("C", k),
                                                     0x100u + k, 64));
        testing::append(custom,
                        testing::romEntryBytes(0x200u + k, 64, testing::numbered("X", k), "mine"));
    }
    testing::append(games, testing::gameBytes("G0"));
    testing::append(games, testing::gameBytes("G1"));
    testing::writeFile(dir.file("CHIPLORE.ROM"), roms);
    testing::writeFile(dir.file("CHIPLORE.GAM"), games);
    testing::writeFile(dir.file("Chipsight.dat"), custom);
    struct Case {
        const char* file;
        std::size_t recordSize, records;
        const char* message;
    };
    for (const Case& c : {Case{"CHIPLORE.ROM", 28, 4, expected::kFailedReadingRomTable},
                          Case{"CHIPLORE.GAM", 80, 2, expected::kFailedReadingGameTable},
                          Case{"Chipsight.dat", 108, 4, expected::kFailedReadingCustom}}) {
        for (std::size_t record = 0; record < c.records; ++record) {
            for (const int error : {0, EIO}) {
                testing::FileFaults faults;
                faults.limitReads(c.file, record * c.recordSize + c.recordSize / 2, error);
                testing::CoreFixture f(dir);
                {
                    testing::InjectedFaults injected(faults);
                    f.core.loadDatabases();
                }
                ASSERT_EQ(f.frontEnd.boxes(),
                          (std::vector<testing::Call>{box(c.message, "Error", MB_ICONSTOP)}))
                    << c.file << " record " << record;
                const bool customShort = std::string(c.file) == "Chipsight.dat";
                const std::size_t customKept = customShort ? record : 4;
                const std::size_t chips = customShort ? 4 : 0;
                ASSERT_EQ(f.core.m_entries.size(), customKept + chips)
                    << c.file << " record " << record;
                // Either the four chips or the four custom records are counted, never both.
                ASSERT_EQ(f.core.m_entryCount, 4) << c.file;
                for (std::size_t i = 0; i < customKept; ++i)
                    ASSERT_EQ(f.core.m_entries[i].nameText(), testing::numbered("X", i));
            }
        }
    }
    EXPECT_EQ(testing::readFile(dir.file("Chipsight.dat")), custom) << "loading never writes";
}

}  // namespace
}  // namespace chipsight
