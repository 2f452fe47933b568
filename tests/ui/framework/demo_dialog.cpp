// The demonstration dialog: its exchange and its handler table.
#include "tests/ui/framework/demo_dialog.h"

#include <stdexcept>

#include "ui/framework/blocking.h"

CDemoDialog::CDemoDialog(QWidget* parent) : CDialog(kDemoTemplate, parent) {
    handleClick(1009, &CDemoDialog::onApply);
    handleClick(1010, &CDemoDialog::onMore);
    handleChange(1015, &CDemoDialog::onCodeChange);
    handleChange(1003, &CDemoDialog::onSizeChange);
    handleTimer(&CDemoDialog::onTimer);
    handleDropFiles(&CDemoDialog::onDropFiles);
    handleDestroy(&CDemoDialog::onDestroy);
    handleSystemCommand(&CDemoDialog::onSystemCommand);
    handleHelp(&CDemoDialog::onHelp);
}

void CDemoDialog::doDataExchange(CDataExchange& dx) {
    dx.control(1002, m_notesEdit);
    dx.text(1015, m_codeText, 8);
    dx.text(1003, m_sizeText, 10);
    dx.integer(1011, m_level);
    dx.check(1012, m_ignoreBad);
    dx.text(1002, m_notes);
}

bool CDemoDialog::onInitDialog() {
    CDialog::onInitDialog();
    events.push_back("init");
    return true;
}

void CDemoDialog::onCancel() {
    events.push_back("cancel");
    CDialog::onCancel();
}

void CDemoDialog::onApply() {
    events.push_back("apply");
    if (throwOnApply) throw std::runtime_error("Disk full while accessing demo.log.");
    messageBox(this, QStringLiteral("Applied"), QStringLiteral("Demo"), MB_OK);
}

void CDemoDialog::onMore() {
    CDialog details(kDetailsTemplate);
    events.push_back("more=" + std::to_string(details.doModal()));
}

void CDemoDialog::onCodeChange() { events.push_back("change 1015"); }

void CDemoDialog::onSizeChange() { events.push_back("change 1003"); }

void CDemoDialog::onTimer(unsigned id) { ticks.push_back(id); }

void CDemoDialog::onDropFiles(const std::vector<std::string>& paths) { dropped = paths; }

void CDemoDialog::onDestroy() { events.push_back("destroy"); }

void CDemoDialog::onSystemCommand(unsigned id, long param) {
    events.push_back("syscommand " + std::to_string(id));
    if (id != 16) defaultSystemCommand(id, param);
}

void CDemoDialog::onHelp() { events.push_back("help"); }
