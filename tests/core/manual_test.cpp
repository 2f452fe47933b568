// Looking up a typed checksum and size.
#include <gtest/gtest.h>

#include "core/chipsight_core.h"
#include "tests/support/expected_texts.h"
#include "tests/support/test_support.h"

namespace chipsight {
namespace {

using testing::box;
using testing::makeEntry;

const testing::Call kChecksumBox =
    box(expected::kBadChecksum, "Validation Error!", MB_ICONEXCLAMATION);
const testing::Call kSizeBox = box(expected::kBadSize, "Validation Error!", MB_ICONEXCLAMATION);

class Manual : public ::testing::Test {
  protected:
    testing::TempDir dir;
    testing::CoreFixture fixture{dir};
    testing::BoundCore& core = fixture.core;
    testing::RecordingFrontEnd& ui = fixture.frontEnd;
};

TEST_F(Manual, WorkedExample) {
    core.m_entries = {makeEntry(0xEAE621C7, 4, "no", "x"),
                      makeEntry(0xEAE621C7, 2, "U2", "Demo board"),
                      makeEntry(0xEAE621C7, 2, "U3", "Spare")};
    core.m_lastFileName = "kept.bin";
    EXPECT_EQ(core.identifyTypedEntry("EAE621C7", "2"), Outcome::Found);
    EXPECT_EQ(core.m_logText,
              "============================\r\nManualy Entered: [EAE621C7]\r\n\t- U2 : Demo "
              "board\r\n\t- U3 : Spare\r\n");
    EXPECT_TRUE(ui.buttonEnabled);
    EXPECT_EQ(core.m_lastFileName, "kept.bin");
    EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(Manual, RejectedValuesAreReportedAndLookedUpAsZero) {
    EXPECT_EQ(core.identifyTypedEntry("", ""), Outcome::NotFound);
    EXPECT_EQ(ui.boxes(), (std::vector<testing::Call>{kChecksumBox, kSizeBox}));
    EXPECT_EQ(core.m_logText, "============================\r\nManualy Entered:[0] Not Found!\r\n");
    ui.calls.clear();
    core.m_logText.clear();
    core.identifyTypedEntry("", "2048");
    EXPECT_EQ(ui.boxes(), (std::vector<testing::Call>{kChecksumBox}));
    core.m_entries = {makeEntry(0, 2048, "ZERO", "found anyway")};
    core.identifyTypedEntry("zz", "0x800");
    EXPECT_NE(core.m_logText.find("Manualy Entered: [0]\r\n\t- ZERO : found anyway"),
              std::string::npos);
}

TEST_F(Manual, BlankPairsUnderIgnoreBad) {
    EXPECT_EQ(core.identifyTypedEntry("3F55D17F", "0x800"), Outcome::Skipped);
    EXPECT_EQ(core.m_logText, "");
    EXPECT_TRUE(ui.calls.empty()) << "no pull, no push, no button, no scroll";
    core.m_ignoreBad = 0;
    EXPECT_EQ(core.identifyTypedEntry("3F55D17F", "0x800"), Outcome::NotFound);
    EXPECT_EQ(core.m_logText,
              "============================\r\nManualy Entered:[3F55D17F] Not Found!\r\n");
    core.m_ignoreBad = 1;
    core.m_logText.clear();
    EXPECT_EQ(core.identifyTypedEntry("BD7BC39F", "512"), Outcome::NotFound) << "no 512-byte row";
}

}  // namespace
}  // namespace chipsight
