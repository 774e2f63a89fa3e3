// SPDX-License-Identifier: MIT
#include "core/pipeline/actionstopsignal.h"
#include "gui/toolkit/actionbehavior.h"
#include "guitest.h"

#include <QDeadlineTimer>
#include <QLabel>
#include <QPointer>
#include <QSemaphore>
#include <QTest>
#include <QThread>

#include <atomic>

using GuiTest::ModalDriver;

namespace {

// What the callbacks of one action saw, in order, and whether all ran on the UI thread.
struct Calls
{
    QStringList order;
    int code = -12345;
    QString message;
    bool onUiThread = true;

    ActionBehavior::Outcome handler(const QString &name)
    {
        return [this, name](int c, const QString &m) {
            order << name;
            code = c;
            message = m;
            onUiThread = onUiThread && QThread::currentThread() == qApp->thread();
        };
    }
};

// How a thrown value becomes (code, message) is ActionOutcome's; here only what the runner
// does with a success, a failure and a stop.
void throwKind(int kind)
{
    switch (kind) {
    case 1: throw QStringLiteral("x");
    case 5: throw ActionStopSignal(QStringLiteral("已暂停"));
    default: return;
    }
}

} // namespace

class TestActionBehavior final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(GuiTest::applyStyleSheet()); }
    void cleanup() { ActionBehavior::appClosing = false; }
    void run_workOutcome_mapsThrownValue_data();
    void run_workOutcome_mapsThrownValue();
    void run_beforeThrows_skipsWorkAndCallsBackInsideRun();
    void run_appClosing_silencesCallbacksButStillDeletes();
    void run_withParent_returnsAtOnceAndDeletesAfterCallback();
    void run_withoutParent_waitsInEventLoopAndStays();
    void errorHandlers_defaultShowsHintBoxWithMessage_clearedShowsNothing();
    void destructor_runningWork_interruptsAndJoins();
};

void TestActionBehavior::run_workOutcome_mapsThrownValue_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("failure");

    QTest::newRow("returns normally") << 0 << 0 << QString() << false;
    QTest::newRow("QString") << 1 << -1 << QStringLiteral("x") << true;
    QTest::newRow("ActionStopSignal") << 5 << 0 << QStringLiteral("已暂停") << false;
}

void TestActionBehavior::run_workOutcome_mapsThrownValue()
{
    QFETCH(int, kind);
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(bool, failure);

    QObject owner;
    Calls calls;
    std::atomic<QThread *> workThread{nullptr};
    auto *runner = new ActionBehavior(&owner);
    runner->setErrorHandler(calls.handler(QStringLiteral("error")));
    runner->run(
        [kind, &workThread] {
            workThread = QThread::currentThread();
            throwKind(kind);
        },
        calls.handler(QStringLiteral("done")));

    QTRY_VERIFY(calls.order.contains(QStringLiteral("done")));
    const QStringList expected =
        failure ? QStringList{QStringLiteral("error"), QStringLiteral("done")} : QStringList{QStringLiteral("done")};
    QCOMPARE(calls.order, expected);
    QCOMPARE(calls.code, code);
    QCOMPARE(calls.message, message);
    QVERIFY(calls.onUiThread);
    QVERIFY(workThread.load() && workThread.load() != qApp->thread());
}

void TestActionBehavior::run_beforeThrows_skipsWorkAndCallsBackInsideRun()
{
    QObject owner;
    Calls calls;
    bool workRan = false;
    auto *runner = new ActionBehavior(&owner);
    const QPointer<ActionBehavior> watch(runner);
    runner->setBefore([] { throw QStringLiteral("before failed"); });
    runner->setErrorHandler(calls.handler(QStringLiteral("error")));
    runner->run([&workRan] { workRan = true; }, calls.handler(QStringLiteral("done")));

    // Already there when run() returns: no worker thread was involved.
    QCOMPARE(calls.order, (QStringList{QStringLiteral("error"), QStringLiteral("done")}));
    QCOMPARE(calls.code, -1);
    QCOMPARE(calls.message, QStringLiteral("before failed"));
    QTRY_VERIFY(watch.isNull());
    QVERIFY(!workRan);
}

void TestActionBehavior::run_appClosing_silencesCallbacksButStillDeletes()
{
    QObject owner;
    Calls calls;
    auto *runner = new ActionBehavior(&owner);
    const QPointer<ActionBehavior> watch(runner);
    runner->setErrorHandler(calls.handler(QStringLiteral("error")));
    runner->run(
        [] {
            // The window starts to close while the work runs.
            ActionBehavior::appClosing = true;
            throw QStringLiteral("x");
        },
        calls.handler(QStringLiteral("done")));
    QTRY_VERIFY(watch.isNull());
    QVERIFY(calls.order.isEmpty());

    // A failing before stage is silenced the same way.
    auto *early = new ActionBehavior(&owner);
    const QPointer<ActionBehavior> watchEarly(early);
    early->setBefore([] { throw QStringLiteral("y"); });
    early->setErrorHandler(calls.handler(QStringLiteral("error")));
    early->run([] {}, calls.handler(QStringLiteral("done")));
    QTRY_VERIFY(watchEarly.isNull());
    QVERIFY(calls.order.isEmpty());
}

void TestActionBehavior::run_withParent_returnsAtOnceAndDeletesAfterCallback()
{
    QObject owner;
    QSemaphore gate;
    std::atomic_bool workDone{false};
    int done = 0;
    bool aliveInCallback = false;
    auto *runner = new ActionBehavior(&owner);
    const QPointer<ActionBehavior> watch(runner);
    runner->run(
        [&] {
            // Bounded so a failing test cannot leave the worker (and the join) hanging.
            gate.tryAcquire(1, 10000);
            workDone = true;
        },
        [&](int, const QString &) {
            ++done;
            aliveInCallback = !watch.isNull();
        });

    QVERIFY(!workDone);
    QCOMPARE(done, 0);
    gate.release();
    QTRY_COMPARE(done, 1);
    QVERIFY(aliveInCallback);
    QTRY_VERIFY(watch.isNull());
}

void TestActionBehavior::run_withoutParent_waitsInEventLoopAndStays()
{
    QSemaphore timerFired;
    bool sawTimer = false;
    int done = 0;
    auto *runner = new ActionBehavior(nullptr);
    const QPointer<ActionBehavior> watch(runner);

    // The work only ends once the UI thread has handled an event: run() must keep the
    // event loop going while it waits.
    QTimer::singleShot(0, [&timerFired] { timerFired.release(); });
    runner->run([&] { sawTimer = timerFired.tryAcquire(1, 10000); }, [&done](int, const QString &) { ++done; });

    QVERIFY(sawTimer);
    QCOMPARE(done, 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!watch.isNull());
    delete runner;
}

void TestActionBehavior::errorHandlers_defaultShowsHintBoxWithMessage_clearedShowsNothing()
{
    QString boxClass;
    QString title;
    QString message;
    ModalDriver driver([&](QWidget *box) {
        boxClass = QString::fromLatin1(box->metaObject()->className());
        title = box->findChild<QLabel *>(QStringLiteral("lblDialogTitle"))->text();
        message = box->findChild<QLabel *>(QStringLiteral("lblMessage"))->text();
        QTest::keyClick(box, Qt::Key_Enter);
    });
    QObject owner;
    Calls calls;
    auto *runner = new ActionBehavior(&owner);
    runner->run([] { throw QStringLiteral("服务器配置信息获取失败:x"); }, calls.handler(QStringLiteral("done")));
    QTRY_COMPARE(calls.order, QStringList{QStringLiteral("done")});
    QCOMPARE(driver.seen(), 1);
    QCOMPARE(boxClass, QStringLiteral("FrmMessageBox"));
    QCOMPARE(title, QStringLiteral("提示"));
    QCOMPARE(message, QStringLiteral("服务器配置信息获取失败:x"));

    // Cleared: the failure reaches the done callback only.
    ModalDriver unexpected([](QWidget *box) { QTest::keyClick(box, Qt::Key_Escape); });
    Calls quiet;
    auto *silent = new ActionBehavior(&owner);
    silent->clearErrorHandler();
    silent->run([] { throw QStringLiteral("转码失败"); }, quiet.handler(QStringLiteral("done")));
    QTRY_COMPARE(quiet.order, QStringList{QStringLiteral("done")});
    QCOMPARE(quiet.code, -1);
    QCOMPARE(quiet.message, QStringLiteral("转码失败"));
    QCOMPARE(unexpected.seen(), 0);
}

void TestActionBehavior::destructor_runningWork_interruptsAndJoins()
{
    std::atomic_bool started{false};
    std::atomic_bool interrupted{false};
    int done = 0;
    auto *runner = new ActionBehavior(nullptr);
    runner->setWait(false);
    runner->run(
        [&] {
            started = true;
            const QDeadlineTimer deadline(10000);
            while (!deadline.hasExpired() && !QThread::currentThread()->isInterruptionRequested())
                QThread::yieldCurrentThread();
            interrupted = QThread::currentThread()->isInterruptionRequested();
        },
        [&done](int, const QString &) { ++done; });
    QTRY_VERIFY(started);

    delete runner;
    QVERIFY(interrupted);
    // The completion it had posted died with it.
    QCoreApplication::processEvents();
    QCOMPARE(done, 0);
}

QTEST_MAIN(TestActionBehavior)
#include "tst_actionbehavior.moc"
