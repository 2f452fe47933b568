// Reading templates and the string table: every field lands where it belongs, and a faulty line
// is named.
#include "ui/framework/dialog_template.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(DialogTemplate, ReadsHeaderAndItemsInOrder) {
    const DialogTemplate t = parseDialogTemplate(QStringLiteral(R"(# a comment
CAPTION "Say \"hi\""

SIZE 122 51
FONT 9 "Some Face"
STYLE MODALFRAME CAPTION SYSMENU
STATIC -1   10  7 20  8 "Two\nlines" NOPREFIX CENTER
EDIT   1015 50  5 60 10 "" BORDER TABSTOP UPPERCASE
BUTTON IDCANCEL 65 30 50 14 "Cancel"
  BUTTON IDOK 5 30 50 14 "OK" DEFAULT TABSTOP
)"),
                                                 130);
    EXPECT_EQ(t.id, 130);
    EXPECT_EQ(t.caption, QStringLiteral("Say \"hi\""));
    EXPECT_EQ(t.size, QSize(122, 51));
    EXPECT_EQ(t.fontFace, QStringLiteral("Some Face"));
    EXPECT_EQ(t.fontPoints, 9);
    EXPECT_EQ(t.style, unsigned{DS_MODALFRAME | DS_CAPTION | DS_SYSMENU});
    ASSERT_EQ(t.items.size(), 4u);

    EXPECT_EQ(t.items[0].kind, ItemKind::Static);
    EXPECT_EQ(t.items[0].id, kNoId);
    EXPECT_EQ(t.items[0].rect, QRect(10, 7, 20, 8));
    EXPECT_EQ(t.items[0].text, QStringLiteral("Two\nlines"));
    EXPECT_EQ(t.items[0].style, unsigned{IS_NOPREFIX | IS_CENTER});

    EXPECT_EQ(t.items[1].kind, ItemKind::Edit);
    EXPECT_EQ(t.items[1].id, 1015);
    EXPECT_EQ(t.items[1].style, unsigned{IS_BORDER | IS_TABSTOP | IS_UPPERCASE});

    EXPECT_EQ(t.items[2].id, 2);
    EXPECT_EQ(t.items[2].style, 0u);
    EXPECT_EQ(t.items[3].id, 1);
    EXPECT_TRUE(t.items[3].has(IS_DEFAULT));
    EXPECT_EQ(t.items[3].rect, QRect(5, 30, 50, 14));
}

TEST(DialogTemplate, NamesTheFaultyLine) {
    struct Case {
        const char* text;
        const char* where;
    };
    const Case cases[] = {
        {"SIZE 1 1\nEDIT 1 0 0 1 1 \"\" BORDR", "dialog 7:2: unknown style 'BORDR'"},
        {"SIZE 1 1\nCAPTION \"open", "dialog 7:2: unterminated text"},
        {"CAPTION \"x\"", "dialog 7:1: no SIZE line"},
        {"SIZE 1 1\n\nEDIT 1 0 x 1 1 \"\"", "dialog 7:3: expected a number, not 'x'"},
        {"SIZE 1 1\nLISTBOX 1 0 0 1 1 \"\"", "dialog 7:2: unknown keyword 'LISTBOX'"},
    };
    for (const Case& c : cases) {
        try {
            parseDialogTemplate(QString::fromLatin1(c.text), 7);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const ResourceError& e) {
            EXPECT_EQ(std::string(e.what()), c.where) << c.text;
        }
    }
}

TEST(DialogTemplate, LoadsEmbeddedResources) {
    const DialogTemplate demo = loadDialogTemplate(900);
    EXPECT_EQ(demo.caption, QStringLiteral("Demo Entry"));
    EXPECT_EQ(demo.items.size(), 12u);
    EXPECT_THROW(loadDialogTemplate(4242), ResourceError);

    EXPECT_EQ(loadString(7), QStringLiteral("&Demo \"string\""));
    EXPECT_EQ(loadString(8), QString());
    EXPECT_TRUE(loadIcon(4242).isNull());
}

}  // namespace
