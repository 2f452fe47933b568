// Running a dialog and routing what happens in it to the handler table: the modal run, the
// commands of controls and of the system menu, and timers.
#include <QTimer>
#include <new>

#include "ui/framework/blocking.h"
#include "ui/framework/byte_text.h"
#include "ui/framework/dialog.h"
#include "ui/framework/dialog_controls.h"

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
            visitControl(i,
                         Overloaded{[](QLineEdit* line) { line->selectAll(); }, [](QWidget*) {}});
            return;
        }
    }
}

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

QAction* CDialog::appendSystemMenuItem(unsigned id, const QString& text) {
    QAction* action = systemMenu_.addAction(text);
    connect(action, &QAction::triggered, this, [this, id] { routeSystemCommand(id, 0); });
    appended_.push_back(action);
    return action;
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
