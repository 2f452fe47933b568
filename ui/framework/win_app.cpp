// The application object and the program's entry.
#include "ui/framework/win_app.h"

#include <QApplication>
#include <cstring>
#include <memory>
#include <vector>

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
    // Qt is shown only what comes before a "--", so it neither takes a file named like one of
    // its options nor sees the "--"; it removes what it takes from the arguments it is shown.
    int shown = 1;
    while (shown < argc && std::strcmp(argv[shown], "--") != 0) ++shown;
    std::vector<char*> forQt(argv, argv + shown);
    forQt.push_back(nullptr);
    int qtArgc = shown;
    // A test may already have made the one QApplication a process can have.
    std::unique_ptr<QApplication> qt;
    if (QCoreApplication::instance() == nullptr)
        qt = std::make_unique<QApplication>(qtArgc, forQt.data());
    app->m_arguments.assign(forQt.begin() + 1, forQt.begin() + qtArgc);
    if (shown < argc)
        app->m_arguments.insert(app->m_arguments.end(), argv + shown + 1, argv + argc);
    app->m_lpCmdLine.clear();
    for (std::size_t i = 0; i < app->m_arguments.size(); ++i) {
        if (i > 0) app->m_lpCmdLine += ' ';
        app->m_lpCmdLine += app->m_arguments[i];
    }
    if (!app->initInstance()) return 0;
    return QApplication::exec();
}
