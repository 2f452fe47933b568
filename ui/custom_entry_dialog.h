// Add Custom Entry: a chip of the user's own, stored in Chipsight.dat.
#pragma once

#include <cstdint>
#include <string>

#include "ui/framework/dialog.h"

class CCustomEntryDialog : public CDialog {
  public:
    enum : int {
        IDC_CHECKSUM = 1013,
        IDC_SIZE = 1003,
        IDC_ROM_NAME = 1004,
        IDC_DESCRIPTION = 1005
    };

    CCustomEntryDialog();

    // Offers the last identified file: its checksum, size and (the first 18 characters of) name.
    void prefill(std::uint32_t crc, std::uint32_t size, const std::string& fileName);

    void restrictToHex();
    // The OK operation: checks the fields, then stores the entry and closes, or stays open.
    void appendCustomEntry();

    std::string m_checksumText;
    std::string m_sizeText;
    std::string m_romName;
    std::string m_description;

  protected:
    void doDataExchange(CDataExchange& dx) override;
    void onOK() override { appendCustomEntry(); }
};
