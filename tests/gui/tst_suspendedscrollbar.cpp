// SPDX-License-Identifier: MIT
#include "gui/toolkit/suspendedscrollbar.h"
#include "gui/toolkit/suspendedscrollbarlistwidget.h"
#include "guitest.h"

#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

namespace {

void addRows(QListWidget *list, int count)
{
    for (int i = 0; i < count; ++i) {
        auto *item = new QListWidgetItem(QStringLiteral("row %1").arg(list->count()), list);
        item->setSizeHint(QSize(0, 50));
    }
}

void sendCrossing(QWidget *widget, QEvent::Type type)
{
    QEvent event(type);
    QApplication::sendEvent(widget, &event);
}

} // namespace

class TestSuspendedScrollBar final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void hover_showsBarOnlyWhenThereIsSomethingToScroll();
    void scrolling_listAndBarStayInSync();
    void resize_placesBarFlushWithRightEdge();
    void rangeChanged_minimumZeroPageStepAndHiding();
};

void TestSuspendedScrollBar::initTestCase()
{
    QVERIFY(GuiTest::applyStyleSheet());
}

void TestSuspendedScrollBar::hover_showsBarOnlyWhenThereIsSomethingToScroll()
{
    SuspendedScrollBarListWidget list;
    list.resize(300, 200);
    addRows(&list, 3);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    SuspendedScrollBar *bar = list.suspendedScrollBar();
    QCOMPARE(list.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(list.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

    // Rows fit: nothing to scroll, so no bar even under the mouse.
    sendCrossing(&list, QEvent::Enter);
    QCoreApplication::processEvents();
    QCOMPARE(bar->maximum(), 0);
    QVERIFY(!bar->isVisible());

    // Rows added under the mouse make the bar appear as soon as there is a range.
    addRows(&list, 10);
    QTRY_VERIFY(bar->isVisible());
    QCOMPARE(bar->maximum(), list.verticalScrollBar()->maximum());
    QVERIFY(bar->maximum() > 0);

    sendCrossing(&list, QEvent::Leave);
    QVERIFY(!bar->isVisible());
    sendCrossing(&list, QEvent::Enter);
    QVERIFY(bar->isVisible());

    // Back to rows that fit: the bar goes away although the mouse is still there.
    while (list.count() > 2)
        delete list.takeItem(0);
    QTRY_VERIFY(!bar->isVisible());
}

void TestSuspendedScrollBar::scrolling_listAndBarStayInSync()
{
    SuspendedScrollBarListWidget list;
    list.resize(300, 200);
    addRows(&list, 20);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    SuspendedScrollBar *bar = list.suspendedScrollBar();
    QScrollBar *own = list.verticalScrollBar();
    QTRY_VERIFY(own->maximum() > 0);

    const QPointF inside(100, 100);
    QWheelEvent wheel(inside, list.viewport()->mapToGlobal(inside.toPoint()), QPoint(), QPoint(0, -120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(list.viewport(), &wheel);
    QTRY_VERIFY(own->value() > 0);
    QCOMPARE(bar->value(), own->value());

    // Moving the floating bar (what dragging its handle does) scrolls the list.
    bar->setValue(own->maximum() / 2);
    QCOMPARE(own->value(), own->maximum() / 2);
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    QCOMPARE(own->value(), own->maximum());
}

void TestSuspendedScrollBar::resize_placesBarFlushWithRightEdge()
{
    SuspendedScrollBarListWidget list;
    list.resize(300, 200);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    QCOMPARE(list.suspendedScrollBar()->geometry(), QRect(292, 1, 8, 198));
    list.resize(500, 394);
    QTRY_COMPARE(list.suspendedScrollBar()->geometry(), QRect(492, 1, 8, 392));
}

void TestSuspendedScrollBar::rangeChanged_minimumZeroPageStepAndHiding()
{
    QWidget parent;
    SuspendedScrollBar bar(Qt::Vertical, &parent);
    QVERIFY(bar.isHidden());
    QCOMPARE(bar.maximum(), 0);
    bar.resize(8, 200);
    QSignalSpy announced(&bar, &SuspendedScrollBar::receiveRangeChanged);

    bar.show();
    bar.on_rangeChanged(5, 300);
    QCOMPARE(bar.minimum(), 0);
    QCOMPARE(bar.maximum(), 300);
    QCOMPARE(bar.pageStep(), int((300 + 200) * 0.75));
    QCOMPARE(announced.count(), 1);
    QVERIFY(!bar.isHidden());

    bar.on_rangeChanged(0, 0);
    QVERIFY(bar.isHidden());
    QCOMPARE(announced.count(), 2);
}

QTEST_MAIN(TestSuspendedScrollBar)
#include "tst_suspendedscrollbar.moc"
