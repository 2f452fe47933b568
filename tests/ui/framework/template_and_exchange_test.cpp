// Dialogs as built from their templates (the parser's messages, where controls stand, how they
// take typing, the tab order), and pull and push with the framework's own failure messages.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <climits>

#include "tests/ui/framework/demo_dialog.h"
#include "tests/ui/framework/scripted_blocking.h"

namespace {

QLineEdit* line(CDialog& d, int id) { return d.item<QLineEdit>(id); }

TEST(DialogTemplate, ReadsHeaderAndItemsAndNamesAFaultyLine) {
    const DialogTemplate t = parseDialogTemplate(QStringLiteral(R"(# a comment
CAPTION "Say \"hi\""

SIZE 122 51
FONT 9 "Some Face"
STYLE MODALFRAME CAPTION SYSMENU
STATIC -1   10  7 20  8 "Two\nlines" NOPREFIX CENTER
  BUTTON IDOK 5 30 50 14 "OK" DEFAULT TABSTOP
)"),
                                                 130);
    EXPECT_EQ(t.caption, QStringLiteral("Say \"hi\""));
    EXPECT_EQ(t.size, QSize(122, 51));
    EXPECT_EQ(t.fontFace + QString::number(t.fontPoints), QStringLiteral("Some Face9"));
    EXPECT_EQ(t.style, unsigned{DS_MODALFRAME | DS_CAPTION | DS_SYSMENU});
    ASSERT_EQ(t.items.size(), 2u);
    EXPECT_EQ(t.items[0].kind, ItemKind::Static);
    EXPECT_EQ(t.items[0].id, kNoId);
    EXPECT_EQ(t.items[0].rect, QRect(10, 7, 20, 8));
    EXPECT_EQ(t.items[0].text, QStringLiteral("Two\nlines"));
    EXPECT_EQ(t.items[0].style, unsigned{IS_NOPREFIX | IS_CENTER});
    EXPECT_EQ(t.items[1].id, 1);
    EXPECT_EQ(t.items[1].style, unsigned{IS_DEFAULT | IS_TABSTOP});

    const std::pair<const char*, const char*> faulty[] = {
        {"SIZE 1 1\nEDIT 1 0 0 1 1 \"\" BORDR", "dialog 7:2: unknown style 'BORDR'"},
        {"SIZE 1 1\nCAPTION \"open", "dialog 7:2: unterminated text"},
        {"CAPTION \"x\"", "dialog 7:1: no SIZE line"},
        {"SIZE 1 1\n\nEDIT 1 0 x 1 1 \"\"", "dialog 7:3: expected a number, not 'x'"},
        {"SIZE 1 1\nLISTBOX 1 0 0 1 1 \"\"", "dialog 7:2: unknown keyword 'LISTBOX'"},
    };
    for (const auto& [text, message] : faulty) {
        try {
            parseDialogTemplate(QString::fromLatin1(text), 7);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const ResourceError& e) {
            EXPECT_STREQ(e.what(), message);
        }
    }
    EXPECT_THROW(loadDialogTemplate(4242), ResourceError);
    EXPECT_EQ(loadString(7), QStringLiteral("&Demo \"string\""));
    EXPECT_EQ(loadString(8), QString());
    EXPECT_TRUE(loadIcon(4242).isNull());
}

TEST(DialogLayout, ControlsStayInsideTheDialogApartAndSizedInDialogUnits) {
    CDemoDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Demo Entry"));
    EXPECT_EQ(dialog.font().pointSize(), 8);
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "a modal frame cannot be resized";
    const std::vector<QWidget*>& controls = dialog.controls();
    ASSERT_EQ(controls.size(), 12u);
    EXPECT_EQ(dialog.item(1002), controls[7]) << "controls are made in template order";
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const QRect r = controls[i]->geometry();
        EXPECT_TRUE(dialog.rect().contains(r)) << i;
        // Rounding may make neighbours touch, never overlap by more than a pixel.
        for (std::size_t j = 0; j < i; ++j)
            EXPECT_FALSE(r.adjusted(1, 1, -1, -1).intersects(controls[j]->geometry())) << i << j;
    }
    // Four units across are one average letter, eight down one line of the font.
    const QFontMetrics fm(dialog.font());
    EXPECT_NEAR(double(dialog.item(1003)->width()) / fm.averageCharWidth(), 60 / 4, 4);
    EXPECT_NEAR(double(dialog.item(1002)->height()) / fm.height(), 40 / 8, 0.2);
    EXPECT_GE(dialog.item(1003)->width(), fm.horizontalAdvance(QStringLiteral("0000000000")));
}

TEST(DialogLayout, ControlsTakeTheirStyleAndTabVisitsTabStopsInTemplateOrder) {
    ScriptedBlocking blocking;
    CDemoDialog dialog;
    EXPECT_EQ(qobject_cast<QLabel*>(dialog.controls()[0])->text(), QStringLiteral("Code"))
        << "a static hides its mnemonic mark";
    CDialog details(kDetailsTemplate);
    EXPECT_EQ(qobject_cast<QLabel*>(details.controls()[0])->text(),
              QStringLiteral("Details && more"))
        << "NOPREFIX shows the text as is";
    EXPECT_TRUE(dialog.item<QPushButton>(IDOK)->isDefault());
    EXPECT_FALSE(dialog.item<QPushButton>(IDCANCEL)->isDefault());

    std::vector<int> visited;
    blocking.modalScripts.push_back([&](CDialog& d) {
        const int stops[] = {1015, 1003, 1011, 1012, 1002, 1009, 1010, IDOK, IDCANCEL};
        for (int i = 0; i < 9; ++i) {
            for (int id : stops)
                if (d.item(id) == QApplication::focusWidget()) visited.push_back(id);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        // UPPERCASE capitalises what is typed, NUMBER takes only digits.
        for (int id : {1015, 1003, 1011}) {
            line(d, id)->clear();
            QTest::keyClicks(d.item(id), QStringLiteral("ab1f"));
        }
        EXPECT_EQ(line(d, 1015)->text(), QStringLiteral("AB1F"));
        EXPECT_EQ(line(d, 1003)->text(), QStringLiteral("ab1f"));
        EXPECT_EQ(line(d, 1011)->text(), QStringLiteral("1"));
        d.endDialog(IDCANCEL);
    });
    dialog.doModal();
    // Apply has no tab stop; the labels take no focus; the order wraps around.
    EXPECT_EQ(visited,
              (std::vector<int>{1015, 1003, 1011, 1012, 1002, 1010, IDOK, IDCANCEL, 1015}));
}

TEST(DialogLayout, TextsReachEveryKindOfControlById) {
    CDialog dialog(kEveryKindTemplate);
    auto shown = [&dialog](int id) {
        QWidget* w = dialog.item(id);
        if (auto* label = qobject_cast<QLabel*>(w)) return label->text();
        if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text();
        if (auto* edit = qobject_cast<QPlainTextEdit*>(w)) return edit->toPlainText();
        if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text();
        if (auto* group = qobject_cast<QGroupBox*>(w)) return group->title();
        return QStringLiteral("no control");
    };
    for (int id = 2001; id <= 2007; ++id) {
        dialog.setWindowText(id, QStringLiteral("text %1").arg(id));
        EXPECT_EQ(dialog.windowText(id), QStringLiteral("text %1").arg(id)) << id;
        EXPECT_EQ(shown(id), QStringLiteral("text %1").arg(id)) << id;
    }
    EXPECT_EQ(dialog.windowText(2999), QString()) << "no control, no text";
}

TEST(DataExchange, PushWritesInBindingOrderAndPullReadsEveryControlBack) {
    CDemoDialog dialog;
    std::vector<int> written;
    for (int id : {1015, 1003, 1011})
        QObject::connect(line(dialog, id), &QLineEdit::textChanged,
                         [&, id] { written.push_back(id); });
    QObject::connect(dialog.item<QCheckBox>(1012), &QCheckBox::stateChanged,
                     [&] { written.push_back(1012); });
    QObject::connect(dialog.item<QPlainTextEdit>(1002), &QPlainTextEdit::textChanged,
                     [&] { written.push_back(1002); });
    // Bytes go through unchanged, UTF-8 or not, and \r\n is a line break in the box.
    const std::string notes = "caf\xe9\r\n\r\n\xff Gr\xc3\xbc\xc3\x9f";
    dialog.m_codeText = QStringLiteral("EAE621C7");
    dialog.m_level = -3;
    dialog.m_notes = notes;
    ASSERT_TRUE(dialog.updateData(false));
    EXPECT_EQ(written, (std::vector<int>{1015, 1011, 1012, 1002}));
    EXPECT_EQ(dialog.m_notesEdit, dialog.item(1002)) << "bound on the first exchange";
    EXPECT_EQ(dialog.m_notesEdit->document()->blockCount(), 3);
    EXPECT_TRUE(dialog.m_notesEdit->toPlainText().endsWith(QStringLiteral("Gr\u00fc\u00df")));
    EXPECT_EQ(line(dialog, 1011)->text(), QStringLiteral("-3"));

    dialog.m_notes.clear();
    line(dialog, 1003)->setText(QStringLiteral(" 0x800"));
    dialog.item<QCheckBox>(1012)->setCheckState(Qt::Unchecked);
    ASSERT_TRUE(dialog.updateData(true));
    EXPECT_EQ(dialog.m_codeText, QStringLiteral("EAE621C7"));
    EXPECT_EQ(dialog.m_sizeText, QStringLiteral(" 0x800"));
    EXPECT_EQ(dialog.m_level, -3);
    EXPECT_EQ(dialog.m_ignoreBad, 0);
    EXPECT_EQ(dialog.m_notes, notes);
}

TEST(DataExchange, IntegerFieldTakesOnlyASignedDecimal) {
    CDemoDialog dialog;
    ScriptedBlocking blocking;
    constexpr int kRefused = 99;
    const std::pair<const char*, int> cases[] = {{"0", 0},
                                                 {"+7", 7},
                                                 {" \t-12\t ", -12},
                                                 {"2147483647", INT_MAX},
                                                 {"-2147483648", INT_MIN},
                                                 {"007", 7},
                                                 {"", kRefused},
                                                 {" ", kRefused},
                                                 {"-", kRefused},
                                                 {"1 2", kRefused},
                                                 {"12a", kRefused},
                                                 {"0x10", kRefused},
                                                 {"1.5", kRefused},
                                                 {"2147483648", kRefused},
                                                 {"--1", kRefused}};
    for (const auto& [text, value] : cases) {
        dialog.m_level = kRefused;
        blocking.boxes.clear();
        line(dialog, 1011)->setText(QString::fromLatin1(text));
        EXPECT_EQ(dialog.updateData(true), value != kRefused) << text;
        EXPECT_EQ(dialog.m_level, value) << text;
        EXPECT_EQ(blocking.boxes.size(), value == kRefused ? 1u : 0u) << text;
    }
}

TEST(DataExchange, AFailedPullStopsAtTheFieldWithItsMessageAndSelectsIt) {
    const struct {
        int id;
        const char* text;
        const char* message;
    } cases[] = {{1011, "x1", "Please enter an integer."},
                 {1003, "12345678901", "Please enter no more than 10 characters."}};
    for (const auto& c : cases) {
        CDemoDialog dialog;
        ScriptedBlocking blocking;
        showActive(dialog);
        line(dialog, 1015)->setText(QStringLiteral("AB"));
        line(dialog, 1011)->setText(QStringLiteral("5"));
        line(dialog, c.id)->setText(QString::fromLatin1(c.text));
        dialog.item<QCheckBox>(1012)->setCheckState(Qt::Unchecked);
        EXPECT_FALSE(dialog.updateData(true));
        // Members bound before the failing field are pulled, those after it keep their values.
        EXPECT_EQ(dialog.m_codeText, QStringLiteral("AB"));
        EXPECT_EQ(dialog.m_ignoreBad, 1);
        ASSERT_EQ(blocking.boxes.size(), 1u);
        EXPECT_EQ(blocking.boxes[0].text, QString::fromLatin1(c.message));
        EXPECT_EQ(blocking.boxes[0].caption, QStringLiteral("ui_framework_tests"));
        EXPECT_EQ(blocking.boxes[0].type, unsigned{MB_ICONEXCLAMATION});
        EXPECT_EQ(blocking.boxes[0].owner, &dialog);
        EXPECT_EQ(QApplication::focusWidget(), dialog.item(c.id));
        EXPECT_EQ(line(dialog, c.id)->selectedText(), QString::fromLatin1(c.text));
    }
}

TEST(DataExchange, APushLimitsTypingRaisesNoChangesAndLeavesAShortSameTextAlone) {
    CDemoDialog dialog;
    showActive(dialog);
    int rewrites = 0;
    QObject::connect(line(dialog, 1015), &QLineEdit::textChanged, [&] { ++rewrites; });
    QObject::connect(dialog.item<QPlainTextEdit>(1002), &QPlainTextEdit::textChanged,
                     [&] { ++rewrites; });
    dialog.m_codeText = QStringLiteral("ABC");
    dialog.m_notes = "line\r\nnext";
    ASSERT_TRUE(dialog.updateData(false));
    EXPECT_TRUE(dialog.events.empty()) << "a push raises no change handlers";
    line(dialog, 1015)->setCursorPosition(1);
    ASSERT_TRUE(dialog.updateData(false));
    EXPECT_EQ(rewrites, 2);
    EXPECT_EQ(line(dialog, 1015)->cursorPosition(), 1);
    // From 256 characters on the text is written even when it is the same.
    dialog.m_notes = std::string(256, 'x');
    ASSERT_TRUE(dialog.updateData(false));
    ASSERT_TRUE(dialog.updateData(false));
    EXPECT_EQ(rewrites, 4);

    line(dialog, 1015)->clear();
    line(dialog, 1015)->setFocus();
    QTest::keyClicks(line(dialog, 1015), QStringLiteral("123456789ABC"));
    EXPECT_EQ(line(dialog, 1015)->text(), QStringLiteral("12345678"));
    EXPECT_EQ(line(dialog, 1003)->maxLength(), 10);
    line(dialog, 1003)->setText(QStringLiteral("32"));
    EXPECT_EQ(dialog.events.front(), "change 1015") << "changes outside an exchange are routed";
    EXPECT_EQ(dialog.events.back(), "change 1003");
}

TEST(DataExchange, CheckStatesAreZeroOneOrTwo) {
    CDemoDialog dialog;
    auto* box = dialog.item<QCheckBox>(1012);
    dialog.m_ignoreBad = 2;
    ASSERT_TRUE(dialog.updateData(false));
    EXPECT_EQ(box->checkState(), Qt::PartiallyChecked);
    dialog.m_ignoreBad = 0;
    ASSERT_TRUE(dialog.updateData(true));
    EXPECT_EQ(dialog.m_ignoreBad, 2);
    dialog.m_ignoreBad = 7;
    ASSERT_TRUE(dialog.updateData(false));
    EXPECT_EQ(dialog.m_ignoreBad, 0) << "an out-of-range value is reset before it is shown";
    EXPECT_EQ(box->checkState(), Qt::Unchecked);
}

}  // namespace
