// The kinds of control a dialog builds, and the one place that turns a recorded kind back into
// the control's real type; shared by the dialog's own sources only.
#pragma once

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <utility>

#include "ui/framework/dialog.h"

// What buildItem made for a template item. The item's ItemKind alone does not say: an icon is a
// label too, and an edit is one of two widgets depending on IS_MULTILINE.
enum class ControlKind : unsigned char {
    Label,
    LineEdit,
    MultiLineEdit,
    PushButton,
    CheckBox,
    GroupBox
};

// The kind of each widget type buildItem makes, taken from the type itself so that the recorded
// kind cannot disagree with the widget; a widget of any other type does not compile.
constexpr ControlKind controlKind(const QLabel*) { return ControlKind::Label; }
constexpr ControlKind controlKind(const QLineEdit*) { return ControlKind::LineEdit; }
constexpr ControlKind controlKind(const QPlainTextEdit*) { return ControlKind::MultiLineEdit; }
constexpr ControlKind controlKind(const QPushButton*) { return ControlKind::PushButton; }
constexpr ControlKind controlKind(const QCheckBox*) { return ControlKind::CheckBox; }
constexpr ControlKind controlKind(const QGroupBox*) { return ControlKind::GroupBox; }

template <class W>
std::pair<QWidget*, ControlKind> madeControl(W* widget) {
    return {widget, controlKind(widget)};
}

// One visitor out of several lambdas; each takes the control types it handles, and a lambda
// taking QWidget* catches the rest (overload resolution prefers the nearest base).
template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

template <class Visitor>
decltype(auto) CDialog::visitControl(std::size_t index, Visitor&& visit) const {
    QWidget* control = controls_[index];
    switch (kinds_[index]) {
        case ControlKind::Label:
            return visit(static_cast<QLabel*>(control));
        case ControlKind::LineEdit:
            return visit(static_cast<QLineEdit*>(control));
        case ControlKind::MultiLineEdit:
            return visit(static_cast<QPlainTextEdit*>(control));
        case ControlKind::PushButton:
            return visit(static_cast<QPushButton*>(control));
        case ControlKind::CheckBox:
            return visit(static_cast<QCheckBox*>(control));
        case ControlKind::GroupBox:
            break;
    }
    return visit(static_cast<QGroupBox*>(control));
}
