// What the desktop sends a dialog: keys, the close box, context menus, dropped files, and the
// window's stacking.
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QWindow>

#include "ui/framework/dialog.h"
#include "ui/framework/dialog_controls.h"

namespace {

bool isFileDrop(const QMimeData* mime) {
    if (mime == nullptr || !mime->hasUrls()) return false;
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) return true;
    }
    return false;
}

// A drop is taken as a copy, or a link where the source offers no copy, and never as a move:
// a source that honours a move deletes its file once the drop is done.
bool acceptAsCopy(QDropEvent* event) {
    for (const Qt::DropAction action : {Qt::CopyAction, Qt::LinkAction}) {
        if (event->possibleActions() & action) {
            event->setDropAction(action);
            event->accept();
            return true;
        }
    }
    event->ignore();
    return false;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The local paths of a URI list, as bytes: each "file:" URI of this machine, percent-decoded
// byte by byte, so a name that is not UTF-8 arrives as the name it is. Going through QUrl or
// QString would put U+FFFD in place of such bytes.
std::vector<std::string> localPaths(const QByteArray& uriList) {
    std::vector<std::string> paths;
    for (QByteArray line : uriList.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        if (line.size() < 5 || line.left(5).toLower() != "file:") continue;
        QByteArray rest = line.mid(5);
        if (rest.startsWith("//")) {
            const qsizetype slash = rest.indexOf('/', 2);
            const QByteArray host = rest.mid(2, slash < 0 ? -1 : slash - 2);
            if (!host.isEmpty() && host.toLower() != "localhost") continue;
            rest = slash < 0 ? QByteArray() : rest.mid(slash);
        }
        if (!rest.startsWith('/')) continue;
        std::string path;
        for (qsizetype i = 0; i < rest.size(); ++i) {
            const int high = i + 2 < rest.size() ? hexValue(rest[i + 1]) : -1;
            const int low = high >= 0 ? hexValue(rest[i + 2]) : -1;
            if (rest[i] == '%' && low >= 0) {
                path += char(high * 16 + low);
                i += 2;
            } else {
                path += rest[i];
            }
        }
        paths.push_back(std::move(path));
    }
    return paths;
}

}  // namespace

void CDialog::dragAcceptFiles(bool accept) {
    setAcceptDrops(accept);
    // Edits would take a dropped file as text; the window takes every drop instead.
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        controls_[i]->setAcceptDrops(false);
        visitControl(
            i, Overloaded{[](QPlainTextEdit* edit) { edit->viewport()->setAcceptDrops(false); },
                          [](QWidget*) {}});
    }
}

void CDialog::setTopmost(bool topmost) {
    const Qt::WindowFlags flags = windowFlags().setFlag(Qt::WindowStaysOnTopHint, topmost);
    // setWindowFlags would hide the window, which ends a modal run; change the flag in place.
    overrideWindowFlags(flags);
    if (QWindow* window = windowHandle()) window->setFlags(flags);
}

QMenu* CDialog::editContextMenu(QPlainTextEdit* edit) {
    QMenu* menu = edit->createStandardContextMenu();
    // The menu's own separator comes first; a separator the program put first is not doubled.
    if (!appended_.isEmpty()) menu->addSeparator();
    for (QAction* action : appended_) {
        if (action != appended_.front() || !action->isSeparator()) menu->addAction(action);
    }
    return menu;
}

void CDialog::popupMenuAtFocus() {
    QWidget* focus = focusWidget();
    if (auto* edit = qobject_cast<QPlainTextEdit*>(focus)) {
        QMenu* menu = editContextMenu(edit);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(edit->viewport()->mapToGlobal(edit->cursorRect().bottomLeft()));
        return;
    }
    const QPoint at =
        focus != nullptr ? focus->mapToGlobal(focus->rect().center()) : mapToGlobal(QPoint(0, 0));
    systemMenu_.popup(at);
}

void CDialog::keyPressEvent(QKeyEvent* event) {
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (event->key() == Qt::Key_Escape && modifiers == Qt::NoModifier) {
        routeCommand(IDCANCEL, Notify::Click, false);
    } else if (event->key() == Qt::Key_F1 && modifiers == Qt::NoModifier) {
        if (handlers_.help) guarded(handlers_.help);
    } else if (event->key() == Qt::Key_Space && modifiers == Qt::AltModifier) {
        systemMenu_.popup(mapToGlobal(QPoint(0, 0)));
    } else if ((event->key() == Qt::Key_Menu && modifiers == Qt::NoModifier) ||
               (event->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier)) {
        popupMenuAtFocus();
    } else {
        QDialog::keyPressEvent(event);
    }
}

void CDialog::closeEvent(QCloseEvent* event) {
    // The close box is a system command; the dialog ends only if the command ends it.
    event->ignore();
    routeSystemCommand(SC_CLOSE, 0);
}

void CDialog::contextMenuEvent(QContextMenuEvent* event) { systemMenu_.popup(event->globalPos()); }

void CDialog::dragEnterEvent(QDragEnterEvent* event) {
    if (isFileDrop(event->mimeData())) acceptAsCopy(event);
}

void CDialog::dragMoveEvent(QDragMoveEvent* event) {
    if (isFileDrop(event->mimeData())) acceptAsCopy(event);
}

void CDialog::dropEvent(QDropEvent* event) {
    if (!isFileDrop(event->mimeData()) || !acceptAsCopy(event)) return;
    const std::vector<std::string> paths =
        localPaths(event->mimeData()->data(QStringLiteral("text/uri-list")));
    if (handlers_.dropFiles) guarded([this, &paths] { handlers_.dropFiles(paths); });
}

bool CDialog::eventFilter(QObject* watched, QEvent* event) {
    // A multi-line edit that does not want Enter leaves it to the dialog's default button.
    if (event->type() == QEvent::KeyPress && qobject_cast<QPlainTextEdit*>(watched)) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            keyPressEvent(key);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
