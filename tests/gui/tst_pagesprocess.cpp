// SPDX-License-Identifier: MIT
// Two real NUVUpload processes for one session: the second brings the first to the front
// and ends. The records' own rules are tested with a small helper in tests/platform.
#include "devserver.h"
#include "programcopy.h"
#include "testsupport.h"

#include <QProcess>
#include <QtTest>

class TestPagesProcess final : public QObject
{
    Q_OBJECT

private slots:
    void secondStart_sameSessionWithVisibleWindow_activatesFirstAndExitsZero()
    {
        // Records and activation sockets live under the temp folder: ours alone, so these
        // processes meet only each other. Instances recognise each other by their executable,
        // and the copy's folder holds their shared log.
        QTemporaryDir instances;
        QVERIFY(instances.isValid());
        qputenv("TMPDIR", instances.path().toUtf8());
        ProgramCopy copy;
        QVERIFY(copy.install(QStringLiteral("NUVUpload")));
        DevServer server;
        QVERIFY2(server.start(), qPrintable(server.errorString()));

        QProcess first;
        QProcess second;
        first.start(copy.program, {server.launchCommand()});
        // Loaded: the session record was written before the settings were asked for.
        QTRY_COMPARE_WITH_TIMEOUT(server.journalList("tokens").size(), 1, 20000);
        second.start(copy.program, {server.launchCommand()});
        const QList<qint64> pids{first.processId(), second.processId()};
        const bool secondEnded = second.waitForFinished(20000);
        const bool firstRunning = first.state() == QProcess::Running;
        endProcess(&first, 10000);
        endProcess(&second);
        // The second ended by itself, the first when asked to; both well.
        QVERIFY(secondEnded && firstRunning);
        for (const QProcess *process : {&first, &second})
            QVERIFY(process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0);
        // The second never loaded the session itself.
        QCOMPARE(server.requestsTo(QStringLiteral("/platform/settings")).size(), 1);
        // Whichever way each ended, neither left its activation socket behind, and the launch
        // code both logged at start-up is masked.
        for (const qint64 pid : pids)
            QVERIFY(!QFileInfo::exists(instances.filePath(QStringLiteral("NUVUpload-activate-%1").arg(pid))));
        QVERIFY(copy.logText().contains(QStringLiteral("launchText:")));
        QVERIFY(!copy.logText().contains(server.code()));
    }
};

QTEST_GUILESS_MAIN(TestPagesProcess)
#include "tst_pagesprocess.moc"
