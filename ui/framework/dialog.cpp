// Building a dialog from its template, the data exchange, and routing events to the handler table.
#include "ui/framework/dialog.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QValidator>
#include <QWindow>
#include <limits>
#include <new>

#include "ui/framework/blocking.h"
#include "ui/framework/byte_text.h"
#include "ui/framework/win_app.h"

namespace {

// Thrown by a failing helper and caught by updateData: the pull stops at that control.
struct ExchangeStopped {};

// Typed letters become capitals (UPPERCASE), and only digits get in (NUMBER). Texts the program
// sets are taken as they are.
class EditValidator final : public QValidator {
  public:
    EditValidator(bool upper, bool digits, QObject* parent)
        : QValidator(parent), upper_(upper), digits_(digits) {}

    State validate(QString& input, int& /*pos*/) const override {
        if (upper_) input = input.toUpper();
        if (digits_) {
            for (QChar c : input) {
                if (!c.isDigit()) return Invalid;
            }
        }
        return Acceptable;
    }

  private:
    bool upper_;
    bool digits_;
};

// Statics show "&&" as one ampersand and hide the single ones that mark mnemonics.
QString stripMnemonics(const QString& text) {
    QString shown;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'&' && i + 1 < text.size()) ++i;
        shown += text[i];
    }
    return shown;
}

// The template fonts of the system the program was designed on are not found here; the
// desktop's own user-interface face at the template's size takes their place.
QFont dialogFont(const DialogTemplate& t) {
    QFont font = QApplication::font();
    const bool systemFace = t.fontFace == QLatin1String("MS Sans Serif") ||
                            t.fontFace == QLatin1String("MS Shell Dlg") ||
                            !QFontDatabase::hasFamily(t.fontFace);
    if (!systemFace) font.setFamily(t.fontFace);
    font.setPointSize(t.fontPoints);
    return font;
}

// Rounds a*b/c to the nearest integer, halves away from zero.
int mulDiv(int a, int b, int c) {
    const long long p = static_cast<long long>(a) * b;
    return static_cast<int>((p >= 0 ? p + c / 2 : p - c / 2) / c);
}

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

// Reads a signed decimal integer with optional blanks or tabs around it; nothing else.
bool parseInteger(const QString& text, int& value) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    auto blank = [&](qsizetype k) { return text[k] == u' ' || text[k] == u'\t'; };
    while (i < n && blank(i)) ++i;
    bool negative = false;
    if (i < n && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
    long long v = 0;
    const qsizetype digitsFrom = i;
    while (i < n && text[i] >= u'0' && text[i] <= u'9') {
        v = v * 10 + (text[i++].unicode() - u'0');
        if (v > static_cast<long long>(std::numeric_limits<int>::max()) + 1) return false;
    }
    if (i == digitsFrom) return false;
    while (i < n && blank(i)) ++i;
    if (i != n) return false;
    if (negative) v = -v;
    if (v > std::numeric_limits<int>::max()) return false;
    value = static_cast<int>(v);
    return true;
}

}  // namespace

QSize dialogBaseUnits(const QFont& font) {
    const QFontMetrics fm(font);
    const int width = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(width / 26 + 1) / 2, fm.height()};
}

// ---- CDataExchange ----

CDataExchange::CDataExchange(CDialog& dialog, bool saveAndValidate)
    : m_bSaveAndValidate(saveAndValidate), dialog_(dialog) {}

QWidget* CDataExchange::itemOrThrow(int id) const {
    QWidget* control = dialog_.item(id);
    if (control == nullptr) {
        throw std::logic_error("dialog " + std::to_string(dialog_.template_.id) +
                               " has no control " + std::to_string(id));
    }
    return control;
}

void CDataExchange::fail(QWidget* control, const QString& message) {
    frameworkMessageBox(&dialog_, message, MB_ICONEXCLAMATION);
    control->setFocus(Qt::OtherFocusReason);
    if (auto* line = qobject_cast<QLineEdit*>(control)) line->selectAll();
    if (auto* edit = qobject_cast<QPlainTextEdit*>(control)) edit->selectAll();
    throw ExchangeStopped{};
}

void CDataExchange::text(int id, QString& value, int maxChars) {
    QWidget* control = itemOrThrow(id);
    if (m_bSaveAndValidate) {
        value = dialog_.windowText(id);
        if (maxChars >= 0 && value.size() > maxChars) {
            fail(control, QStringLiteral("Please enter no more than %1 characters.").arg(maxChars));
        }
        return;
    }
    // Setting the limit rewrites the text and moves the caret, so only a new limit is set.
    if (auto* line = qobject_cast<QLineEdit*>(control);
        line && maxChars >= 0 && line->maxLength() != maxChars) {
        line->setMaxLength(maxChars);
    }
    // Rewriting an unchanged text would move the caret and the scroll position; long texts are
    // written regardless, as comparing them would cost as much as writing them.
    if (value.size() < 256 && dialog_.windowText(id) == value) return;
    dialog_.setWindowText(id, value);
}

void CDataExchange::text(int id, std::string& value, int maxChars) {
    QString shown = bytesToText(value);
    text(id, shown, maxChars);
    if (m_bSaveAndValidate) value = textToBytes(shown);
}

void CDataExchange::check(int id, int& value) {
    auto* box = qobject_cast<QCheckBox*>(itemOrThrow(id));
    if (box == nullptr)
        throw std::logic_error("control " + std::to_string(id) + " is not a check box");
    if (m_bSaveAndValidate) {
        value = box->checkState() == Qt::Checked            ? 1
                : box->checkState() == Qt::PartiallyChecked ? 2
                                                            : 0;
        return;
    }
    if (value < 0 || value > 2) value = 0;
    box->setCheckState(value == 1   ? Qt::Checked
                       : value == 2 ? Qt::PartiallyChecked
                                    : Qt::Unchecked);
}

void CDataExchange::integer(int id, int& value) {
    QWidget* control = itemOrThrow(id);
    if (m_bSaveAndValidate) {
        int parsed = 0;
        if (!parseInteger(dialog_.windowText(id), parsed)) {
            fail(control, QStringLiteral("Please enter an integer."));
        }
        value = parsed;
        return;
    }
    const QString shown = QString::number(value);
    if (dialog_.windowText(id) != shown) dialog_.setWindowText(id, shown);
}

// ---- CDialog: building ----

CDialog::CDialog(int templateId, QWidget* parent)
    : QDialog(parent != nullptr                ? parent
              : CWinApp::instance() != nullptr ? CWinApp::instance()->m_pMainWnd
                                               : nullptr),
      template_(loadDialogTemplate(templateId)),
      systemMenu_(this) {
    build();
}

CDialog::~CDialog() = default;

void CDialog::build() {
    setWindowTitle(template_.caption);
    const QFont font = dialogFont(template_);
    setFont(font);
    baseUnits_ = dialogBaseUnits(font);

    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint;
    if (template_.style & DS_CAPTION) flags |= Qt::WindowTitleHint;
    if (template_.style & DS_SYSMENU) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (template_.style & DS_MINIMIZEBOX) flags |= Qt::WindowMinimizeButtonHint;
    setWindowFlags(flags);
    // A modal frame has no sizing border: the client area is the template's.
    setFixedSize(mapDialogRect(QRect(QPoint(0, 0), template_.size)).size());

    QAction* close = systemMenu_.addAction(QStringLiteral("&Close"));
    connect(close, &QAction::triggered, this, [this] { routeSystemCommand(SC_CLOSE, 0); });

    QWidget* previousStop = nullptr;
    for (const DialogItem& item : template_.items) {
        QWidget* control = buildItem(item);
        control->setGeometry(mapDialogRect(item.rect));
        control->setEnabled(!item.has(IS_DISABLED));
        if (control->focusPolicy() & Qt::TabFocus) {
            if (!item.has(IS_TABSTOP)) {
                control->setFocusPolicy(Qt::ClickFocus);
            } else {
                if (previousStop != nullptr) setTabOrder(previousStop, control);
                previousStop = control;
            }
        }
        controls_.push_back(control);
        if (item.id != kNoId) {
            byId_[item.id] = control;
            connectNotifications(control, item.id);
        }
    }
}

QWidget* CDialog::buildItem(const DialogItem& item) {
    switch (item.kind) {
        case ItemKind::Static: {
            auto* label =
                new QLabel(item.has(IS_NOPREFIX) ? item.text : stripMnemonics(item.text), this);
            label->setTextFormat(Qt::PlainText);
            label->setWordWrap(true);
            Qt::Alignment align = Qt::AlignTop | Qt::AlignLeft;
            if (item.has(IS_CENTER)) align = Qt::AlignTop | Qt::AlignHCenter;
            if (item.has(IS_RIGHT)) align = Qt::AlignTop | Qt::AlignRight;
            label->setAlignment(align);
            // Both edges are one pixel deep, with the text right inside them: the control's
            // height holds its lines and the edge, as the template was laid out for. (A
            // styled panel's edge and Qt's automatic indent beside a frame cost more and cut
            // off the last line.)
            if (item.has(IS_SUNKEN) || item.has(IS_STATICEDGE)) {
                label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
                label->setLineWidth(1);
                label->setIndent(0);
            }
            return label;
        }
        case ItemKind::Icon: {
            auto* label = new QLabel(this);
            const QRect r = mapDialogRect(item.rect);
            label->setPixmap(loadIcon(item.text.toInt()).pixmap(r.size()));
            return label;
        }
        case ItemKind::Edit: {
            if (item.has(IS_MULTILINE)) {
                auto* edit = new QPlainTextEdit(this);
                edit->setFrameStyle(item.has(IS_BORDER) ? QFrame::StyledPanel | QFrame::Sunken
                                                        : QFrame::NoFrame);
                edit->setVerticalScrollBarPolicy(item.has(IS_VSCROLL) ? Qt::ScrollBarAlwaysOn
                                                                      : Qt::ScrollBarAlwaysOff);
                edit->setHorizontalScrollBarPolicy(item.has(IS_HSCROLL) ? Qt::ScrollBarAlwaysOn
                                                                        : Qt::ScrollBarAlwaysOff);
                const bool noWrap = item.has(IS_HSCROLL) || item.has(IS_AUTOHSCROLL);
                edit->setLineWrapMode(noWrap ? QPlainTextEdit::NoWrap
                                             : QPlainTextEdit::WidgetWidth);
                edit->setReadOnly(item.has(IS_READONLY));
                // A tab in an edit control reaches to the next multiple of 32 dialog units.
                edit->setTabStopDistance(32.0 * baseUnits_.width() / 4.0);
                edit->setTabChangesFocus(true);
                if (!item.has(IS_WANTRETURN)) edit->installEventFilter(this);
                edit->setContextMenuPolicy(Qt::CustomContextMenu);
                connect(edit, &QWidget::customContextMenuRequested, this, [this, edit](QPoint at) {
                    QMenu* menu = editContextMenu(edit);
                    menu->setAttribute(Qt::WA_DeleteOnClose);
                    menu->popup(edit->viewport()->mapToGlobal(at));
                });
                return edit;
            }
            auto* line = new QLineEdit(this);
            line->setFrame(item.has(IS_BORDER));
            line->setReadOnly(item.has(IS_READONLY));
            if (item.has(IS_CENTER)) line->setAlignment(Qt::AlignCenter);
            if (item.has(IS_RIGHT)) line->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (item.has(IS_UPPERCASE) || item.has(IS_NUMBER)) {
                line->setValidator(
                    new EditValidator(item.has(IS_UPPERCASE), item.has(IS_NUMBER), line));
            }
            line->setText(item.text);
            return line;
        }
        case ItemKind::Button: {
            auto* button = new QPushButton(item.text, this);
            button->setAutoDefault(true);
            button->setDefault(item.has(IS_DEFAULT));
            return button;
        }
        case ItemKind::CheckBox:
            return new QCheckBox(item.text, this);
        case ItemKind::GroupBox: {
            auto* group = new QGroupBox(item.text, this);
            group->setFocusPolicy(Qt::NoFocus);
            return group;
        }
    }
    return new QWidget(this);
}

void CDialog::connectNotifications(QWidget* control, int id) {
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        connect(button, &QAbstractButton::clicked, this,
                [this, id] { routeCommand(id, Notify::Click, true); });
    } else if (auto* line = qobject_cast<QLineEdit*>(control)) {
        connect(line, &QLineEdit::textChanged, this,
                [this, id] { routeCommand(id, Notify::Change, true); });
    } else if (auto* edit = qobject_cast<QPlainTextEdit*>(control)) {
        connect(edit, &QPlainTextEdit::textChanged, this,
                [this, id] { routeCommand(id, Notify::Change, true); });
    }
}

QRect CDialog::mapDialogRect(const QRect& du) const {
    return {mulDiv(du.x(), baseUnits_.width(), 4), mulDiv(du.y(), baseUnits_.height(), 8),
            mulDiv(du.width(), baseUnits_.width(), 4), mulDiv(du.height(), baseUnits_.height(), 8)};
}

QWidget* CDialog::item(int id) const {
    const auto found = byId_.find(id);
    return found == byId_.end() ? nullptr : found->second;
}

QString CDialog::windowText(int id) const {
    QWidget* control = item(id);
    if (auto* line = qobject_cast<QLineEdit*>(control)) return line->text();
    if (auto* edit = qobject_cast<QPlainTextEdit*>(control)) {
        return edit->toPlainText().replace(u'\n', QStringLiteral("\r\n"));
    }
    if (auto* button = qobject_cast<QAbstractButton*>(control)) return button->text();
    if (auto* label = qobject_cast<QLabel*>(control)) return label->text();
    if (auto* group = qobject_cast<QGroupBox*>(control)) return group->title();
    return {};
}

void CDialog::setWindowText(int id, const QString& text) {
    QWidget* control = item(id);
    if (auto* line = qobject_cast<QLineEdit*>(control)) {
        line->setText(text);
    } else if (auto* edit = qobject_cast<QPlainTextEdit*>(control)) {
        edit->setPlainText(QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        button->setText(text);
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        label->setText(text);
    } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
        group->setTitle(text);
    }
}

// ---- CDialog: running ----

int CDialog::doModal() {
    ended_ = false;
    setResult(0);
    bool focusFirst = true;
    guarded([this, &focusFirst] { focusFirst = onInitDialog(); });
    if (focusFirst) focusFirstTabStop();
    const int result = ended_ ? this->result() : blockingCalls().runModal(*this);
    destroyWindow();
    return result;
}

void CDialog::create() {
    ended_ = false;
    bool focusFirst = true;
    guarded([this, &focusFirst] { focusFirst = onInitDialog(); });
    if (focusFirst) focusFirstTabStop();
    show();
}

void CDialog::endDialog(int result) {
    ended_ = true;
    done(result);
}

void CDialog::destroyWindow() {
    if (handlers_.destroy) guarded(handlers_.destroy);
    for (auto& [id, timer] : timers_) timer->deleteLater();
    timers_.clear();
    hide();
}

void CDialog::focusFirstTabStop() {
    for (std::size_t i = 0; i < controls_.size(); ++i) {
        QWidget* control = controls_[i];
        if (template_.items[i].has(IS_TABSTOP) && control->isEnabled() &&
            (control->focusPolicy() & Qt::TabFocus)) {
            control->setFocus(Qt::TabFocusReason);
            if (auto* line = qobject_cast<QLineEdit*>(control)) line->selectAll();
            return;
        }
    }
}

bool CDialog::updateData(bool saveAndValidate) {
    CDataExchange dx(*this, saveAndValidate);
    ++exchangeDepth_;
    bool ok = true;
    try {
        doDataExchange(dx);
    } catch (const ExchangeStopped&) {
        ok = false;
    } catch (...) {
        --exchangeDepth_;
        throw;
    }
    --exchangeDepth_;
    return ok;
}

void CDialog::doDataExchange(CDataExchange& /*dx*/) {}

bool CDialog::onInitDialog() {
    updateData(false);
    return true;
}

void CDialog::onOK() {
    if (updateData(true)) endDialog(IDOK);
}

void CDialog::onCancel() { endDialog(IDCANCEL); }

void CDialog::guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::bad_alloc&) {
        frameworkMessageBox(this, QStringLiteral("Out of memory."), MB_ICONEXCLAMATION);
    } catch (const std::exception& e) {
        frameworkMessageBox(this, bytesToText(e.what()), MB_ICONSTOP);
    }
}

// ---- CDialog: routing ----

void CDialog::routeCommand(int id, Notify notify, bool fromControl) {
    if (fromControl && exchangeDepth_ > 0) return;
    const auto found = handlers_.commands.find({id, notify});
    if (found != handlers_.commands.end()) {
        guarded(found->second);
    } else if (notify == Notify::Click && id == IDOK) {
        guarded([this] { onOK(); });
    } else if (notify == Notify::Click && id == IDCANCEL) {
        guarded([this] { onCancel(); });
    }
}

void CDialog::routeSystemCommand(unsigned id, long param) {
    if (handlers_.systemCommand) {
        guarded([this, id, param] { handlers_.systemCommand(id, param); });
    } else {
        defaultSystemCommand(id, param);
    }
}

void CDialog::defaultSystemCommand(unsigned id, long /*param*/) {
    if ((id & 0xFFF0u) == SC_CLOSE) routeCommand(IDCANCEL, Notify::Click, false);
}

void CDialog::appendSystemMenuSeparator() { appended_.push_back(systemMenu_.addSeparator()); }

void CDialog::appendSystemMenuItem(unsigned id, const QString& text) {
    QAction* action = systemMenu_.addAction(text);
    connect(action, &QAction::triggered, this, [this, id] { routeSystemCommand(id, 0); });
    appended_.push_back(action);
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

void CDialog::setTimer(unsigned id, unsigned milliseconds) {
    QTimer*& timer = timers_[id];
    if (timer == nullptr) {
        timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, id] {
            if (handlers_.timer) guarded([this, id] { handlers_.timer(id); });
        });
    }
    timer->start(static_cast<int>(milliseconds));
}

bool CDialog::killTimer(unsigned id) {
    const auto found = timers_.find(id);
    if (found == timers_.end()) return false;
    // The timer may be the one whose tick is running right now.
    found->second->stop();
    found->second->deleteLater();
    timers_.erase(found);
    return true;
}

void CDialog::dragAcceptFiles(bool accept) {
    setAcceptDrops(accept);
    // Edits would take a dropped file as text; the window takes every drop instead.
    for (QWidget* control : controls_) {
        control->setAcceptDrops(false);
        if (auto* edit = qobject_cast<QPlainTextEdit*>(control))
            edit->viewport()->setAcceptDrops(false);
    }
}

void CDialog::setTopmost(bool topmost) {
    const Qt::WindowFlags flags = windowFlags().setFlag(Qt::WindowStaysOnTopHint, topmost);
    // setWindowFlags would hide the window, which ends a modal run; change the flag in place.
    overrideWindowFlags(flags);
    if (QWindow* window = windowHandle()) window->setFlags(flags);
}

// ---- CDialog: events ----

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
