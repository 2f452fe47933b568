// The dialog class every window of the program derives from: built from a template, with a data
// exchange between members and controls, a handler table, timers and the dialog keys.
#pragma once

#include <QDialog>
#include <QMenu>
#include <QStringList>
#include <cstddef>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "ui/framework/dialog_template.h"
#include "ui/framework/win_defs.h"

class CDialog;
enum class ControlKind : unsigned char;  // dialog_controls.h
class QPlainTextEdit;
class QTimer;

// One run of a dialog's data exchange, in one direction. The helpers move one member each and
// are called by doDataExchange in binding order; a helper that meets unusable input shows the
// framework's message, puts the focus into the control and stops the exchange there.
class CDataExchange {
  public:
    CDataExchange(CDialog& dialog, bool saveAndValidate);

    // true: a pull (controls into members); false: a push (members into controls).
    const bool m_bSaveAndValidate;

    // The text of a control. With a limit, a push also limits what the user can type into a
    // single-line edit, and a pull refuses a longer text (counted in characters shown).
    // std::string members hold bytes, carried as byte_text.h describes, so that what is pushed
    // comes back byte for byte.
    void text(int id, QString& value, int maxChars = -1);
    void text(int id, std::string& value, int maxChars = -1);
    // The state of a check box: 0 unchecked, 1 checked, 2 indeterminate. A push of any other
    // value first sets the member to 0.
    void check(int id, int& value);
    // A signed decimal integer, with blanks or tabs allowed around it.
    void integer(int id, int& value);
    // Binds a member pointer to the control, on the first exchange only.
    template <class W>
    void control(int id, W*& member);

  private:
    [[noreturn]] void fail(std::size_t index, const QString& message);
    // The position of the control with this id among the dialog's controls.
    std::size_t indexOrThrow(int id) const;

    CDialog& dialog_;
};

class CDialog : public QDialog {
  public:
    // Builds the window from the template with this number. A dialog given no parent is owned
    // by the application's main window, when there is one.
    explicit CDialog(int templateId, QWidget* parent = nullptr);
    ~CDialog() override;

    // Initialises the dialog (onInitDialog) and runs it modally until endDialog; returns the
    // result given to endDialog. When the run ends the window is destroyed: the destroy handler
    // runs and every timer stops.
    int doModal();
    // Ends the modal run with this result.
    void endDialog(int result);
    // Initialises and shows the dialog without a modal run, as for a preview.
    void create();

    // Pull (true) or push (false) through doDataExchange; false when a pull met unusable input.
    // While it runs, the dialog's control notifications are not delivered.
    bool updateData(bool saveAndValidate = true);
    bool isExchanging() const { return exchangeDepth_ > 0; }

    // The control with this id, or null.
    QWidget* item(int id) const;
    template <class W>
    W* item(int id) const {
        return qobject_cast<W*>(item(id));
    }
    // All controls, in template order.
    const std::vector<QWidget*>& controls() const { return controls_; }
    const DialogTemplate& dialogTemplate() const { return template_; }
    // The dialog font's average character width and height, which dialog units are fractions of.
    QSize baseUnits() const { return baseUnits_; }
    QRect mapDialogRect(const QRect& dialogUnits) const;

    // A control's text as the program sees it: a multi-line edit's line breaks are "\r\n".
    QString windowText(int id) const;
    void setWindowText(int id, const QString& text);

    // Timers by id; each tick goes to the timer handler. Starting an id again replaces it.
    void setTimer(unsigned id, unsigned milliseconds);
    // false when no timer with this id ran.
    bool killTimer(unsigned id);

    // From now on, files dropped from the desktop go to the dropped-files handler.
    void dragAcceptFiles(bool accept);
    // Keeps the window above other windows or not; it neither moves nor changes size.
    void setTopmost(bool topmost);

    // The system menu: Close, and whatever the program appends. Choosing an entry sends its id
    // to the system-command handler. It opens with a right click on the dialog, the menu key,
    // Shift+F10 or Alt+Space; what the program appends also ends the right-click menu of each
    // multi-line edit.
    QMenu& systemMenu() { return systemMenu_; }
    // The right-click menu of a multi-line edit: its own entries, then those appended to the
    // system menu. The caller owns it.
    QMenu* editContextMenu(QPlainTextEdit* edit);
    void appendSystemMenuSeparator();
    QAction* appendSystemMenuItem(unsigned id, const QString& text);
    // What a system command does when the program does not take it: SC_CLOSE cancels the
    // dialog; the window manager owns moving and sizing, so nothing else needs doing here.
    void defaultSystemCommand(unsigned id, long param);

  protected:
    virtual void doDataExchange(CDataExchange& dx);
    // Default: push. Returns true to put the focus on the first control with a tab stop.
    virtual bool onInitDialog();
    // Default: pull and, when that succeeds, end with IDOK.
    virtual void onOK();
    // Default: end with IDCANCEL.
    virtual void onCancel();

    // The handler table. Each entry is one member function of the derived dialog, registered in
    // its constructor. A click of IDOK or IDCANCEL with no entry runs onOK or onCancel.
    template <class D>
    void handleClick(int id, void (D::*handler)()) {
        D* self = static_cast<D*>(this);
        handlers_.commands[{id, Notify::Click}] = [self, handler] { (self->*handler)(); };
    }
    template <class D>
    void handleChange(int id, void (D::*handler)()) {
        D* self = static_cast<D*>(this);
        handlers_.commands[{id, Notify::Change}] = [self, handler] { (self->*handler)(); };
    }
    template <class D>
    void handleTimer(void (D::*handler)(unsigned)) {
        D* self = static_cast<D*>(this);
        handlers_.timer = [self, handler](unsigned id) { (self->*handler)(id); };
    }
    // Dropped files arrive as the bytes of their paths, whatever the names' encoding.
    template <class D>
    void handleDropFiles(void (D::*handler)(const std::vector<std::string>&)) {
        D* self = static_cast<D*>(this);
        handlers_.dropFiles = [self, handler](const std::vector<std::string>& p) {
            (self->*handler)(p);
        };
    }
    template <class D>
    void handleDestroy(void (D::*handler)()) {
        D* self = static_cast<D*>(this);
        handlers_.destroy = [self, handler] { (self->*handler)(); };
    }
    template <class D>
    void handleSystemCommand(void (D::*handler)(unsigned, long)) {
        D* self = static_cast<D*>(this);
        handlers_.systemCommand = [self, handler](unsigned id, long p) { (self->*handler)(id, p); };
    }
    template <class D>
    void handleHelp(void (D::*handler)()) {
        D* self = static_cast<D*>(this);
        handlers_.help = [self, handler] { (self->*handler)(); };
    }

    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    friend class CDataExchange;
    enum class Notify { Click, Change };
    struct Handlers {
        std::map<std::pair<int, Notify>, std::function<void()>> commands;
        std::function<void(unsigned)> timer;
        std::function<void(const std::vector<std::string>&)> dropFiles;
        std::function<void()> destroy;
        std::function<void(unsigned, long)> systemCommand;
        std::function<void()> help;
    };

    void build();
    std::pair<QWidget*, ControlKind> buildItem(const DialogItem& item);
    void connectNotifications(std::size_t index, int id);
    // Calls `visit` with the control at this position cast to the type built for it; every
    // look at a control's type goes through here (dialog_controls.h).
    template <class Visitor>
    decltype(auto) visitControl(std::size_t index, Visitor&& visit) const;
    void routeCommand(int id, Notify notify, bool fromControl);
    void routeSystemCommand(unsigned id, long param);
    void focusFirstTabStop();
    void popupMenuAtFocus();
    void destroyWindow();
    // Runs a handler; a failure escaping it is reported in a box and the program carries on.
    void guarded(const std::function<void()>& handler);

    DialogTemplate template_;
    QSize baseUnits_;
    std::vector<QWidget*> controls_;
    std::vector<ControlKind> kinds_;   // of each control, in the same order
    std::map<int, std::size_t> byId_;  // positions in controls_
    Handlers handlers_;
    std::map<unsigned, QTimer*> timers_;
    QMenu systemMenu_;
    // The entries the program appended to the system menu, for the edits' menus.
    QList<QAction*> appended_;
    int exchangeDepth_ = 0;
    bool ended_ = false;
};

template <class W>
void CDataExchange::control(int id, W*& member) {
    if (member != nullptr) return;
    member = qobject_cast<W*>(dialog_.controls()[indexOrThrow(id)]);
    if (member == nullptr) {
        throw std::logic_error("control " + std::to_string(id) + " is not of the bound kind");
    }
}

// The base units of a font: its average character width (over the letters, rounded) and its
// height, as dialog units are defined against.
QSize dialogBaseUnits(const QFont& font);
