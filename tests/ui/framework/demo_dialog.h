// The demonstration dialog the framework tests drive: one member per kind of exchange, and
// handlers that record what reached them.
#pragma once

#include <QString>
#include <stdexcept>
#include <string>
#include <vector>

#include "ui/framework/blocking.h"
#include "ui/framework/dialog.h"

class CDemoDialog : public CDialog {
  public:
    explicit CDemoDialog(QWidget* parent = nullptr) : CDialog(900, parent) {
        handleClick(1009, &CDemoDialog::onApply);
        handleDropFiles(&CDemoDialog::onDropFiles);
    }

    QString m_codeText;
    QString m_sizeText;
    int m_level = 1;
    int m_ignoreBad = 1;

    std::vector<std::string> events;  // "apply"
    std::vector<std::string> dropped;

  protected:
    void doDataExchange(CDataExchange& dx) override {
        dx.text(1015, m_codeText, 8);
        dx.text(1003, m_sizeText, 10);
        dx.integer(1011, m_level);
        dx.check(1012, m_ignoreBad);
    }

  private:
    void onApply() {
        events.push_back("apply");
        throw std::runtime_error("Disk full while accessing demo.log.");
    }
    void onDropFiles(const std::vector<std::string>& paths) { dropped = paths; }
};
