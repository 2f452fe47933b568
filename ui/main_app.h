// The application object: starts the program by running the main window.
#pragma once

#include "ui/framework/win_app.h"

class CMainDialog;

class CMainApp : public CWinApp {
  public:
    bool initInstance() override;

    // The running main window, through which the secondary dialogs reach it.
    CMainDialog* m_pMainDialog = nullptr;
};

// The one application object of the program.
CMainApp& theApp();
