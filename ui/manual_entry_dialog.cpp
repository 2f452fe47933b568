// Manual Entry: the two boxes, the filter, and the lookup on OK.
#include "ui/manual_entry_dialog.h"

#include "ui/hex_filter.h"
#include "ui/main_app.h"
#include "ui/main_dialog.h"

CManualEntryDialog::CManualEntryDialog() : CDialog(130) {
    handleChange(IDC_CRC, &CManualEntryDialog::restrictToHex);
}

void CManualEntryDialog::restrictToHex() { ::restrictToHex(*this, m_checksumText); }

void CManualEntryDialog::doDataExchange(CDataExchange& dx) {
    dx.text(IDC_CRC, m_checksumText, 8);
    dx.text(IDC_SIZE, m_sizeText, 10);
}

void CManualEntryDialog::onOK() {
    updateData(true);
    // The lookup runs whatever the readings gave; a rejected value is looked up as 0.
    theApp().m_pMainDialog->m_session.identifyTypedEntry(m_checksumText, m_sizeText);
    CDialog::onOK();
}
