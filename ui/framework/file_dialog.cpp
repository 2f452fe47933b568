// The file dialogs, over the blocking seam.
#include "ui/framework/file_dialog.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <memory>
#include <utility>

#include "ui/framework/blocking.h"
#include "ui/framework/win_app.h"

std::string pathBytes(const QString& path) {
    if (!path.contains(QChar::ReplacementCharacter)) return QFile::encodeName(path).toStdString();
    std::string resolved;
    const QStringList parts = path.split(u'/');
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0) resolved += '/';
        std::string part = QFile::encodeName(parts[i]).toStdString();
        if (parts[i].contains(QChar::ReplacementCharacter)) {
            const std::unique_ptr<DIR, int (*)(DIR*)> dir(
                ::opendir(resolved.empty() ? "." : resolved.c_str()), &::closedir);
            int matches = 0;
            std::string match;
            for (const dirent* entry; dir && (entry = ::readdir(dir.get())) != nullptr;) {
                if (QFile::decodeName(entry->d_name) == parts[i] && ++matches == 1)
                    match = entry->d_name;
            }
            if (matches == 1) part = match;
        }
        resolved += part;
    }
    return resolved;
}

std::string CFileDialog::getPathBytes() const { return pathBytes(path_); }

CFileDialog::CFileDialog(bool openFileDialog, QString defaultExt, QString fileName, unsigned flags,
                         QString filter, QWidget* parent)
    : open_(openFileDialog),
      defaultExt_(std::move(defaultExt)),
      fileName_(std::move(fileName)),
      flags_(flags),
      filter_(std::move(filter)),
      parent_(parent) {}

int CFileDialog::doModal() {
    QWidget* owner = parent_;
    if (owner == nullptr && CWinApp::instance() != nullptr) owner = CWinApp::instance()->m_pMainWnd;
    const FileDialogRequest request{open_, fileName_, filter_, (flags_ & OFN_FOLDERORFILE) != 0};
    for (;;) {
        const std::optional<QString> chosen = blockingCalls().chooseFile(owner, request);
        if (!chosen) return IDCANCEL;
        QString path = QFileInfo(*chosen).absoluteFilePath();
        if (!defaultExt_.isEmpty() && QFileInfo(path).suffix().isEmpty() && !path.endsWith(u'.')) {
            path += u'.' + defaultExt_;
        }
        struct stat status;
        if (!open_ && (flags_ & OFN_OVERWRITEPROMPT) &&
            ::stat(pathBytes(path).c_str(), &status) == 0) {
            const QString question =
                QStringLiteral("%1 already exists.\nDo you want to replace it?")
                    .arg(QFileInfo(path).fileName());
            if (messageBox(owner, question, QStringLiteral("Save As"),
                           MB_YESNO | MB_ICONEXCLAMATION) != IDYES) {
                continue;
            }
        }
        path_ = path;
        return IDOK;
    }
}
