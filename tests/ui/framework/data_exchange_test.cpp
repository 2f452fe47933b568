// Pull and push: binding order, the integer and limit checks with their messages, check states,
// unchanged texts, and the notifications an exchange keeps to itself.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

#include "tests/ui/framework/demo_dialog.h"
#include "tests/ui/framework/scripted_blocking.h"

namespace {

QLineEdit* line(CDialog& d, int id) { return d.item<QLineEdit>(id); }

TEST(DataExchange, PushWritesEveryControlInBindingOrder) {
    CDemoDialog dialog;
    std::vector<int> written;
    for (int id : {1015, 1003, 1011}) {
        QObject::connect(line(dialog, id), &QLineEdit::textChanged,
                         [&written, id] { written.push_back(id); });
    }
    QObject::connect(dialog.item<QCheckBox>(1012), &QCheckBox::stateChanged,
                     [&] { written.push_back(1012); });
    QObject::connect(dialog.item<QPlainTextEdit>(1002), &QPlainTextEdit::textChanged,
                     [&] { written.push_back(1002); });

    dialog.m_codeText = QStringLiteral("EAE621C7");
    dialog.m_sizeText = QStringLiteral("2048");
    dialog.m_level = -3;
    dialog.m_ignoreBad = 1;
    dialog.m_notes = "first\r\nsecond";
    ASSERT_TRUE(dialog.updateData(false));

    EXPECT_EQ(written, (std::vector<int>{1015, 1003, 1011, 1012, 1002}));
    EXPECT_EQ(line(dialog, 1015)->text(), QStringLiteral("EAE621C7"));
    EXPECT_EQ(line(dialog, 1011)->text(), QStringLiteral("-3"));
    EXPECT_EQ(dialog.item<QCheckBox>(1012)->checkState(), Qt::Checked);
    EXPECT_EQ(dialog.m_notesEdit, dialog.item(1002)) << "bound on the first exchange";
    EXPECT_EQ(dialog.m_notesEdit->document()->blockCount(), 2) << "\\r\\n is a line break";
    EXPECT_EQ(dialog.m_notesEdit->toPlainText(), QStringLiteral("first\nsecond"));
}

TEST(DataExchange, PullReadsEveryControlBackUnchanged) {
    CDemoDialog dialog;
    // Bytes go through unchanged, UTF-8 or not, and line breaks come back as \r\n.
    dialog.m_notes = "caf\xe9\r\n\r\n\xff Gr\xc3\xbc\xc3\x9f";
    ASSERT_TRUE(dialog.updateData(false));
    EXPECT_TRUE(dialog.m_notesEdit->toPlainText().endsWith(QStringLiteral("Gr\u00fc\u00df")));
    dialog.m_notes.clear();
    line(dialog, 1015)->setText(QStringLiteral("1ABCD"));
    line(dialog, 1003)->setText(QStringLiteral(" 0x800"));
    line(dialog, 1011)->setText(QStringLiteral(" \t-12\t "));
    dialog.item<QCheckBox>(1012)->setCheckState(Qt::Unchecked);

    ASSERT_TRUE(dialog.updateData(true));
    EXPECT_EQ(dialog.m_codeText, QStringLiteral("1ABCD"));
    EXPECT_EQ(dialog.m_sizeText, QStringLiteral(" 0x800"));
    EXPECT_EQ(dialog.m_level, -12);
    EXPECT_EQ(dialog.m_ignoreBad, 0);
    EXPECT_EQ(dialog.m_notes, "caf\xe9\r\n\r\n\xff Gr\xc3\xbc\xc3\x9f");
}

TEST(DataExchange, IntegerFieldTakesOnlyASignedDecimal) {
    CDemoDialog dialog;
    ScriptedBlocking blocking;
    const std::pair<const char*, int> good[] = {
        {"0", 0},
        {"+7", 7},
        {"  42", 42},
        {"-1\t", -1},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"007", 7},
    };
    for (const auto& [text, value] : good) {
        dialog.m_level = 99;
        line(dialog, 1011)->setText(QString::fromLatin1(text));
        EXPECT_TRUE(dialog.updateData(true)) << text;
        EXPECT_EQ(dialog.m_level, value) << text;
    }
    EXPECT_TRUE(blocking.boxes.empty());
    for (const char* text : {"", " ", "-", "+", "1 2", "12a", "0x10", "1.5", "2147483648", "--1"}) {
        dialog.m_level = 99;
        line(dialog, 1011)->setText(QString::fromLatin1(text));
        EXPECT_FALSE(dialog.updateData(true)) << text;
        EXPECT_EQ(dialog.m_level, 99) << text;
    }
    EXPECT_EQ(blocking.boxes.size(), 10u);
}

TEST(DataExchange, FailingIntegerStopsThePullThereWithItsMessage) {
    CDemoDialog dialog;
    ScriptedBlocking blocking;
    showActive(dialog);
    line(dialog, 1015)->setText(QStringLiteral("AB"));
    line(dialog, 1003)->setText(QStringLiteral("12"));
    line(dialog, 1011)->setText(QStringLiteral("x1"));
    dialog.item<QCheckBox>(1012)->setCheckState(Qt::Unchecked);
    dialog.item<QPlainTextEdit>(1002)->setPlainText(QStringLiteral("typed"));
    line(dialog, 1015)->setFocus();

    EXPECT_FALSE(dialog.updateData(true));

    // Members bound before the failing field are pulled, those after it keep their values.
    EXPECT_EQ(dialog.m_codeText, QStringLiteral("AB"));
    EXPECT_EQ(dialog.m_sizeText, QStringLiteral("12"));
    EXPECT_EQ(dialog.m_level, 1);
    EXPECT_EQ(dialog.m_ignoreBad, 1);
    EXPECT_EQ(dialog.m_notes, "");
    ASSERT_EQ(blocking.boxes.size(), 1u);
    EXPECT_EQ(blocking.boxes[0].text, QStringLiteral("Please enter an integer."));
    EXPECT_EQ(blocking.boxes[0].caption, QStringLiteral("ui_framework_tests"));
    EXPECT_EQ(blocking.boxes[0].type, unsigned{MB_ICONEXCLAMATION});
    EXPECT_EQ(blocking.boxes[0].owner, &dialog);
    EXPECT_EQ(QApplication::focusWidget(), dialog.item(1011));
    EXPECT_EQ(line(dialog, 1011)->selectedText(), QStringLiteral("x1"));
}

TEST(DataExchange, TextLimitsHoldBothWays) {
    CDemoDialog dialog;
    ScriptedBlocking blocking;
    showActive(dialog);

    // Before any push the size box takes anything; a pull then refuses the long text.
    line(dialog, 1015)->setText(QStringLiteral("C0DE"));
    line(dialog, 1003)->setText(QStringLiteral("12345678901"));
    line(dialog, 1011)->setText(QStringLiteral("5"));
    EXPECT_FALSE(dialog.updateData(true));
    EXPECT_EQ(dialog.m_codeText, QStringLiteral("C0DE"));
    EXPECT_EQ(dialog.m_level, 1) << "the pull stopped at the size box";
    ASSERT_EQ(blocking.boxes.size(), 1u);
    EXPECT_EQ(blocking.boxes[0].text, QStringLiteral("Please enter no more than 10 characters."));
    EXPECT_EQ(blocking.boxes[0].type, unsigned{MB_ICONEXCLAMATION});
    EXPECT_EQ(QApplication::focusWidget(), dialog.item(1003));
    EXPECT_EQ(line(dialog, 1003)->selectedText(), QStringLiteral("12345678901"));

    // A push gives each box its limit, so typing stops there.
    dialog.m_codeText.clear();
    ASSERT_TRUE(dialog.updateData(false));
    line(dialog, 1015)->setFocus();
    QTest::keyClicks(line(dialog, 1015), QStringLiteral("123456789ABC"));
    EXPECT_EQ(line(dialog, 1015)->text(), QStringLiteral("12345678"));
    EXPECT_EQ(line(dialog, 1003)->maxLength(), 10);
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

TEST(DataExchange, PushLeavesAShortUnchangedTextAlone) {
    CDemoDialog dialog;
    int rewrites = 0;
    QObject::connect(line(dialog, 1015), &QLineEdit::textChanged, [&] { ++rewrites; });
    QObject::connect(dialog.item<QPlainTextEdit>(1002), &QPlainTextEdit::textChanged,
                     [&] { ++rewrites; });

    dialog.m_codeText = QStringLiteral("ABC");
    dialog.m_notes = "line\r\nnext";
    ASSERT_TRUE(dialog.updateData(false));
    ASSERT_EQ(rewrites, 2);
    line(dialog, 1015)->setCursorPosition(1);
    ASSERT_TRUE(dialog.updateData(false));
    EXPECT_EQ(rewrites, 2);
    EXPECT_EQ(line(dialog, 1015)->cursorPosition(), 1);

    // From 256 characters on the text is written even when it is the same.
    dialog.m_notes = std::string(256, 'x');
    ASSERT_TRUE(dialog.updateData(false));
    ASSERT_EQ(rewrites, 3);
    ASSERT_TRUE(dialog.updateData(false));
    EXPECT_EQ(rewrites, 4);
}

TEST(DataExchange, NotificationsWaitOutTheExchange) {
    CDemoDialog dialog;
    showActive(dialog);
    dialog.m_codeText = QStringLiteral("FF");
    dialog.m_sizeText = QStringLiteral("16");
    ASSERT_TRUE(dialog.updateData(false));
    EXPECT_TRUE(dialog.events.empty()) << "a push raises no change handlers";

    // The same controls changed outside an exchange do reach their handlers.
    line(dialog, 1015)->setFocus();
    QTest::keyClick(line(dialog, 1015), Qt::Key_A);
    line(dialog, 1003)->setText(QStringLiteral("32"));
    EXPECT_EQ(dialog.events, (std::vector<std::string>{"change 1015", "change 1003"}));
}

}  // namespace
