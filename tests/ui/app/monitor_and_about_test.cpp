// The file monitor and the About box.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include "app_fixture.h"
#include "ui/about_dialog.h"

namespace {

class Monitor : public MainWindowTest {
  protected:
    // Checks Monitor file and answers the file dialog with `path` (or a cancel).
    void watch(std::optional<QString> path) {
        ui.fileAnswers.push_back(path);
        click(IDC_MONITOR_FILE);
    }
    bool checked() const { return button(IDC_MONITOR_FILE)->isChecked(); }
    // Gives test.bin a new modification time and lets the monitor's timer tick at least once.
    void changeAndTick(std::int64_t seconds) {
        const timespec times[2] = {{seconds, 0}, {seconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, file("test.bin").c_str(), times, 0), 0);
        bool ticked = false;
        QTimer::singleShot(kMonitorPeriodMs * 3 / 2, [&] { ticked = true; });
        runEventsUntil([&] { return ticked; });
    }
};

TEST_F(Monitor, ReportsAChangedFileWhileAboutIsOpenAndUntilTheBoxIsCleared) {
    start();
    watch(std::nullopt);
    EXPECT_FALSE(checked());
    watch(path("test.bin"));
    EXPECT_TRUE(checked());
    EXPECT_EQ(dialog->m_session.logText(), kWorkedExample);
    changeAndTick(2'000'000);
    EXPECT_EQ(reports("test.bin"), 2);
    ui.modalScripts.push_back([&](CDialog& d) {
        changeAndTick(3'000'000);
        d.endDialog(IDOK);
    });
    dialog->onSystemCommand(IDM_ABOUTBOX, 0);
    EXPECT_EQ(reports("test.bin"), 3) << "ticks arrive while About is open";
    click(IDC_MONITOR_FILE);
    changeAndTick(4'000'000);
    EXPECT_EQ(reports("test.bin"), 3) << "no tick once the box is cleared";
    watch(path("test.bin"));  // reports the same file again at once
    EXPECT_EQ(reports("test.bin"), 4);
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(Monitor, ALockedFileIsNotWatchedAndAFailedOpenEndsTheWatch) {
    start();
    // An exclusive lock, as another program writing the file would hold.
    const int fd = ::open(file("test.bin").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    watch(path("test.bin"));
    ASSERT_EQ(boxTexts(), Strings{expected::kUnableToMonitor});
    EXPECT_EQ(ui.boxes[0].caption, "Error");
    EXPECT_FALSE(checked());
    EXPECT_EQ(dialog->m_session.logText(), "");
    ASSERT_EQ(::flock(fd, LOCK_UN), 0);
    watch(path("test.bin"));
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    changeAndTick(3'000'000);
    ::close(fd);
    changeAndTick(4'000'000);
    EXPECT_EQ(boxTexts(), (Strings{expected::kUnableToMonitor, expected::kErrorOpening}));
    EXPECT_FALSE(checked());
    EXPECT_EQ(reports("test.bin"), 1) << "the timer stopped with the box";
}

using About = MainWindowTest;

TEST_F(About, ButtonsOpenTheirPagesAndLeaveTheBoxOpen) {
    start();
    bool stillOpen = false;
    ui.modalScripts.push_back([&](CDialog& d) {
        EXPECT_EQ(d.parentWidget(), dialog.get()) << "a dialog belongs to the main window";
        for (int id :
             {CAboutDialog::IDC_MAKER, CAboutDialog::IDC_DATA_FILES, CAboutDialog::IDC_FORUM})
            d.item<QAbstractButton>(id)->click();
        stillOpen = d.isVisible();
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    dialog->onSystemCommand(IDM_ABOUTBOX, 0);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(ui.urls,
              (std::vector<QUrl>{
                  QUrl("http://www.chipsight.example"),
                  QUrl("http://data.chipsight.example/chiplore.html"),
                  QUrl("http://forum.chipsight.example/ubbthreads/ubbthreads.php?Cat=&C=2")}));
}

// Run again at other font resolutions (QT_FONT_DPI) by the build, as the desktop's scale sets it.
TEST_F(About, EveryTextFitsItsControl) {
    CAboutDialog about;
    for (QLabel* label : about.findChildren<QLabel*>())
        EXPECT_LE(label->heightForWidth(label->width()), label->height())
            << label->text().toStdString();
}

}  // namespace
