// The file dialogs, over the blocking seam.
#include "ui/framework/file_dialog.h"

#include <QFileInfo>
#include <utility>

#include "ui/framework/blocking.h"
#include "ui/framework/win_app.h"

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
    const FileDialogRequest request{open_, fileName_, filter_};
    for (;;) {
        const std::optional<QString> chosen = blockingCalls().chooseFile(owner, request);
        if (!chosen) return IDCANCEL;
        QString path = QFileInfo(*chosen).absoluteFilePath();
        if (!defaultExt_.isEmpty() && QFileInfo(path).suffix().isEmpty() && !path.endsWith(u'.')) {
            path += u'.' + defaultExt_;
        }
        if (!open_ && (flags_ & OFN_OVERWRITEPROMPT) && QFileInfo::exists(path)) {
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
