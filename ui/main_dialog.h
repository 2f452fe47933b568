// The program's window: the log, the options, and the handlers that turn each user action into
// a call of the identification core.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/session/front_end.h"
#include "core/session/session.h"
#include "ui/framework/dialog.h"

class QPlainTextEdit;
class QPushButton;
class QLabel;
class QProgressBar;

// Control ids of template 102.
enum MainControl : int {
    IDC_LOG = 1002,
    IDC_CLEAR_LOG = 1005,
    IDC_SAVE_LOG = 1006,
    IDC_ALWAYS_ON_TOP = 1007,
    IDC_MONITOR_FILE = 1008,
    IDC_LOAD_FILE = 1009,
    IDC_SPLIT_LEVEL = 1011,
    IDC_IGNORE_BAD = 1012,
    IDC_ADD_CUSTOM = 1014,
    IDC_MANUAL_ENTRY = 1015,
};

// The system command that opens the About box, and the file monitor's timer.
inline constexpr unsigned IDM_ABOUTBOX = 16;
// The system command that lists the database files loaded.
inline constexpr unsigned IDM_DATABASES = 32;
// The system command that turns the dump doctor on and off.
inline constexpr unsigned IDM_DOCTOR = 48;
// The system command that identifies the dumps of a board, a folder or an archive of them.
inline constexpr unsigned IDM_BOARD = 64;
inline constexpr unsigned IDM_WRITE_SET = 80;
inline constexpr unsigned IDM_BURN = 96;
inline constexpr unsigned IDM_COLLECTION = 112;
inline constexpr unsigned kMonitorTimer = 0;
inline constexpr unsigned kMonitorPeriodMs = 500;

class CMainDialog : public CDialog, public chipsight::FrontEnd {
  public:
    // `programPath` locates the database files; `arguments` are the files to identify.
    CMainDialog(std::string programPath, std::vector<std::string> arguments);

    // The front end the core reports through.
    void messageBox(const std::string& text, const std::string& caption, unsigned type) override;
    bool pull() override { return updateData(true); }
    void push() override;
    void setTitle(const std::string& title) override;
    void enableAddCustomButton() override;
    int logLineCount() override;
    void scrollLog(int lines) override;
    void loadProgress(const std::string& file, std::uint64_t done, std::uint64_t total) override;
    // Every box waits for a click: an archive's odd members are said in one.
    bool groupsMemberMessages() const override { return true; }

    // Handlers, one per entry of the handler table.
    void onDropFiles(const std::vector<std::string>& paths);
    void onDone();
    void onDestroy();
    void onClearLog();
    void onSaveLog();
    void onAlwaysOnTop();
    void onMonitorFile();
    void onTimer(unsigned id);
    void onLoadFile();
    void onSplitLevelChange();
    void onIgnoreBad();
    void addToCustomDb();
    void showManualEntry();
    void onSystemCommand(unsigned id, long param);
    void onHelp();

    // What the run holds: the entry table, the log, the options and the last result. The
    // window's controls are bound to its members by data exchange.
    chipsight::Session m_session;
    QPushButton* m_addCustomButton = nullptr;
    QPlainTextEdit* m_logEdit = nullptr;
    int m_alwaysOnTop = 0;

  protected:
    void doDataExchange(CDataExchange& dx) override;
    bool onInitDialog() override;

  private:
    void exchangeLog(bool pull);

    // What the log box was last given or read: its size and its last bytes. The log only
    // grows between clears, so a push that finds the box holding the start of the new text
    // appends the rest instead of rewriting everything.
    std::size_t m_shownSize = 0;
    std::string m_shownTail;
    // Shown while a long load of DAT files runs, before the window takes input.
    std::unique_ptr<QDialog> m_loadProgress;
    QLabel* m_loadLabel = nullptr;
    QProgressBar* m_loadBar = nullptr;
    // The system menu's check item of the dump doctor.
    QAction* m_doctorItem = nullptr;
};
