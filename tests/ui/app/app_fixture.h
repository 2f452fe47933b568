// A running main window over a database in a temporary directory, with every blocking call
// scripted.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <memory>

#include "tests/support/test_support.h"
#include "tests/ui/framework/scripted_blocking.h"
#include "ui/main_app.h"
#include "ui/main_dialog.h"

class MainWindowTest : public ::testing::Test {
  protected:
    // The sample chips: TB is test.bin (00 01 02 03); U2 and U3 share the checksum of its
    // second half.
    void SetUp() override {
        using namespace chipsight::testing;
        Bytes roms;
        append(roms, romTableBytes(0, "U2", 0xEAE621C7, 2));
        append(roms, romTableBytes(1, "U3", 0xEAE621C7, 2));
        append(roms, romTableBytes(0, "TB", 0x8BB98613, 4));
        Bytes games = gameBytes("Demo board");
        append(games, gameBytes("Spare"));
        writeFile(db.file("CHIPLORE.ROM"), roms);
        writeFile(db.file("CHIPLORE.GAM"), games);
        writeFile(file("test.bin"), Bytes{0, 1, 2, 3});
    }
    void TearDown() override { stop(); }

    void stop() {
        if (dialog) dialog->endDialog(IDCANCEL);
        theApp().m_pMainDialog = nullptr;
        theApp().m_pMainWnd = nullptr;
        dialog.reset();
    }

    void start(std::vector<std::string> arguments = {}) {
        stop();
        dialog = std::make_unique<CMainDialog>(db.programPath(), std::move(arguments));
        theApp().m_pMainDialog = dialog.get();
        theApp().m_pMainWnd = dialog.get();
        dialog->create();
    }
    std::string file(const std::string& name) const { return files.file(name); }

    QAbstractButton* button(int id) const { return dialog->item<QAbstractButton>(id); }
    QLineEdit* line(int id) const { return dialog->item<QLineEdit>(id); }
    QPlainTextEdit* log() const { return dialog->item<QPlainTextEdit>(IDC_LOG); }
    void click(int id) { button(id)->click(); }

    // The texts of the boxes shown so far, and forgetting them.
    std::vector<std::string> boxTexts() const {
        std::vector<std::string> out;
        for (const auto& b : ui.boxes) out.push_back(b.text.toStdString());
        return out;
    }

    chipsight::testing::TempDir db, files;
    ScriptedBlocking ui;
    std::unique_ptr<CMainDialog> dialog;
};

// What the log receives for test.bin at split level 1.
inline const std::string kWorkedExample =
    "============================\r\ntest.bin: (1/1) [8BB98613]\r\n\t- TB : Demo board\r\n";
