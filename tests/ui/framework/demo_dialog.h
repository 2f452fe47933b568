// The demonstration dialog the framework tests drive: one member per kind of exchange and one
// handler per kind of event, each recording what reached it.
#pragma once

#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

#include "ui/framework/dialog.h"

inline constexpr int kDemoTemplate = 900;
inline constexpr int kDetailsTemplate = 901;

class CDemoDialog : public CDialog {
  public:
    explicit CDemoDialog(QWidget* parent = nullptr);

    // Bound in this order.
    QPlainTextEdit* m_notesEdit = nullptr;
    QString m_codeText;
    QString m_sizeText;
    int m_level = 1;
    int m_ignoreBad = 1;
    std::string m_notes;

    // What the handlers saw, in order: "init", "apply", "more=<result>", "change 1015",
    // "change 1003", "destroy", "help", "syscommand <id>", "cancel".
    std::vector<std::string> events;
    std::vector<unsigned> ticks;
    std::vector<std::string> dropped;
    bool throwOnApply = false;

  protected:
    void doDataExchange(CDataExchange& dx) override;
    bool onInitDialog() override;
    void onCancel() override;

  private:
    void onApply();
    void onMore();
    void onCodeChange();
    void onSizeChange();
    void onTimer(unsigned id);
    void onDropFiles(const std::vector<std::string>& paths);
    void onDestroy();
    void onSystemCommand(unsigned id, long param);
    void onHelp();
};
