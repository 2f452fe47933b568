// Dialog templates held as text, the string table and the icons: the resources a dialog is
// built from, read from the program's embedded resources at run time.
#pragma once

#include <QIcon>
#include <QRect>
#include <QSize>
#include <QString>
#include <stdexcept>
#include <vector>

// The kinds of control a template can place.
enum class ItemKind { Static, Edit, Button, CheckBox, GroupBox, Icon };

// Style words of an item. Unknown words are rejected when a template is read, so a typo in a
// template fails loudly instead of quietly losing a style.
enum ItemStyle : unsigned {
    IS_BORDER = 1u << 0,
    IS_TABSTOP = 1u << 1,
    IS_GROUP = 1u << 2,
    IS_DISABLED = 1u << 3,
    IS_AUTOHSCROLL = 1u << 4,
    IS_AUTOVSCROLL = 1u << 5,
    IS_UPPERCASE = 1u << 6,
    IS_NUMBER = 1u << 7,
    IS_MULTILINE = 1u << 8,
    IS_WANTRETURN = 1u << 9,
    IS_READONLY = 1u << 10,
    IS_VSCROLL = 1u << 11,
    IS_HSCROLL = 1u << 12,
    IS_CENTER = 1u << 13,
    IS_RIGHT = 1u << 14,
    IS_DEFAULT = 1u << 15,
    IS_NOPREFIX = 1u << 16,
    IS_SUNKEN = 1u << 17,
    IS_STATICEDGE = 1u << 18,
};

// Style words of the dialog itself.
enum DialogStyle : unsigned {
    DS_POPUP = 1u << 0,
    DS_CAPTION = 1u << 1,
    DS_SYSMENU = 1u << 2,
    DS_MODALFRAME = 1u << 3,
    DS_MINIMIZEBOX = 1u << 4,
    DS_APPWINDOW = 1u << 5,
};

// Items without an id of their own (labels, frames) carry this one.
inline constexpr int kNoId = -1;

struct DialogItem {
    ItemKind kind = ItemKind::Static;
    int id = kNoId;
    QRect rect;    // in dialog units
    QString text;  // for an icon, the number of its icon resource
    unsigned style = 0;

    bool has(ItemStyle s) const { return (style & s) != 0; }
};

struct DialogTemplate {
    int id = 0;
    QString caption;
    QSize size;  // of the client area, in dialog units
    QString fontFace;
    int fontPoints = 8;
    unsigned style = 0;
    std::vector<DialogItem> items;  // template order, which is also the tab order
};

// A template, string table or resource that cannot be read; names the line at fault.
class ResourceError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Reads a template from its text; `id` is recorded in the result. Throws ResourceError.
DialogTemplate parseDialogTemplate(const QString& text, int id);

// The template with this number from the embedded resources. Throws ResourceError.
DialogTemplate loadDialogTemplate(int id);

// A string of the embedded string table; the empty string when there is none with this number.
QString loadString(int id);

// An icon of the embedded resources; a null icon when there is none with this number.
QIcon loadIcon(int id);
