// SPDX-License-Identifier: MIT
// The application shell with real processes: the start-up of the NUVUpload program, the program
// folder, the single-instance records and the process helpers. Started with a mode, this
// program is one instance of the application object instead of the test.
#include "app/myapplication.h"
#include "core/platform/activationserver.h"
#include "core/platform/appdirs.h"
#include "core/platform/processhelpers.h"
#include "core/platform/signalwatcher.h"
#include "programcopy.h"
#include "testsupport.h"

#include <QDataStream>
#include <QDir>
#include <QFileOpenEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QSharedMemory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <cstdio>
#include <unistd.h>

namespace {

// One instance, driven by its arguments. It prints one line when it has done its part, then
// waits until ended (an activation exits at once):
//   idle                   end a live idle instance and take over the idle record
//   session UUID [hidden]  what a start for UUID does: activate the instance running it and
//                          exit ("activated"), or wait idle as a window does before it has a
//                          command, then register for UUID with a window (hidden: none)
int runInstance(MyApplication &app, const QStringList &args)
{
    SignalWatcher watcher;
    QObject::connect(&watcher, &SignalWatcher::terminationRequested, &app, &QCoreApplication::quit);
    QWidget window;
    // A window that was never shown (or was hidden) is not brought up.
    ActivationServer activation([&window] {
        if (window.isVisible()) {
            window.showNormal();
            window.raise();
            window.activateWindow();
        }
        return window.isVisible();
    });
    QByteArray line;
    if (args.value(0) == QLatin1String("idle")) {
        const qint64 previous = app.getFreePid();
        if (previous > 0)
            killProcess(previous);
        app.setFree();
        line = "idle " + QByteArray::number(app.getFreePid());
    } else {
        const qint64 running = app.getRunningPid(args.value(1));
        if (running > 0 && activateProcessWindow(running)) {
            std::printf("activated\n");
            return 0;
        }
        if (args.value(2) != QLatin1String("hidden"))
            window.show();
        app.setFree();
        app.setRunningPid(args.value(1));
        line = "session " + QByteArray::number(app.getRunningPid(args.value(1)));
    }
    std::printf("%s\n", line.constData());
    std::fflush(stdout);
    return MyApplication::exec();
}

// An instance process and the line it printed when it had done its part.
struct Helper
{
    QProcess process;
    QString line;

    explicit Helper(const QStringList &args)
    {
        process.start(QCoreApplication::applicationFilePath(), args);
        while (!process.canReadLine() && process.waitForReadyRead(20000)) {}
        line = QString::fromUtf8(process.readLine()).trimmed();
    }
    qint64 pid() const { return process.processId(); }
    // Ended politely, so the shared memory it holds is released, not left behind.
    ~Helper() { endProcess(&process); }
};

// What the idle record names: the instances are of this same program, so it reads their records.
QString idlePid()
{
    return QString::number(MyApplication::instance()->getFreePid());
}

} // namespace

class TestInstance : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void start_threeArguments_middleIsLaunchTextLoggedMasked();
    void appDirs_programFolder_portableOnlyInOwnFolder();
    void idle_newestStart_endsPreviousAndTakesRecord();
    void confirm_runningSession_data();
    void confirm_runningSession();
    void record_foreignProcess_isNeverKilled();
    void fileOpen_url_repairedThenRelaunchedWithoutShellWhileRunning();

private:
    QTemporaryDir m_tmp;
};

void TestInstance::initTestCase()
{
    // Records and activation sockets live under the temp path: a private one keeps this
    // test away from real instances and from other tests running in parallel.
    qputenv("TMPDIR", m_tmp.path().toUtf8());
}

void TestInstance::start_threeArguments_middleIsLaunchTextLoggedMasked()
{
    ProgramCopy app;
    QVERIFY(app.install(QStringLiteral("NUVUpload")));
    const QStringList arguments{QStringLiteral("A"), QStringLiteral("x://h/s?uuid=u&code=S3cretLaunchCode"),
                                QStringLiteral("C")};
    QProcess process;
    process.setWorkingDirectory(m_tmp.path());
    process.start(app.program, arguments);
    QTRY_VERIFY_WITH_TIMEOUT(app.logText().contains(QStringLiteral("launchText:")), 20000);
    process.terminate(); // a logout: the event loop ends and the stop banner follows
    QVERIFY(process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0);
    // Info lines: time, two blanks (no level word), the call site, the text; banners open and
    // close the run.
    const QString log = app.logText();
    const QString line = QStringLiteral(
        "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  File:\\([^)]+startup\\.cpp\\) Line:\\(\\d+\\) %1\r\n");
    const QRegularExpression banners(QStringLiteral("(?s)^%1%2%1.*%1%3%1$")
                                         .arg(line.arg(QStringLiteral("#{64}")),
                                              line.arg(QStringLiteral("# {26}START {31}#")),
                                              line.arg(QStringLiteral("# {26}STOP {32}#"))));
    QVERIFY2(banners.match(log).hasMatch(), qPrintable(log));
    // Relative paths resolve in the program's folder, wherever it was started from.
    QVERIFY(log.contains(QStringLiteral("currentPath:%1\r\n").arg(QDir(app.dir.path()).canonicalPath())));
    // The launch text is the middle one of three arguments; the code in it is masked everywhere.
    QVERIFY(log.contains(QStringLiteral("arguments:%1,A,x://h/s?uuid=u&code=S3cr…,C\r\n").arg(app.program)));
    QVERIFY(log.contains(QStringLiteral("launchText:x://h/s?uuid=u&code=S3cr…\r\n")));
    QVERIFY(!log.contains(QStringLiteral("S3cretLaunchCode")));
    // The settings file beside the program was written because it did not exist.
    QVERIFY(QFile::exists(app.dir.filePath(QStringLiteral("setting.ini"))));
}

void TestInstance::appDirs_programFolder_portableOnlyInOwnFolder()
{
    QTemporaryDir own;
    QVERIFY(AppDirs::isPortable(own.path()));
    // An installed copy keeps nothing beside itself, whoever runs it: root can write under a
    // system prefix, however it is reached.
    QVERIFY(!AppDirs::isPortable(QStringLiteral("/usr/bin")));
    QVERIFY(QFile::link(QStringLiteral("/usr/bin"), own.filePath(QStringLiteral("bin"))));
    QVERIFY(!AppDirs::isPortable(own.filePath(QStringLiteral("bin"))));
    // Nor does a copy in another user's folder (only root can hand one over).
    if (::chown(QFile::encodeName(own.path()).constData(), 65534, 65534) == 0)
        QVERIFY(!AppDirs::isPortable(own.path()));
}

void TestInstance::idle_newestStart_endsPreviousAndTakesRecord()
{
    Helper first({QStringLiteral("idle")});
    Helper second({QStringLiteral("idle")});
    QCOMPARE(second.line, QStringLiteral("idle %1").arg(second.pid()));
    // Ended by SIGTERM, cleanly.
    QVERIFY(first.process.waitForFinished(10000) && first.process.exitStatus() == QProcess::NormalExit
            && first.process.exitCode() == 0);
    QCOMPARE(idlePid(), QString::number(second.pid()));
}

void TestInstance::confirm_runningSession_data()
{
    QTest::addColumn<QString>("holder");
    QTest::addColumn<QString>("outcome");
    QTest::newRow("visible window: brought to the front") << QStringLiteral("shown") << QStringLiteral("activated");
    // Not activated: it goes on with the session although the record stays the first's.
    QTest::newRow("no visible window: goes on") << QStringLiteral("hidden") << QStringLiteral("holder");
    // Nothing to activate: the new start registers itself in the lingering segment.
    QTest::newRow("holder crashed: takes the record") << QStringLiteral("killed") << QStringLiteral("self");
}

void TestInstance::confirm_runningSession()
{
    QFETCH(QString, holder);
    QFETCH(QString, outcome);
    const QString uuid = QStringLiteral("u-") + holder;
    Helper running({QStringLiteral("session"), uuid, holder});
    QCOMPARE(running.line, QStringLiteral("session %1").arg(running.pid()));
    if (holder == QLatin1String("killed")) {
        running.process.kill();
        QVERIFY(running.process.waitForFinished(5000));
    }
    Helper second({QStringLiteral("session"), uuid});
    if (outcome == QLatin1String("activated")) {
        QCOMPARE(second.line, outcome);
        QVERIFY(second.process.waitForFinished(10000));
        QCOMPARE(second.process.exitCode(), 0);
        QCOMPARE(running.process.state(), QProcess::Running);
    } else {
        const qint64 owner = outcome == QLatin1String("self") ? second.pid() : running.pid();
        QCOMPARE(second.line, QStringLiteral("session %1").arg(owner));
        QCOMPARE(second.process.state(), QProcess::Running);
    }
    // Each process that took up a session gave up the idle record, whether or not the
    // session's record became its own: a newer start must not end it as the idle one.
    QCOMPARE(idlePid(), QStringLiteral("-1"));
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

    QCOMPARE(idlePid(), QStringLiteral("-1"));
    Helper idle({QStringLiteral("idle")});
    QVERIFY(!isProcessAlive(foreign.processId()) && !killProcess(foreign.processId()));
    QCOMPARE(foreign.state(), QProcess::Running);
    foreign.kill();
    foreign.waitForFinished();
}

void TestInstance::fileOpen_url_repairedThenRelaunchedWithoutShellWhileRunning()
{
    auto *app = MyApplication::instance();
    QSignalSpy received(app, &MyApplication::reveiveArgsMsg);
    QFileOpenEvent idleEvent(QUrl(QStringLiteral("nuvVideoClient://https//host.test/s?uuid=1&x=http//y")));
    QCoreApplication::sendEvent(app, &idleEvent);
    QCOMPARE(received.count(), 1);
    QCOMPARE(received.takeFirst().first().toString(),
             QStringLiteral("nuvvideoclient://https://host.test/s?uuid=1&x=http://y"));

    // While it runs a session, the URL goes to a new instance of the program, as one argument.
    QTemporaryDir dir;
    const QString record = dir.filePath(QStringLiteral("args"));
    const QString witness = dir.filePath(QStringLiteral("pwned"));
    const QString script = dir.filePath(QStringLiteral("relaunch.sh"));
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.setPermissions(QFile::ReadOwner | QFile::ExeOwner));
    file.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$#\" \"$1\" > '%1'\n").arg(record).toUtf8());
    file.close();
    app->setRelaunchProgram(script);
    app->setRunningPid(QStringLiteral("u-relaunch"));
    const QString url =
        QStringLiteral("nuvVideoClient://https//h.test/s?uuid=1&a=b;touch %1&c=$(touch %1)").arg(witness);
    QFileOpenEvent event{QUrl(url)};
    QCoreApplication::sendEvent(app, &event);
    QCOMPARE(received.count(), 0);

    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(record).size() > 0, 10000);
    QFile out(record);
    QVERIFY(out.open(QIODevice::ReadOnly));
    QString expected = QUrl(url).toString();
    expected.replace(QStringLiteral("https//"), QStringLiteral("https://"));
    QCOMPARE(QString::fromUtf8(out.readAll()), QStringLiteral("1\n") + expected + QLatin1Char('\n'));
    QVERIFY(!QFile::exists(witness));
    app->clearRunning();
}

int main(int argc, char *argv[])
{
    MyApplication app(argc, argv);
    const QStringList args = MyApplication::arguments().mid(1);
    if (args.value(0) == QLatin1String("idle") || args.value(0) == QLatin1String("session"))
        return runInstance(app, args);
    TestInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_instance.moc"
