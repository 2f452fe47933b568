// Images that change while they are read: cut short, grown, or written over in place, both
// while read in pieces and while mapped. Each gives "Error reading file :(" (never a crash and
// never a report of bytes from before and after the change), and the next identification of the
// file, left alone, reports its bytes exactly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <csignal>
#include <random>

#include "core/chipsight_core.h"
#include "core/crc32.h"
#include "core/file_layer.h"
#include "tests/support/reference_report.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using namespace testing;

enum Change { CutShort, Grown, WrittenOver };
const char* const kChangeNames[] = {"CutShort", "Grown", "WrittenOver"};

Bytes randomImage(std::size_t size, unsigned seed) {
    Bytes bytes(size);
    std::mt19937 rng(seed);
    for (auto& b : bytes) b = std::uint8_t(rng());
    return bytes;
}

// Changes the file at `path` of `size` bytes from another descriptor, as an EPROM programmer
// rewriting it would.
void change(const std::string& path, std::size_t size, Change how) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    const Bytes bytes = how == Grown ? Bytes(size, 0x5A) : randomImage(size, 777);
    if (how == CutShort)
        EXPECT_EQ(::ftruncate(fd, off_t(size / 4)), 0);
    else
        EXPECT_EQ(::pwrite(fd, bytes.data(), size, how == Grown ? off_t(size) : 0), ssize_t(size));
    ::close(fd);
}

class ChangingFile : public CoreTest,
                     public ::testing::WithParamInterface<std::tuple<Change, bool>> {
  protected:
    void SetUp() override { core.m_splitLevel = 9; }
    // Identifies `path` with the file layer's calls `calls` in force: an error reading, and
    // nothing else changed.
    void expectErrorReading(const std::string& path, FileSystemCalls calls) {
        core.m_monitorFile = 1;
        {
            ScopedFileSystemCalls injected(std::move(calls));
            core.identifyFile(path);
        }
        EXPECT_EQ(ui.boxes(), Calls{box("Error reading file :(", "Error", MB_OK)});
        EXPECT_EQ(core.m_logText, "");
        EXPECT_EQ(core.m_lastFileName, "");
        EXPECT_EQ(core.m_monitorFile, 0);
    }
    // Identifying the file at `path` now, left alone, reports what the plain reference does,
    // with entries for a part of every level.
    void expectReportOfItsBytes(const std::string& path) {
        const Bytes image = readFile(path);
        for (std::size_t level = 0, parts = 1; level < 9; ++level, parts *= 2) {
            const std::size_t size = image.size() / parts, at = level * 7 % parts * size;
            core.m_entries.push_back(makeEntry(crc32Portable(0, &image[at], size), size, "P", "d"));
        }
        core.m_logText.clear();
        ui.calls.clear();
        ASSERT_NE(core.identifyFile(path), Outcome::Failed);
        EXPECT_EQ(core.m_logText,
                  referenceReport(core.m_entries, image, fileNameOf(path), 9, true) + "\r\n");
        EXPECT_EQ(core.m_lastCrc, crc32Portable(0, image.data(), image.size()));
        EXPECT_EQ(core.m_lastSize, image.size());
        EXPECT_TRUE(ui.boxes().empty());
    }
};

// A file of 1 MiB is read in four pieces, the change coming after the first; one of 4 MiB is
// mapped, the change coming once it is, before a byte was read (cut short, the pages past the
// new end raise SIGBUS when read).
TEST_P(ChangingFile, IsAnErrorReading) {
    const auto [how, mapped] = GetParam();
    const std::size_t size = std::size_t(mapped ? 4 : 1) << 20;
    const std::string path = dir.file("image.bin");
    writeFile(path, randomImage(size, 1));
    FileSystemCalls calls = FileSystemCalls::posix();
    int reads = 0, maps = 0;
    calls.read = [&](int fd, void* buffer, std::size_t count) {
        if (++reads == 2) change(path, size, how);
        return ::read(fd, buffer, count);
    };
    calls.mmap = [&](void* at, std::size_t length, int prot, int flags, int fd, off_t offset) {
        void* p = ::mmap(at, length, prot, flags, fd, offset);
        ++maps;
        change(path, size, how);
        return p;
    };
    expectErrorReading(path, calls);
    EXPECT_EQ(maps, mapped ? 1 : 0);
    EXPECT_TRUE(mapped ? reads == 0 : reads >= 2) << "mapped and not read, or read in pieces";
    if (how != CutShort) expectReportOfItsBytes(path);
}

INSTANTIATE_TEST_SUITE_P(EveryChange, ChangingFile,
                         ::testing::Combine(::testing::Values(CutShort, Grown, WrittenOver),
                                            ::testing::Bool()),
                         [](const auto& info) {
                             return kChangeNames[std::get<0>(info.param)] +
                                    std::string(std::get<1>(info.param) ? "Mapped" : "InPieces");
                         });

// Cut short in the middle of the digest: the bytes before the cut were read, those after raise
// SIGBUS, and the mapping is dropped all the same; then the program goes on as ever.
using MappedImage = ChangingFile;
TEST_F(MappedImage, CutShortHalfWayThroughTheDigestOfAMapping) {
    const std::size_t size = std::size_t(8) << 20;
    const std::string path = dir.file("halfway.bin");
    writeFile(path, randomImage(size, 3));
    FileSystemCalls calls = FileSystemCalls::posix();
    int unmaps = 0;
    calls.mmap = [&](void* at, std::size_t length, int prot, int flags, int fd, off_t offset) {
        auto* p = static_cast<std::uint8_t*>(::mmap(at, length, prot, flags, fd, offset));
        volatile std::uint8_t sink = 0;
        for (std::size_t i = 0; i < length / 2; i += 4096) sink = sink + p[i];
        change(path, size, CutShort);
        return static_cast<void*>(p);
    };
    calls.munmap = [&](void* at, std::size_t length) { return ++unmaps, ::munmap(at, length); };
    expectErrorReading(path, calls);
    EXPECT_EQ(unmaps, 1);
    writeFile(path, randomImage(size, 4));
    expectReportOfItsBytes(path);
}

// The handler for reads of mappings leaves every other SIGBUS to what handled it before: a
// page past the end of a mapping read outside readMapped still ends the program.
TEST(StableFilesDeathTest, ASigbusOutsideAGuardedReadStillEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    TempDir dir;
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
