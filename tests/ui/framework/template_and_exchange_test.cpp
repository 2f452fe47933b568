// Dialogs as built from their templates (the parser's messages, where controls stand, how they
// take typing, the tab order), and pull and push with the framework's own failure messages.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <climits>

#include "tests/ui/framework/demo_dialog.h"
#include "tests/ui/framework/scripted_blocking.h"

namespace {

QLineEdit* line(CDialog& d, int id) { return d.item<QLineEdit>(id); }

TEST(DialogTemplate, NamesTheFaultyLine) {
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
}

TEST(DialogLayout, ControlsStayInsideApartSizedInDialogUnitsAndTabInTemplateOrder) {
    ScriptedBlocking blocking;
    CDemoDialog dialog;
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Demo Entry"));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "a modal frame cannot be resized";
    const std::vector<QWidget*>& controls = dialog.controls();
    ASSERT_EQ(controls.size(), 12u);
    EXPECT_EQ(dialog.item(1002), controls[7]) << "controls are made in template order";
    for (std::size_t i = 0; i < controls.size(); ++i) {
        EXPECT_TRUE(dialog.rect().contains(controls[i]->geometry())) << i;
        // Rounding may make neighbours touch, never overlap by more than a pixel.
        for (std::size_t j = 0; j < i; ++j)
            EXPECT_FALSE(
                controls[i]->geometry().adjusted(1, 1, -1, -1).intersects(controls[j]->geometry()))
                << i << " " << j;
    }
    // Four units across are an average letter, eight down a line of the 8-point font.
    const QFontMetrics fm(dialog.font());
    EXPECT_EQ(dialog.font().pointSize(), 8);
    EXPECT_NEAR(double(dialog.item(1003)->width()) / fm.averageCharWidth(), 60 / 4, 4);
    EXPECT_NEAR(double(dialog.item(1002)->height()) / fm.height(), 40 / 8, 0.2);
    EXPECT_EQ(qobject_cast<QLabel*>(controls[0])->text(), QStringLiteral("Code"));
    EXPECT_TRUE(dialog.item<QPushButton>(IDOK)->isDefault());

    std::vector<int> visited;
    blocking.modalScripts.push_back([&](CDialog& d) {
        for (int i = 0; i < 9; ++i) {
            for (int id : {1015, 1003, 1011, 1012, 1002, 1009, 1010, int{IDOK}, int{IDCANCEL}})
                if (d.item(id) == QApplication::focusWidget()) visited.push_back(id);
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        // UPPERCASE capitalises what is typed, NUMBER takes only digits.
        for (int id : {1015, 1003, 1011}) {
            line(d, id)->clear();
            QTest::keyClicks(d.item(id), QStringLiteral("ab1f"));
        }
        EXPECT_EQ(line(d, 1015)->text() + line(d, 1003)->text() + line(d, 1011)->text(),
                  QStringLiteral("AB1Fab1f1"));
        d.endDialog(IDCANCEL);
    });
    dialog.doModal();
    // Apply has no tab stop; the labels take no focus; the order wraps around.
    EXPECT_EQ(visited,
              (std::vector<int>{1015, 1003, 1011, 1012, 1002, 1010, IDOK, IDCANCEL, 1015}));
}

TEST(DataExchange, PushAndPullKeepBytesAndLimitsAndRaiseNoChanges) {
    CDemoDialog dialog;
    showActive(dialog);
    int rewrites = 0;
    QObject::connect(line(dialog, 1015), &QLineEdit::textChanged, [&] { ++rewrites; });
    // Bytes go through unchanged, UTF-8 or not, and \r\n is a line break in the box.
    const std::string notes = "caf\xe9\r\n\r\n\xff Gr\xc3\xbc\xc3\x9f";
    dialog.m_codeText = QStringLiteral("ABC");
    dialog.m_notes = notes;
    ASSERT_TRUE(dialog.updateData(false));
    EXPECT_EQ(dialog.m_notesEdit, dialog.item(1002)) << "bound on the first exchange";
    EXPECT_EQ(dialog.m_notesEdit->document()->blockCount(), 3);
    EXPECT_TRUE(dialog.events.empty()) << "a push raises no change handlers";
    // A short text that did not change is not written again, so the cursor stays.
    line(dialog, 1015)->setCursorPosition(1);
    dialog.m_notes.clear();
    ASSERT_TRUE(dialog.updateData(true));
    ASSERT_TRUE(dialog.updateData(false));
    EXPECT_EQ(rewrites, 1);
    EXPECT_EQ(line(dialog, 1015)->cursorPosition(), 1);
    EXPECT_EQ(dialog.m_notes, notes);

    line(dialog, 1015)->clear();
    QTest::keyClicks(line(dialog, 1015), QStringLiteral("123456789ABC"));
    EXPECT_EQ(line(dialog, 1015)->text(), QStringLiteral("12345678"));
    EXPECT_EQ(dialog.events.back(), "change 1015") << "changes outside an exchange are routed";
}

TEST(DataExchange, IntegerFieldTakesOnlyASignedDecimal) {
    CDemoDialog dialog;
    ScriptedBlocking blocking;
    constexpr int kRefused = 99;
    const std::pair<const char*, int> cases[] = {
        {"+7", 7},          {" \t-12\t ", -12}, {"2147483647", INT_MAX},  {"-2147483648", INT_MIN},
        {"007", 7},         {"", kRefused},     {"-", kRefused},          {"1 2", kRefused},
        {"0x10", kRefused}, {"1.5", kRefused},  {"2147483648", kRefused}, {"--1", kRefused}};
    for (const auto& [text, value] : cases) {
        dialog.m_level = kRefused;
        line(dialog, 1011)->setText(QString::fromLatin1(text));
        EXPECT_EQ(dialog.updateData(true), value != kRefused) << text;
        EXPECT_EQ(dialog.m_level, value) << text;
    }
    EXPECT_EQ(blocking.boxes.size(), 7u);
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
        EXPECT_EQ(line(dialog, c.id)->selectedText(), QString::fromLatin1(c.text));
        EXPECT_EQ(QApplication::focusWidget(), dialog.item(c.id));
    }
}

}  // namespace
