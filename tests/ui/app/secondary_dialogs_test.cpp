// Manual Entry and Add Custom Entry, run from the main window's buttons with scripted typing.
#include <QTest>
#include <filesystem>

#include "app_fixture.h"
#include "ui/custom_entry_dialog.h"
#include "ui/manual_entry_dialog.h"

namespace {

const std::string kHeader = "============================\r\nManualy Entered:";

class SecondaryDialogs : public MainWindowTest {
  protected:
    // Runs Manual Entry: types into both boxes, then presses OK.
    void manual(const QString& crc, const QString& size) {
        ui.modalScripts.push_back([=](CDialog& d) {
            QTest::keyClicks(d.item<QLineEdit>(CManualEntryDialog::IDC_CRC), crc);
            QTest::keyClicks(d.item<QLineEdit>(CManualEntryDialog::IDC_SIZE), size);
            d.item<QAbstractButton>(IDOK)->click();
        });
        click(IDC_MANUAL_ENTRY);
    }
    // Runs Add Custom Entry: types `typed` over the four boxes and presses OK. When the dialog
    // stays open, returns the texts left in the boxes and cancels.
    std::vector<QString> custom(const std::vector<QString>& typed) {
        std::vector<QString> left;
        ui.modalScripts.push_back([=, &left](CDialog& d) {
            const int ids[] = {CCustomEntryDialog::IDC_CHECKSUM, CCustomEntryDialog::IDC_SIZE,
                               CCustomEntryDialog::IDC_ROM_NAME,
                               CCustomEntryDialog::IDC_DESCRIPTION};
            for (std::size_t i = 0; i < typed.size(); ++i) {
                d.item<QLineEdit>(ids[i])->clear();
                QTest::keyClicks(d.item<QLineEdit>(ids[i]), typed[i]);
            }
            d.item<QAbstractButton>(IDOK)->click();
            for (int id : ids)
                if (d.isVisible()) left.push_back(d.item<QLineEdit>(id)->text());
            d.reject();
        });
        dialog->enableAddCustomButton();  // as any identification does
        click(IDC_ADD_CUSTOM);
        return left;
    }
};

TEST_F(SecondaryDialogs, ManualEntryLooksUpWhatWasTypedWithTheWindowsOptions) {
    start();
    manual("eae621c7", "2");
    EXPECT_EQ(dialog->m_session.logText(),
              kHeader + " [EAE621C7]\r\n\t- U2 : Demo board\r\n\t- U3 : Spare\r\n");
    dialog->m_session.clearLog();
    manual("3F55D17F", "0x800");  // a blank chip, skipped while Ignore Bad is checked
    EXPECT_EQ(dialog->m_session.logText(), "");
    click(IDC_IGNORE_BAD);
    manual("3F55D17F", "0x800");
    EXPECT_EQ(dialog->m_session.logText(), kHeader + "[3F55D17F] Not Found!\r\n");
    EXPECT_TRUE(ui.boxes.empty());
}

TEST_F(SecondaryDialogs, TheCrcBoxRefusesWhatIsNotHexadecimal) {
    start();
    std::vector<QString> after;
    ui.modalScripts.push_back([&](CDialog& d) {
        QLineEdit* crc = d.item<QLineEdit>(CManualEntryDialog::IDC_CRC);
        ui.boxAnswers = {[&](const BoxCall&) {
            after.push_back(crc->text());  // while the warning is up
            return IDOK;
        }};
        for (const char* typed : {"g", "12g", "\b\b0x", "\b123456789ABC"}) {
            QTest::keyClicks(crc, typed);
            after.push_back(crc->text());
        }
        QTest::keyClicks(d.item<QLineEdit>(CManualEntryDialog::IDC_SIZE), "123456789012");
        after.push_back(d.item<QLineEdit>(CManualEntryDialog::IDC_SIZE)->text());
        d.item<QAbstractButton>(IDCANCEL)->click();
    });
    click(IDC_MANUAL_ENTRY);
    EXPECT_EQ(after, (std::vector<QString>{"G", "", "12", "0", "12345678", "1234567890"}));
    ASSERT_EQ(boxTexts(), Strings(3, "Hexidecimal digits only please 0-9 and A-F"));
    EXPECT_EQ(ui.boxes[0].caption, "Warning");
    EXPECT_EQ(ui.boxes[0].type, MB_OK);
    EXPECT_EQ(dialog->m_session.logText(), "") << "Cancel looks nothing up";
    EXPECT_FALSE(button(IDC_ADD_CUSTOM)->isEnabled());
}

// The dialog stays open with the input after every failure, and closes on an entry that is stored.
TEST_F(SecondaryDialogs, CustomEntryIsPrefilledAndStaysOpenWithTheInputAfterEveryFailure) {
    start();  // before any file: the starting values, refused one by one
    EXPECT_EQ(custom({}), (std::vector<QString>{"0", "0", "", ""}));
    EXPECT_EQ(boxTexts(), (Strings{expected::kBadChecksum, expected::kBadSize, expected::kEmptyName,
                                   expected::kEmptyDescription}));
    EXPECT_EQ(readFile(db.file("Chipsight.dat")), chips);
    // 4096 bytes of 0x66 have the CRC 00536A35, shown without its leading zeros.
    writeFile(file("ABCDEFGHIJKLMNOPQRSTUVWX.bin"), Bytes(4096, 0x66));
    dialog->m_session.identifyFile(file("ABCDEFGHIJKLMNOPQRSTUVWX.bin"));
    EXPECT_EQ(custom({}), (std::vector<QString>{"536A35", "4096", "ABCDEFGHIJKLMNOPQR", ""}));
    // An entry that is right is cut to its fields, stored and counted, and the dialog closes.
    ui.boxes.clear();
    const std::string name18 = "ABCDEFGHIJKLMNOPQR", description80(80, 'd');
    EXPECT_TRUE(custom({"8bb98613", "4", QString::fromStdString(name18 + "ST"),
                        QString::fromStdString(description80 + "xyz")})
                    .empty());
    EXPECT_TRUE(ui.boxes.empty());
    EXPECT_EQ(readFile(db.file("Chipsight.dat")),
              join({chips, romEntryBytes(0x8BB98613, 4, name18, description80)}));
    EXPECT_EQ(dialog->windowTitle().toStdString(), chipsight::testing::title(4));
    // Chipsight.dat cannot be opened: here a folder stands in its place.
    std::filesystem::remove(db.file("Chipsight.dat"));
    std::filesystem::create_directory(db.file("Chipsight.dat"));
    ui.boxes.clear();
    EXPECT_EQ(custom({"1234", "16", "MY ROM", "mine"}),
              (std::vector<QString>{"1234", "16", "MY ROM", "mine"}));
    EXPECT_EQ(
        ui.boxes,
        (std::vector<BoxCall>{{dialog.get(), expected::kCannotOpenCustom, "Error", MB_ICONSTOP}}));
    EXPECT_EQ(dialog->windowTitle().toStdString(), chipsight::testing::title(4));
}

}  // namespace
