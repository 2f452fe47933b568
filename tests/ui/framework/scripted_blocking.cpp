// The scripted modal run and the event-loop helpers.
#include "tests/ui/framework/scripted_blocking.h"

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include "ui/framework/dialog.h"

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
