// SPDX-License-Identifier: MIT
// The background action runner's own rules; the pages' tests show it at work (the default
// error box on the loading page, the rows' analysis and upload, deleting a working row,
// which waits for its thread).
#include "core/pipeline/actionstopsignal.h"
#include "gui/toolkit/actionbehavior.h"
#include "guitest.h"

#include <atomic>

namespace {

// What the callbacks of one action saw, in order, and whether all ran on the UI thread.
struct Calls
{
    QStringList order;
    int code = -12345;
    QString message;
    bool onUiThread = true;

    ActionBehavior::Outcome handler(const char *name)
    {
        return [this, name](int c, const QString &m) {
            order << QString::fromLatin1(name);
            code = c;
            message = m;
            onUiThread = onUiThread && QThread::currentThread() == qApp->thread();
        };
    }
};

} // namespace

class TestActionBehavior final : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { ActionBehavior::appClosing = false; }

    void run_workOutcome_errorHandlerThenDoneOnUiThreadThenGone_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QStringList>("order");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("returns") << 0 << QStringList{QStringLiteral("done")} << 0 << QString();
        QTest::newRow("fails") << 1 << QStringList{QStringLiteral("error"), QStringLiteral("done")} << -1
                               << QStringLiteral("x");
        QTest::newRow("stopped") << 2 << QStringList{QStringLiteral("done")} << 0 << QStringLiteral("已暂停");
        // The window starts to close while the work runs: no callback, but the runner goes.
        QTest::newRow("fails, window closing") << 3 << QStringList() << -12345 << QString();
    }

    void run_workOutcome_errorHandlerThenDoneOnUiThreadThenGone()
    {
        QFETCH(int, kind);
        QFETCH(QStringList, order);
        QFETCH(int, code);
        QFETCH(QString, message);
        QObject owner;
        Calls calls;
        std::atomic<QThread *> workThread{nullptr};
        QSemaphore gate;
        auto *runner = new ActionBehavior(&owner);
        const QPointer<ActionBehavior> watch(runner);
        bool aliveInCallback = false;
        runner->setErrorHandler(calls.handler("error"));
        runner->run(
            [&] {
                workThread = QThread::currentThread();
                // Bounded so a failing test cannot leave the worker (and the join) hanging.
                gate.tryAcquire(1, 10000);
                ActionBehavior::appClosing = kind == 3;
                if (kind == 1 || kind == 3)
                    throw QStringLiteral("x");
                if (kind == 2)
                    throw ActionStopSignal(QStringLiteral("已暂停"));
            },
            [&](int c, const QString &m) {
                aliveInCallback = !watch.isNull();
                calls.handler("done")(c, m);
            });
        // With a parent, run() returns at once; the runner goes after its callbacks.
        QVERIFY(calls.order.isEmpty());
        gate.release();
        QTRY_VERIFY(watch.isNull());
        QCOMPARE(calls.order, order);
        QCOMPARE(calls.code, code);
        QCOMPARE(calls.message, message);
        QVERIFY(calls.onUiThread && (aliveInCallback || order.isEmpty()));
        QVERIFY(workThread.load() && workThread.load() != qApp->thread());
    }
};

QTEST_MAIN(TestActionBehavior)
#include "tst_actionbehavior.moc"
