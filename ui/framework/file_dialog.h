// The open-file and save-file dialogs.
#pragma once

#include <QString>
#include <string>

#include "ui/framework/win_defs.h"

class QWidget;

// The bytes of a path that the desktop gave as text. Qt reads a file name that is not UTF-8 with
// U+FFFD in place of its bad bytes and cannot give those bytes back; each component holding
// U+FFFD is therefore looked up among its directory's entries and taken when exactly one entry
// reads as it. A component that matches none or several stays as Qt gave it.
std::string pathBytes(const QString& path);

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
    // The same path as the bytes that name the file: see pathBytes.
    std::string getPathBytes() const;

  private:
    bool open_;
    QString defaultExt_;
    QString fileName_;
    unsigned flags_;
    QString filter_;
    QWidget* parent_;
    QString path_;
};
