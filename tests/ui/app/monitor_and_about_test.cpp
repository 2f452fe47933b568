// The file monitor and the About box.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <filesystem>

#include "app_fixture.h"
#include "tests/support/expected_texts.h"
#include "ui/about_dialog.h"

namespace {

using chipsight::testing::Bytes;
using chipsight::testing::writeFile;

// Sets the file's modification time to `seconds` (and `nanoseconds`) after the epoch.
void setTime(const std::string& path, std::int64_t seconds, long nanoseconds = 0) {
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

int reports(const std::string& log, const std::string& name) {
    int n = 0;
    for (std::size_t at = log.find(name + ":"); at != std::string::npos;
         at = log.find(name + ":", at + 1))
        ++n;
    return n;
}

class Monitor : public MainWindowTest {
  protected:
    // Checks Monitor file and answers the file dialog with `path` (or a cancel).
    void watch(std::optional<std::string> path) {
        ui.fileAnswers.push_back(path ? std::optional<QString>(QString::fromStdString(*path))
                                      : std::nullopt);
        click(IDC_MONITOR_FILE);
    }
    bool checked() const { return button(IDC_MONITOR_FILE)->isChecked(); }
    // Lets the timer tick at least once.
    void tick() {
        int ticks = 0;
        QObject::connect(&probe_, &QTimer::timeout, [&] { ++ticks; });
        probe_.start(kMonitorPeriodMs * 3 / 2);
        runEventsUntil([&] { return ticks > 0; });
        probe_.stop();
        probe_.disconnect();
    }

    QTimer probe_;
};

TEST_F(Monitor, CancelAndLockedFilesStartNothing) {
    start();
    watch(std::nullopt);
    EXPECT_FALSE(checked());
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_FALSE(dialog->killTimer(kMonitorTimer)) << "no timer runs";

    const int fd = ::open(file("test.bin").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    watch(file("test.bin"));
    ::close(fd);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{chipsight::expected::kUnableToMonitor});
    EXPECT_EQ(ui.boxes[0].caption, "Error");
    EXPECT_FALSE(checked());
    EXPECT_EQ(dialog->logText(), "");
    EXPECT_FALSE(dialog->killTimer(kMonitorTimer));
}

TEST_F(Monitor, TheTimerTicksUntilTheBoxIsCleared) {
    const std::string path = file("test.bin");
    start();
    watch(path);
    EXPECT_TRUE(checked());
    EXPECT_EQ(dialog->logText(), kWorkedExample);
    setTime(path, 2'000'000);
    tick();
    EXPECT_EQ(reports(dialog->logText(), "test.bin"), 2);
    // Unchecking stops at once; checking again reports the same file at once.
    click(IDC_MONITOR_FILE);
    EXPECT_FALSE(dialog->killTimer(kMonitorTimer)) << "the timer stopped with the box";
    watch(path);
    EXPECT_EQ(reports(dialog->logText(), "test.bin"), 3);
    EXPECT_TRUE(dialog->killTimer(kMonitorTimer)) << "the timer was running";
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Monitor, AFailedOpenDuringTheWatchClearsTheBoxAndStopsTheTimer) {
    const std::string path = file("test.bin");
    start();
    watch(path);
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    setTime(path, 3'000'000);
    dialog->onTimer(0);
    ::close(fd);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{chipsight::expected::kErrorOpening});
    EXPECT_FALSE(checked());
    EXPECT_FALSE(dialog->killTimer(kMonitorTimer)) << "the timer stopped with the box";
}

TEST_F(Monitor, TicksArriveWhileAnotherHandlersBoxIsOpen) {
    const std::string path = file("test.bin");
    start();
    watch(path);
    // Help's box stays open until the watched file has been reported again.
    ui.boxAnswers = {[&](const BoxCall&) {
        setTime(path, 4'000'000);
        runEventsUntil([&] { return reports(dialog->logText(), "test.bin") == 2; });
        return IDOK;
    }};
    QTest::keyClick(dialog.get(), Qt::Key_F1);
    EXPECT_EQ(reports(dialog->logText(), "test.bin"), 2);
}

TEST_F(Monitor, EndingTheWindowStopsTheTimer) {
    // The real run of the window: a watch is started in it, then Done ends it.
    const std::string path = file("test.bin");
    CMainDialog window(db.programPath(), {});
    theApp().m_pMainDialog = &window;
    ui.modalScripts.push_back([&](CDialog& d) {
        ui.fileAnswers.push_back(QString::fromStdString(path));
        d.item<QAbstractButton>(IDC_MONITOR_FILE)->click();
        d.item<QAbstractButton>(IDOK)->click();
    });
    EXPECT_EQ(window.doModal(), IDOK);
    ASSERT_EQ(reports(window.logText(), "test.bin"), 1);
    setTime(path, 7'000'000);
    tick();
    EXPECT_EQ(reports(window.logText(), "test.bin"), 1) << "no tick after the window ended";
    theApp().m_pMainDialog = nullptr;
}

class About : public MainWindowTest {};

TEST_F(About, OpensForCommandsSixteenToThirtyOne) {
    start();
    int runs = 0;
    for (unsigned id = 0; id < 48; ++id) {
        const std::size_t before = ui.modalScripts.size();
        ui.modalScripts.push_back([&](CDialog& d) {
            ++runs;
            EXPECT_EQ(d.windowTitle(), "About Chipsight");
            d.item<QAbstractButton>(IDOK)->click();
        });
        dialog->onSystemCommand(id, 0);
        const bool ran = ui.modalScripts.size() == before;
        EXPECT_EQ(ran, id >= 16 && id < 32) << id;
        ui.modalScripts.clear();
    }
    EXPECT_EQ(runs, 16);
    EXPECT_TRUE(dialog->isVisible());
    dialog->onSystemCommand(SC_CLOSE, 0);  // other commands keep their default meaning
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(About, ButtonsOpenTheirPagesAndLeaveTheBoxOpen) {
    start();
    bool stillOpen = true;
    ui.modalScripts.push_back([&](CDialog& d) {
        for (int id :
             {CAboutDialog::IDC_MAKER, CAboutDialog::IDC_DATA_FILES, CAboutDialog::IDC_FORUM})
            d.item<QAbstractButton>(id)->click();
        stillOpen = d.isVisible();
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    dialog->onSystemCommand(IDM_ABOUTBOX, 0);
    EXPECT_TRUE(stillOpen);
    ASSERT_EQ(ui.urls.size(), 3u);
    EXPECT_EQ(ui.urls[0].toString(), "http://www.chipsight.example");
    EXPECT_EQ(ui.urls[1].toString(), "http://data.chipsight.example/chiplore.html");
    EXPECT_EQ(ui.urls[2].toString(),
              "http://forum.chipsight.example/ubbthreads/ubbthreads.php?Cat=&C=2");
    EXPECT_TRUE(ui.boxes.empty());
}

// Run again at other font resolutions (QT_FONT_DPI) by the build, as the desktop's scale sets it.
TEST_F(About, EveryTextFitsItsControl) {
    CAboutDialog about;
    for (QLabel* label : about.findChildren<QLabel*>()) {
        if (label->text().isEmpty()) continue;
        EXPECT_LE(label->heightForWidth(label->width()), label->height())
            << label->text().toStdString();
    }
}

TEST_F(About, EnterAndTheCloseBoxEndIt) {
    start();
    std::vector<int> results;
    for (int way = 0; way < 2; ++way) {
        ui.modalScripts.push_back([&, way](CDialog& d) {
            if (way == 0)
                QTest::keyClick(&d, Qt::Key_Return);
            else
                d.close();
        });
        CAboutDialog about;
        results.push_back(about.doModal());
    }
    EXPECT_EQ(results, (std::vector<int>{IDOK, IDCANCEL}));
}

TEST_F(About, TheWatchKeepsReportingWhileTheBoxIsOpen) {
    const std::string path = file("test.bin");
    start();
    ui.fileAnswers.push_back(QString::fromStdString(path));
    click(IDC_MONITOR_FILE);
    ui.modalScripts.push_back([&](CDialog& d) {
        setTime(path, 5'000'000);
        runEventsUntil([&] { return reports(dialog->logText(), "test.bin") == 2; });
        d.item<QAbstractButton>(IDOK)->click();
    });
    dialog->onSystemCommand(IDM_ABOUTBOX, 0);
    EXPECT_EQ(reports(dialog->logText(), "test.bin"), 2);
}

}  // namespace
