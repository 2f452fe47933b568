// The handler table, timers, the dialog keys, the system menu and dropped files.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QTimer>

#include "tests/ui/framework/demo_dialog.h"
#include "tests/ui/framework/scripted_blocking.h"

namespace {

using Events = std::vector<std::string>;

TEST(HandlerTable, RoutesClicksAndChangesAndReportsAFailingHandler) {
    ScriptedBlocking blocking;
    CDemoDialog dialog;
    showActive(dialog);
    QTest::mouseClick(dialog.item(1009), Qt::LeftButton);
    dialog.item<QLineEdit>(1003)->setText(QStringLiteral("7"));
    dialog.throwOnApply = true;
    QTest::mouseClick(dialog.item(1009), Qt::LeftButton);
    EXPECT_EQ(dialog.events, (Events{"apply", "change 1003", "apply"}));
    ASSERT_EQ(blocking.boxes.size(), 2u);
    EXPECT_EQ(blocking.boxes[0].text, QStringLiteral("Applied"));
    EXPECT_EQ(blocking.boxes[0].owner, &dialog);
    EXPECT_EQ(blocking.boxes[1].text, QStringLiteral("Disk full while accessing demo.log."));
    EXPECT_EQ(blocking.boxes[1].caption, QStringLiteral("ui_framework_tests"));
    EXPECT_EQ(blocking.boxes[1].type, unsigned{MB_ICONSTOP});
    EXPECT_TRUE(dialog.isVisible()) << "the dialog goes on after a failed handler";
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
    bool passed = false;
    QTimer::singleShot(30, [&] { passed = true; });
    runEventsUntil([&] { return passed; });
    EXPECT_TRUE(dialog.ticks.empty());
}

TEST(DialogKeys, EnterStaysInAnEditThatWantsItElsePressesTheFocusedOrDefaultButton) {
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
        // The default button ends the dialog only after a good pull.
        d.item<QLineEdit>(1011)->clear();
        QTest::keyClick(d.item(1012), Qt::Key_Enter);
        openAfterEnters = d.isVisible();
        QTest::keyClicks(d.item(1011), QStringLiteral("4"));
        QTest::keyClick(d.item(1015), Qt::Key_Return);
    });
    // The details box's multi-line edit does not want Enter: Enter presses its OK.
    blocking.modalScripts.push_back(
        [](CDialog& details) { QTest::keyClick(details.item(1020), Qt::Key_Return); });
    EXPECT_EQ(dialog.doModal(), IDOK);
    EXPECT_TRUE(openAfterEnters);
    ASSERT_EQ(blocking.boxes.size(), 1u);
    EXPECT_EQ(blocking.boxes[0].text, QStringLiteral("Please enter an integer."));
    EXPECT_EQ(dialog.m_level, 4);
    EXPECT_EQ(dialog.m_notes, "a\r\nb");
    EXPECT_EQ(dialog.events, (Events{"init", "more=1", "destroy"}));
}

TEST(SystemMenu, TheMenuKeysOpenMenusThatEndInTheAppendedEntries) {
    CDemoDialog dialog;
    showActive(dialog);
    dialog.appendSystemMenuSeparator();
    dialog.appendSystemMenuItem(16, QStringLiteral("&About Demo..."));
    auto* notes = dialog.item<QPlainTextEdit>(1002);
    // From an edit the keys open its own menu, from any other control the system menu; both
    // end in the appended entries.
    const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {{Qt::Key_Menu, Qt::NoModifier},
                                                              {Qt::Key_F10, Qt::ShiftModifier}};
    for (const auto& [key, modifiers] : keys) {
        for (QWidget* from : {static_cast<QWidget*>(notes), dialog.item(IDOK)}) {
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
        }
    }
    EXPECT_EQ(notes->toPlainText(), QString()) << "no key reached the edit as text";
}

TEST(DroppedFiles, ArriveAsTheBytesOfLocalPathsTakenAsACopyOrALinkNeverAMove) {
    CDemoDialog dialog;
    showActive(dialog);
    // Returns the action the dialog took, IgnoreAction for a refusal.
    auto drop = [&](const QMimeData& mime, Qt::DropActions offered) {
        dialog.dropped.clear();
        QDragEnterEvent enter(QPoint(5, 5), offered, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&dialog, &enter);
        // The source proposes a move, as a file manager does for a drag within one disk.
        QDropEvent drop(QPointF(5, 5), offered, &mime, Qt::LeftButton, Qt::NoModifier);
        drop.setDropAction(Qt::MoveAction);
        QApplication::sendEvent(&dialog, &drop);
        EXPECT_EQ(enter.isAccepted(), drop.isAccepted());
        EXPECT_EQ(dialog.dropped.empty(), !drop.isAccepted());
        return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
    };
    EXPECT_FALSE(dialog.acceptDrops());
    dialog.dragAcceptFiles(true);
    EXPECT_TRUE(dialog.acceptDrops());
    EXPECT_FALSE(dialog.item<QPlainTextEdit>(1002)->viewport()->acceptDrops())
        << "the edits leave file drops to the window";
    QMimeData text;
    text.setText(QStringLiteral("/tmp/b.bin"));
    EXPECT_EQ(drop(text, Qt::CopyAction), Qt::IgnoreAction);
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral("/tmp/b.bin")),
                   QUrl(QStringLiteral("http://example.org/x")),
                   QUrl::fromLocalFile(QStringLiteral("/tmp/dir/a.bin"))});
    EXPECT_EQ(drop(files, Qt::MoveAction | Qt::LinkAction), Qt::LinkAction);
    EXPECT_EQ(drop(files, Qt::MoveAction), Qt::IgnoreAction);
    EXPECT_EQ(drop(files, Qt::CopyAction | Qt::MoveAction), Qt::CopyAction);
    EXPECT_EQ(dialog.dropped, (Events{"/tmp/b.bin", "/tmp/dir/a.bin"}));
    // The paths are the URIs' bytes, percent-decoded, whatever their encoding; only this
    // machine's files count.
    RawUriList raw(
        "# a comment\r\nfile:///tmp/caf%E9%20x.bin\r\nfile://localhost/tmp/%41%zz\r\n"
        "file://elsewhere/tmp/c.bin\r\n");
    EXPECT_EQ(drop(raw, Qt::CopyAction), Qt::CopyAction);
    EXPECT_EQ(dialog.dropped, (Events{"/tmp/caf\xe9 x.bin", "/tmp/A%zz"}));
}

}  // namespace
