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

using testing::box;
using testing::Bytes;

// What is done to the file while it is read.
enum class Change { CutShort, Grown, WrittenOver };

const char* nameOf(Change change) {
    switch (change) {
        case Change::CutShort:
            return "cut short";
        case Change::Grown:
            return "grown";
        case Change::WrittenOver:
            return "written over";
    }
    return "?";
}

// An image of `size` random bytes.
Bytes randomImage(std::size_t size, unsigned seed) {
    Bytes bytes(size);
    std::mt19937 rng(seed);
    for (auto& b : bytes) b = std::uint8_t(rng());
    return bytes;
}

// Changes the file at `path` of `size` bytes, from another descriptor, as an EPROM programmer
// rewriting it would.
void change(const std::string& path, std::size_t size, Change how) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    switch (how) {
        case Change::CutShort:
            ASSERT_EQ(::ftruncate(fd, off_t(size / 4)), 0);
            break;
        case Change::Grown: {
            const Bytes more(size, 0x5A);
            ASSERT_EQ(::pwrite(fd, more.data(), more.size(), off_t(size)), ssize_t(more.size()));
            break;
        }
        case Change::WrittenOver: {
            // The whole file, new bytes of the same length.
            const Bytes fresh = randomImage(size, 777);
            ASSERT_EQ(::pwrite(fd, fresh.data(), fresh.size(), 0), ssize_t(fresh.size()));
            break;
        }
    }
    ::close(fd);
}

class ChangingFileBase : public ::testing::Test {
  protected:
    // Identifies `path` with the file layer's calls `calls` in force; returns the boxes shown.
    std::vector<testing::Call> identifyWith(const std::string& path, FileSystemCalls calls) {
        ui.calls.clear();
        ScopedFileSystemCalls injected(std::move(calls));
        core.identifyFile(path);
        return ui.boxes();
    }
    // The report identification gives the file at `path` now, left alone, equals the plain
    // reference of its bytes.
    void expectReportOfItsBytes(const std::string& path) {
        core.m_logText.clear();
        ui.calls.clear();
        ASSERT_NE(core.identifyFile(path), Outcome::Failed);
        const Bytes bytes = testing::readFile(path);
        EXPECT_EQ(core.m_logText, testing::referenceReport(core.m_entries, bytes, fileNameOf(path),
                                                           core.m_splitLevel, true) +
                                      "\r\n");
        EXPECT_TRUE(ui.boxes().empty());
    }
    void SetUp() override {
        core.m_splitLevel = 9;
        core.m_monitorFile = 1;
    }

    testing::TempDir dir;
    testing::CoreFixture fixture{dir};
    testing::BoundCore& core = fixture.core;
    testing::RecordingFrontEnd& ui = fixture.frontEnd;
};

class ChangingFile : public ChangingFileBase, public ::testing::WithParamInterface<Change> {};
using MappedImage = ChangingFileBase;

const std::vector<testing::Call> kErrorReading = {box("Error reading file :(", "Error", MB_OK)};

// A file of 1 MiB is read in four pieces; the change comes after the first.
TEST_P(ChangingFile, WhileReadInPiecesItIsAnErrorReading) {
    const std::size_t size = std::size_t(1) << 20;
    const std::string path = dir.file("piecewise.bin");
    testing::writeFile(path, randomImage(size, 1));
    FileSystemCalls calls = FileSystemCalls::posix();
    int reads = 0;
    calls.read = [&](int fd, void* buffer, std::size_t count) {
        if (++reads == 2) change(path, size, GetParam());
        return ::read(fd, buffer, count);
    };
    EXPECT_EQ(identifyWith(path, calls), kErrorReading) << nameOf(GetParam());
    EXPECT_GE(reads, 2) << "read in pieces";
    EXPECT_EQ(core.m_logText, "");
    EXPECT_EQ(core.m_lastFileName, "");
    EXPECT_EQ(core.m_monitorFile, 0);
    if (GetParam() != Change::CutShort) expectReportOfItsBytes(path);
}

// A file of 4 MiB is mapped; the change comes once it is, before a byte was read. Cut short, the
// pages past the new end raise SIGBUS when read.
TEST_P(ChangingFile, WhileMappedItIsAnErrorReading) {
    const std::size_t size = std::size_t(4) << 20;
    const std::string path = dir.file("mapped.bin");
    testing::writeFile(path, randomImage(size, 2));
    FileSystemCalls calls = FileSystemCalls::posix();
    int maps = 0;
    calls.mmap = [&](void* at, std::size_t length, int prot, int flags, int fd, off_t offset) {
        void* p = ::mmap(at, length, prot, flags, fd, offset);
        ++maps;
        change(path, size, GetParam());
        return p;
    };
    calls.read = [&](int, void*, std::size_t) -> ssize_t {
        ADD_FAILURE() << "a mapped file is not read";
        return -1;
    };
    EXPECT_EQ(identifyWith(path, calls), kErrorReading) << nameOf(GetParam());
    EXPECT_EQ(maps, 1);
    EXPECT_EQ(core.m_logText, "");
    EXPECT_EQ(core.m_lastFileName, "");
    EXPECT_EQ(core.m_monitorFile, 0);
    if (GetParam() != Change::CutShort) expectReportOfItsBytes(path);
}

// Cut short in the middle of the digest: the bytes before the cut were read, those after raise
// SIGBUS, and the mapping is dropped all the same.
TEST_F(MappedImage, CutShortHalfWayThroughTheDigestIsAnErrorReading) {
    const std::size_t size = std::size_t(8) << 20;
    const std::string path = dir.file("halfway.bin");
    testing::writeFile(path, randomImage(size, 3));
    FileSystemCalls calls = FileSystemCalls::posix();
    int unmaps = 0;
    calls.mmap = [&](void* at, std::size_t length, int prot, int flags, int fd, off_t offset) {
        auto* p = static_cast<std::uint8_t*>(::mmap(at, length, prot, flags, fd, offset));
        // Read the first half in, then cut the file to a quarter: the third quarter is gone.
        volatile std::uint8_t sink = 0;
        for (std::size_t i = 0; i < length / 2; i += 4096) sink = sink + p[i];
        change(path, size, Change::CutShort);
        return static_cast<void*>(p);
    };
    calls.munmap = [&](void* at, std::size_t length) {
        ++unmaps;
        return ::munmap(at, length);
    };
    EXPECT_EQ(identifyWith(path, calls), kErrorReading);
    EXPECT_EQ(unmaps, 1);
    // The program goes on: a file left alone is identified as ever.
    testing::writeFile(path, randomImage(size, 4));
    expectReportOfItsBytes(path);
}

INSTANTIATE_TEST_SUITE_P(EveryChange, ChangingFile,
                         ::testing::Values(Change::CutShort, Change::Grown, Change::WrittenOver),
                         [](const auto& info) {
                             switch (info.param) {
                                 case Change::CutShort:
                                     return std::string("CutShort");
                                 case Change::Grown:
                                     return std::string("Grown");
                                 case Change::WrittenOver:
                                     return std::string("WrittenOver");
                             }
                             return std::string("Unknown");
                         });

// Files that nobody touches are reported byte for byte as the plain reference has them, on
// either side of the size from which images are mapped.
TEST(StableFiles, ReportsEqualTheReferenceWhetherReadInPiecesOrMapped) {
    testing::TempDir dir;
    testing::CoreFixture fixture{dir};
    testing::BoundCore& core = fixture.core;
    std::mt19937 rng(42);
    for (const std::size_t size : {std::size_t(1) << 18, std::size_t(1) << 19, std::size_t(1) << 20,
                                   std::size_t(2) << 20, std::size_t(4) << 20}) {
        Bytes image = randomImage(size, unsigned(size));
        if (size == std::size_t(1) << 20)
            for (auto& b : image) b &= 0x7F;  // an unused bit
        // Entries for a few real parts at various levels.
        core.m_entries.clear();
        for (int k = 0; k < 4; ++k) {
            const int level = int(rng() % 9);
            const std::size_t parts = std::size_t(1) << level, partSize = size / parts;
            const std::size_t j = rng() % parts;
            core.m_entries.push_back(
                testing::makeEntry(crc32Portable(0, image.data() + j * partSize, partSize),
                                   std::uint32_t(partSize), testing::numbered("P", k), "d"));
        }
        const std::string path = dir.file("stable" + std::to_string(size) + ".bin");
        testing::writeFile(path, image);
        for (const int level : {1, 5, 9}) {
            core.m_splitLevel = level;
            core.m_logText.clear();
            ASSERT_NE(core.identifyFile(path), Outcome::Failed) << size;
            ASSERT_EQ(core.m_logText, testing::referenceReport(core.m_entries, image,
                                                               fileNameOf(path), level, true) +
                                          "\r\n")
                << size << " at level " << level;
            EXPECT_EQ(core.m_lastCrc, crc32Portable(0, image.data(), image.size()));
            EXPECT_EQ(core.m_lastSize, size);
        }
    }
    EXPECT_TRUE(fixture.frontEnd.boxes().empty());
}

// The handler for reads of mappings leaves every other SIGBUS to what handled it before: a
// page past the end of a mapping read outside readMapped still ends the program.
TEST(StableFilesDeathTest, ASigbusOutsideAGuardedReadStillEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    testing::TempDir dir;
    const std::string path = dir.file("short.bin");
    testing::writeFile(path, Bytes(8192, 1));
    // Installs the handler, as the first large image read does.
    {
        auto file = File::open(path, File::Mode::Read);
        ASSERT_TRUE(file);
        auto mapping = file->map(8192);
        ASSERT_TRUE(mapping);
        EXPECT_TRUE(readMapped(*mapping, [] {}));
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
