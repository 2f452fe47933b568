// The file monitor's decisions: when a watch starts, and which ticks identify the file again.
// The window only runs the timer; its tests check that the ticks arrive.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/chipsight_core.h"
#include "tests/support/expected_texts.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using testing::box;

class Monitor : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::writeFile(path, testing::Bytes{0, 1, 2, 3});
        setTime(1'000'000);
        core.loadDatabases();
        core.m_monitorFile = 1;  // as the check box leaves it when clicked
    }
    void setTime(std::int64_t seconds, long nanoseconds = 0) {
        const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    int reports() const {
        int n = 0;
        for (auto at = core.m_logText.find("test.bin:"); at != std::string::npos;
             at = core.m_logText.find("test.bin:", at + 1))
            ++n;
        return n;
    }

    testing::TempDir dir;
    std::string path = dir.file("test.bin");
    testing::CoreFixture fixture{dir};
    testing::BoundCore& core = fixture.core;
    testing::RecordingFrontEnd& ui = fixture.frontEnd;
};

TEST_F(Monitor, OneReportAtOnceThenOnePerChangeOfTime) {
    ASSERT_TRUE(core.startMonitor(path));
    EXPECT_EQ(reports(), 1);
    EXPECT_FALSE(core.monitorTick()) << "nothing changed";

    setTime(1'000'005);
    EXPECT_TRUE(core.monitorTick());
    // Another save within the same second goes unseen.
    setTime(1'000'005, 900'000'000);
    EXPECT_FALSE(core.monitorTick());
    // An older copy put back is a change too.
    setTime(999'000);
    EXPECT_TRUE(core.monitorTick());
    EXPECT_EQ(reports(), 3);
    EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(Monitor, AFileAwayOrReplacedByAFolderIsReportedOnceBack) {
    ASSERT_TRUE(core.startMonitor(path));
    std::filesystem::rename(path, dir.file("away"));
    EXPECT_FALSE(core.monitorTick());
    std::filesystem::create_directory(path);
    setTime(6'000'000);
    EXPECT_FALSE(core.monitorTick()) << "nothing to report while no file is there";
    std::filesystem::remove(path);
    std::filesystem::rename(dir.file("away"), path);
    setTime(6'000'001);
    EXPECT_TRUE(core.monitorTick());
    EXPECT_EQ(reports(), 2);
    EXPECT_EQ(core.m_monitorFile, 1);
    EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(Monitor, AFileThatCannotBeOpenedOrReadEndsTheWatch) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    EXPECT_FALSE(core.startMonitor(path));
    EXPECT_EQ(ui.boxes(),
              std::vector<testing::Call>{box(expected::kUnableToMonitor, "Error", MB_OK)});
    EXPECT_EQ(core.m_monitorFile, 0);
    ::close(fd);

    core.m_monitorFile = 1;
    ASSERT_TRUE(core.startMonitor(path));
    const int again = ::open(path.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(again, LOCK_EX), 0);
    setTime(3'000'000);
    EXPECT_TRUE(core.monitorTick());
    ::close(again);
    EXPECT_EQ(ui.boxes().back(), box(expected::kErrorOpening, "Error", MB_OK));
    EXPECT_EQ(core.m_monitorFile, 0);
}

TEST_F(Monitor, OddSizesAreReportedAtEachChangeWhileTheWatchGoesOn) {
    testing::writeFile(path, testing::Bytes(3, 1));
    EXPECT_TRUE(core.startMonitor(path));
    setTime(2'000'000);
    EXPECT_TRUE(core.monitorTick());
    EXPECT_EQ(ui.boxes(),
              std::vector<testing::Call>(2, box(expected::kNotPowerOfTwo, "Error", MB_OK)));
    EXPECT_EQ(core.m_monitorFile, 1);
}

}  // namespace
}  // namespace chipsight
