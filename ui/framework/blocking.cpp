// The desktop's own blocking calls, and the switch that lets tests replace them.
#include "ui/framework/blocking.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "ui/framework/dialog.h"
#include "ui/framework/win_app.h"

namespace {

// A folder dialog that also takes a file: in folder mode Qt passes over a file selected, which is
// here accepted as the choice.
class FolderOrFileDialog : public QFileDialog {
  public:
    using QFileDialog::QFileDialog;
    void accept() override {
        const QStringList chosen = selectedFiles();
        if (!chosen.isEmpty() && QFileInfo(chosen.first()).isFile()) {
            QDialog::accept();
            return;
        }
        QFileDialog::accept();
    }
};

class DesktopBlockingCalls final : public BlockingCalls {
  public:
    int messageBox(QWidget* owner, const QString& text, const QString& caption,
                   unsigned type) override {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        switch (type & MB_ICONMASK) {
            case MB_ICONSTOP:
                icon = QMessageBox::Critical;
                break;
            case MB_ICONQUESTION:
                icon = QMessageBox::Question;
                break;
            case MB_ICONEXCLAMATION:
                icon = QMessageBox::Warning;
                break;
            case MB_ICONINFORMATION:
                icon = QMessageBox::Information;
                break;
            default:
                break;
        }
        // A box owned by a window not shown yet (a loading error before the main window is up)
        // would be placed against that window's corner; without an owner it is centred on
        // the screen.
        QMessageBox box(icon, caption, text, QMessageBox::NoButton,
                        owner != nullptr && owner->isVisible() ? owner : nullptr);
        switch (type & MB_TYPEMASK) {
            case MB_OKCANCEL:
                box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
                break;
            case MB_YESNO:
                box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
                break;
            default:
                box.setStandardButtons(QMessageBox::Ok);
                break;
        }
        switch (box.exec()) {
            case QMessageBox::Yes:
                return IDYES;
            case QMessageBox::No:
                return IDNO;
            case QMessageBox::Cancel:
                return IDCANCEL;
            default:
                return IDOK;
        }
    }

    std::optional<QString> chooseFile(QWidget* owner, const FileDialogRequest& request) override {
        if (request.folders) {
            // Folders are chosen, files shown; a file selected is taken as it is.
            FolderOrFileDialog dialog(owner, QString(), QString(), request.filter);
            dialog.setFileMode(QFileDialog::Directory);
            dialog.setOption(QFileDialog::ShowDirsOnly, false);
            dialog.setOption(QFileDialog::DontUseNativeDialog);
            if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
                return std::nullopt;
            return dialog.selectedFiles().first();
        }
        QFileDialog dialog(owner, QString(), QString(), request.filter);
        dialog.setAcceptMode(request.open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
        // A typed name of a file that does not exist is passed on, as the program expects; the
        // replace question is asked by CFileDialog so that it can be scripted.
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        if (!request.fileName.isEmpty()) dialog.selectFile(request.fileName);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return std::nullopt;
        }
        return dialog.selectedFiles().first();
    }

    int runModal(CDialog& dialog) override { return dialog.exec(); }

    bool openUrl(const QUrl& url) override { return QDesktopServices::openUrl(url); }
};

DesktopBlockingCalls& desktop() {
    static DesktopBlockingCalls calls;
    return calls;
}

BlockingCalls* g_current = nullptr;

}  // namespace

BlockingCalls& blockingCalls() { return g_current ? *g_current : desktop(); }

ScopedBlockingCalls::ScopedBlockingCalls(BlockingCalls& calls) : saved_(g_current) {
    g_current = &calls;
}

ScopedBlockingCalls::~ScopedBlockingCalls() { g_current = saved_; }

int messageBox(QWidget* owner, const QString& text, const QString& caption, unsigned type) {
    if (owner == nullptr) owner = QApplication::activeModalWidget();
    if (owner == nullptr && CWinApp::instance() != nullptr) owner = CWinApp::instance()->m_pMainWnd;
    return blockingCalls().messageBox(owner, text, caption, type);
}

QString programName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

int frameworkMessageBox(QWidget* owner, const QString& text, unsigned type) {
    return messageBox(owner, text, programName(), type);
}

bool openUrl(const QString& address) { return blockingCalls().openUrl(QUrl(address)); }
