// The demonstration dialog the framework tests drive: one member per kind of exchange and one
// handler per kind of event, each recording what reached it.
#pragma once

#include <QPlainTextEdit>
#include <QString>
#include <stdexcept>
#include <string>
#include <vector>

#include "ui/framework/blocking.h"
#include "ui/framework/dialog.h"

inline constexpr int kDemoTemplate = 900;
inline constexpr int kDetailsTemplate = 901;

class CDemoDialog : public CDialog {
  public:
    explicit CDemoDialog(QWidget* parent = nullptr) : CDialog(kDemoTemplate, parent) {
        handleClick(1009, &CDemoDialog::onApply);
        handleClick(1010, &CDemoDialog::onMore);
        handleChange(1015, &CDemoDialog::onCodeChange);
        handleChange(1003, &CDemoDialog::onSizeChange);
        handleTimer(&CDemoDialog::onTimer);
        handleDropFiles(&CDemoDialog::onDropFiles);
        handleDestroy(&CDemoDialog::onDestroy);
        handleSystemCommand(&CDemoDialog::onSystemCommand);
    }

    QPlainTextEdit* m_notesEdit = nullptr;
    QString m_codeText;
    QString m_sizeText;
    int m_level = 1;
    int m_ignoreBad = 1;
    std::string m_notes;

    // What the handlers saw, in order: "init", "apply", "more=<result>", "change <id>",
    // "destroy", "syscommand <id>", "cancel".
    std::vector<std::string> events;
    std::vector<unsigned> ticks;
    std::vector<std::string> dropped;
    bool throwOnApply = false;

  protected:
    void doDataExchange(CDataExchange& dx) override {
        dx.control(1002, m_notesEdit);
        dx.text(1015, m_codeText, 8);
        dx.text(1003, m_sizeText, 10);
        dx.integer(1011, m_level);
        dx.check(1012, m_ignoreBad);
        dx.text(1002, m_notes);
    }
    bool onInitDialog() override {
        CDialog::onInitDialog();
        events.push_back("init");
        return true;
    }
    void onCancel() override {
        events.push_back("cancel");
        CDialog::onCancel();
    }

  private:
    void onApply() {
        events.push_back("apply");
        if (throwOnApply) throw std::runtime_error("Disk full while accessing demo.log.");
        messageBox(this, QStringLiteral("Applied"), QStringLiteral("Demo"), MB_OK);
    }
    void onMore() {
        CDialog details(kDetailsTemplate);
        events.push_back("more=" + std::to_string(details.doModal()));
    }
    void onCodeChange() { events.push_back("change 1015"); }
    void onSizeChange() { events.push_back("change 1003"); }
    void onTimer(unsigned id) { ticks.push_back(id); }
    void onDropFiles(const std::vector<std::string>& paths) { dropped = paths; }
    void onDestroy() { events.push_back("destroy"); }
    void onSystemCommand(unsigned id, long param) {
        events.push_back("syscommand " + std::to_string(id));
        if (id != 16) defaultSystemCommand(id, param);
    }
};
