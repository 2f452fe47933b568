// The main window driven through its handler table: start-up, drops, Load file, the log and
// Save Log, the options, the menus and how the dialog ends.
#include <QContextMenuEvent>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QUrl>
#include <filesystem>

#include "app_fixture.h"

namespace {

TEST_F(MainWindowTest, StartUpLoadsTheDatabaseThenIdentifiesEachPieceInOrder) {
    writeFile(file("other.bin"), Bytes{9, 9, 9, 9});
    start({file("test.bin"), file("other.bin"), "", "\"my", "dump.bin\""});
    EXPECT_EQ(dialog->windowTitle().toStdString(), kTitle);
    EXPECT_EQ(boxTexts(), Strings(3, expected::kErrorOpening));
    EXPECT_EQ(dialog->m_session.logText().rfind(kWorkedExample, 0), 0u)
        << dialog->m_session.logText();
    EXPECT_EQ(reports("other.bin"), 1);
    EXPECT_TRUE(button(IDC_ADD_CUSTOM)->isEnabled());
    EXPECT_EQ(line(IDC_SPLIT_LEVEL)->text(), "1");
    EXPECT_TRUE(dialog->m_session.ignoreBad());
    EXPECT_FALSE(button(IDC_MONITOR_FILE)->isChecked());
    EXPECT_EQ(log()->accessibleName() + "|" + line(IDC_SPLIT_LEVEL)->accessibleName(),
              "Log|Split Level");
}

TEST_F(MainWindowTest, LoadFileAndDropsIdentifyInOrderPastAFolder) {
    start();
    ui.fileAnswers = {path("test.bin"), std::nullopt};
    click(IDC_LOAD_FILE);
    click(IDC_LOAD_FILE);  // cancelled
    EXPECT_EQ(dialog->m_session.logText(), kWorkedExample);
    EXPECT_TRUE(ui.fileRequests.at(0).open);
    writeFile(file("b.bin"), Bytes{5, 6, 7, 8});
    std::filesystem::create_directory(file("folder"));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(path("test.bin")), QUrl::fromLocalFile(path("folder")),
                  QUrl::fromLocalFile(path("b.bin"))});
    drop(mime);
    EXPECT_EQ(boxTexts(), Strings{expected::kErrorOpening});
    EXPECT_EQ(dialog->m_session.logText().rfind(kWorkedExample + kWorkedExample + "=", 0), 0u);
    EXPECT_EQ(reports("b.bin"), 1);
    // An archive, loaded or dropped, has each file inside reported under its own name.
    writeArchive(file("set.zip"), "zip", {{"x/test.bin", {0, 1, 2, 3}}});
    ui.fileAnswers = {path("set.zip")};
    click(IDC_LOAD_FILE);
    QMimeData zip;
    zip.setUrls({QUrl::fromLocalFile(path("set.zip"))});
    drop(zip);
    EXPECT_EQ(reports("set.zip/x/test.bin"), 2);
    EXPECT_EQ(boxTexts().size(), 1u);
    // Members of a length no image has are said in one box for the archive, the first named.
    std::vector<Member> odd;
    for (int i = 0; i < 7; ++i) odd.push_back({"m" + std::to_string(i) + ".bin", Bytes(3, 0)});
    odd.push_back({"test.bin", {0, 1, 2, 3}});
    writeArchive(file("odd.zip"), "zip", odd);
    ui.fileAnswers = {path("odd.zip")};
    click(IDC_LOAD_FILE);
    const std::string zipPath = file("odd.zip");
    EXPECT_EQ(boxTexts().back(), std::string(expected::kNotPowerOfTwo) + "\n7 files in " + zipPath +
                                     ", the first:\n" + zipPath + "/m0.bin\n" + zipPath +
                                     "/m1.bin\n" + zipPath + "/m2.bin\n" + zipPath + "/m3.bin\n" +
                                     zipPath + "/m4.bin\n...");
    EXPECT_EQ(boxTexts().size(), 2u);
    EXPECT_EQ(reports("odd.zip/test.bin"), 1);
}

// The first load's progress runs before the window is shown: its box is centred on the screen,
// shows the whole of what it holds, and keeps its place and size as long paths come and go.
TEST_F(MainWindowTest, TheFirstLoadsProgressIsCentredAndWhole) {
    CMainDialog hidden(db.file("chipsight"), {});
    const auto progressBox = [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->windowTitle() == "Databases") return w;
        return static_cast<QWidget*>(nullptr);
    };
    hidden.loadProgress("/db/dats/mame.xml", 1 << 20, 300 << 20);
    QWidget* box = progressBox();
    ASSERT_NE(box, nullptr);
    // Within the rounding of two halvings.
    const QPoint off = box->geometry().center() - box->screen()->availableGeometry().center();
    EXPECT_LE(off.manhattanLength(), 4) << off.x() << ", " << off.y();
    const QRect place = box->geometry();
    hidden.loadProgress("/db/dats/" + std::string(300, 'x') + ".xml", 2 << 20, 300 << 20);
    EXPECT_EQ(box->geometry(), place);
    for (QWidget* child : box->findChildren<QWidget*>())
        if (child->isVisible()) {
            EXPECT_TRUE(box->rect().contains(child->geometry())) << child;
        }
    hidden.loadProgress({}, 300 << 20, 300 << 20);
    EXPECT_EQ(progressBox(), nullptr);
}

TEST_F(MainWindowTest, SplitLevelIsClampedWhileTheBoxKeepsWhatWasTyped) {
    start({file("test.bin")});
    // The box takes only digits, and the level in use stays within 1 to 9.
    const std::tuple<const char*, int, const char*> typed[] = {
        {"2x5", 9, "25"}, {"3", 3, "3"}, {"0", 1, "0"}};
    for (const auto& [keys, level, shown] : typed) {
        line(IDC_SPLIT_LEVEL)->selectAll();
        QTest::keyClicks(line(IDC_SPLIT_LEVEL), keys);
        click(IDC_IGNORE_BAD);  // another pull
        EXPECT_EQ(dialog->m_session.splitLevel(), level);
        EXPECT_EQ(line(IDC_SPLIT_LEVEL)->text(), shown);
    }
    click(IDC_CLEAR_LOG);  // a push shows the level in use
    EXPECT_EQ(line(IDC_SPLIT_LEVEL)->text(), "1");
    EXPECT_EQ(dialog->m_session.logText() + log()->toPlainText().toStdString(), "");
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(MainWindowTest, DoneNeedsAGoodPullWhileEscapeAndTheCloseBoxEndWithoutOne) {
    start();
    line(IDC_SPLIT_LEVEL)->selectAll();
    QTest::keyClick(line(IDC_SPLIT_LEVEL), Qt::Key_Backspace);
    click(IDOK);
    EXPECT_EQ(ui.boxes, std::vector<BoxCall>(2, {dialog.get(), "Please enter an integer.",
                                                 programName(), MB_ICONEXCLAMATION}));
    EXPECT_EQ(ended(), -1) << "Done needs a good pull";
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_EQ(ended(), IDCANCEL);
    EXPECT_EQ(ui.boxes.size(), 2u);

    start();
    // Always on top changes only the stacking: the window neither moves nor hides.
    const QRect before = dialog->geometry();
    click(IDC_ALWAYS_ON_TOP);
    EXPECT_TRUE(dialog->windowFlags() & Qt::WindowStaysOnTopHint);
    click(IDC_ALWAYS_ON_TOP);
    EXPECT_FALSE(dialog->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(dialog->geometry(), before);
    button(IDC_LOAD_FILE)->setFocus();  // Enter presses a focused button, not Done
    ui.fileAnswers = {std::nullopt};
    QTest::keyClick(button(IDC_LOAD_FILE), Qt::Key_Return);
    EXPECT_EQ(ui.fileRequests.size(), 1u);
    EXPECT_EQ(ended(), -1);
    dialog->close();
    EXPECT_EQ(ended(), IDCANCEL);
    start();
    QTest::keyClick(line(IDC_SPLIT_LEVEL), Qt::Key_Return);  // Enter in the box presses Done
    EXPECT_EQ(ended(), IDOK);
}

TEST_F(MainWindowTest, TheSavedLogHoldsReportsTypedTextAndBytesThatAreNotUtf8) {
    writeFile(db.file("Chipsight.dat"), romEntryBytes(0x8BB98613, 4,
                                                      "Pi\xe8"
                                                      "ce \xff",
                                                      "Caf\xc3\xa9 \xef\x9e\x80 \xc3"));
    start({file("test.bin")});
    const std::string report =
        "============================\r\ntest.bin: (1/1) [8BB98613]\r\n\t- Pi\xe8"
        "ce \xff : Caf\xc3\xa9 \xef\x9e\x80 \xc3\r\n";
    EXPECT_EQ(dialog->m_session.logText(), report);
    EXPECT_TRUE(log()->toPlainText().contains(QStringLiteral("Caf\u00e9")));
    // Typed into the log, the last letter with a dead key, and kept by the next report.
    log()->moveCursor(QTextCursor::End);
    QTest::keyClicks(log(), "note: socket U2 ");
    log()->insertPlainText(QStringLiteral("\u00fc"));
    QTest::keyClick(log(), Qt::Key_Return);
    EXPECT_TRUE(dialog->isVisible()) << "Enter in the log is a new line";
    ui.fileAnswers = {path("test.bin"), path("saved")};
    click(IDC_LOAD_FILE);
    const std::string all = report + "note: socket U2 \xc3\xbc\r\n" + report;
    EXPECT_EQ(dialog->m_session.logText(), all);
    click(IDC_SAVE_LOG);
    EXPECT_FALSE(ui.fileRequests.back().open);
    EXPECT_EQ(readFile(file("saved.log")), bytesOf(all)) << "extension added";
}

TEST_F(MainWindowTest, SaveLogAsksBeforeReplacingAndSaysWhenItCannot) {
    start();
    writeFile(file("old.log"), std::string(500, 'x'));
    std::filesystem::create_directory(file("dir.log"));
    ui.fileAnswers = {path("empty.log"), path("old.log"), path("old.log"), path("dir.log")};
    auto answer = [](int id) { return [id](const BoxCall&) { return id; }; };
    ui.boxAnswers = {answer(IDNO), answer(IDYES), answer(IDYES)};
    click(IDC_SAVE_LOG);
    EXPECT_EQ(readFile(file("empty.log")), Bytes{});
    // A long log shows its newest lines, and replaces the file after a second choice.
    for (int i = 0; i < 10; ++i) dialog->m_session.identifyFile(file("test.bin"));
    EXPECT_EQ(log()->document()->blockCount(), 31);
    EXPECT_GT(log()->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(log()->verticalScrollBar()->value(), log()->verticalScrollBar()->maximum());
    click(IDC_SAVE_LOG);
    EXPECT_EQ(readFile(file("old.log")), bytesOf(dialog->m_session.logText()));
    click(IDC_SAVE_LOG);
    ASSERT_EQ(ui.boxes.size(), 4u);
    EXPECT_EQ(ui.boxes[0],
              (BoxCall{dialog.get(), "old.log already exists.\nDo you want to replace it?",
                       "Save As", MB_YESNO | MB_ICONEXCLAMATION}));
    EXPECT_EQ(ui.boxes[3], (BoxCall{dialog.get(), "Could not open file for saving, sorry.", "Error",
                                    MB_ICONSTOP}));
}

TEST_F(MainWindowTest, HelpShowsUsageAndEveryWayToAMenuEndsInAbout) {
    start();
    QTest::keyClick(dialog.get(), Qt::Key_F1);
    ASSERT_EQ(ui.boxes.size(), 1u);
    for (const char* part : {"Drop dump files", "right click on the log", "Shift+F10"})
        EXPECT_TRUE(ui.boxes[0].text.contains(part)) << part;
    EXPECT_FALSE(dialog->windowIcon().isNull());
    // A right click on the log and Shift+F10 in it open its own menu, the menu key on a button
    // the window's.
    for (int way = 0; way < 3; ++way) {
        QContextMenuEvent click(QContextMenuEvent::Mouse, {5, 5}, log()->mapToGlobal(QPoint(5, 5)));
        if (way == 0) QApplication::sendEvent(log()->viewport(), &click);
        QWidget* from = way == 2 ? static_cast<QWidget*>(button(IDC_LOAD_FILE)) : log();
        from->setFocus();
        if (way == 1) QTest::keyClick(from, Qt::Key_F10, Qt::ShiftModifier);
        if (way == 2) QTest::keyClick(from, Qt::Key_Menu);
        QPointer<QMenu> menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr) << way;
        EXPECT_EQ(menu == &dialog->systemMenu(), way == 2);
        const QList<QAction*> actions = menu->actions();
        ASSERT_GE(actions.size(), 8);
        QStringList added;  // a separator as "-"
        for (QAction* a : actions.mid(actions.size() - 8))
            added << (a->isSeparator() ? QStringLiteral("-") : a->text());
        EXPECT_EQ(added,
                  (QStringList{"-", "&Doctor dumps that are not found", "Identify a &board...",
                               "&Write set...", "Images to b&urn...", "&Collection of ROM sets...",
                               "&Databases...", "&About Chipsight..."}));
        // The doctor's check item, off at start; each click turns it over.
        QAction* doctor = actions[actions.size() - 7];
        EXPECT_TRUE(doctor->isCheckable());
        EXPECT_EQ(doctor->isChecked(), way == 1);
        EXPECT_EQ(dialog->m_session.doctor(), way == 1);
        if (way < 2) doctor->trigger();
        EXPECT_EQ(doctor->isChecked(), way == 0);
        EXPECT_EQ(dialog->m_session.doctor(), way == 0);
        if (way == 0) {
            actions[actions.size() - 2]->trigger();
            ASSERT_FALSE(ui.boxes.empty());
            EXPECT_EQ(ui.boxes.back().caption, "Databases");
            EXPECT_EQ(ui.boxes.back().text.toStdString().rfind(
                          "CHIPLORE.ROM, CHIPLORE.GAM, Chipsight.dat: ", 0),
                      0u);
        }
        ui.modalScripts.push_back([&](CDialog& d) { d.endDialog(IDOK); });
        actions.back()->trigger();
        EXPECT_TRUE(ui.modalScripts.empty()) << "About ran";
        EXPECT_TRUE(menu.isNull() || !menu->isVisible()) << "the menu went when About opened";
    }
}

TEST_F(MainWindowTest, NamesThatAreNotUtf8ArriveAsTheirBytes) {
    const std::string name = file("caf\xe9.bin");
    writeFile(name, Bytes{0, 1, 2, 3});
    start({name});
    EXPECT_EQ(reports("caf\xe9.bin"), 1);
    // A drop's URI carries the byte percent-encoded.
    drop(RawUriList("file://" + QByteArray::fromStdString(name).toPercentEncoding("/") + "\r\n"));
    EXPECT_EQ(reports("caf\xe9.bin"), 2);
    // A file dialog gives the name as Qt reads it, with U+FFFD for the byte; the one file that
    // reads so is taken, and with two of them neither.
    const QString asQtReadsIt = QFile::decodeName(QByteArray::fromStdString(name));
    ASSERT_TRUE(asQtReadsIt.contains(QChar::ReplacementCharacter));
    ui.fileAnswers = {asQtReadsIt, asQtReadsIt};
    click(IDC_LOAD_FILE);
    EXPECT_EQ(reports("caf\xe9.bin"), 3);
    writeFile(file("caf\xe8.bin"), Bytes{0, 1, 2, 3});
    click(IDC_LOAD_FILE);
    EXPECT_EQ(boxTexts(), Strings{expected::kErrorOpening});
}

}  // namespace

// The window's board entry takes a folder of dumps or an archive of them, and the board's block
// follows the reports of its dumps.
TEST_F(MainWindowTest, ABoardIsIdentifiedFromAFolderOrAnArchive) {
    writeBoard();
    writeFile(file("board/b.bin"), Bytes{4, 5, 6, 7});
    writeArchive(file("board.zip"), "zip", {{"a.bin", {0, 1, 2, 3}}, {"b.bin", {4, 5, 6, 7}}});
    start();
    ui.fileAnswers = {path("board"), path("board.zip")};
    dialog->onSystemCommand(IDM_BOARD, 0);
    dialog->onSystemCommand(IDM_BOARD, 0);
    const std::string& log = dialog->m_session.logText();
    const std::string answer = "Board of 2 dumps: m : Machine, 2 of 2 chips, complete\r\n";
    EXPECT_EQ(reports("board.zip/a.bin"), 1) << log;
    EXPECT_EQ(reports("a.bin"), 2) << log;
    const std::size_t first = log.find(answer);
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_NE(log.find(answer, first + 1), std::string::npos) << log;
    EXPECT_NE(log.find("\t- u2, 4 bytes: found, board.zip/b.bin\r\n"), std::string::npos) << log;
    EXPECT_TRUE(ui.fileRequests.back().folders);

    // Its set written into a folder; a second time, only when the user says to replace it.
    ui.fileAnswers = {path("sets"), path("sets"), path("sets")};
    const auto written = [&] { return readFile(file("sets/m.zip")); };
    dialog->onSystemCommand(IDM_WRITE_SET, 0);
    EXPECT_NE(log.find("Set written: " + file("sets/m.zip") + ", 2 of 2 chips\r\n"),
              std::string::npos)
        << log;
    const Bytes zip = written();
    writeFile(file("sets/m.zip"), Bytes{1});
    ui.boxAnswers = {[](const auto&) { return IDNO; }, [](const auto&) { return IDYES; }};
    dialog->onSystemCommand(IDM_WRITE_SET, 0);
    EXPECT_EQ(written(), Bytes{1});
    dialog->onSystemCommand(IDM_WRITE_SET, 0);
    EXPECT_EQ(written(), zip);
    EXPECT_EQ(ui.boxes.size(), 2u);
}

// The collection chosen once is kept for the next start; the images of the chips a board lacks
// are burnt from it into the folder chosen.
TEST_F(MainWindowTest, TheCollectionIsKeptAndTheChipsABoardLacksAreBurntFromIt) {
    writeBoard();
    std::filesystem::create_directories(file("mine/m"));
    writeFile(file("mine/m/u2"), Bytes{4, 5, 6, 7});
    start();
    ui.fileAnswers = {path("mine")};
    dialog->onSystemCommand(IDM_COLLECTION, 0);
    start();  // the collection comes from the settings now
    ui.fileAnswers = {path("board"), path("burn")};
    dialog->onSystemCommand(IDM_BOARD, 0);
    dialog->onSystemCommand(IDM_BURN, 0);
    EXPECT_EQ(readFile(file("burn/m/u2")), (Bytes{4, 5, 6, 7}));
    const std::string& log = dialog->m_session.logText();
    EXPECT_NE(log.find("Image to burn, from the collection: " + file("burn") +
                       "/m/u2: CRC-32 "
                       "60D3B885, byte sums 16 (8-bit) 0016 (16-bit) 00000016 (32-bit)\r\n"),
              std::string::npos)
        << log;
}
