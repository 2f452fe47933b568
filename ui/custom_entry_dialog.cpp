// Add Custom Entry: the pre-fill, the four boxes, and the append on OK.
#include "ui/custom_entry_dialog.h"

#include <cinttypes>
#include <cstdio>

#include "ui/hex_filter.h"
#include "ui/main_app.h"
#include "ui/main_dialog.h"

CCustomEntryDialog::CCustomEntryDialog() : CDialog(129) {
    handleChange(IDC_CHECKSUM, &CCustomEntryDialog::restrictToHex);
}

void CCustomEntryDialog::prefill(std::uint32_t crc, std::uint32_t size,
                                 const std::string& fileName) {
    char text[16];
    std::snprintf(text, sizeof text, "%" PRIX32, crc);
    m_checksumText = text;
    std::snprintf(text, sizeof text, "%" PRId32, std::int32_t(size));
    m_sizeText = text;
    m_romName = fileName.substr(0, 18);
}

void CCustomEntryDialog::restrictToHex() { ::restrictToHex(*this, m_checksumText); }

void CCustomEntryDialog::doDataExchange(CDataExchange& dx) {
    dx.text(IDC_CHECKSUM, m_checksumText, 8);
    dx.text(IDC_SIZE, m_sizeText, 20);
    dx.text(IDC_ROM_NAME, m_romName, 18);
    dx.text(IDC_DESCRIPTION, m_description, 80);
}

void CCustomEntryDialog::appendCustomEntry() {
    updateData(true);
    // On any failure the dialog stays open with what the user typed.
    if (theApp().m_pMainDialog->m_session.appendCustomEntry(m_checksumText, m_sizeText, m_romName,
                                                            m_description))
        CDialog::onOK();
}
