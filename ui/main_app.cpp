// The application object and the program's start-up.
#include "ui/main_app.h"

#include "core/sys/file_layer.h"
#include "ui/main_dialog.h"

CMainApp& theApp() {
    static CMainApp app;
    return app;
}

bool CMainApp::initInstance() {
    // Qt has taken the arguments meant for it; each one left names a file, byte for byte.
    CMainDialog dialog(chipsight::executablePath(), m_arguments);
    m_pMainWnd = &dialog;
    m_pMainDialog = &dialog;
    dialog.doModal();
    m_pMainDialog = nullptr;
    m_pMainWnd = nullptr;
    return false;
}
