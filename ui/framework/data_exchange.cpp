// The data exchange between a dialog's members and its controls, in either direction.
#include <limits>

#include "ui/framework/blocking.h"
#include "ui/framework/byte_text.h"
#include "ui/framework/dialog.h"
#include "ui/framework/dialog_controls.h"

namespace {

// Thrown by a failing helper and caught by updateData: the pull stops at that control.
struct ExchangeStopped {};

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

CDataExchange::CDataExchange(CDialog& dialog, bool saveAndValidate)
    : m_bSaveAndValidate(saveAndValidate), dialog_(dialog) {}

std::size_t CDataExchange::indexOrThrow(int id) const {
    const auto found = dialog_.byId_.find(id);
    if (found == dialog_.byId_.end()) {
        throw std::logic_error("dialog " + std::to_string(dialog_.template_.id) +
                               " has no control " + std::to_string(id));
    }
    return found->second;
}

void CDataExchange::fail(std::size_t index, const QString& message) {
    frameworkMessageBox(&dialog_, message, MB_ICONEXCLAMATION);
    dialog_.controls_[index]->setFocus(Qt::OtherFocusReason);
    // The user retypes the refused text rather than edits it.
    dialog_.visitControl(
        index, Overloaded{[](QLineEdit* line) { line->selectAll(); },
                          [](QPlainTextEdit* edit) { edit->selectAll(); }, [](QWidget*) {}});
    throw ExchangeStopped{};
}

void CDataExchange::text(int id, QString& value, int maxChars) {
    const std::size_t index = indexOrThrow(id);
    if (m_bSaveAndValidate) {
        value = dialog_.windowText(id);
        if (maxChars >= 0 && value.size() > maxChars) {
            fail(index, QStringLiteral("Please enter no more than %1 characters.").arg(maxChars));
        }
        return;
    }
    // Setting the limit rewrites the text and moves the caret, so only a new limit is set.
    if (maxChars >= 0) {
        dialog_.visitControl(index, Overloaded{[maxChars](QLineEdit* line) {
                                                   if (line->maxLength() != maxChars)
                                                       line->setMaxLength(maxChars);
                                               },
                                               [](QWidget*) {}});
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
    QCheckBox* box = dialog_.visitControl(
        indexOrThrow(id),
        Overloaded{[](QCheckBox* b) { return b; }, [](QWidget*) -> QCheckBox* { return nullptr; }});
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
    const std::size_t index = indexOrThrow(id);
    if (m_bSaveAndValidate) {
        int parsed = 0;
        if (!parseInteger(dialog_.windowText(id), parsed)) {
            fail(index, QStringLiteral("Please enter an integer."));
        }
        value = parsed;
        return;
    }
    const QString shown = QString::number(value);
    if (dialog_.windowText(id) != shown) dialog_.setWindowText(id, shown);
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
