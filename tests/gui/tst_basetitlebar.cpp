// SPDX-License-Identifier: MIT
#include "gui/frame/basedialogtitlebar.h"
#include "gui/frame/basetitlebar.h"
#include "gui/frame/basewindow.h"
#include "guitest.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

QPushButton *button(const QWidget *bar, const char *name)
{
    return bar->findChild<QPushButton *>(QString::fromLatin1(name));
}

QStringList shownButtons(const BaseTitleBar *bar)
{
    QStringList shown;
    for (const char *name : {"btnMini", "btnRestore", "btnMax", "btnClose"}) {
        if (!button(bar, name)->isHidden())
            shown << QString::fromLatin1(name);
    }
    return shown;
}

void sendMouse(QWidget *target, QEvent::Type type, const QPoint &global, Qt::MouseButtons buttons)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, target->mapFromGlobal(global), global, button, buttons, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

// Presses on the bar away from its buttons, moves the mouse by `delta` on the screen and
// releases. The bar moves with the window, so only the screen positions stay fixed.
void drag(QWidget *bar, const QPoint &delta)
{
    const QPoint start = bar->mapToGlobal(QPoint(100, 20));
    sendMouse(bar, QEvent::MouseButtonPress, start, Qt::LeftButton);
    sendMouse(bar, QEvent::MouseMove, start + delta / 2, Qt::LeftButton);
    sendMouse(bar, QEvent::MouseMove, start + delta, Qt::LeftButton);
    sendMouse(bar, QEvent::MouseButtonRelease, start + delta, Qt::NoButton);
}

void doubleClick(QWidget *bar)
{
    const QPoint spot = bar->mapToGlobal(QPoint(100, 20));
    sendMouse(bar, QEvent::MouseButtonPress, spot, Qt::LeftButton);
    sendMouse(bar, QEvent::MouseButtonRelease, spot, Qt::NoButton);
    sendMouse(bar, QEvent::MouseButtonDblClick, spot, Qt::LeftButton);
    sendMouse(bar, QEvent::MouseButtonRelease, spot, Qt::NoButton);
}

} // namespace

class TestBaseTitleBar final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(GuiTest::applyStyleSheet()); }
    void setButtonType_showsTheButtonsOfTheType_data();
    void setButtonType_showsTheButtonsOfTheType();
    void doubleClick_onlyTypeOne_togglesFullScreen_data();
    void doubleClick_onlyTypeOne_togglesFullScreen();
    void drag_movesWindowUnlessFullScreen();
    void buttons_minimiseAndClose_actAndAnnounce();
    void windowTitle_longTitle_elidedWithWholeTitleAsToolTip();
    void baseWindow_body_keptInsideShadowBorder();
    void dialogTitleBar_followsParentWidthTitleAndDrag();
};

void TestBaseTitleBar::setButtonType_showsTheButtonsOfTheType_data()
{
    QTest::addColumn<QList<int>>("types");
    QTest::addColumn<QStringList>("shown");

    const QString mini = QStringLiteral("btnMini");
    const QString max = QStringLiteral("btnMax");
    const QString close = QStringLiteral("btnClose");
    QTest::newRow("initial type 1") << QList<int>{} << QStringList{mini, max, close};
    QTest::newRow("0: minimise and close") << QList<int>{0} << QStringList{mini, close};
    QTest::newRow("2: close only") << QList<int>{2} << QStringList{close};
    QTest::newRow("2 then 1 brings the buttons back") << QList<int>{2, 1} << QStringList{mini, max, close};
    QTest::newRow("unknown type changes nothing") << QList<int>{0, 7} << QStringList{mini, close};
}

void TestBaseTitleBar::setButtonType_showsTheButtonsOfTheType()
{
    QFETCH(QList<int>, types);
    QFETCH(QStringList, shown);

    BaseWindow window;
    for (const int type : types)
        window.setButtonType(type);
    QCOMPARE(shownButtons(window.titleBar()), shown);
    QCOMPARE(window.titleBar()->buttonType(), types.isEmpty() ? 1 : types.last());
}

void TestBaseTitleBar::doubleClick_onlyTypeOne_togglesFullScreen_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("type 0") << 0;
    QTest::newRow("type 1") << 1;
    QTest::newRow("type 2") << 2;
}

void TestBaseTitleBar::doubleClick_onlyTypeOne_togglesFullScreen()
{
    QFETCH(int, type);

    BaseWindow window;
    window.setButtonType(type);
    window.setGeometry(100, 100, 600, 400);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    BaseTitleBar *bar = window.titleBar();
    const QStringList before = shownButtons(bar);
    QSignalSpy maxSpy(bar, &BaseTitleBar::maxMsg);
    QSignalSpy restoreSpy(bar, &BaseTitleBar::restoreMsg);

    doubleClick(bar);
    if (type != 1) {
        QCOMPARE(maxSpy.count(), 0);
        QVERIFY(!(window.windowState() & Qt::WindowFullScreen));
        QCOMPARE(shownButtons(bar), before);
        return;
    }
    QCOMPARE(maxSpy.count(), 1);
    QTRY_VERIFY(window.windowState() & Qt::WindowFullScreen);
    QCOMPARE(shownButtons(bar),
             (QStringList{QStringLiteral("btnMini"), QStringLiteral("btnRestore"), QStringLiteral("btnClose")}));

    doubleClick(bar);
    QCOMPARE(restoreSpy.count(), 1);
    QTRY_VERIFY(!(window.windowState() & Qt::WindowFullScreen));
    QCOMPARE(shownButtons(bar), before);
}

void TestBaseTitleBar::drag_movesWindowUnlessFullScreen()
{
    BaseWindow window;
    window.setGeometry(100, 100, 600, 400);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    BaseTitleBar *bar = window.titleBar();

    drag(bar, QPoint(30, 20));
    QTRY_COMPARE(window.pos(), QPoint(130, 120));

    // Type 0 cannot go full screen but still moves.
    window.setButtonType(0);
    drag(bar, QPoint(-10, 5));
    QTRY_COMPARE(window.pos(), QPoint(120, 125));

    // Moving without a press on the bar moves nothing.
    sendMouse(bar, QEvent::MouseMove, bar->mapToGlobal(QPoint(150, 30)), Qt::NoButton);
    QCOMPARE(window.pos(), QPoint(120, 125));

    window.setButtonType(1);
    QTest::mouseClick(button(bar, "btnMax"), Qt::LeftButton);
    QTRY_VERIFY(window.windowState() & Qt::WindowFullScreen);
    const QPoint fullScreenPos = window.pos();
    drag(bar, QPoint(40, 40));
    QCOMPARE(window.pos(), fullScreenPos);
}

void TestBaseTitleBar::buttons_minimiseAndClose_actAndAnnounce()
{
    BaseWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    BaseTitleBar *bar = window.titleBar();
    QSignalSpy miniSpy(bar, &BaseTitleBar::miniMsg);
    QSignalSpy closeSpy(bar, &BaseTitleBar::closeMsg);

    QTest::mouseClick(button(bar, "btnMini"), Qt::LeftButton);
    QCOMPARE(miniSpy.count(), 1);
    QTRY_VERIFY(window.windowState() & Qt::WindowMinimized);

    window.showNormal();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(button(bar, "btnClose"), Qt::LeftButton);
    QCOMPARE(closeSpy.count(), 1);
    QTRY_VERIFY(!window.isVisible());
}

void TestBaseTitleBar::windowTitle_longTitle_elidedWithWholeTitleAsToolTip()
{
    BaseWindow window;
    auto *title = window.titleBar()->findChild<QLabel *>(QStringLiteral("lblTitle"));

    window.setWindowTitle(QStringLiteral("视频上传工具"));
    QCOMPARE(title->text(), QStringLiteral("视频上传工具"));

    const QString longTitle = QStringLiteral("视频上传工具").repeated(20);
    window.setWindowTitle(longTitle);
    QVERIFY(title->text().endsWith(QChar(0x2026)));
    // Measured in the title's own (style sheet) font, not the default one.
    QVERIFY(title->fontMetrics().horizontalAdvance(title->text()) <= 500);
    QVERIFY(title->fontMetrics().horizontalAdvance(title->text()) > 400);
    QCOMPARE(title->toolTip(), longTitle);

    window.setVersion(QStringLiteral(" v:1.0.0.19"));
    QCOMPARE(window.titleBar()->findChild<QLabel *>(QStringLiteral("lblVersion"))->text(),
             QStringLiteral(" v:1.0.0.19"));
}

void TestBaseTitleBar::baseWindow_body_keptInsideShadowBorder()
{
    BaseWindow window;
    QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(window.testAttribute(Qt::WA_TranslucentBackground));
    QCOMPARE(window.size(), QSize(400, 300));
    QCOMPARE(window.windowBody()->geometry(), QRect(24, 24, 352, 252));

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.resize(700, 500);
    QTRY_COMPARE(window.windowBody()->geometry(), QRect(24, 24, 652, 452));
    QCOMPARE(window.titleBar()->geometry(), QRect(0, 0, 652, 53));
    QCOMPARE(window.titleBar()->objectName(), QStringLiteral("BaseTitleBar"));
}

void TestBaseTitleBar::dialogTitleBar_followsParentWidthTitleAndDrag()
{
    QWidget dialog;
    dialog.resize(600, 300);
    auto *body = new QWidget(&dialog);
    body->resize(368, 185);
    auto *bar = new BaseDialogTitleBar(&dialog, body);
    QCOMPARE(bar->size(), QSize(368, 48));
    dialog.setWindowTitle(QStringLiteral("提示"));
    QCOMPARE(bar->title(), QStringLiteral("提示"));

    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    body->resize(552, 185);
    QTRY_COMPARE(bar->width(), 552);
    body->resize(300, 185);
    QTRY_COMPARE(bar->width(), 300);

    QSignalSpy closeSpy(bar, &BaseDialogTitleBar::closeMsg);
    QTest::mouseClick(bar->closeButton(), Qt::LeftButton);
    QCOMPARE(closeSpy.count(), 1);

    dialog.move(200, 200);
    QTRY_COMPARE(dialog.pos(), QPoint(200, 200));
    drag(bar, QPoint(15, -5));
    QTRY_COMPARE(dialog.pos(), QPoint(215, 195));
}

QTEST_MAIN(TestBaseTitleBar)
#include "tst_basetitlebar.moc"
