// Manual Entry and Add Custom Entry, run from the main window's buttons with scripted typing.
#include <QTest>
#include <filesystem>

#include "app_fixture.h"
#include "tests/support/expected_texts.h"
#include "ui/custom_entry_dialog.h"
#include "ui/manual_entry_dialog.h"

namespace {

using chipsight::testing::Bytes;
using chipsight::testing::readFile;

const char* const kChecksumMessage = chipsight::expected::kBadChecksum;
const char* const kSizeMessage = chipsight::expected::kBadSize;
const char* const kHexWarning = "Hexidecimal digits only please 0-9 and A-F";

class SecondaryDialogs : public MainWindowTest {
  protected:
    // Runs Manual Entry: types into both boxes, then presses `finish` (IDOK or IDCANCEL).
    void manual(const QString& crc, const QString& size, int finish = IDOK) {
        ui.modalScripts.push_back([=](CDialog& d) {
            QTest::keyClicks(d.item<QLineEdit>(CManualEntryDialog::IDC_CRC), crc);
            QTest::keyClicks(d.item<QLineEdit>(CManualEntryDialog::IDC_SIZE), size);
            d.item<QAbstractButton>(finish)->click();
        });
        click(IDC_MANUAL_ENTRY);
    }
    // Runs Add Custom Entry: types `typed` over the first boxes and presses OK. Returns the four
    // texts found at the start and, when the dialog stayed open, the four left after OK (then
    // it cancels).
    std::vector<QString> custom(const std::vector<QString>& typed) {
        std::vector<QString> shown;
        ui.modalScripts.push_back([=, &shown](CDialog& d) {
            const int ids[] = {CCustomEntryDialog::IDC_CHECKSUM, CCustomEntryDialog::IDC_SIZE,
                               CCustomEntryDialog::IDC_ROM_NAME,
                               CCustomEntryDialog::IDC_DESCRIPTION};
            for (int i = 0; i < 4; ++i) {
                QLineEdit* box = d.item<QLineEdit>(ids[i]);
                shown.push_back(box->text());
                if (i < int(typed.size())) {
                    box->clear();
                    QTest::keyClicks(box, typed[std::size_t(i)]);
                }
            }
            d.item<QAbstractButton>(IDOK)->click();
            if (d.isVisible()) {
                for (int id : ids) shown.push_back(d.item<QLineEdit>(id)->text());
                d.item<QAbstractButton>(IDCANCEL)->click();
            }
        });
        // The button is enabled by any identification; these tests need no report first.
        dialog->enableAddCustomButton();
        click(IDC_ADD_CUSTOM);
        return shown;
    }
};

TEST_F(SecondaryDialogs, ManualWorkedExample) {
    start({file("test.bin")});
    dialog->clearLog();
    dialog->push();
    manual("eae621c7", "2");
    EXPECT_EQ(dialog->logText(),
              "============================\r\nManualy Entered: [EAE621C7]\r\n\t- U2 : Demo "
              "board\r\n\t- U3 : Spare\r\n");
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(dialog->lastFileName(), "test.bin") << "a manual lookup leaves the last result";
    EXPECT_EQ(dialog->lastCrc(), 0x8BB98613u);
}

TEST_F(SecondaryDialogs, TheCrcBoxRefusesWhatIsNotHexadecimal) {
    start();
    std::vector<QString> after;
    ui.modalScripts.push_back([&](CDialog& d) {
        QLineEdit* crc = d.item<QLineEdit>(CManualEntryDialog::IDC_CRC);
        QString shownDuringBox;
        ui.boxAnswers = {[&](const BoxCall&) {
            shownDuringBox = crc->text();
            return IDOK;
        }};
        QTest::keyClicks(crc, "g");
        after.push_back(shownDuringBox);
        after.push_back(crc->text());
        QTest::keyClicks(crc, "12g");
        after.push_back(crc->text());
        crc->clear();
        QTest::keyClicks(crc, "0x");
        after.push_back(crc->text());
        crc->clear();
        QTest::keyClicks(crc, "123456789ABC");
        after.push_back(crc->text());
        QLineEdit* size = d.item<QLineEdit>(CManualEntryDialog::IDC_SIZE);
        QTest::keyClicks(size, "123456789012");
        after.push_back(size->text());
        d.item<QAbstractButton>(IDCANCEL)->click();
    });
    click(IDC_MANUAL_ENTRY);
    EXPECT_EQ(after, (std::vector<QString>{"G", "", "12", "0", "12345678", "1234567890"}));
    EXPECT_EQ(boxTexts(), std::vector<std::string>(3, kHexWarning));
    EXPECT_EQ(ui.boxes[0].caption, "Warning");
    EXPECT_EQ(ui.boxes[0].type, MB_OK);
    EXPECT_EQ(dialog->logText(), "") << "Cancel looks nothing up";
    EXPECT_FALSE(button(IDC_ADD_CUSTOM)->isEnabled());
}

TEST_F(SecondaryDialogs, EmptyManualBoxesWarnTwiceAndStillLookUp) {
    start();
    manual("", "");
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{kChecksumMessage, kSizeMessage}));
    EXPECT_EQ(ui.boxes[0].caption, "Validation Error!");
    EXPECT_EQ(ui.boxes[0].type, MB_ICONEXCLAMATION);
    EXPECT_EQ(dialog->logText(),
              "============================\r\nManualy Entered:[0] Not Found!\r\n");
    EXPECT_TRUE(button(IDC_ADD_CUSTOM)->isEnabled());
}

TEST_F(SecondaryDialogs, ManualBlankPairsAndSizeReadings) {
    start();
    manual("3F55D17F", "0x800");
    EXPECT_EQ(dialog->logText(), "");
    EXPECT_FALSE(button(IDC_ADD_CUSTOM)->isEnabled());
    click(IDC_IGNORE_BAD);
    manual("3F55D17F", "0x800");
    EXPECT_EQ(dialog->logText(),
              "============================\r\nManualy Entered:[3F55D17F] Not Found!\r\n");
    click(IDC_IGNORE_BAD);
    dialog->clearLog();
    manual("BD7BC39F", "512");
    EXPECT_NE(dialog->logText().find("[BD7BC39F] Not Found!"), std::string::npos);

    ui.boxes.clear();
    manual("ABC", "9999999999");
    EXPECT_EQ(boxTexts(), std::vector<std::string>{kSizeMessage});
}

TEST_F(SecondaryDialogs, CustomEntryIsPrefilledFromTheLastFile) {
    // 4096 bytes of 0x66 have the CRC 00536A35, shown without its leading zeros.
    chipsight::testing::writeFile(file("ABCDEFGHIJKLMNOPQRSTUVWX.bin"), Bytes(4096, 0x66));
    start();  // before any file: the starting values and no name
    const auto before = custom({});
    EXPECT_EQ(before.at(0), "0");
    EXPECT_EQ(before.at(2), "");
    dialog->identifyFile(file("ABCDEFGHIJKLMNOPQRSTUVWX.bin"));
    const auto shown = custom({});
    EXPECT_EQ(shown.at(0), "536A35");
    EXPECT_EQ(shown.at(1), "4096");
    EXPECT_EQ(shown.at(2), "ABCDEFGHIJKLMNOPQR");
    EXPECT_EQ(shown.at(3), "");
}

TEST_F(SecondaryDialogs, CustomEntryStaysOpenWithTheInputAfterEveryFailure) {
    start();
    const auto empty = custom({"", "", "", ""});
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{kChecksumMessage, kSizeMessage,
                                                    chipsight::expected::kEmptyName,
                                                    chipsight::expected::kEmptyDescription}));
    EXPECT_EQ(empty.size(), 8u) << "the dialog stayed open";
    EXPECT_FALSE(std::filesystem::exists(db.file("Chipsight.dat")));

    // Chipsight.dat cannot be opened: here a folder stands in its place.
    std::filesystem::create_directory(db.file("Chipsight.dat"));
    ui.boxes.clear();
    const auto kept = custom({"1234", "16", "MY ROM", "mine"});
    EXPECT_EQ(boxTexts(), std::vector<std::string>{chipsight::expected::kCannotOpenCustom});
    EXPECT_EQ(ui.boxes[0].type, MB_ICONSTOP);
    ASSERT_EQ(kept.size(), 8u);
    EXPECT_EQ(std::vector<QString>(kept.begin() + 4, kept.end()),
              (std::vector<QString>{"1234", "16", "MY ROM", "mine"}));
    EXPECT_EQ(dialog->windowTitle().toStdString(),
              ".: Chipsight v1.05 - 3 ROMs - Feb 25 2005 - Morrowlark :.");
}

TEST_F(SecondaryDialogs, AnAddedEntryIsStoredCountedAndFound) {
    start();
    const std::string name18 = "ABCDEFGHIJKLMNOPQR";
    const std::string description80(80, 'd');
    const auto shown = custom({"8bb98613", "4", QString::fromStdString(name18 + "ST"),
                               QString::fromStdString(description80 + "xyz")});
    EXPECT_EQ(shown.size(), 4u) << "the dialog closed";
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(readFile(db.file("Chipsight.dat")),
              chipsight::testing::romEntryBytes(0x8BB98613, 4, name18, description80));
    EXPECT_EQ(dialog->windowTitle().toStdString(),
              ".: Chipsight v1.05 - 4 ROMs - Feb 25 2005 - Morrowlark :.");
    dialog->identifyFile(file("test.bin"));
    EXPECT_NE(dialog->logText().find("test.bin: (1/1) [8BB98613]\r\n\t- TB : Demo board\r\n\t- " +
                                     name18 + " : " + description80),
              std::string::npos);
}

}  // namespace
