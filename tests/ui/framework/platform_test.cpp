// The application object, owners of boxes and dialogs, addresses, the file dialogs' default
// extension and replace question, and the real blocking calls answered from inside their own
// event loops.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include "tests/ui/framework/demo_dialog.h"
#include "tests/ui/framework/scripted_blocking.h"
#include "ui/framework/file_dialog.h"
#include "ui/framework/win_app.h"

namespace {

struct RecordingApp final : CWinApp {
    bool initInstance() override {
        seenCommandLine = m_lpCmdLine;
        seenArguments = m_arguments;
        return false;
    }
    std::string seenCommandLine;
    std::vector<std::string> seenArguments;
};

TEST(Application, StartsThroughInitInstanceWithTheArgumentsAsBytes) {
    {
        RecordingApp app;
        EXPECT_EQ(CWinApp::instance(), &app);
        std::string args[] = {"chipsight", "a.bin", "", "caf\xe9 c.bin", "--", "-platform", "--"};
        char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(),
                        args[4].data(), args[5].data(), args[6].data(), nullptr};
        // initInstance returning false ends the program at once, without an event loop.
        EXPECT_EQ(CWinApp::run(7, argv), 0);
        EXPECT_EQ(app.seenCommandLine, "a.bin  caf\xe9 c.bin -platform --");
        EXPECT_EQ(app.seenArguments,
                  (std::vector<std::string>{"a.bin", "", "caf\xe9 c.bin", "-platform", "--"}));
    }
    EXPECT_EQ(CWinApp::instance(), nullptr);
}

TEST(Application, BoxesAndDialogsWithoutAnOwnerBelongToTheMainWindow) {
    ScriptedBlocking blocking;
    RecordingApp app;
    CDemoDialog main;
    app.m_pMainWnd = &main;
    messageBox(nullptr, QStringLiteral("text"), QStringLiteral("caption"), MB_OK);
    ASSERT_EQ(blocking.boxes.size(), 1u);
    EXPECT_EQ(blocking.boxes[0].owner, &main);
    CDialog owned(kDetailsTemplate);
    EXPECT_EQ(owned.parentWidget(), &main);
    CDialog other(kDetailsTemplate, &owned);
    EXPECT_EQ(other.parentWidget(), &owned);
    EXPECT_TRUE(openUrl(QStringLiteral("http://www.chipsight.example")));
    EXPECT_EQ(blocking.urls,
              (std::vector<QUrl>{QUrl(QStringLiteral("http://www.chipsight.example"))}));
}

TEST(FileDialogs, SaveAddsTheExtensionAndAsksBeforeReplacingWhileOpenTakesAnyName) {
    QTemporaryDir dir;
    auto path = [&dir](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    ASSERT_TRUE(QFile(path("old.log")).open(QIODevice::WriteOnly));
    ScriptedBlocking blocking;
    blocking.fileAnswers = {path("old"),        path("new"),     path("old.log"),
                            path("report.txt"), path("missing"), std::nullopt};
    blocking.boxAnswers = {[](const BoxCall&) { return IDNO; },
                           [](const BoxCall&) { return IDYES; }};
    CFileDialog save(false, QStringLiteral("log"), {}, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT);
    ASSERT_EQ(save.doModal(), IDOK);
    EXPECT_EQ(save.getPathName(), path("new.log")) << "No goes back to the choice";
    ASSERT_EQ(save.doModal(), IDOK);
    EXPECT_EQ(save.getPathName(), path("old.log"));
    ASSERT_EQ(save.doModal(), IDOK);
    EXPECT_EQ(save.getPathName(), path("report.txt")) << "a name with an extension is kept";
    ASSERT_EQ(blocking.boxes.size(), 2u);
    EXPECT_EQ(blocking.boxes[0].text,
              QStringLiteral("old.log already exists.\nDo you want to replace it?"));
    EXPECT_EQ(blocking.boxes[0].type, unsigned{MB_YESNO | MB_ICONEXCLAMATION});

    CFileDialog open(true);
    ASSERT_EQ(open.doModal(), IDOK);
    EXPECT_EQ(open.getPathName(), path("missing"));
    EXPECT_EQ(open.doModal(), IDCANCEL);
    EXPECT_FALSE(blocking.fileRequests[0].open);
    EXPECT_TRUE(blocking.fileRequests[4].open);
    EXPECT_EQ(blocking.boxes.size(), 2u);
}

// The desktop's own box, answered from inside its event loop; a box still up after a long while
// is ended, so that a fault fails instead of hanging.
TEST(DesktopCalls, TheMessageBoxShowsItsTypeCentredAndReportsTheButton) {
    CDemoDialog owner;  // built, as the main window is while it loads, but not shown
    owner.move(0, 0);
    QString seen;
    QPoint offCentre;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        poll.stop();
        seen = box->windowTitle() + u'|' + box->text() + u'|' + QString::number(box->icon());
        offCentre = box->frameGeometry().center() - box->screen()->availableGeometry().center();
        box->button(QMessageBox::No)->click();
    });
    poll.start(1);
    QTimer::singleShot(10000, [] {
        if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) modal->done(0);
    });
    EXPECT_EQ(messageBox(&owner, QStringLiteral("Replace?"), QStringLiteral("Save As"),
                         MB_YESNO | MB_ICONEXCLAMATION),
              IDNO);
    EXPECT_EQ(seen, QStringLiteral("Save As|Replace?|%1").arg(QMessageBox::Warning));
    EXPECT_LE(offCentre.manhattanLength(), 4) << offCentre.x() << "," << offCentre.y();
}

}  // namespace
