// chipsight: the desktop program.
#include "ui/main_app.h"

int main(int argc, char** argv) {
    theApp();  // the application object exists before the program starts
    return CWinApp::run(argc, argv);
}
