// The About box, with its three buttons that open web pages.
#pragma once

#include "ui/framework/dialog.h"

// The pages the About box opens.
inline constexpr const char* kForumPage =
    "http://forum.chipsight.example/ubbthreads/ubbthreads.php?Cat=&C=2";
inline constexpr const char* kDataFilesPage = "http://data.chipsight.example/chiplore.html";
inline constexpr const char* kMakerSite = "http://www.chipsight.example";

class CAboutDialog : public CDialog {
  public:
    enum : int { IDC_DATA_FILES = 1003, IDC_FORUM = 1004, IDC_MAKER = 1005 };

    CAboutDialog();

    void openForumPage();
    void openDataFilesPage();
    void openMakerSite();
};
