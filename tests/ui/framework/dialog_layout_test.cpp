// A dialog as built from its template: where its controls stand, how they behave as typed into,
// and the order the Tab key visits them.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "tests/ui/framework/demo_dialog.h"
#include "tests/ui/framework/scripted_blocking.h"

namespace {

constexpr int kEveryKindTemplate = 902;

// Dialog units by their definition: a quarter of the font's average letter width across, an
// eighth of its height down, rounded to the nearest pixel.
QRect pixels(const QFont& font, int x, int y, int w, int h) {
    const QFontMetrics fm(font);
    const int across = (fm.horizontalAdvance(QStringLiteral(
                            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                            26 +
                        1) /
                       2;
    const int down = fm.height();
    auto scale = [](int v, int unit, int parts) { return (v * unit + parts / 2) / parts; };
    return {scale(x, across, 4), scale(y, down, 8), scale(w, across, 4), scale(h, down, 8)};
}

TEST(DialogLayout, ControlsStandOnTheTemplateRectangles) {
    CDemoDialog dialog;
    const QFont& font = dialog.font();
    EXPECT_EQ(font.pointSize(), 8);
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Demo Entry"));
    EXPECT_EQ(dialog.size(), pixels(font, 0, 0, 180, 120).size());
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "a modal frame cannot be resized";

    // The rectangles as the template file gives them, in template order.
    const QRect expected[] = {
        pixels(font, 10, 7, 30, 8),    pixels(font, 50, 5, 60, 10),   pixels(font, 10, 19, 30, 8),
        pixels(font, 50, 17, 60, 10),  pixels(font, 10, 31, 30, 8),   pixels(font, 50, 29, 20, 10),
        pixels(font, 76, 29, 44, 10),  pixels(font, 10, 43, 160, 40), pixels(font, 120, 5, 50, 14),
        pixels(font, 120, 20, 50, 14), pixels(font, 5, 95, 50, 14),   pixels(font, 65, 95, 50, 14),
    };
    ASSERT_EQ(dialog.controls().size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(dialog.controls()[i]->geometry(), expected[i]) << "item " << i;
        EXPECT_EQ(dialog.controls()[i]->parentWidget(), &dialog);
    }
    EXPECT_EQ(dialog.item(1002), dialog.controls()[7]);
}

TEST(DialogLayout, ControlsTakeTheirKindAndStyle) {
    CDemoDialog dialog;
    showActive(dialog);

    auto* label = qobject_cast<QLabel*>(dialog.controls()[0]);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QStringLiteral("Code")) << "a static hides its mnemonic mark";

    CDialog details(kDetailsTemplate);
    auto* literal = qobject_cast<QLabel*>(details.controls()[0]);
    ASSERT_NE(literal, nullptr);
    EXPECT_EQ(literal->text(), QStringLiteral("Details && more"))
        << "NOPREFIX shows the text as is";

    auto* code = dialog.item<QLineEdit>(1015);
    ASSERT_NE(code, nullptr);
    code->setFocus();
    QTest::keyClicks(code, QStringLiteral("ab1f"));
    EXPECT_EQ(code->text(), QStringLiteral("AB1F")) << "UPPERCASE capitalises what is typed";

    auto* size = dialog.item<QLineEdit>(1003);
    size->setFocus();
    QTest::keyClicks(size, QStringLiteral("ab1f"));
    EXPECT_EQ(size->text(), QStringLiteral("ab1f"));

    auto* level = dialog.item<QLineEdit>(1011);
    level->setFocus();
    QTest::keyClicks(level, QStringLiteral("1x2"));
    EXPECT_EQ(level->text(), QStringLiteral("12")) << "NUMBER refuses anything but digits";

    EXPECT_TRUE(dialog.item<QPushButton>(IDOK)->isDefault());
    EXPECT_FALSE(dialog.item<QPushButton>(IDCANCEL)->isDefault());
}

TEST(DialogLayout, TabVisitsTabStopsInTemplateOrder) {
    ScriptedBlocking blocking;
    CDemoDialog dialog;
    std::vector<int> visited;
    blocking.modalScripts.push_back([&](CDialog& d) {
        for (int i = 0; i < 9; ++i) {
            QWidget* focus = QApplication::focusWidget();
            int id = 0;
            for (int candidate :
                 {1015, 1003, 1011, 1012, 1002, 1009, 1010, int{IDOK}, int{IDCANCEL}}) {
                if (d.item(candidate) == focus) id = candidate;
            }
            visited.push_back(id);
            QTest::keyClick(focus, Qt::Key_Tab);
        }
        d.endDialog(IDCANCEL);
    });
    dialog.doModal();
    // Apply has no tab stop and is skipped; the labels take no focus; the order wraps around.
    EXPECT_EQ(visited,
              (std::vector<int>{1015, 1003, 1011, 1012, 1002, 1010, IDOK, IDCANCEL, 1015}));
}

// The program reaches every control's text by id, whatever kind of control the template made.
TEST(DialogLayout, TextsReachEveryKindOfControlById) {
    CDialog dialog(kEveryKindTemplate);
    for (int id = 2001; id <= 2007; ++id) {
        dialog.setWindowText(id, QStringLiteral("text %1").arg(id));
        EXPECT_EQ(dialog.windowText(id), QStringLiteral("text %1").arg(id)) << id;
    }
    // What each widget itself shows, so that a text kept anywhere else does not pass.
    auto shows = [&dialog](int id, auto* widget, auto text) {
        ASSERT_NE(widget, nullptr) << id;
        EXPECT_EQ(text(widget), QStringLiteral("text %1").arg(id)) << id;
    };
    shows(2001, dialog.item<QLabel>(2001), [](QLabel* w) { return w->text(); });
    shows(2002, dialog.item<QLabel>(2002), [](QLabel* w) { return w->text(); });
    shows(2003, dialog.item<QLineEdit>(2003), [](QLineEdit* w) { return w->text(); });
    shows(2004, dialog.item<QPlainTextEdit>(2004),
          [](QPlainTextEdit* w) { return w->toPlainText(); });
    shows(2005, dialog.item<QPushButton>(2005), [](QPushButton* w) { return w->text(); });
    shows(2006, dialog.item<QCheckBox>(2006), [](QCheckBox* w) { return w->text(); });
    shows(2007, dialog.item<QGroupBox>(2007), [](QGroupBox* w) { return w->title(); });
    EXPECT_EQ(dialog.windowText(2999), QString()) << "no control, no text";
}

}  // namespace
