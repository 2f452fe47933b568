// The About box.
#include "ui/about_dialog.h"

#include "ui/framework/blocking.h"

CAboutDialog::CAboutDialog() : CDialog(100) {
    handleClick(IDC_FORUM, &CAboutDialog::openForumPage);
    handleClick(IDC_DATA_FILES, &CAboutDialog::openDataFilesPage);
    handleClick(IDC_MAKER, &CAboutDialog::openMakerSite);
}

// A page that cannot be opened is not reported; the box stays as it is.
void CAboutDialog::openForumPage() { openUrl(QString::fromLatin1(kForumPage)); }
void CAboutDialog::openDataFilesPage() { openUrl(QString::fromLatin1(kDataFilesPage)); }
void CAboutDialog::openMakerSite() { openUrl(QString::fromLatin1(kMakerSite)); }
