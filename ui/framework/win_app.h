// The application object: one per program, built before the program starts, whose start-up hook
// builds and runs the main window.
#pragma once

#include <string>
#include <vector>

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
    // initInstance. Qt reads its own options only from the arguments before a "--"; every
    // argument after it is the program's, however it starts. A -platform that names no
    // platform Qt has ends the program with status 2 and a message, where Qt would abort. When that
    // returns false the program ends at once, with status 0; otherwise the event loop runs until
    // the last window closes. Call it from main().
    static int run(int argc, char** argv);

    // The start-up hook.
    virtual bool initInstance() = 0;

    // The main window: the owner of dialogs and boxes that name none.
    QWidget* m_pMainWnd = nullptr;
    // The program's arguments, byte for byte as they were given: those before a "--" that Qt
    // did not take as its own options, then every one after the "--".
    std::vector<std::string> m_arguments;
    // The command-line tail: the program's arguments joined by single blanks.
    std::string m_lpCmdLine;
};
