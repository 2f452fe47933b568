// The main window driven through its handler table: start-up, drops, Load file, the log and
// Save Log, the options, and how the dialog ends.
#include <QContextMenuEvent>
#include <QDropEvent>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QScrollBar>
#include <QTest>
#include <QUrl>
#include <filesystem>

#include "app_fixture.h"
#include "tests/support/expected_texts.h"
#include "ui/framework/blocking.h"

namespace {

using chipsight::testing::Bytes;
using chipsight::testing::readFile;
using chipsight::testing::writeFile;

const std::string kTitle = ".: Chipsight v1.05 - 3 ROMs - Feb 25 2005 - Morrowlark :.";

TEST_F(MainWindowTest, StartUpLoadsTheDatabaseThenIdentifiesEachPieceInOrder) {
    writeFile(file("other.bin"), Bytes{9, 9, 9, 9});
    start({file("test.bin"), file("other.bin"), "", "\"my", "dump.bin\""});
    EXPECT_EQ(dialog->windowTitle().toStdString(), kTitle);
    EXPECT_EQ(boxTexts(), std::vector<std::string>(3, chipsight::expected::kErrorOpening));
    const std::string& log = dialog->logText();
    ASSERT_EQ(log.rfind(kWorkedExample, 0), 0u) << log;
    EXPECT_NE(log.find("other.bin:["), std::string::npos);
    EXPECT_TRUE(dialog->commandLine().empty());
    EXPECT_TRUE(button(IDC_ADD_CUSTOM)->isEnabled());
    // The window's starting state.
    EXPECT_EQ(line(IDC_SPLIT_LEVEL)->text(), "1");
    EXPECT_EQ(dialog->ignoreBad(), true);
    EXPECT_FALSE(dialog->item<QAbstractButton>(IDC_MONITOR_FILE)->isChecked());
}

TEST_F(MainWindowTest, NoArgumentsIdentifyNothing) {
    start();
    EXPECT_EQ(dialog->logText(), "");
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_FALSE(button(IDC_ADD_CUSTOM)->isEnabled());
}

TEST_F(MainWindowTest, DroppedFilesAreIdentifiedInOrderPastAFolder) {
    start();
    writeFile(file("b.bin"), Bytes{5, 6, 7, 8});
    std::filesystem::create_directory(file("folder"));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(file("test.bin"))),
                  QUrl::fromLocalFile(QString::fromStdString(file("folder"))),
                  QUrl::fromLocalFile(QString::fromStdString(file("b.bin")))});
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dialog.get(), &enter);
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dialog.get(), &drop);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{chipsight::expected::kErrorOpening});
    const std::string& log = dialog->logText();
    EXPECT_EQ(log.rfind(kWorkedExample, 0), 0u);
    EXPECT_NE(log.find("b.bin:["), std::string::npos);
}

TEST_F(MainWindowTest, LoadFileConfirmedAndCancelled) {
    start();
    ui.fileAnswers = {QString::fromStdString(file("test.bin")), std::nullopt};
    click(IDC_LOAD_FILE);
    EXPECT_EQ(dialog->logText(), kWorkedExample);
    EXPECT_TRUE(ui.fileRequests.at(0).open);
    click(IDC_LOAD_FILE);
    EXPECT_EQ(dialog->logText(), kWorkedExample);
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(MainWindowTest, SplitLevelIsClampedWhileTheBoxKeepsWhatWasTyped) {
    start({file("test.bin")});
    QLineEdit* level = line(IDC_SPLIT_LEVEL);
    level->selectAll();
    QTest::keyClicks(level, "0");
    EXPECT_EQ(dialog->splitLevel(), 1);
    EXPECT_EQ(level->text(), "0");
    click(IDC_IGNORE_BAD);  // another pull: still clamped
    EXPECT_EQ(dialog->splitLevel(), 1);
    click(IDC_CLEAR_LOG);
    EXPECT_EQ(level->text(), "1");
    EXPECT_EQ(dialog->logText(), "");
    EXPECT_EQ(log()->toPlainText(), "");

    level->selectAll();
    QTest::keyClicks(level, "25");
    EXPECT_EQ(dialog->splitLevel(), 9);
    EXPECT_EQ(level->text(), "25");
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(MainWindowTest, AnEmptySplitLevelBoxIsRefusedAndDoneStaysOpen) {
    start();
    QLineEdit* level = line(IDC_SPLIT_LEVEL);
    level->selectAll();
    QTest::keyClicks(level, "3");
    level->selectAll();
    QTest::keyClick(level, Qt::Key_Backspace);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_EQ(ui.boxes[0].text, "Please enter an integer.");
    EXPECT_EQ(ui.boxes[0].caption, programName());
    EXPECT_EQ(ui.boxes[0].type, MB_ICONEXCLAMATION);
    EXPECT_EQ(dialog->splitLevel(), 3);
    click(IDOK);
    EXPECT_EQ(ui.boxes.size(), 2u);
    EXPECT_TRUE(dialog->isVisible()) << "Done needs a good pull";
    // Enter in the box presses Done; with a number it ends the dialog.
    QTest::keyClicks(level, "2");
    QTest::keyClick(level, Qt::Key_Return);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), IDOK);
}

TEST_F(MainWindowTest, EscapeAndTheCloseBoxEndWithoutAPull) {
    start();
    line(IDC_SPLIT_LEVEL)->clear();  // a pull would fail now
    ui.boxes.clear();
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), IDCANCEL);
    EXPECT_TRUE(ui.boxes.empty());

    start();
    dialog->close();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), IDCANCEL);
}

TEST_F(MainWindowTest, AlwaysOnTopTogglesTheHintWithoutMoving) {
    start();
    const QRect before = dialog->geometry();
    click(IDC_ALWAYS_ON_TOP);
    EXPECT_EQ(dialog->m_alwaysOnTop, 1);
    EXPECT_TRUE(dialog->windowFlags() & Qt::WindowStaysOnTopHint);
    click(IDC_ALWAYS_ON_TOP);
    EXPECT_FALSE(dialog->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(dialog->geometry(), before);
    EXPECT_TRUE(dialog->isVisible());
}

TEST_F(MainWindowTest, SavedLogHoldsTheReportsAndWhatTheUserTyped) {
    start({file("test.bin")});
    // Typed into the log, then kept by the next report.
    QPlainTextEdit* edit = log();
    edit->moveCursor(QTextCursor::End);
    QTest::keyClicks(edit, "note: dump from socket U2 ");
    edit->insertPlainText(QStringLiteral("\u00fc"));  // typed with a dead key
    QTest::keyClick(edit, Qt::Key_Return);
    ui.fileAnswers = {QString::fromStdString(file("test.bin"))};
    click(IDC_LOAD_FILE);
    const std::string expected =
        kWorkedExample + "note: dump from socket U2 \xc3\xbc\r\n" + kWorkedExample;
    EXPECT_EQ(dialog->logText(), expected);

    ui.fileAnswers = {QString::fromStdString(file("saved"))};
    click(IDC_SAVE_LOG);
    EXPECT_EQ(ui.fileRequests.back().open, false);
    EXPECT_EQ(readFile(file("saved.log")), chipsight::testing::bytesOf(expected))
        << "default extension added";
}

TEST_F(MainWindowTest, SaveLogEmptyReplaceAndRefused) {
    start();
    ui.fileAnswers = {QString::fromStdString(file("empty.log"))};
    click(IDC_SAVE_LOG);
    ASSERT_TRUE(std::filesystem::exists(file("empty.log")));
    EXPECT_EQ(std::filesystem::file_size(file("empty.log")), 0u);

    // An existing file is replaced after the question, never appended to.
    writeFile(file("old.log"), std::string(500, 'x'));
    dialog->identifyFile(file("test.bin"));
    ui.fileAnswers = {QString::fromStdString(file("old.log"))};
    ui.boxAnswers = {[](const BoxCall&) { return IDYES; }};
    click(IDC_SAVE_LOG);
    EXPECT_EQ(readFile(file("old.log")), chipsight::testing::bytesOf(kWorkedExample));

    ui.boxes.clear();
    std::filesystem::create_directory(file("dir.log"));
    ui.fileAnswers = {QString::fromStdString(file("dir.log"))};
    ui.boxAnswers = {[](const BoxCall&) { return IDYES; }};
    click(IDC_SAVE_LOG);
    ASSERT_FALSE(ui.boxes.empty());
    EXPECT_EQ(ui.boxes.back().text, "Could not open file for saving, sorry.");
    EXPECT_EQ(ui.boxes.back().caption, "Error");
    EXPECT_EQ(ui.boxes.back().type, MB_ICONSTOP);
    EXPECT_EQ(dialog->logText(), kWorkedExample);
}

TEST_F(MainWindowTest, BytesThatAreNotUtf8SurviveThePullAndTheSave) {
    using namespace chipsight::testing;
    Bytes roms = romTableBytes(0,
                               "Pi\xe8"
                               "ce \xff",
                               0x8BB98613, 4);
    writeFile(db.file("CHIPLORE.ROM"), roms);
    writeFile(db.file("CHIPLORE.GAM"), gameBytes("Caf\xc3\xa9 \xef\x9e\x80 \xc3"));
    start({file("test.bin")});
    const std::string expected =
        "============================\r\ntest.bin: (1/1) [8BB98613]\r\n\t- Pi\xe8"
        "ce \xff : "
        "Caf\xc3\xa9 \xef\x9e\x80 \xc3\r\n";
    EXPECT_EQ(dialog->logText(), expected);
    EXPECT_TRUE(log()->toPlainText().contains(QStringLiteral("Caf\u00e9")));
    log()->document()->setModified(true);  // as if typed: the pull reads the box
    dialog->pull();
    EXPECT_EQ(dialog->logText(), expected);
    ui.fileAnswers = {QString::fromStdString(file("bytes.log"))};
    click(IDC_SAVE_LOG);
    EXPECT_EQ(readFile(file("bytes.log")), bytesOf(expected));
}

TEST_F(MainWindowTest, ALongLogShowsItsNewestLines) {
    start();
    for (int i = 0; i < 10; ++i) dialog->identifyFile(file("test.bin"));
    QScrollBar* bar = log()->verticalScrollBar();
    EXPECT_EQ(log()->document()->blockCount(), 31);
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    // The box holds exactly the log, appended piece by piece.
    std::string all;
    for (int i = 0; i < 10; ++i) all += kWorkedExample;
    EXPECT_EQ(dialog->logText(), all);
    log()->document()->setModified(true);
    dialog->pull();
    EXPECT_EQ(dialog->logText(), all);
}

TEST_F(MainWindowTest, HelpShowsUsageAndTheMenusEndInAbout) {
    start();
    QTest::keyClick(dialog.get(), Qt::Key_F1);
    ASSERT_EQ(ui.boxes.size(), 1u);
    EXPECT_TRUE(ui.boxes[0].text.contains("Drop dump files"));
    EXPECT_TRUE(ui.boxes[0].text.contains("right click on the log"));
    EXPECT_TRUE(ui.boxes[0].text.contains("Shift+F10"));
    const auto actions = dialog->systemMenu().actions();
    ASSERT_GE(actions.size(), 2);
    EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
    EXPECT_EQ(actions.back()->text(), "&About Chipsight...");
    EXPECT_FALSE(dialog->windowIcon().isNull());

    // A right click on the log, where the focus starts, opens its menu, which ends in About.
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5),
                            log()->viewport()->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(log()->viewport(), &click);
    QPointer<QMenu> menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(menu->actions().back()->text(), "&About Chipsight...");
    EXPECT_TRUE(menu->actions().at(menu->actions().size() - 2)->isSeparator());
    bool aboutRan = false;
    ui.modalScripts.push_back([&](CDialog& d) {
        aboutRan = d.windowTitle() == "About Chipsight";
        d.endDialog(IDOK);
    });
    menu->actions().back()->trigger();
    EXPECT_TRUE(aboutRan);
    EXPECT_TRUE(menu.isNull() || !menu->isVisible()) << "the menu went when About opened";
}

TEST_F(MainWindowTest, TheLogAndTheSplitLevelBoxHaveAccessibleNames) {
    start();
    EXPECT_EQ(log()->accessibleName(), "Log");
    EXPECT_EQ(line(IDC_SPLIT_LEVEL)->accessibleName(), "Split Level");
}

TEST_F(MainWindowTest, NamesThatAreNotUtf8ArriveAsTheirBytes) {
    const std::string name = file("caf\xe9.bin");
    writeFile(name, Bytes{0, 1, 2, 3});
    const std::string report =
        "============================\r\ncaf\xe9.bin: (1/1) [8BB98613]\r\n\t- TB : Demo board\r\n";
    start({name});
    EXPECT_EQ(dialog->logText(), report);
    // A drop's URI carries the byte percent-encoded.
    RawUriList mime(QByteArray("file://") + QByteArray::fromStdString(name).toPercentEncoding("/") +
                    "\r\n");
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dialog.get(), &enter);
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(dialog.get(), &drop);
    EXPECT_EQ(dialog->logText(), report + report);
    // A file dialog gives the name as Qt reads it, with U+FFFD for the byte; the one file that
    // reads so is taken, and with two of them neither.
    const QString asQtReadsIt = QFile::decodeName(QByteArray::fromStdString(name));
    ASSERT_TRUE(asQtReadsIt.contains(QChar::ReplacementCharacter));
    ui.fileAnswers = {asQtReadsIt, asQtReadsIt};
    click(IDC_LOAD_FILE);
    EXPECT_EQ(dialog->logText(), report + report + report);
    writeFile(file("caf\xe8.bin"), Bytes{0, 1, 2, 3});
    click(IDC_LOAD_FILE);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{chipsight::expected::kErrorOpening});
}

TEST_F(MainWindowTest, DatabaseTextsShowControlCharactersAsQuestionMarks) {
    using namespace chipsight::testing;
    writeFile(db.file("CHIPLORE.ROM"), romTableBytes(0, "TB\x1b[1m", 0x8BB98613, 4));
    writeFile(db.file("CHIPLORE.GAM"), gameBytes("Demo\r\n\t- FAKE : forged"));
    start({file("test.bin")});
    EXPECT_EQ(dialog->logText(),
              "============================\r\ntest.bin: (1/1) [8BB98613]\r\n\t- TB?[1m : "
              "Demo?\?\?- FAKE : forged\r\n");
}

}  // namespace
