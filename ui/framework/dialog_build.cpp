// Building a dialog's window and controls from its template, and reaching the controls by id.
#include <QApplication>
#include <QFontDatabase>
#include <QValidator>

#include "ui/framework/dialog.h"
#include "ui/framework/dialog_controls.h"
#include "ui/framework/win_app.h"

namespace {

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

}  // namespace

QSize dialogBaseUnits(const QFont& font) {
    const QFontMetrics fm(font);
    const int width = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(width / 26 + 1) / 2, fm.height()};
}

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
        const auto [control, kind] = buildItem(item);
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
        kinds_.push_back(kind);
        if (item.id != kNoId) {
            byId_[item.id] = controls_.size() - 1;
            connectNotifications(controls_.size() - 1, item.id);
        }
    }
}

std::pair<QWidget*, ControlKind> CDialog::buildItem(const DialogItem& item) {
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
            return madeControl(label);
        }
        case ItemKind::Icon: {
            auto* label = new QLabel(this);
            const QRect r = mapDialogRect(item.rect);
            label->setPixmap(loadIcon(item.text.toInt()).pixmap(r.size()));
            return madeControl(label);
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
                return madeControl(edit);
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
            return madeControl(line);
        }
        case ItemKind::Button: {
            auto* button = new QPushButton(item.text, this);
            button->setAutoDefault(true);
            button->setDefault(item.has(IS_DEFAULT));
            return madeControl(button);
        }
        case ItemKind::CheckBox:
            return madeControl(new QCheckBox(item.text, this));
        case ItemKind::GroupBox:
            break;
    }
    auto* group = new QGroupBox(item.text, this);
    group->setFocusPolicy(Qt::NoFocus);
    return madeControl(group);
}

void CDialog::connectNotifications(std::size_t index, int id) {
    visitControl(index,
                 Overloaded{[this, id](QAbstractButton* button) {
                                connect(button, &QAbstractButton::clicked, this,
                                        [this, id] { routeCommand(id, Notify::Click, true); });
                            },
                            [this, id](QLineEdit* line) {
                                connect(line, &QLineEdit::textChanged, this,
                                        [this, id] { routeCommand(id, Notify::Change, true); });
                            },
                            [this, id](QPlainTextEdit* edit) {
                                connect(edit, &QPlainTextEdit::textChanged, this,
                                        [this, id] { routeCommand(id, Notify::Change, true); });
                            },
                            [](QWidget*) {}});
}

QRect CDialog::mapDialogRect(const QRect& du) const {
    return {mulDiv(du.x(), baseUnits_.width(), 4), mulDiv(du.y(), baseUnits_.height(), 8),
            mulDiv(du.width(), baseUnits_.width(), 4), mulDiv(du.height(), baseUnits_.height(), 8)};
}

QWidget* CDialog::item(int id) const {
    const auto found = byId_.find(id);
    return found == byId_.end() ? nullptr : controls_[found->second];
}

QString CDialog::windowText(int id) const {
    const auto found = byId_.find(id);
    if (found == byId_.end()) return {};
    return visitControl(found->second,
                        Overloaded{[](QLineEdit* line) { return line->text(); },
                                   [](QPlainTextEdit* edit) {
                                       return edit->toPlainText().replace(u'\n',
                                                                          QStringLiteral("\r\n"));
                                   },
                                   [](QAbstractButton* button) { return button->text(); },
                                   [](QLabel* label) { return label->text(); },
                                   [](QGroupBox* group) { return group->title(); }});
}

void CDialog::setWindowText(int id, const QString& text) {
    const auto found = byId_.find(id);
    if (found == byId_.end()) return;
    visitControl(found->second,
                 Overloaded{[&text](QLineEdit* line) { line->setText(text); },
                            [&text](QPlainTextEdit* edit) {
                                edit->setPlainText(QString(text).replace(QStringLiteral("\r\n"),
                                                                         QStringLiteral("\n")));
                            },
                            [&text](QAbstractButton* button) { button->setText(text); },
                            [&text](QLabel* label) { label->setText(text); },
                            [&text](QGroupBox* group) { group->setTitle(text); }});
}
