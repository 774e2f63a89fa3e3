// SPDX-License-Identifier: MIT
#include "core/session/schema.h"
#include "gui/pages/filepages.h"
#include "gui/toolkit/helpers.h"
#include "gui/toolkit/nuvwidgetuibehavior.h"
#include "gui/toolkit/qobjecteventdelegate.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QKeyEvent>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QWidget>

#include <atomic>

namespace {

class LoadingWidget final : public QWidget, private NuvWidgetUiBehavior
{
public:
    LoadingWidget()
        : NuvWidgetUiBehavior(this)
    {
    }

    using NuvWidgetUiBehavior::reload;
    using NuvWidgetUiBehavior::runOnUi;

    void onLoad() override
    {
        NuvWidgetUiBehavior::onLoad();
        ++loads;
    }

    int loads = 0;
};

// An object with an event filter of its own, which the delegate falls back to; it also
// notes the user events that reach it.
class FilteringObject final : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        Q_UNUSED(watched)
        seen << event->type();
        return answer;
    }

    bool event(QEvent *event) override
    {
        if (event->type() >= QEvent::User)
            ++received;
        return QObject::event(event);
    }

    bool answer = false;
    QList<QEvent::Type> seen;
    int received = 0;
};

// Sends an event of the given type to `target` and tells whether it got through.
bool delivered(FilteringObject *target, QEvent::Type type)
{
    const int before = target->received;
    QEvent event(type);
    QCoreApplication::sendEvent(target, &event);
    return target->received > before;
}

bool touch(const QString &path, const QDateTime &modified)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("x");
    // Written out first, or closing the file would stamp it with the current time.
    file.flush();
    return file.setFileTime(modified, QFileDevice::FileModificationTime);
}

} // namespace

class TestNuvWidgetUiBehavior final : public QObject
{
    Q_OBJECT

private slots:
    void onLoad_runsOnFirstShowAndAfterEachReload();
    void runOnUi_onUiThread_runsBeforeReturning();
    void runOnUi_fromWorker_runsOnUiThreadAndBlocksWorker();
    void eventDelegate_firstMatchingEntryDecides();
    void stringHelpers_conditionsOnEmptiness();
    void latestFile_picksNewestWithExactSuffix();
};

void TestNuvWidgetUiBehavior::onLoad_runsOnFirstShowAndAfterEachReload()
{
    LoadingWidget widget;
    QCOMPARE(widget.loads, 0);

    widget.show();
    QVERIFY(QTest::qWaitForWindowExposed(&widget));
    QCOMPARE(widget.loads, 1);
    widget.hide();
    widget.show();
    QCOMPARE(widget.loads, 1);

    // Armed while visible: the load step waits for the next show.
    widget.reload();
    QCOMPARE(widget.loads, 1);
    widget.hide();
    widget.show();
    QCOMPARE(widget.loads, 2);
    widget.hide();
    widget.show();
    QCOMPARE(widget.loads, 2);
}

void TestNuvWidgetUiBehavior::runOnUi_onUiThread_runsBeforeReturning()
{
    LoadingWidget widget;
    bool ran = false;
    widget.runOnUi([&ran] { ran = true; });
    QVERIFY(ran);
}

void TestNuvWidgetUiBehavior::runOnUi_fromWorker_runsOnUiThreadAndBlocksWorker()
{
    LoadingWidget widget;
    std::atomic_bool workerPastCall{false};
    std::atomic<QThread *> taskThread{nullptr};
    std::atomic_bool workerSawTaskDone{false};
    bool workerWasWaiting = false;
    bool taskDone = false;

    QThread *worker = QThread::create([&] {
        widget.runOnUi([&] {
            taskThread = QThread::currentThread();
            // The worker must still be inside runOnUi while the task runs.
            workerWasWaiting = !workerPastCall;
            // Give a worker that does not wait every chance to run past the call.
            QThread::yieldCurrentThread();
            QCoreApplication::processEvents();
            workerWasWaiting = workerWasWaiting && !workerPastCall;
            taskDone = true;
        });
        workerSawTaskDone = taskDone;
        workerPastCall = true;
    });
    QSignalSpy finished(worker, &QThread::finished);
    worker->start();
    QVERIFY(finished.wait(10000));
    delete worker;

    QCOMPARE(taskThread.load(), qApp->thread());
    QVERIFY(workerWasWaiting);
    QVERIFY(workerSawTaskDone);
}

void TestNuvWidgetUiBehavior::eventDelegate_firstMatchingEntryDecides()
{
    QObject owner;
    FilteringObject target;
    FilteringObject other;
    auto *delegate = new QObjectEventDelegate(&owner);
    QStringList calls;
    bool firstAnswer = true;
    delegate->addHandler(&target, QEvent::User, [&](QObject *watched, QEvent *) {
        calls << (watched == &target ? QStringLiteral("first") : QStringLiteral("wrong object"));
        return firstAnswer;
    });
    delegate->addHandler(&target, QEvent::User, [&](QObject *, QEvent *) {
        calls << QStringLiteral("second");
        return true;
    });

    // Handler says true: the event is consumed and the second entry is never asked.
    QVERIFY(!delivered(&target, QEvent::User));
    QCOMPARE(calls, QStringList{QStringLiteral("first")});
    QVERIFY(target.seen.isEmpty());

    // Handler says false: the target's own filter decides, here letting it through...
    firstAnswer = false;
    calls.clear();
    target.answer = false;
    QVERIFY(delivered(&target, QEvent::User));
    QCOMPARE(calls, QStringList{QStringLiteral("first")});
    QCOMPARE(target.seen, QList<QEvent::Type>{QEvent::User});

    // ...and here consuming it.
    target.answer = true;
    QVERIFY(!delivered(&target, QEvent::User));

    // Other types and other objects pass untouched.
    calls.clear();
    QVERIFY(delivered(&target, QEvent::Type(QEvent::User + 1)));
    QVERIFY(delivered(&other, QEvent::User));
    QVERIFY(calls.isEmpty());
}

void TestNuvWidgetUiBehavior::stringHelpers_conditionsOnEmptiness()
{
    QVERIFY(isEmpty(QString()));
    QVERIFY(isEmpty(QStringLiteral("")));
    QVERIFY(!isEmpty(QStringLiteral(" ")));
    QVERIFY(isNotEmpty(QStringLiteral(" ")));
    QVERIFY(!isNotEmpty(QString()));

    int emptyRuns = 0;
    int notEmptyRuns = 0;
    ifEmpty(QString(), [&] { ++emptyRuns; });
    ifEmpty(QStringLiteral("a"), [&] { ++emptyRuns; });
    ifNotEmpty(QString(), [&] { ++notEmptyRuns; });
    ifNotEmpty(QStringLiteral("a"), [&] { ++notEmptyRuns; });
    QCOMPARE(emptyRuns, 1);
    QCOMPARE(notEmptyRuns, 1);

    // The file pages' caption, built with these helpers: module " - " parent, each part
    // only when present.
    const auto caption = [](const QString &names) {
        Schema schema;
        schema.decode(QStringLiteral("nuvVideoClient://http://h/s?uuid=u&type=0&moduleId=0") + names);
        return FilePages::caption(schema);
    };
    QCOMPARE(caption(QStringLiteral("&parentName=第一章")), QStringLiteral("第一章"));
    QCOMPARE(caption(QStringLiteral("&moduleName=课程&parentName=第一章")), QStringLiteral("课程 - 第一章"));
    QCOMPARE(caption(QStringLiteral("&moduleName=课程")), QStringLiteral("课程 - "));
    QCOMPARE(caption(QString()), QString());
}

void TestNuvWidgetUiBehavior::latestFile_picksNewestWithExactSuffix()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QDateTime base = QDateTime::currentDateTime().addDays(-1);

    QVERIFY(!latestFile(dir.path(), QStringLiteral("log")).exists());
    QVERIFY(!latestFile(dir.filePath(QStringLiteral("missing")), QStringLiteral("log")).exists());

    QVERIFY(touch(dir.filePath(QStringLiteral("a.log")), base));
    QVERIFY(touch(dir.filePath(QStringLiteral("b.log")), base.addSecs(60)));
    QVERIFY(touch(dir.filePath(QStringLiteral("notes.txt")), base.addSecs(120)));
    // Newer still, but not an exact "log" suffix or not a file.
    QVERIFY(touch(dir.filePath(QStringLiteral("c.LOG")), base.addSecs(180)));
    QVERIFY(touch(dir.filePath(QStringLiteral("d.log.bak")), base.addSecs(240)));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("e.log")));

    const QFileInfo latest = latestFile(dir.path(), QStringLiteral("log"));
    QVERIFY(latest.exists());
    QCOMPARE(latest.fileName(), QStringLiteral("b.log"));

    QVERIFY(touch(dir.filePath(QStringLiteral("a.log")), base.addSecs(300)));
    QCOMPARE(latestFile(dir.path(), QStringLiteral("log")).fileName(), QStringLiteral("a.log"));
}

QTEST_MAIN(TestNuvWidgetUiBehavior)
#include "tst_nuvwidgetuibehavior.moc"
