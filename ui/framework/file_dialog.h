// The open-file and save-file dialogs.
#pragma once

#include <QString>

#include "ui/framework/win_defs.h"

class QWidget;

class CFileDialog {
  public:
    // An open dialog when `openFileDialog`, otherwise a save dialog. `defaultExt` (without the
    // dot) is added to a chosen name that has no extension. With OFN_OVERWRITEPROMPT, a save
    // dialog asks before an existing file is replaced, and a No returns to the choice.
    explicit CFileDialog(bool openFileDialog, QString defaultExt = {}, QString fileName = {},
                         unsigned flags = 0, QString filter = {}, QWidget* parent = nullptr);

    // IDOK when a file was chosen, IDCANCEL when the user cancelled.
    int doModal();
    // The chosen file's full path.
    QString getPathName() const { return path_; }

  private:
    bool open_;
    QString defaultExt_;
    QString fileName_;
    unsigned flags_;
    QString filter_;
    QWidget* parent_;
    QString path_;
};
