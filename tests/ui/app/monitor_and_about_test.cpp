// The file monitor and the About box.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <numeric>

#include "app_fixture.h"
#include "ui/about_dialog.h"

namespace {

// Sets the file's modification time to `seconds` after the epoch.
void setTime(const std::string& path, std::int64_t seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Holds an exclusive lock on the file while it lives, as another program writing it would.
struct Locked {
    explicit Locked(const std::string& path) : fd(::open(path.c_str(), O_RDONLY)) {
        EXPECT_EQ(::flock(fd, LOCK_EX), 0);
    }
    ~Locked() { ::close(fd); }
    int fd;
};

class Monitor : public MainWindowTest {
  protected:
    // Checks Monitor file and answers the file dialog with `path` (or a cancel).
    void watch(std::optional<QString> path) {
        ui.fileAnswers.push_back(path);
        click(IDC_MONITOR_FILE);
    }
    bool checked() const { return button(IDC_MONITOR_FILE)->isChecked(); }
    // Lets the timer tick at least once.
    void tick() {
        bool ticked = false;
        QTimer::singleShot(kMonitorPeriodMs * 3 / 2, [&] { ticked = true; });
        runEventsUntil([&] { return ticked; });
    }
};

TEST_F(Monitor, CancelAndLockedFilesStartNothing) {
    start();
    watch(std::nullopt);
    EXPECT_FALSE(checked());
    EXPECT_TRUE(ui.boxes.empty());
    {
        Locked lock(file("test.bin"));
        watch(path("test.bin"));
    }
    EXPECT_EQ(boxTexts(), std::vector<std::string>{expected::kUnableToMonitor});
    EXPECT_EQ(ui.boxes[0].caption, "Error");
    EXPECT_FALSE(checked());
    EXPECT_EQ(dialog->logText(), "");
    EXPECT_FALSE(dialog->killTimer(kMonitorTimer)) << "no timer runs";
}

TEST_F(Monitor, TheTimerReportsAChangedFileUntilTheBoxIsCleared) {
    start();
    watch(path("test.bin"));
    EXPECT_TRUE(checked());
    EXPECT_EQ(dialog->logText(), kWorkedExample);
    setTime(file("test.bin"), 2'000'000);
    tick();
    EXPECT_EQ(reports("test.bin"), 2);
    click(IDC_MONITOR_FILE);
    setTime(file("test.bin"), 2'500'000);
    tick();
    EXPECT_EQ(reports("test.bin"), 2) << "no tick once the box is cleared";
    watch(path("test.bin"));  // reports the same file again at once
    EXPECT_EQ(reports("test.bin"), 3);
    EXPECT_TRUE(dialog->killTimer(kMonitorTimer)) << "the timer was running";
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Monitor, AFailedOpenDuringTheWatchClearsTheBoxAndStopsTheTimer) {
    start();
    watch(path("test.bin"));
    {
        Locked lock(file("test.bin"));
        setTime(file("test.bin"), 3'000'000);
        dialog->onTimer(kMonitorTimer);
    }
    EXPECT_EQ(boxTexts(), std::vector<std::string>{expected::kErrorOpening});
    EXPECT_FALSE(checked());
    EXPECT_FALSE(dialog->killTimer(kMonitorTimer)) << "the timer stopped with the box";
}

TEST_F(Monitor, TicksArriveWhileABoxOrTheAboutBoxIsOpen) {
    start();
    watch(path("test.bin"));
    // Each stays open until the watched file has been reported once more.
    auto waitForReport = [&](int seconds) {
        setTime(file("test.bin"), seconds);
        const int seen = reports("test.bin");
        runEventsUntil([&] { return reports("test.bin") == seen + 1; });
    };
    ui.boxAnswers = {[&](const BoxCall&) {
        waitForReport(4'000'000);
        return IDOK;
    }};
    QTest::keyClick(dialog.get(), Qt::Key_F1);
    ui.modalScripts.push_back([&](CDialog& d) {
        waitForReport(5'000'000);
        d.endDialog(IDOK);
    });
    dialog->onSystemCommand(IDM_ABOUTBOX, 0);
    EXPECT_EQ(reports("test.bin"), 3);
}

TEST_F(Monitor, EndingTheWindowStopsTheTimer) {
    // The window's own modal run: a watch is started in it, then Done ends it.
    CMainDialog window(db.file("chipsight"), {});
    theApp().m_pMainDialog = &window;
    ui.modalScripts.push_back([&](CDialog& d) {
        ui.fileAnswers.push_back(path("test.bin"));
        d.item<QAbstractButton>(IDC_MONITOR_FILE)->click();
        d.item<QAbstractButton>(IDOK)->click();
    });
    EXPECT_EQ(window.doModal(), IDOK);
    EXPECT_EQ(window.logText(), kWorkedExample);
    setTime(file("test.bin"), 7'000'000);
    tick();
    EXPECT_EQ(window.logText(), kWorkedExample) << "no tick after the window ended";
}

class About : public MainWindowTest {};

TEST_F(About, OpensForCommandsSixteenToThirtyOneAndEndsByEnterOrTheCloseBox) {
    start();
    std::vector<int> results;
    for (unsigned id = 0; id < 48; ++id) {
        ui.modalScripts.push_back([&](CDialog& d) {
            EXPECT_EQ(d.windowTitle(), "About Chipsight");
            if (id % 2)
                QTest::keyClick(&d, Qt::Key_Return);
            else
                d.close();
        });
        dialog->onSystemCommand(id, 0);
        if (ui.modalScripts.empty()) results.push_back(int(id));
        ui.modalScripts.clear();
    }
    std::vector<int> expectedIds(16);
    std::iota(expectedIds.begin(), expectedIds.end(), 16);
    EXPECT_EQ(results, expectedIds);
    EXPECT_TRUE(dialog->isVisible());
    dialog->onSystemCommand(SC_CLOSE, 0);  // other commands keep their default meaning
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(About, ButtonsOpenTheirPagesAndLeaveTheBoxOpen) {
    start();
    bool stillOpen = false;
    ui.modalScripts.push_back([&](CDialog& d) {
        for (int id :
             {CAboutDialog::IDC_MAKER, CAboutDialog::IDC_DATA_FILES, CAboutDialog::IDC_FORUM})
            d.item<QAbstractButton>(id)->click();
        stillOpen = d.isVisible();
        EXPECT_EQ(d.parentWidget(), dialog.get()) << "a dialog belongs to the main window";
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    dialog->onSystemCommand(IDM_ABOUTBOX, 0);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(ui.urls,
              (std::vector<QUrl>{
                  QUrl("http://www.chipsight.example"),
                  QUrl("http://data.chipsight.example/chiplore.html"),
                  QUrl("http://forum.chipsight.example/ubbthreads/ubbthreads.php?Cat=&C=2")}));
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

}  // namespace
