// The application object and the program's entry.
#include "ui/framework/win_app.h"

#include <QApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QPluginLoader>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {
CWinApp* g_app = nullptr;

// Whether a platform plugin answers to one of the names of a -platform value ("name:options",
// or several such parted by ';'). Qt ends the program with an abort when none does, so a file
// name taken for the value must be caught before Qt starts.
bool platformAvailable(const QString& value, const QString& extraDirectory) {
    QStringList directories = {QLibraryInfo::path(QLibraryInfo::PluginsPath) +
                               QStringLiteral("/platforms")};
    for (const QString& base :
         qEnvironmentVariable("QT_PLUGIN_PATH").split(u':', Qt::SkipEmptyParts))
        directories << base + QStringLiteral("/platforms");
    directories << qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH") << extraDirectory;
    QStringList keys;
    for (const QString& directory : directories) {
        if (directory.isEmpty()) continue;
        for (const QString& file : QDir(directory).entryList(QDir::Files)) {
            const QJsonObject meta = QPluginLoader(directory + u'/' + file).metaData();
            for (const QJsonValue key : meta.value(QStringLiteral("MetaData"))
                                            .toObject()
                                            .value(QStringLiteral("Keys"))
                                            .toArray())
                keys << key.toString();
        }
    }
    for (const QString& choice : value.split(u';', Qt::SkipEmptyParts)) {
        if (keys.contains(choice.section(u':', 0, 0), Qt::CaseInsensitive)) return true;
    }
    return false;
}
}  // namespace

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
    QString platform, pluginDirectory;
    for (int i = 1; i + 1 < shown; ++i) {
        const char* option = argv[i][0] == '-' && argv[i][1] == '-' ? argv[i] + 1 : argv[i];
        if (std::strcmp(option, "-platform") == 0) platform = QString::fromLocal8Bit(argv[i + 1]);
        if (std::strcmp(option, "-platformpluginpath") == 0)
            pluginDirectory = QString::fromLocal8Bit(argv[i + 1]);
    }
    if (!platform.isEmpty() && QCoreApplication::instance() == nullptr &&
        !platformAvailable(platform, pluginDirectory)) {
        const char* slash = std::strrchr(argv[0], '/');
        std::fprintf(
            stderr,
            "%s: no display platform is called \"%s\"; to open a file whose name begins with -, "
            "write -- before it\n",
            slash != nullptr ? slash + 1 : argv[0], platform.toLocal8Bit().constData());
        return 2;
    }
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
