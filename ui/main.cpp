// chipsight: the desktop program.
#include <cstdio>

#include <cstring>

#include "chipsight/version.h"
#include "core/identify/texts.h"
#include "ui/main_app.h"

namespace {

constexpr const char* kUsage =
    "Usage: chipsight [OPTION]... [--] [FILE]...\n"
    "Identify ROM and EPROM dumps by their CRC-32 and size, in a window.\n"
    "Each FILE is identified when the window opens; more can be dropped on it.\n"
    "\n"
    "  --help              show this help\n"
    "  --version           show the version\n"
    "  --                  end the options: every argument after it is a FILE\n"
    "\n"
    "Qt's own options (such as -platform NAME or -style NAME) are read before the --.\n"
    "\n";

}  // namespace

int main(int argc, char** argv) {
    // Answered before anything of the desktop is set up, so they work without a display.
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            std::fputs(chipsight::text::kDatabaseLocation, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("chipsight %s\n", chipsight::kVersion);
            return 0;
        }
    }
    theApp();  // the application object exists before the program starts
    return CWinApp::run(argc, argv);
}
