// The scripted blocking calls and the event-loop helper.
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
    if (fileAnswers.empty()) {
        ADD_FAILURE() << "unscripted file dialog";
        return std::nullopt;
    }
    // Taken apart by hand: g++ -O2 wrongly warns about copying an optional QString here.
    const bool chosen = fileAnswers.front().has_value();
    const QString path = chosen ? *fileAnswers.front() : QString();
    fileAnswers.pop_front();
    return chosen ? std::optional<QString>(path) : std::nullopt;
}

int ScriptedBlocking::runModal(CDialog& dialog) {
    if (modalScripts.empty()) {
        ADD_FAILURE() << "unscripted modal run of " << dialog.windowTitle().toStdString();
        return IDCANCEL;
    }
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
    bool gaveUp = false;
    QTimer::singleShot(10000, &loop, [&] {
        gaveUp = true;
        loop.quit();
    });
    poll.start(1);
    if (!done()) loop.exec();
    EXPECT_FALSE(gaveUp) << "the awaited condition never held";
}

void showActive(QWidget& window) {
    window.show();
    window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
}
