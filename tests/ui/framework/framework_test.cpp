// What the framework does that the application's own tests cannot reach: the template parser's
// messages, the layout in dialog units and the tab order, the exchange rules with their
// failure messages, a failing handler, drops of every kind, the arguments as bytes, and the
// desktop's own message box.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <climits>

#include "tests/ui/framework/demo_dialog.h"
#include "tests/ui/framework/scripted_blocking.h"
#include "ui/framework/win_app.h"

namespace {

QLineEdit* line(CDialog& d, int id) { return d.item<QLineEdit>(id); }

TEST(DialogTemplate, NamesTheFaultyLine) {
    const std::pair<const char*, const char*> faulty[] = {
        {"SIZE 1 1\nEDIT 1 0 0 1 1 \"\" BORDR", "dialog 7:2: unknown style 'BORDR'"},
        {"CAPTION \"x\"", "dialog 7:1: no SIZE line"},
        {"SIZE 1 1\n\nEDIT 1 0 x 1 1 \"\"", "dialog 7:3: expected a number, not 'x'"},
        {"SIZE 1 1\nLISTBOX 1 0 0 1 1 \"\"", "dialog 7:2: unknown keyword 'LISTBOX'"}};
    for (const auto& [text, message] : faulty) {
        try {
            parseDialogTemplate(QString::fromLatin1(text), 7);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const ResourceError& e) {
            EXPECT_STREQ(e.what(), message);
        }
    }
    EXPECT_THROW(loadDialogTemplate(4242), ResourceError);
}

TEST(DialogLayout, ControlsStayInsideApartSizedInDialogUnitsAndTabInTemplateOrder) {
    ScriptedBlocking blocking;
    CDemoDialog dialog;
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "a modal frame cannot be resized";
    const std::vector<QWidget*>& controls = dialog.controls();
    ASSERT_EQ(controls.size(), 12u);
    EXPECT_EQ(dialog.item(1002), controls[7]) << "controls are made in template order";
    for (std::size_t i = 0; i < controls.size(); ++i) {
        EXPECT_TRUE(dialog.rect().contains(controls[i]->geometry())) << i;
        // Rounding may make neighbours touch, never overlap by more than a pixel.
        for (std::size_t j = 0; j < i; ++j)
            EXPECT_FALSE(
                controls[i]->geometry().adjusted(1, 1, -1, -1).intersects(controls[j]->geometry()))
                << i << " " << j;
    }
    // Four units across are an average letter, eight down a line of the 8-point font.
    const QFontMetrics fm(dialog.font());
    EXPECT_EQ(dialog.font().pointSize(), 8);
    EXPECT_NEAR(double(dialog.item(1003)->width()) / fm.averageCharWidth(), 60 / 4, 4);
    EXPECT_NEAR(double(dialog.item(1002)->height()) / fm.height(), 40 / 8, 0.2);

    std::vector<int> visited;
    blocking.modalScripts.push_back([&](CDialog& d) {
        for (int i = 0; i < 9; ++i) {
            for (int id : {1015, 1003, 1011, 1012, 1002, 1009, 1010, int{IDOK}, int{IDCANCEL}})
                if (d.item(id) == QApplication::focusWidget()) visited.push_back(id);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        d.endDialog(IDCANCEL);
    });
    dialog.doModal();
    // Apply has no tab stop; the labels take no focus; the order wraps around.
    EXPECT_EQ(visited,
              (std::vector<int>{1015, 1003, 1011, 1012, 1002, 1010, IDOK, IDCANCEL, 1015}));
}

TEST(DataExchange, APullTakesASignedDecimalAndALimitedTextOrStopsThereWithAMessage) {
    struct Case {
        int id;
        const char* text;
        int level;
        const char* message;
    };
    // The level box takes these, as these levels, and refuses those; the size box holds 10.
    const char* const taken[] = {"+7", " \t-12\t ", "2147483647", "-2147483648", "007"};
    const int levels[] = {7, -12, INT_MAX, INT_MIN, 7};
    std::vector<Case> cases = {
        {1003, "12345678901", 1, "Please enter no more than 10 characters."}};
    for (int i = 0; i < 5; ++i) cases.push_back({1011, taken[i], levels[i], nullptr});
    for (const char* refused : {"", "1 2", "0x10", "2147483648", "--1"})
        cases.push_back({1011, refused, 1, "Please enter an integer."});
    for (const Case& c : cases) {
        CDemoDialog dialog;
        ScriptedBlocking blocking;
        showActive(dialog);
        line(dialog, 1015)->setText(QStringLiteral("AB"));
        line(dialog, 1011)->setText(QStringLiteral("5"));
        line(dialog, c.id)->setText(QString::fromLatin1(c.text));
        dialog.item<QCheckBox>(1012)->setCheckState(Qt::Unchecked);
        EXPECT_EQ(dialog.updateData(true), c.message == nullptr) << c.text;
        // Members bound before a failing field are pulled, those after it keep their values.
        EXPECT_EQ(dialog.m_codeText, QStringLiteral("AB"));
        EXPECT_EQ(dialog.m_level, c.level) << c.text;
        EXPECT_EQ(dialog.m_ignoreBad, c.message ? 1 : 0);
        if (c.message == nullptr) continue;
        EXPECT_EQ(blocking.boxes, (std::vector<BoxCall>{{&dialog, QString::fromLatin1(c.message),
                                                         QStringLiteral("ui_framework_tests"),
                                                         MB_ICONEXCLAMATION}}));
        EXPECT_EQ(line(dialog, c.id)->selectedText(), QString::fromLatin1(c.text));
        EXPECT_EQ(QApplication::focusWidget(), dialog.item(c.id));
    }
}

TEST(HandlerTable, AFailingHandlerIsReportedAndTheDialogGoesOn) {
    ScriptedBlocking blocking;
    CDemoDialog dialog;
    showActive(dialog);
    QTest::mouseClick(dialog.item(1009), Qt::LeftButton);
    EXPECT_EQ(dialog.events, (std::vector<std::string>{"apply"}));
    EXPECT_EQ(blocking.boxes,
              (std::vector<BoxCall>{{&dialog, QStringLiteral("Disk full while accessing demo.log."),
                                     QStringLiteral("ui_framework_tests"), MB_ICONSTOP}}));
    EXPECT_TRUE(dialog.isVisible());
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
    dialog.dragAcceptFiles(true);
    EXPECT_FALSE(dialog.item<QPlainTextEdit>(1002)->viewport()->acceptDrops())
        << "the edits leave file drops to the window";
    QMimeData text;
    text.setText(QStringLiteral("/tmp/b.bin"));
    EXPECT_EQ(drop(text, Qt::CopyAction), Qt::IgnoreAction);
    // The paths are the URIs' bytes, percent-decoded, whatever their encoding; only this
    // machine's files count.
    const RawUriList files(
        "# a comment\r\nfile:///tmp/b.bin\r\nhttp://example.org/x\r\nfile:///tmp/caf%E9%20x.bin\r\n"
        "file://localhost/tmp/%41%zz\r\nfile://elsewhere/tmp/c.bin\r\n");
    EXPECT_EQ(drop(files, Qt::MoveAction | Qt::LinkAction), Qt::LinkAction);
    EXPECT_EQ(drop(files, Qt::MoveAction), Qt::IgnoreAction);
    EXPECT_EQ(drop(files, Qt::CopyAction | Qt::MoveAction), Qt::CopyAction);
    EXPECT_EQ(dialog.dropped,
              (std::vector<std::string>{"/tmp/b.bin", "/tmp/caf\xe9 x.bin", "/tmp/A%zz"}));
}

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
