// The application object: one per program, built before the program starts, whose start-up hook
// builds and runs the main window.
#pragma once

#include <string>

class QWidget;

class CWinApp {
  public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // The application object of the program, or null before one exists.
    static CWinApp* instance();

    // The program's entry: sets up the desktop application, records the command line and calls
    // initInstance. When that returns false the program ends at once, with status 0; otherwise
    // the event loop runs until the last window closes. Call it from main().
    static int run(int argc, char** argv);

    // The start-up hook.
    virtual bool initInstance() = 0;

    // The main window: the owner of dialogs and boxes that name none.
    QWidget* m_pMainWnd = nullptr;
    // The command-line tail: the arguments after the program's name, joined by single blanks,
    // byte for byte as they were given.
    std::string m_lpCmdLine;
};
