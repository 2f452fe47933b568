// A running main window over a database in a temporary directory, with every blocking call
// scripted.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <filesystem>
#include <memory>

#include "tests/support/archive_writer.h"
#include "tests/support/expected_texts.h"
#include "tests/support/test_support.h"
#include "tests/ui/framework/scripted_blocking.h"
#include "ui/main_app.h"
#include "ui/main_dialog.h"

using chipsight::testing::Bytes;
using chipsight::testing::bytesOf;
using chipsight::testing::join;
using chipsight::testing::Member;
using chipsight::testing::readFile;
using chipsight::testing::romEntryBytes;
using chipsight::testing::Strings;
using chipsight::testing::writeArchive;
using chipsight::testing::writeFile;
namespace expected = chipsight::expected;

class MainWindowTest : public ::testing::Test {
  protected:
    // The sample chips, all in the custom database over empty tables: TB is test.bin
    // (00 01 02 03); U2 and U3 share the checksum of its second half.
    void SetUp() override {
        writeFile(db.file("CHIPLORE.ROM"), Bytes{});
        writeFile(db.file("CHIPLORE.GAM"), Bytes{});
        writeFile(db.file("Chipsight.dat"), chips);
        writeFile(file("test.bin"), Bytes{0, 1, 2, 3});
    }
    void TearDown() override { stop(); }

    void stop() {
        if (dialog) dialog->endDialog(IDCANCEL);
        theApp().m_pMainDialog = nullptr;
        theApp().m_pMainWnd = nullptr;
        dialog.reset();
    }
    void start(Strings arguments = {}) {
        stop();
        dialog = std::make_unique<CMainDialog>(db.file("chipsight"), std::move(arguments));
        theApp().m_pMainDialog = dialog.get();
        theApp().m_pMainWnd = dialog.get();
        dialog->create();
    }
    // A ListXML of machine m, whose chips u1 and u2 are test.bin and 04 05 06 07, and a folder
    // "board" holding a dump of u1.
    void writeBoard() {
        writeFile(db.file("board.xml"),
                  std::string("<?xml version=\"1.0\"?><mame><machine name=\"m\"><description>"
                              "Machine</description><rom name=\"u1\" size=\"4\" crc=\"8bb98613\"/>"
                              "<rom name=\"u2\" size=\"4\" crc=\"60d3b885\"/></machine></mame>\n"));
        std::filesystem::create_directory(file("board"));
        writeFile(file("board/a.bin"), Bytes{0, 1, 2, 3});
    }
    std::string file(const std::string& name) const { return files.file(name); }
    QString path(const std::string& name) const { return QString::fromStdString(file(name)); }

    QAbstractButton* button(int id) const { return dialog->item<QAbstractButton>(id); }
    QLineEdit* line(int id) const { return dialog->item<QLineEdit>(id); }
    QPlainTextEdit* log() const { return dialog->item<QPlainTextEdit>(IDC_LOG); }
    void click(int id) { button(id)->click(); }
    // How the dialog ended: its result, or -1 while it still runs.
    int ended() const { return dialog->isVisible() ? -1 : dialog->result(); }
    void drop(const QMimeData& mime) {
        QDragEnterEvent enter({20, 20}, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(dialog.get(), &enter);
        QDropEvent drop({20, 20}, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(dialog.get(), &drop);
    }
    Strings boxTexts() const {
        Strings out;
        for (const auto& b : ui.boxes) out.push_back(b.text.toStdString());
        return out;
    }
    // How many reports of `name` the log holds.
    int reports(const std::string& name) const {
        return chipsight::testing::occurrences(dialog->m_session.logText(), name + ":");
    }

    const Bytes chips = join({romEntryBytes(0xEAE621C7, 2, "U2", "Demo board"),
                              romEntryBytes(0xEAE621C7, 2, "U3", "Spare"),
                              romEntryBytes(0x8BB98613, 4, "TB", "Demo board")});
    chipsight::testing::TempDir db, files;
    // The settings and caches the window keeps stay the test's own.
    const chipsight::testing::ScopedEnv config{"XDG_CONFIG_HOME", file("config").c_str()},
        cache{"XDG_CACHE_HOME", file("cache").c_str()};
    ScriptedBlocking ui;
    std::unique_ptr<CMainDialog> dialog;
};

// What the log receives for test.bin at split level 1.
inline const std::string kWorkedExample =
    "============================\r\ntest.bin: (1/1) [8BB98613]\r\n\t- TB : Demo board\r\n";
inline const std::string kTitle = ".: Chipsight v1.05 - 3 ROMs - Feb 25 2005 - Morrowlark :.";
