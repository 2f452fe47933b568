// The real blocking calls, answered from inside their own event loops: the message box maps its
// buttons and icon, and a real modal run keeps timers ticking and ends on Escape.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include "tests/ui/framework/demo_dialog.h"
#include "ui/framework/blocking.h"

namespace {

// Runs `act` on the modal widget as soon as the nested loop has one up.
void whenModal(std::function<void(QWidget*)> act) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            poll->stop();
            poll->deleteLater();
            act(modal);
        }
    });
    poll->start(1);
}

// Ends whatever modal run is still up after a long while, so a fault fails instead of hanging.
class StuckGuard {
  public:
    StuckGuard() {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [] {
            if (auto* modal = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                ADD_FAILURE() << "the modal run did not end";
                modal->done(0);
            }
        });
        timer_.start(10000);
    }

  private:
    QTimer timer_;
};

TEST(DesktopCalls, MessageBoxShowsItsTypeAndReportsTheButton) {
    StuckGuard guard;
    CDemoDialog owner;
    QString seen;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    whenModal([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        seen = box->windowTitle() + u'|' + box->text();
        icon = box->icon();
        box->button(QMessageBox::No)->click();
    });
    EXPECT_EQ(messageBox(&owner, QStringLiteral("Replace?"), QStringLiteral("Save As"),
                         MB_YESNO | MB_ICONEXCLAMATION),
              IDNO);
    EXPECT_EQ(seen, QStringLiteral("Save As|Replace?"));
    EXPECT_EQ(icon, QMessageBox::Warning);
}

TEST(DesktopCalls, ABoxOfAWindowNotShownYetIsCentredOnTheScreen) {
    StuckGuard guard;
    CDemoDialog owner;  // built, as the main window is while it loads, but not shown
    owner.move(0, 0);
    QPoint centre, screenCentre;
    whenModal([&](QWidget* modal) {
        centre = modal->frameGeometry().center();
        screenCentre = modal->screen()->availableGeometry().center();
        qobject_cast<QDialog*>(modal)->done(0);
    });
    messageBox(&owner, QStringLiteral("Cannot Open CHIPLORE.GAM"), QStringLiteral("Error"),
               MB_ICONSTOP);
    EXPECT_LE((centre - screenCentre).manhattanLength(), 4) << centre.x() << "," << centre.y();
}

TEST(DesktopCalls, ModalRunTicksTimersAndEndsOnEscape) {
    StuckGuard guard;
    CDemoDialog dialog;
    dialog.setTimer(2, 1);
    whenModal([&](QWidget* modal) {
        EXPECT_EQ(modal, &dialog);
        auto* waitForTicks = new QTimer(modal);
        QObject::connect(waitForTicks, &QTimer::timeout, [&, waitForTicks] {
            if (dialog.ticks.size() < 3) return;
            waitForTicks->stop();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        });
        waitForTicks->start(1);
    });
    EXPECT_EQ(dialog.doModal(), IDCANCEL);
    EXPECT_GE(dialog.ticks.size(), 3u);
    EXPECT_EQ(dialog.events.back(), "destroy");
}

}  // namespace
