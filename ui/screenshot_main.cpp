// chipsight-screenshot DIR: renders every dialog offscreen into DIR, one PNG each, so the layout
// can be looked at without a display.
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <cstdio>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/sys/file_layer.h"
#include "ui/about_dialog.h"
#include "ui/custom_entry_dialog.h"
#include "ui/framework/blocking.h"
#include "ui/framework/dialog.h"
#include "ui/main_dialog.h"
#include "ui/manual_entry_dialog.h"

namespace {

struct Screenshot {
    const char* name;
    std::function<std::unique_ptr<CDialog>()> make;
    // What to do once the dialog is up, before it is grabbed.
    std::function<void(CDialog&)> prepare = {};
};

// Nothing may wait for a person while dialogs are rendered: boxes raised while a dialog
// initialises are printed and answered No or OK, file dialogs and modal runs are cancelled.
class PreviewBlockingCalls final : public BlockingCalls {
  public:
    int messageBox(QWidget*, const QString& text, const QString& caption, unsigned type) override {
        std::fprintf(stderr, "[%s] %s\n", qPrintable(caption), qPrintable(text));
        return (type & MB_TYPEMASK) == MB_YESNO ? IDNO
               : (type & MB_TYPEMASK) == MB_OK  ? IDOK
                                                : IDCANCEL;
    }
    std::optional<QString> chooseFile(QWidget*, const FileDialogRequest&) override {
        return std::nullopt;
    }
    int runModal(CDialog&) override { return IDCANCEL; }
    bool openUrl(const QUrl&) override { return false; }
};

// One line per dialog class of the program, written as
//     {"manual_entry", [] { return std::make_unique<CManualEntryDialog>(); }},
// Templates without a class here are still rendered, bare, under the name dialog_<number>.
std::vector<Screenshot> registeredDialogs() {
    return {
        {"main_window",
         [] {
             return std::make_unique<CMainDialog>(chipsight::executablePath(),
                                                  std::vector<std::string>{});
         },
         [](CDialog& d) {
             // The demo images of examples/roms, at split level 2 as a user would look at them.
             auto& main = static_cast<CMainDialog&>(d);
             main.m_session.setSplitLevel(2);
             main.push();
             for (const char* image : {"blank_64k.bin", "lander_stuck_bit6.bin",
                                       "pinball_sound.bin", "space_raiders_u7u8.bin"})
                 main.m_session.identifyFile(std::string("examples/roms/") + image);
         }},
        {"manual_entry", [] { return std::make_unique<CManualEntryDialog>(); }},
        {"custom_entry",
         [] {
             auto d = std::make_unique<CCustomEntryDialog>();
             d->prefill(0x66C1A2BF, 8192, "pinball_sound.bin");
             return d;
         }},
        {"about", [] { return std::make_unique<CAboutDialog>(); }},
    };
}

// The dialog's client area under a plain caption bar, as a window manager would frame it.
QImage render(CDialog& dialog, const std::function<void(CDialog&)>& prepare = {}) {
    dialog.create();
    if (prepare) prepare(dialog);
    QApplication::processEvents();
    const QImage client = dialog.grab().toImage();
    const QFontMetrics fm(dialog.font());
    const int bar = fm.height() + 8;
    QImage framed(client.width() + 2, client.height() + bar + 1, QImage::Format_RGB32);
    framed.fill(QColor(0x50, 0x50, 0x58));
    QPainter painter(&framed);
    painter.setFont(dialog.font());
    painter.setPen(Qt::white);
    painter.drawText(QRect(6, 0, framed.width() - 12, bar), Qt::AlignVCenter | Qt::AlignLeft,
                     dialog.windowTitle());
    painter.drawText(QRect(6, 0, framed.width() - 12, bar), Qt::AlignVCenter | Qt::AlignRight,
                     QStringLiteral("\u00d7"));
    painter.drawImage(1, bar, client);
    painter.end();
    dialog.endDialog(IDCANCEL);
    return framed;
}

bool save(const QImage& image, const QDir& dir, const QString& name) {
    const QString path = dir.filePath(name + QStringLiteral(".png"));
    if (!image.save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    PreviewBlockingCalls preview;
    const ScopedBlockingCalls noWaiting(preview);
    if (argc != 2) {
        std::fprintf(stderr, "usage: chipsight-screenshot DIR\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    bool ok = true;
    std::set<int> shown;
    for (const Screenshot& entry : registeredDialogs()) {
        std::unique_ptr<CDialog> dialog = entry.make();
        shown.insert(dialog->dialogTemplate().id);
        ok = save(render(*dialog, entry.prepare), dir, QString::fromLatin1(entry.name)) && ok;
    }
    const QStringList templates =
        QDir(QStringLiteral(":/dialogs")).entryList({QStringLiteral("*.dlg")});
    for (const QString& file : templates) {
        const int id = file.section(u'.', 0, 0).toInt();
        if (shown.count(id) != 0) continue;
        CDialog dialog(id);
        ok = save(render(dialog), dir, QStringLiteral("dialog_%1").arg(id)) && ok;
    }
    return ok ? 0 : 1;
}
