// The scripted blocking calls and the event-loop helpers.
#include "tests/ui/framework/scripted_blocking.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include "ui/framework/dialog.h"

int ScriptedBlocking::messageBox(QWidget* owner, const QString& text, const QString& caption,
                                 unsigned type) {
    boxes.push_back({owner, text, caption, type});
    if (boxAnswers.empty()) {
        EXPECT_EQ(type & MB_TYPEMASK, MB_OK) << "unscripted question: " << text.toStdString();
        return IDOK;
    }
    auto answer = std::move(boxAnswers.front());
    boxAnswers.pop_front();
    return answer(boxes.back());
}

std::optional<QString> ScriptedBlocking::chooseFile(QWidget*, const FileDialogRequest& request) {
    fileRequests.push_back(request);
    EXPECT_FALSE(fileAnswers.empty()) << "unscripted file dialog";
    if (fileAnswers.empty()) return std::nullopt;
    // Taken apart by hand: g++ -O2 wrongly warns about copying an optional QString here.
    const QString path = fileAnswers.front().value_or(QString());
    const bool chosen = fileAnswers.front().has_value();
    fileAnswers.pop_front();
    return chosen ? std::optional<QString>(path) : std::nullopt;
}

int ScriptedBlocking::runModal(CDialog& dialog) {
    EXPECT_FALSE(modalScripts.empty())
        << "unscripted run of " << dialog.windowTitle().toStdString();
    if (modalScripts.empty()) return IDCANCEL;
    auto script = std::move(modalScripts.front());
    modalScripts.pop_front();
    showActive(dialog);
    script(dialog);
    EXPECT_FALSE(dialog.isVisible()) << "the script left the dialog running";
    return dialog.result();
}

bool ScriptedBlocking::openUrl(const QUrl& url) {
    urls.push_back(url);
    return true;
}

void runEventsUntil(const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    poll.start(1);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    if (!done()) loop.exec();
    EXPECT_TRUE(done()) << "the awaited condition never held";
}

void showActive(QWidget& window) {
    window.show();
    window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
}
