// The application object and the program's start-up.
#include "ui/main_app.h"

#include <QCoreApplication>
#include <QFile>

#include "core/file_layer.h"
#include "ui/main_dialog.h"

CMainApp& theApp() {
    static CMainApp app;
    return app;
}

bool CMainApp::initInstance() {
    // Qt has taken the arguments meant for it; each one left names a file, byte for byte.
    std::vector<std::string> arguments;
    const QStringList all = QCoreApplication::arguments();
    for (qsizetype i = 1; i < all.size(); ++i) arguments.push_back(QFile::encodeName(all[i]).toStdString());
    CMainDialog dialog(chipsight::executablePath(), std::move(arguments));
    m_pMainWnd = &dialog;
    m_pMainDialog = &dialog;
    dialog.doModal();
    m_pMainDialog = nullptr;
    m_pMainWnd = nullptr;
    return false;
}
