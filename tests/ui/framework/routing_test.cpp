// The handler table, timers, nested modal runs, the dialog keys, the close box, the system menu
// and dropped files.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include "tests/ui/framework/demo_dialog.h"
#include "tests/ui/framework/scripted_blocking.h"
#include "ui/framework/win_app.h"

namespace {

using Events = std::vector<std::string>;

QLineEdit* line(CDialog& d, int id) { return d.item<QLineEdit>(id); }

// Lets the event loop run until a timer of `ms` milliseconds has fired once.
void letTimePass(int ms) {
    bool passed = false;
    QTimer::singleShot(ms, [&] { passed = true; });
    runEventsUntil([&] { return passed; });
}

struct TestApp final : CWinApp {
    bool initInstance() override { return false; }
};

TEST(HandlerTable, RoutesClicksAndChangesToTheirHandlers) {
    ScriptedBlocking blocking;
    CDemoDialog dialog;
    showActive(dialog);
    QTest::mouseClick(dialog.item(1009), Qt::LeftButton);
    line(dialog, 1003)->setText(QStringLiteral("7"));
    EXPECT_EQ(dialog.events, (Events{"apply", "change 1003"}));
    ASSERT_EQ(blocking.boxes.size(), 1u);
    EXPECT_EQ(blocking.boxes[0].text, QStringLiteral("Applied"));
    EXPECT_EQ(blocking.boxes[0].owner, &dialog);
    EXPECT_TRUE(dialog.isVisible());
}

TEST(HandlerTable, AFailureInAHandlerIsReportedAndTheDialogGoesOn) {
    ScriptedBlocking blocking;
    CDemoDialog dialog;
    showActive(dialog);
    dialog.throwOnApply = true;
    QTest::mouseClick(dialog.item(1009), Qt::LeftButton);
    ASSERT_EQ(blocking.boxes.size(), 1u);
    EXPECT_EQ(blocking.boxes[0].text, QStringLiteral("Disk full while accessing demo.log."));
    EXPECT_EQ(blocking.boxes[0].caption, QStringLiteral("ui_framework_tests"));
    EXPECT_EQ(blocking.boxes[0].type, unsigned{MB_ICONSTOP});
    EXPECT_TRUE(dialog.isVisible());
}

TEST(Timers, TickByIdUntilKilled) {
    CDemoDialog dialog;
    dialog.setTimer(3, 1);
    dialog.setTimer(4, 1);
    auto seen = [&](unsigned id) {
        return std::find(dialog.ticks.begin(), dialog.ticks.end(), id) != dialog.ticks.end();
    };
    runEventsUntil([&] { return seen(3) && seen(4); });

    // Starting an id again replaces its timer, so one kill silences it.
    dialog.setTimer(4, 1);
    EXPECT_TRUE(dialog.killTimer(3));
    EXPECT_TRUE(dialog.killTimer(4));
    EXPECT_FALSE(dialog.killTimer(4));
    dialog.ticks.clear();
    letTimePass(30);
    EXPECT_TRUE(dialog.ticks.empty());
}

TEST(Timers, TickWhileAMessageBoxIsOpen) {
    ScriptedBlocking blocking;
    CDemoDialog dialog;
    showActive(dialog);
    std::size_t ticksWhileOpen = 0;
    blocking.boxAnswers.push_back([&](const BoxCall&) {
        const std::size_t before = dialog.ticks.size();
        runEventsUntil([&] { return dialog.ticks.size() >= before + 3; });
        ticksWhileOpen = dialog.ticks.size() - before;
        return IDOK;
    });
    dialog.setTimer(1, 1);
    QTest::mouseClick(dialog.item(1009), Qt::LeftButton);
    EXPECT_GE(ticksWhileOpen, 3u);
    EXPECT_EQ(dialog.events, (Events{"apply"}));
}

TEST(Timers, TickWhileASecondaryDialogRunsOwnedByTheMainWindow) {
    ScriptedBlocking blocking;
    TestApp app;
    CDemoDialog dialog;
    app.m_pMainWnd = &dialog;
    showActive(dialog);
    std::size_t ticksWhileOpen = 0;
    QWidget* owner = nullptr;
    blocking.modalScripts.push_back([&](CDialog& details) {
        owner = details.parentWidget();
        const std::size_t before = dialog.ticks.size();
        runEventsUntil([&] { return dialog.ticks.size() >= before + 3; });
        ticksWhileOpen = dialog.ticks.size() - before;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    });
    dialog.setTimer(0, 1);
    QTest::mouseClick(dialog.item(1010), Qt::LeftButton);
    EXPECT_EQ(owner, &dialog) << "a dialog given no parent belongs to the main window";
    EXPECT_GE(ticksWhileOpen, 3u);
    EXPECT_EQ(dialog.events, (Events{"more=2"}));
}

TEST(DialogKeys, EscapeCancelsWithoutAPull) {
    ScriptedBlocking blocking;
    CDemoDialog dialog;
    blocking.modalScripts.push_back([](CDialog& d) {
        EXPECT_EQ(QApplication::focusWidget(), d.item(1015))
            << "focus starts on the first tab stop";
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("AB"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    });
    dialog.setTimer(9, 1);
    EXPECT_EQ(dialog.doModal(), IDCANCEL);
    EXPECT_EQ(dialog.m_codeText, QString());
    EXPECT_EQ(dialog.events, (Events{"init", "change 1015", "change 1015", "cancel", "destroy"}));

    // The window is gone: its timers are too.
    dialog.ticks.clear();
    letTimePass(30);
    EXPECT_TRUE(dialog.ticks.empty());
}

TEST(DialogKeys, EnterInAnEditPressesTheDefaultButtonWhichEndsOnlyAfterAGoodPull) {
    ScriptedBlocking blocking;
    CDemoDialog dialog;
    bool openAfterFailedPull = false;
    blocking.modalScripts.push_back([&](CDialog& d) {
        line(d, 1011)->clear();
        QTest::keyClick(d.item(1012), Qt::Key_Enter);
        openAfterFailedPull = d.isVisible();
        QTest::keyClicks(d.item(1011), QStringLiteral("4"));
        QTest::keyClicks(d.item(1015), QStringLiteral("c0de"));
        QTest::keyClick(d.item(1015), Qt::Key_Return);
    });
    EXPECT_EQ(dialog.doModal(), IDOK);
    EXPECT_TRUE(openAfterFailedPull);
    ASSERT_EQ(blocking.boxes.size(), 1u);
    EXPECT_EQ(blocking.boxes[0].text, QStringLiteral("Please enter an integer."));
    EXPECT_EQ(dialog.m_codeText, QStringLiteral("C0DE"));
    EXPECT_EQ(dialog.m_level, 4);
}

TEST(DialogKeys, EnterStaysInAnEditThatWantsItAndPressesAFocusedButton) {
    ScriptedBlocking blocking;
    CDemoDialog dialog;
    bool openAfterEnters = false;
    blocking.modalScripts.push_back([&](CDialog& d) {
        QWidget* notes = d.item(1002);
        notes->setFocus();
        QTest::keyClicks(notes, QStringLiteral("a"));
        QTest::keyClick(notes, Qt::Key_Return);
        QTest::keyClicks(notes, QStringLiteral("b"));
        d.item(1010)->setFocus();
        QTest::keyClick(d.item(1010), Qt::Key_Return);
        openAfterEnters = d.isVisible();
        d.close();
    });
    // The details box has a multi-line edit that does not want Enter: Enter presses its OK.
    blocking.modalScripts.push_back(
        [](CDialog& details) { QTest::keyClick(details.item(1020), Qt::Key_Return); });
    EXPECT_EQ(dialog.doModal(), IDCANCEL);
    EXPECT_TRUE(openAfterEnters);
    EXPECT_EQ(dialog.m_notesEdit->toPlainText(), QStringLiteral("a\nb"));
    EXPECT_EQ(dialog.events, (Events{"init", "more=1", "syscommand 61536", "cancel", "destroy"}));
}

TEST(SystemMenu, AppendedEntriesSendTheirIdAndCloseCancels) {
    CDemoDialog dialog;
    showActive(dialog);
    dialog.appendSystemMenuSeparator();
    dialog.appendSystemMenuItem(16, QStringLiteral("&About Demo..."));
    const QList<QAction*> actions = dialog.systemMenu().actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2]->text(), QStringLiteral("&About Demo..."));
    actions[2]->trigger();
    EXPECT_TRUE(dialog.isVisible());
    actions[0]->trigger();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.events, (Events{"syscommand 16", "syscommand 61536", "cancel"}));

    QTest::keyClick(&dialog, Qt::Key_F1);
    EXPECT_EQ(dialog.events.back(), "help");
}

TEST(SystemMenu, TheMenuKeyAndShiftF10OpenItAndItsEntriesEndEachMultiLineEditsMenu) {
    CDemoDialog dialog;
    showActive(dialog);
    dialog.appendSystemMenuSeparator();
    dialog.appendSystemMenuItem(16, QStringLiteral("&About Demo..."));
    auto* notes = dialog.item<QPlainTextEdit>(1002);
    // From an edit the keys open its own menu, from any other control the system menu.
    const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {{Qt::Key_Menu, Qt::NoModifier},
                                                              {Qt::Key_F10, Qt::ShiftModifier}};
    for (const auto& [key, modifiers] : keys) {
        for (QWidget* from :
             {static_cast<QWidget*>(notes), static_cast<QWidget*>(dialog.item(IDOK))}) {
            from->setFocus();
            QTest::keyClick(from, key, modifiers);
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            ASSERT_NE(menu, nullptr) << key;
            EXPECT_EQ(menu == &dialog.systemMenu(), from != notes);
            const QList<QAction*> actions = menu->actions();
            ASSERT_GE(actions.size(), 3);
            EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
            EXPECT_FALSE(actions[actions.size() - 3]->isSeparator());
            actions.back()->trigger();
            menu->close();
            EXPECT_EQ(dialog.events.back(), "syscommand 16");
            dialog.events.clear();
        }
    }
    EXPECT_EQ(notes->toPlainText(), "") << "no key reached the edit as text";
}

TEST(DroppedFiles, ArriveAsLocalPathsInTheDesktopsOrder) {
    CDemoDialog dialog;
    showActive(dialog);
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/b.bin")),
                   QUrl(QStringLiteral("http://example.org/x")),
                   QUrl::fromLocalFile(QStringLiteral("/tmp/dir/a.bin"))});
    QMimeData text;
    text.setText(QStringLiteral("/tmp/b.bin"));

    EXPECT_FALSE(dialog.acceptDrops());
    dialog.dragAcceptFiles(true);
    EXPECT_TRUE(dialog.acceptDrops());
    EXPECT_FALSE(dialog.item<QPlainTextEdit>(1002)->viewport()->acceptDrops())
        << "the edits leave file drops to the window";

    QDragEnterEvent enterText(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &enterText);
    EXPECT_FALSE(enterText.isAccepted());
    QDragEnterEvent enterFiles(QPoint(5, 5), Qt::CopyAction, &files, Qt::LeftButton,
                               Qt::NoModifier);
    QApplication::sendEvent(&dialog, &enterFiles);
    EXPECT_TRUE(enterFiles.isAccepted());

    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &drop);
    EXPECT_EQ(dialog.dropped, (std::vector<std::string>{"/tmp/b.bin", "/tmp/dir/a.bin"}));

    // The paths are the URIs' bytes, percent-decoded, whatever their encoding; only this
    // machine's files count.
    RawUriList raw(
        "# a comment\r\nfile:///tmp/caf%E9%20x.bin\r\nfile://localhost/tmp/%41%zz\r\n"
        "file://elsewhere/tmp/c.bin\r\n");
    QDragEnterEvent rawEnter(QPoint(5, 5), Qt::CopyAction, &raw, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &rawEnter);
    QDropEvent rawDrop(QPointF(5, 5), Qt::CopyAction, &raw, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &rawDrop);
    EXPECT_EQ(dialog.dropped, (std::vector<std::string>{"/tmp/caf\xe9 x.bin", "/tmp/A%zz"}));
}

TEST(DroppedFiles, AreTakenAsACopyOrALinkNeverAsAMove) {
    CDemoDialog dialog;
    showActive(dialog);
    dialog.dragAcceptFiles(true);
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/b.bin"))});
    const struct {
        Qt::DropActions offered;
        Qt::DropAction taken;  // IgnoreAction: refused
    } cases[] = {{Qt::CopyAction | Qt::MoveAction, Qt::CopyAction},
                 {Qt::MoveAction | Qt::LinkAction, Qt::LinkAction},
                 {Qt::MoveAction, Qt::IgnoreAction}};
    for (const auto& c : cases) {
        dialog.dropped.clear();
        QDragEnterEvent enter(QPoint(5, 5), c.offered, &files, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &enter);
        EXPECT_EQ(enter.isAccepted(), c.taken != Qt::IgnoreAction);
        // The source proposes a move, as a file manager does for a drag within one disk.
        QDropEvent drop(QPointF(5, 5), c.offered, &files, Qt::LeftButton, Qt::NoModifier);
        drop.setDropAction(Qt::MoveAction);
        QApplication::sendEvent(&dialog, &drop);
        EXPECT_EQ(drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction, c.taken);
        EXPECT_EQ(dialog.dropped.size(), c.taken == Qt::IgnoreAction ? 0u : 1u);
    }
}

TEST(Topmost, ChangesOnlyTheStackingFlag) {
    CDemoDialog dialog;
    showActive(dialog);
    const QRect before = dialog.geometry();
    dialog.setTopmost(true);
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(dialog.windowHandle()->flags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(dialog.isVisible()) << "hiding would end a modal run";
    dialog.setTopmost(false);
    EXPECT_FALSE(dialog.windowHandle()->flags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(dialog.geometry(), before);
    EXPECT_TRUE(dialog.isVisible());
}

}  // namespace
