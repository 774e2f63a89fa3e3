// SPDX-License-Identifier: MIT
// The title bar as the main window uses it (type 0: minimise and close, never full screen).
#include "gui/frame/basetitlebar.h"
#include "gui/frame/basewindow.h"
#include "guitest.h"

using GuiTest::child;

class TestBaseTitleBar final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(GuiTest::applyStyleSheet()); }

    void typeZero_buttonsDragAndDoubleClick_actOnTheWindow()
    {
        BaseWindow window;
        window.setButtonType(0);
        BaseTitleBar *bar = window.titleBar();
        QVERIFY(!child(bar, "btnMini")->isHidden() && !child(bar, "btnClose")->isHidden());
        QVERIFY(child(bar, "btnMax")->isHidden() && child(bar, "btnRestore")->isHidden());
        window.setGeometry(100, 100, 600, 400);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTest::mouseDClick(bar, Qt::LeftButton, Qt::NoModifier, QPoint(100, 20));

        // Pressed away from the buttons, moved and released: the window follows the mouse on
        // the screen (the bar moves with it); moving on without a press moves nothing.
        const QPoint start = bar->mapToGlobal(QPoint(100, 20));
        const auto send = [bar](QEvent::Type type, const QPoint &global, Qt::MouseButtons held) {
            const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
            QMouseEvent event(type, bar->mapFromGlobal(global), global, button, held, Qt::NoModifier);
            QApplication::sendEvent(bar, &event);
        };
        send(QEvent::MouseButtonPress, start, Qt::LeftButton);
        send(QEvent::MouseMove, start + QPoint(15, 10), Qt::LeftButton);
        send(QEvent::MouseMove, start + QPoint(30, 20), Qt::LeftButton);
        send(QEvent::MouseButtonRelease, start + QPoint(30, 20), Qt::NoButton);
        send(QEvent::MouseMove, start + QPoint(60, 40), Qt::NoButton);
        QTRY_COMPARE(window.pos(), QPoint(130, 120));
        QVERIFY(!(window.windowState() & Qt::WindowFullScreen));

        QSignalSpy closed(bar, &BaseTitleBar::closeMsg);
        QTest::mouseClick(child<QPushButton>(bar, "btnMini"), Qt::LeftButton);
        QTRY_VERIFY(window.windowState() & Qt::WindowMinimized);
        window.showNormal();
        QTest::mouseClick(child<QPushButton>(bar, "btnClose"), Qt::LeftButton);
        QCOMPARE(closed.count(), 1);
        QVERIFY(!window.isVisible());
    }
};

QTEST_MAIN(TestBaseTitleBar)
#include "tst_basetitlebar.moc"
