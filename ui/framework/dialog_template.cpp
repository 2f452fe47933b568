// Reading dialog templates and the string table from their text form.
//
// A template is one file, res/dialogs/<number>.dlg, embedded in the program as the resource
// :/dialogs/<number>.dlg. It is read line by line; blank lines and lines starting with '#' are
// skipped. Each line starts with a keyword:
//
//   CAPTION "text"                   the window title (optional)
//   SIZE width height                the client area in dialog units (required)
//   FONT points "face"               the dialog font (optional; default 8 "MS Sans Serif")
//   STYLE word...                    POPUP CAPTION SYSMENU MODALFRAME MINIMIZEBOX APPWINDOW
//   kind id x y width height "text" [style word...]
//                                    one control; the lines' order is the tab order
//
// kind is STATIC, EDIT, BUTTON, CHECKBOX, GROUPBOX or ICON (whose text is the number of its
// icon resource). id is a number, -1 for a control nobody addresses, or IDOK / IDCANCEL.
// Coordinates are dialog units: a quarter of the dialog font's average character width across,
// an eighth of its height down. The style words of a control are BORDER TABSTOP GROUP DISABLED
// AUTOHSCROLL AUTOVSCROLL UPPERCASE NUMBER MULTILINE WANTRETURN READONLY VSCROLL HSCROLL CENTER
// RIGHT DEFAULT (the default push button) NOPREFIX SUNKEN STATICEDGE. In a quoted text, \" is a
// quote, \\ a backslash, \n a line break and \t a tab; an ampersand marks a mnemonic and "&&"
// shows one ampersand.
//
// The string table is one file, res/strings.txt (resource :/strings.txt), with lines of the form
//   number "text"
// and the same comments and escapes. An icon is res/icons/<number>.png, with any further sizes
// of it as res/icons/<number>-<size>.png (resources :/icons/...).
#include "ui/framework/dialog_template.h"

#include <QDir>
#include <QFile>
#include <QStringList>

#include <array>
#include <utility>

namespace {

struct Token {
    QString text;
    bool quoted = false;
};

[[noreturn]] void fail(const QString& where, int line, const QString& what) {
    throw ResourceError(QStringLiteral("%1:%2: %3").arg(where).arg(line).arg(what).toStdString());
}

std::vector<Token> tokenize(const QString& line, const QString& where, int lineNo) {
    std::vector<Token> tokens;
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (i < n) {
        if (line[i].isSpace()) {
            ++i;
            continue;
        }
        Token token;
        if (line[i] == u'"') {
            token.quoted = true;
            ++i;
            bool closed = false;
            while (i < n) {
                const QChar c = line[i++];
                if (c == u'"') {
                    closed = true;
                    break;
                }
                if (c != u'\\') {
                    token.text += c;
                    continue;
                }
                if (i == n) break;
                const QChar e = line[i++];
                if (e == u'n') {
                    token.text += u'\n';
                } else if (e == u't') {
                    token.text += u'\t';
                } else if (e == u'"' || e == u'\\') {
                    token.text += e;
                } else {
                    fail(where, lineNo, QStringLiteral("unknown escape \\%1").arg(e));
                }
            }
            if (!closed) fail(where, lineNo, QStringLiteral("unterminated text"));
        } else {
            while (i < n && !line[i].isSpace()) token.text += line[i++];
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

int toInt(const Token& token, const QString& where, int line) {
    bool ok = false;
    const int value = token.text.toInt(&ok);
    if (!ok || token.quoted)
        fail(where, line, QStringLiteral("expected a number, not '%1'").arg(token.text));
    return value;
}

QString toText(const Token& token, const QString& where, int line) {
    if (!token.quoted)
        fail(where, line, QStringLiteral("expected a quoted text, not '%1'").arg(token.text));
    return token.text;
}

template <std::size_t N>
unsigned styleWords(const std::vector<Token>& tokens, std::size_t from,
                    const std::array<std::pair<const char*, unsigned>, N>& names,
                    const QString& where, int line) {
    unsigned style = 0;
    for (std::size_t i = from; i < tokens.size(); ++i) {
        unsigned bit = 0;
        for (const auto& [name, value] : names) {
            if (!tokens[i].quoted && tokens[i].text == QLatin1String(name)) bit = value;
        }
        if (bit == 0) fail(where, line, QStringLiteral("unknown style '%1'").arg(tokens[i].text));
        style |= bit;
    }
    return style;
}

constexpr std::array<std::pair<const char*, unsigned>, 6> kDialogStyles{{
    {"POPUP", DS_POPUP},
    {"CAPTION", DS_CAPTION},
    {"SYSMENU", DS_SYSMENU},
    {"MODALFRAME", DS_MODALFRAME},
    {"MINIMIZEBOX", DS_MINIMIZEBOX},
    {"APPWINDOW", DS_APPWINDOW},
}};

constexpr std::array<std::pair<const char*, unsigned>, 19> kItemStyles{{
    {"BORDER", IS_BORDER},         {"TABSTOP", IS_TABSTOP},         {"GROUP", IS_GROUP},
    {"DISABLED", IS_DISABLED},     {"AUTOHSCROLL", IS_AUTOHSCROLL}, {"AUTOVSCROLL", IS_AUTOVSCROLL},
    {"UPPERCASE", IS_UPPERCASE},   {"NUMBER", IS_NUMBER},           {"MULTILINE", IS_MULTILINE},
    {"WANTRETURN", IS_WANTRETURN}, {"READONLY", IS_READONLY},       {"VSCROLL", IS_VSCROLL},
    {"HSCROLL", IS_HSCROLL},       {"CENTER", IS_CENTER},           {"RIGHT", IS_RIGHT},
    {"DEFAULT", IS_DEFAULT},       {"NOPREFIX", IS_NOPREFIX},       {"SUNKEN", IS_SUNKEN},
    {"STATICEDGE", IS_STATICEDGE},
}};

constexpr std::array<std::pair<const char*, ItemKind>, 6> kKinds{{
    {"STATIC", ItemKind::Static},
    {"EDIT", ItemKind::Edit},
    {"BUTTON", ItemKind::Button},
    {"CHECKBOX", ItemKind::CheckBox},
    {"GROUPBOX", ItemKind::GroupBox},
    {"ICON", ItemKind::Icon},
}};

int itemId(const Token& token, const QString& where, int line) {
    if (token.text == QLatin1String("IDOK")) return 1;
    if (token.text == QLatin1String("IDCANCEL")) return 2;
    return toInt(token, where, line);
}

QString readResource(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

}  // namespace

DialogTemplate parseDialogTemplate(const QString& text, int id) {
    const QString where = QStringLiteral("dialog %1").arg(id);
    DialogTemplate result;
    result.id = id;
    result.fontFace = QStringLiteral("MS Sans Serif");
    bool haveSize = false;
    const QStringList lines = text.split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int lineNo = static_cast<int>(i) + 1;
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(u'#')) continue;
        const std::vector<Token> t = tokenize(line, where, lineNo);
        const QString& keyword = t[0].text;
        auto expect = [&](std::size_t count) {
            if (t.size() != count)
                fail(where, lineNo, QStringLiteral("wrong number of values for %1").arg(keyword));
        };
        if (keyword == QLatin1String("CAPTION")) {
            expect(2);
            result.caption = toText(t[1], where, lineNo);
        } else if (keyword == QLatin1String("SIZE")) {
            expect(3);
            result.size = QSize(toInt(t[1], where, lineNo), toInt(t[2], where, lineNo));
            haveSize = true;
        } else if (keyword == QLatin1String("FONT")) {
            expect(3);
            result.fontPoints = toInt(t[1], where, lineNo);
            result.fontFace = toText(t[2], where, lineNo);
        } else if (keyword == QLatin1String("STYLE")) {
            result.style |= styleWords(t, 1, kDialogStyles, where, lineNo);
        } else {
            DialogItem item;
            bool known = false;
            for (const auto& [name, kind] : kKinds) {
                if (!t[0].quoted && keyword == QLatin1String(name)) {
                    item.kind = kind;
                    known = true;
                }
            }
            if (!known) fail(where, lineNo, QStringLiteral("unknown keyword '%1'").arg(keyword));
            if (t.size() < 7)
                fail(where, lineNo,
                     QStringLiteral("a control needs id, x, y, width, height and text"));
            item.id = itemId(t[1], where, lineNo);
            item.rect = QRect(toInt(t[2], where, lineNo), toInt(t[3], where, lineNo),
                              toInt(t[4], where, lineNo), toInt(t[5], where, lineNo));
            item.text = toText(t[6], where, lineNo);
            item.style = styleWords(t, 7, kItemStyles, where, lineNo);
            result.items.push_back(std::move(item));
        }
    }
    if (!haveSize) fail(where, static_cast<int>(lines.size()), QStringLiteral("no SIZE line"));
    return result;
}

DialogTemplate loadDialogTemplate(int id) {
    const QString path = QStringLiteral(":/dialogs/%1.dlg").arg(id);
    if (!QFile::exists(path)) {
        throw ResourceError(QStringLiteral("no dialog template %1").arg(id).toStdString());
    }
    return parseDialogTemplate(readResource(path), id);
}

QString loadString(int id) {
    const QString where = QStringLiteral("string table");
    const QStringList lines = readResource(QStringLiteral(":/strings.txt")).split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int lineNo = static_cast<int>(i) + 1;
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(u'#')) continue;
        const std::vector<Token> t = tokenize(line, where, lineNo);
        if (t.size() != 2) fail(where, lineNo, QStringLiteral("expected: number \"text\""));
        if (toInt(t[0], where, lineNo) == id) return toText(t[1], where, lineNo);
    }
    return {};
}

QIcon loadIcon(int id) {
    // <n>.png and any further sizes as <n>-<anything>.png, so the desktop picks the best fit.
    QIcon icon;
    const QDir dir(QStringLiteral(":/icons"));
    const QString base = QString::number(id);
    for (const QString& file :
         dir.entryList({base + QStringLiteral(".png"), base + QStringLiteral("-*.png")})) {
        icon.addFile(dir.filePath(file));
    }
    return icon;
}
