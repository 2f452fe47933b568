// The application object and the program's entry.
#include "ui/framework/win_app.h"

#include <QApplication>
#include <memory>

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp() { g_app = this; }

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

CWinApp* CWinApp::instance() { return g_app; }

int CWinApp::run(int argc, char** argv) {
    CWinApp* app = instance();
    if (app == nullptr) return 1;
    // A test may already have made the one QApplication a process can have.
    std::unique_ptr<QApplication> qt;
    if (QCoreApplication::instance() == nullptr) qt = std::make_unique<QApplication>(argc, argv);
    app->m_lpCmdLine.clear();
    for (int i = 1; i < argc; ++i) {
        if (i > 1) app->m_lpCmdLine += ' ';
        app->m_lpCmdLine += argv[i];
    }
    if (!app->initInstance()) return 0;
    return QApplication::exec();
}
