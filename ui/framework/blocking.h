// Everything that waits for the user: message boxes, file dialogs, modal runs of dialogs, and
// handing an address to the desktop. All of it goes through one replaceable object, so tests can
// script the answers instead of blocking.
#pragma once

#include <QString>
#include <QUrl>
#include <optional>

#include "ui/framework/win_defs.h"

class QWidget;
class CDialog;

// What a file dialog is asked for.
struct FileDialogRequest {
    bool open = true;      // false: a save dialog
    QString fileName;      // the name it starts with; may be empty
    QString filter;        // Qt's filter syntax, e.g. "Logs (*.log)"; empty for all files
    bool folders = false;  // an open dialog that takes a folder as well as a file
};

class BlockingCalls {
  public:
    virtual ~BlockingCalls() = default;

    // Shows a modal box and returns the button pressed (IDOK, IDCANCEL, IDYES, IDNO).
    virtual int messageBox(QWidget* owner, const QString& text, const QString& caption,
                           unsigned type) = 0;
    // Lets the user choose one file; nothing when the user cancels.
    virtual std::optional<QString> chooseFile(QWidget* owner, const FileDialogRequest& request) = 0;
    // Runs a dialog that is built and initialised until it ends; returns its result.
    virtual int runModal(CDialog& dialog) = 0;
    // Hands the address to the desktop's handler; false when that refused.
    virtual bool openUrl(const QUrl& url) = 0;
};

// The object in force: the real desktop, unless a test has replaced it.
BlockingCalls& blockingCalls();

// Replaces the object in force for its own lifetime.
class ScopedBlockingCalls {
  public:
    explicit ScopedBlockingCalls(BlockingCalls& calls);
    ~ScopedBlockingCalls();
    ScopedBlockingCalls(const ScopedBlockingCalls&) = delete;
    ScopedBlockingCalls& operator=(const ScopedBlockingCalls&) = delete;

  private:
    BlockingCalls* saved_;
};

// A modal message box owned by `owner` (or, when that is null, by the application's main
// window). Returns the button pressed.
int messageBox(QWidget* owner, const QString& text, const QString& caption, unsigned type);

// The program file's name without its extension: the caption of the framework's own boxes.
QString programName();

// A box of the framework's own, captioned with the program's name.
int frameworkMessageBox(QWidget* owner, const QString& text, unsigned type);

// Opens a web address with the desktop's handler; false when that failed.
bool openUrl(const QString& address);
