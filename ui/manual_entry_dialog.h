// Manual Entry: looks up a checksum and size typed by hand.
#pragma once

#include <string>

#include "ui/framework/dialog.h"

class CManualEntryDialog : public CDialog {
  public:
    enum : int { IDC_CRC = 1015, IDC_SIZE = 1003 };

    CManualEntryDialog();

    void restrictToHex();

    std::string m_checksumText;
    std::string m_sizeText;

  protected:
    void doDataExchange(CDataExchange& dx) override;
    void onOK() override;
};
