// The main window's handlers: start-up, the log, the options, drops, and the file monitor.
#include "ui/main_dialog.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QTextBlock>
#include <QTextCursor>
#include <QVBoxLayout>
#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "core/identify/texts.h"
#include "core/sys/file_layer.h"
#include "ui/about_dialog.h"
#include "ui/custom_entry_dialog.h"
#include "ui/framework/blocking.h"
#include "ui/framework/byte_text.h"
#include "ui/framework/file_dialog.h"
#include "ui/manual_entry_dialog.h"

// The core's message-box types are handed to the framework as they are.
static_assert(unsigned(MB_OK) == chipsight::MB_OK &&
              unsigned(MB_OKCANCEL) == chipsight::MB_OKCANCEL &&
              unsigned(MB_YESNO) == chipsight::MB_YESNO &&
              unsigned(MB_ICONSTOP) == chipsight::MB_ICONSTOP &&
              unsigned(MB_ICONQUESTION) == chipsight::MB_ICONQUESTION &&
              unsigned(MB_ICONEXCLAMATION) == chipsight::MB_ICONEXCLAMATION &&
              unsigned(MB_ICONINFORMATION) == chipsight::MB_ICONINFORMATION);

namespace {

constexpr std::size_t kTailCheck = 64;

// The window's texts in the string table (res/strings.txt).
enum StringId : int {
    kAboutEntry = 101,
    kCannotSave = 102,
    kDiskFull = 103,
    kAccessError = 104,
    kHelpCaption = 105,
    kHelpText = 106,  // what F1 shows, the program having no online help
    kLogName = 107,
    kSplitLevelName = 108,
    kDatabasesEntry = 109,
    kDatabasesCaption = 110,
    kDoctorEntry = 111,
    kLoadProgress = 112,
    kBoardEntry = 113,
    kWriteSetEntry = 114,
    kReplaceQuestion = 115,
    kBurnEntry = 116,
    kCollectionEntry = 117,
};

// Where the window keeps what the user sets once: the folders of their own ROM sets.
QSettings settings() {
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Chipsight"),
                     QStringLiteral("chipsight"));
}
constexpr const char* kCollectionKey = "collection";

}  // namespace

CMainDialog::CMainDialog(std::string programPath, std::vector<std::string> arguments)
    : CDialog(102), m_session(*this, std::move(programPath), std::move(arguments)) {
    handleDropFiles(&CMainDialog::onDropFiles);
    handleClick(IDOK, &CMainDialog::onDone);
    handleDestroy(&CMainDialog::onDestroy);
    handleClick(IDC_CLEAR_LOG, &CMainDialog::onClearLog);
    handleClick(IDC_SAVE_LOG, &CMainDialog::onSaveLog);
    handleClick(IDC_ALWAYS_ON_TOP, &CMainDialog::onAlwaysOnTop);
    handleClick(IDC_MONITOR_FILE, &CMainDialog::onMonitorFile);
    handleTimer(&CMainDialog::onTimer);
    handleClick(IDC_LOAD_FILE, &CMainDialog::onLoadFile);
    handleChange(IDC_SPLIT_LEVEL, &CMainDialog::onSplitLevelChange);
    handleClick(IDC_IGNORE_BAD, &CMainDialog::onIgnoreBad);
    handleClick(IDC_ADD_CUSTOM, &CMainDialog::addToCustomDb);
    handleClick(IDC_MANUAL_ENTRY, &CMainDialog::showManualEntry);
    handleSystemCommand(&CMainDialog::onSystemCommand);
    handleHelp(&CMainDialog::onHelp);
}

// ---- the front end of the core ----

void CMainDialog::messageBox(const std::string& text, const std::string& caption, unsigned type) {
    // A box belongs to the dialog in front: a secondary dialog's checks show over it.
    QWidget* owner = QApplication::activeModalWidget();
    ::messageBox(owner != nullptr ? owner : this, bytesToText(text), bytesToText(caption), type);
}

void CMainDialog::push() {
    updateData(false);
    // The check box and the watch agree: whatever cleared the box stops the timer too.
    if (m_session.m_monitorFile == 0) killTimer(kMonitorTimer);
}

void CMainDialog::setTitle(const std::string& title) { setWindowTitle(bytesToText(title)); }

void CMainDialog::enableAddCustomButton() { m_addCustomButton->setEnabled(true); }

int CMainDialog::logLineCount() { return m_logEdit->document()->blockCount(); }

void CMainDialog::scrollLog(int lines) {
    QScrollBar* bar = m_logEdit->verticalScrollBar();
    bar->setValue(bar->value() + lines);
}

// ---- data exchange ----

void CMainDialog::doDataExchange(CDataExchange& dx) {
    dx.control(IDC_ADD_CUSTOM, m_addCustomButton);
    dx.control(IDC_LOG, m_logEdit);
    exchangeLog(dx.m_bSaveAndValidate);
    dx.check(IDC_ALWAYS_ON_TOP, m_alwaysOnTop);
    dx.check(IDC_MONITOR_FILE, m_session.m_monitorFile);
    dx.integer(IDC_SPLIT_LEVEL, m_session.m_splitLevel);
    // Identification only ever sees a level of 1 to 9; the box keeps what the user typed.
    if (dx.m_bSaveAndValidate) m_session.m_splitLevel = std::clamp(m_session.m_splitLevel, 1, 9);
    dx.check(IDC_IGNORE_BAD, m_session.m_ignoreBad);
}

void CMainDialog::exchangeLog(bool pull) {
    QTextDocument* document = m_logEdit->document();
    const auto remember = [&] {
        m_shownSize = m_session.m_logText.size();
        m_shownTail = m_session.m_logText.substr(m_shownSize - std::min(m_shownSize, kTailCheck));
        document->setModified(false);
    };
    if (pull) {
        // Unless the user has typed since the last exchange, the box holds the log as it is.
        if (!document->isModified()) return;
        m_session.m_logText = textToBytes(windowText(IDC_LOG));
        remember();
        return;
    }
    const bool grown = !document->isModified() && m_session.m_logText.size() >= m_shownSize &&
                       (m_shownSize == 0 || m_session.m_logText[m_shownSize - 1] != '\r') &&
                       m_session.m_logText.compare(m_shownSize - m_shownTail.size(),
                                                   m_shownTail.size(), m_shownTail) == 0;
    if (grown && m_shownSize == m_session.m_logText.size()) return;
    if (grown && m_shownSize > 0) {
        QString rest = bytesToText(std::string_view(m_session.m_logText).substr(m_shownSize));
        rest.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        QTextCursor cursor(document);
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(rest);
    } else {
        setWindowText(IDC_LOG, bytesToText(m_session.m_logText));
    }
    remember();
}

// ---- start-up ----

void CMainDialog::loadProgress(const std::string& file, std::uint64_t done, std::uint64_t total) {
    if (file.empty()) {
        m_loadProgress.reset();
        return;
    }
    if (!m_loadProgress) {
        // The first load runs before this window is shown: a box owned by it then would sit at
        // its corner, so it is owned by nobody and centred on the screen, as the message boxes
        // are.
        m_loadProgress = std::make_unique<QDialog>(isVisible() ? this : nullptr);
        m_loadProgress->setWindowTitle(loadString(kDatabasesCaption));
        m_loadProgress->setWindowModality(Qt::ApplicationModal);
        auto* layout = new QVBoxLayout(m_loadProgress.get());
        layout->setSizeConstraint(QLayout::SetFixedSize);
        m_loadLabel = new QLabel;
        m_loadLabel->setAlignment(Qt::AlignCenter);
        // Wide enough for a long path, and not changing as paths come and go.
        m_loadLabel->setFixedWidth(m_loadLabel->fontMetrics().averageCharWidth() * 56);
        m_loadBar = new QProgressBar;
        m_loadBar->setRange(0, 1000);
        layout->addWidget(m_loadLabel);
        layout->addWidget(m_loadBar);
    }
    // The file, and how far the whole load is, in megabytes.
    const QString path = m_loadLabel->fontMetrics().elidedText(bytesToText(file), Qt::ElideMiddle,
                                                               m_loadLabel->width());
    m_loadLabel->setText(loadString(kLoadProgress)
                             .arg(path)
                             .arg(double(done) / 1e6, 0, 'f', 0)
                             .arg(double(total) / 1e6, 0, 'f', 0));
    m_loadBar->setValue(total == 0 ? 0 : int(done * 1000 / total));
    if (!m_loadProgress->isVisible()) {
        m_loadProgress->adjustSize();
        const QWidget* owner = m_loadProgress->parentWidget();
        const QRect around = owner != nullptr ? owner->frameGeometry()
                                              : m_loadProgress->screen()->availableGeometry();
        m_loadProgress->move(around.center() - m_loadProgress->rect().center());
        m_loadProgress->show();
    }
    QApplication::processEvents();
}

bool CMainDialog::onInitDialog() {
    CDialog::onInitDialog();
    const QString about = loadString(kAboutEntry);
    if (!about.isEmpty()) {
        appendSystemMenuSeparator();
        // Off at start, like every option.
        m_doctorItem = appendSystemMenuItem(IDM_DOCTOR, loadString(kDoctorEntry));
        m_doctorItem->setCheckable(true);
        m_doctorItem->setChecked(false);
        appendSystemMenuItem(IDM_BOARD, loadString(kBoardEntry));
        appendSystemMenuItem(IDM_WRITE_SET, loadString(kWriteSetEntry));
        appendSystemMenuItem(IDM_BURN, loadString(kBurnEntry));
        appendSystemMenuItem(IDM_COLLECTION, loadString(kCollectionEntry));
        appendSystemMenuItem(IDM_DATABASES, loadString(kDatabasesEntry));
        appendSystemMenuItem(IDM_ABOUTBOX, about);
    }
    setWindowIcon(loadIcon(128));
    // The two boxes whose labels a screen reader cannot find by itself.
    m_logEdit->setAccessibleName(loadString(kLogName));
    item(IDC_SPLIT_LEVEL)->setAccessibleName(loadString(kSplitLevelName));
    dragAcceptFiles(true);
    std::vector<std::string> collection;
    for (const QString& path : settings().value(kCollectionKey).toStringList())
        collection.push_back(textToBytes(path));
    m_session.setCollection(collection);
    m_session.loadDatabases();
    // Taken from the back of a reversed list, so each piece leaves it in constant time.
    std::reverse(m_session.m_commandLine.begin(), m_session.m_commandLine.end());
    while (!m_session.m_commandLine.empty()) {
        const std::string piece = std::move(m_session.m_commandLine.back());
        m_session.m_commandLine.pop_back();
        m_session.identifyFile(piece);
    }
    return true;
}

// ---- handlers ----

void CMainDialog::onDropFiles(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) m_session.identifyFile(path);
}

void CMainDialog::onDone() {
    if (updateData(true)) endDialog(IDOK);
}

void CMainDialog::onDestroy() { killTimer(kMonitorTimer); }

void CMainDialog::onClearLog() {
    m_session.m_logText.clear();
    push();
}

void CMainDialog::onSaveLog() {
    CFileDialog dialog(false, QStringLiteral("log"), QString(),
                       OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, QString(), this);
    if (dialog.doModal() != IDOK) return;
    const std::string path = dialog.getPathBytes();
    auto file = chipsight::File::open(path, chipsight::File::Mode::ReadWriteCreate);
    if (!file) {
        ::messageBox(this, loadString(kCannotSave), QString::fromUtf8(chipsight::text::kError),
                     MB_ICONSTOP);
        return;
    }
    try {
        file->truncate(0);
        pull();
        file->write(m_session.m_logText.data(), m_session.m_logText.size());
        file->close();
    } catch (const chipsight::FileError& e) {
        // What was written stays; the report names the cause as the framework words it.
        const QString name = bytesToText(chipsight::fileNameOf(path));
        const QString text = e.error() == ENOSPC ? loadString(kDiskFull).arg(name)
                                                 : loadString(kAccessError).arg(name);
        frameworkMessageBox(this, text, MB_ICONSTOP);
    }
}

void CMainDialog::onAlwaysOnTop() {
    pull();
    setTopmost(m_alwaysOnTop != 0);
}

void CMainDialog::onMonitorFile() {
    pull();
    if (m_session.m_monitorFile == 0) {
        killTimer(kMonitorTimer);
        return;
    }
    CFileDialog dialog(true, QString(), QString(), 0, QString(), this);
    if (dialog.doModal() != IDOK) {
        m_session.m_monitorFile = 0;
    } else if (m_session.startMonitor(dialog.getPathBytes())) {
        setTimer(kMonitorTimer, kMonitorPeriodMs);
    }
    push();
}

void CMainDialog::onTimer(unsigned /*id*/) { m_session.monitorTick(); }

void CMainDialog::onLoadFile() {
    CFileDialog dialog(true, QString(), QString(), 0, QString(), this);
    if (dialog.doModal() == IDOK) m_session.identifyFile(dialog.getPathBytes());
}

void CMainDialog::onSplitLevelChange() {
    // The clamp into 1 to 9 is part of every pull.
    pull();
}

void CMainDialog::onIgnoreBad() { pull(); }

void CMainDialog::addToCustomDb() {
    CCustomEntryDialog dialog;
    dialog.prefill(m_session.m_lastCrc, m_session.m_lastSize, m_session.m_lastFileName);
    dialog.doModal();
}

void CMainDialog::showManualEntry() {
    CManualEntryDialog dialog;
    dialog.doModal();
}

void CMainDialog::onSystemCommand(unsigned id, long param) {
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDialog about;
        about.doModal();
    } else if ((id & 0xFFF0) == IDM_DOCTOR) {
        m_session.setDoctor(!m_session.doctor());
        if (m_doctorItem != nullptr) m_doctorItem->setChecked(m_session.doctor());
    } else if ((id & 0xFFF0) == IDM_BOARD) {
        // A folder of the board's dumps, or an archive of them.
        CFileDialog dialog(true, QString(), QString(), OFN_FOLDERORFILE, QString(), this);
        if (dialog.doModal() == IDOK) m_session.identifyBoard({dialog.getPathBytes()});
    } else if ((id & 0xFFF0) == IDM_WRITE_SET) {
        // The folder the set's zip goes into; a zip there already is replaced only when asked.
        CFileDialog dialog(true, QString(), QString(), OFN_FOLDERORFILE, QString(), this);
        if (dialog.doModal() != IDOK) return;
        const std::string folder = dialog.getPathBytes();
        bool exists = false;
        m_session.writeBoardSet(folder, false, &exists);
        if (exists &&
            ::messageBox(this, loadString(kReplaceQuestion).arg(bytesToText(folder)),
                         QStringLiteral("Chipsight"), MB_YESNO | MB_ICONQUESTION) == IDYES)
            m_session.writeBoardSet(folder, true);
    } else if ((id & 0xFFF0) == IDM_BURN) {
        // The folder the images go into, each in the folder of its set.
        CFileDialog dialog(true, QString(), QString(), OFN_FOLDERORFILE, QString(), this);
        if (dialog.doModal() == IDOK) m_session.burnBoardImages(dialog.getPathBytes());
    } else if ((id & 0xFFF0) == IDM_COLLECTION) {
        // The folder (or archive) of the user's own ROM sets, kept for the runs that follow.
        CFileDialog dialog(true, QString(), QString(), OFN_FOLDERORFILE, QString(), this);
        if (dialog.doModal() != IDOK) return;
        const std::string path = dialog.getPathBytes();
        settings().setValue(kCollectionKey, QStringList{bytesToText(path)});
        m_session.setCollection({path});
    } else if ((id & 0xFFF0) == IDM_DATABASES) {
        ::messageBox(this, bytesToText(m_session.databaseListing()), loadString(kDatabasesCaption),
                     MB_OK | MB_ICONINFORMATION);
    } else {
        defaultSystemCommand(id, param);
    }
}

void CMainDialog::onHelp() {
    const QString help =
        loadString(kHelpText).arg(QString::fromUtf8(chipsight::text::kDatabaseLocation));
    ::messageBox(this, help, loadString(kHelpCaption), MB_OK | MB_ICONINFORMATION);
}
