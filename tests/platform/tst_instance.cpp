// SPDX-License-Identifier: MIT
// Single-instance records and the process helpers, with real processes of instancehelper.
#include "app/myapplication.h"
#include "core/platform/processhelpers.h"
#include "testsupport.h"

#include <QDataStream>
#include <QFile>
#include <QFileOpenEvent>
#include <QProcess>
#include <QSharedMemory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

QString helperPath()
{
    return qEnvironmentVariable("NUV_BIN_DIR") + QStringLiteral("/instancehelper");
}

// Starts instancehelper and waits for its first line.
struct Helper
{
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();
    QString line;

    bool start(const QStringList &args)
    {
        process->start(helperPath(), args);
        if (!process->waitForStarted(10000))
            return false;
        while (!process->canReadLine()) {
            if (!process->waitForReadyRead(20000))
                return false;
        }
        line = QString::fromUtf8(process->readLine()).trimmed();
        return true;
    }

    qint64 pid() const { return process->processId(); }

    // Ended politely, so the shared memory it holds is released, not left behind.
    ~Helper() { endProcess(process.get()); }
};

} // namespace

class TestInstance : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void idle_firstInstance_createsRecord();
    void idle_secondStart_endsFirstAndBecomesIdle();
    void confirm_sessionWithVisibleWindow_activatesAndExitsZero();
    void confirm_sessionWithoutVisibleWindow_goesOn();
    void record_crashedHolder_readsMinusOne();
    void record_foreignProcess_isNeverKilled();
    void fileOpen_urlWithoutColon_isRepaired();
    void fileOpen_whileRunning_startsOneArgumentWithoutShell();

private:
    QTemporaryDir m_tmp;
};

void TestInstance::initTestCase()
{
    // Records and activation sockets live under the temp path: a private one keeps this
    // test away from real instances and from other tests running in parallel.
    QVERIFY(m_tmp.isValid());
    qputenv("TMPDIR", m_tmp.path().toUtf8());
    QVERIFY(QFile::exists(helperPath()));
}

void TestInstance::idle_firstInstance_createsRecord()
{
    Helper first;
    QVERIFY(first.start({QStringLiteral("idle")}));
    QCOMPARE(first.line, QStringLiteral("idle %1").arg(first.pid()));

    Helper query;
    QVERIFY(query.start({QStringLiteral("query-idle")}));
    QCOMPARE(query.line.toLongLong(), first.pid());
}

void TestInstance::idle_secondStart_endsFirstAndBecomesIdle()
{
    Helper first;
    QVERIFY(first.start({QStringLiteral("idle")}));
    Helper second;
    QVERIFY(second.start({QStringLiteral("idle")}));
    QCOMPARE(second.line, QStringLiteral("idle %1").arg(second.pid()));

    QVERIFY(first.process->waitForFinished(10000));
    QCOMPARE(first.process->exitStatus(), QProcess::NormalExit); // ended by SIGTERM, cleanly
    QCOMPARE(first.process->exitCode(), 0);

    Helper query;
    QVERIFY(query.start({QStringLiteral("query-idle")}));
    QCOMPARE(query.line.toLongLong(), second.pid());
}

void TestInstance::confirm_sessionWithVisibleWindow_activatesAndExitsZero()
{
    Helper running;
    QVERIFY(running.start({QStringLiteral("session"), QStringLiteral("u-visible")}));
    QCOMPARE(running.line, QStringLiteral("session %1").arg(running.pid()));

    Helper second;
    QVERIFY(second.start({QStringLiteral("confirm"), QStringLiteral("u-visible")}));
    QCOMPARE(second.line, QStringLiteral("activated"));
    QVERIFY(second.process->waitForFinished(10000));
    QCOMPARE(second.process->exitCode(), 0);
    QCOMPARE(running.process->state(), QProcess::Running);
}

void TestInstance::confirm_sessionWithoutVisibleWindow_goesOn()
{
    Helper running;
    QVERIFY(running.start({QStringLiteral("session"), QStringLiteral("u-hidden"), QStringLiteral("hidden")}));
    Helper second;
    QVERIFY(second.start({QStringLiteral("confirm"), QStringLiteral("u-hidden")}));
    // Not activated: it goes on with the session although the record stays the first's.
    QCOMPARE(second.line, QStringLiteral("session %1").arg(running.pid()));
    QCOMPARE(second.process->state(), QProcess::Running);
}

void TestInstance::record_crashedHolder_readsMinusOne()
{
    Helper crashed;
    QVERIFY(crashed.start({QStringLiteral("session"), QStringLiteral("u-crash")}));
    crashed.process->kill();
    QVERIFY(crashed.process->waitForFinished(5000));

    // Nothing to activate: the new start registers itself in the lingering segment.
    Helper next;
    QVERIFY(next.start({QStringLiteral("confirm"), QStringLiteral("u-crash")}));
    QCOMPARE(next.line, QStringLiteral("session %1").arg(next.pid()));
}

void TestInstance::record_foreignProcess_isNeverKilled()
{
    QProcess foreign;
    foreign.start(QStringLiteral("sleep"), {QStringLiteral("60")});
    QVERIFY(foreign.waitForStarted());

    // An idle record that names a process of another program.
    QSharedMemory record(QStringLiteral("idleState"));
    QByteArray bytes;
    QDataStream(&bytes, QIODevice::WriteOnly) << qint64(foreign.processId());
    QVERIFY2(record.create(8), qPrintable(record.errorString()));
    memcpy(record.data(), bytes.constData(), 8);

    Helper query;
    QVERIFY(query.start({QStringLiteral("query-idle")}));
    QCOMPARE(query.line, QStringLiteral("-1"));
    Helper idle;
    QVERIFY(idle.start({QStringLiteral("idle")}));
    Helper killer;
    QVERIFY(killer.start({QStringLiteral("kill"), QString::number(foreign.processId())}));
    QCOMPARE(killer.line, QStringLiteral("refused"));
    QCOMPARE(foreign.state(), QProcess::Running);
    QVERIFY(!isProcessAlive(foreign.processId()));

    record.detach();
    foreign.kill();
    foreign.waitForFinished();
}

void TestInstance::fileOpen_urlWithoutColon_isRepaired()
{
    auto *app = MyApplication::instance();
    QSignalSpy received(app, &MyApplication::reveiveArgsMsg);
    QFileOpenEvent event(QUrl(QStringLiteral("nuvVideoClient://https//host.test/s?uuid=1&x=http//y")));
    QCoreApplication::sendEvent(app, &event);
    QCOMPARE(received.count(), 1);
    QCOMPARE(received.first().first().toString(),
             QStringLiteral("nuvvideoclient://https://host.test/s?uuid=1&x=http://y"));
}

void TestInstance::fileOpen_whileRunning_startsOneArgumentWithoutShell()
{
    QTemporaryDir dir;
    const QString record = dir.filePath(QStringLiteral("args"));
    const QString witness = dir.filePath(QStringLiteral("pwned"));
    const QString script = dir.filePath(QStringLiteral("relaunch.sh"));
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$#\" \"$1\" > '%1'\n").arg(record).toUtf8());
    file.close();
    QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

    auto *app = MyApplication::instance();
    app->setRelaunchProgram(script);
    app->setRunningPid(QStringLiteral("u-relaunch"));
    QVERIFY(app->isRunning());
    QSignalSpy received(app, &MyApplication::reveiveArgsMsg);

    const QString url =
        QStringLiteral("nuvVideoClient://https//h.test/s?uuid=1&a=b;touch %1&c=$(touch %1)").arg(witness);
    QFileOpenEvent event{QUrl(url)};
    QCoreApplication::sendEvent(app, &event);
    QCOMPARE(received.count(), 0);

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record) && QFileInfo(record).size() > 0, 10000);
    QFile out(record);
    QVERIFY(out.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(out.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.value(0), QStringLiteral("1"));
    QString expected = QUrl(url).toString();
    expected.replace(QStringLiteral("https//"), QStringLiteral("https://"));
    QCOMPARE(lines.value(1), expected);
    QVERIFY(!QFile::exists(witness));
    app->clearRunning();
}

int main(int argc, char *argv[])
{
    MyApplication app(argc, argv);
    TestInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_instance.moc"
