// SPDX-License-Identifier: MIT
// Several real NUVUpload processes finding each other through the single-instance records:
// the idle hand-over at start and the duplicate-session check when a command is confirmed.
#include "devserver.h"
#include "testsupport.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

constexpr int StartTimeoutMs = 20000;

// NUVUpload process that is ended politely (SIGTERM), so it releases its records.
struct Instance
{
    std::unique_ptr<QProcess> process = std::make_unique<QProcess>();

    bool start(const QString &program, const QStringList &arguments)
    {
        process->setProcessChannelMode(QProcess::ForwardedChannels);
        process->start(program, arguments);
        return process->waitForStarted(StartTimeoutMs);
    }

    qint64 pid() const { return process->processId(); }
    bool running() const { return process->state() == QProcess::Running; }

    ~Instance() { endProcess(process.get(), 10000); }
};

} // namespace

class TestPagesProcess final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void secondStart_sameSessionWithVisibleWindow_activatesFirstAndExitsZero();
    void start_withoutLaunchText_endsIdleInstanceAndBecomesIdle();
    void start_withoutLaunchText_leavesWorkingInstanceAlone();

private:
    QString logText() const;
    QString socketOf(qint64 pid) const;

    QTemporaryDir m_instances;
    QTemporaryDir m_programDir;
    QString m_program;
    DevServer m_server;
};

void TestPagesProcess::initTestCase()
{
    // Records and activation sockets live under the temp folder: ours alone, so these
    // processes meet only each other.
    QVERIFY(m_instances.isValid());
    qputenv("TMPDIR", m_instances.path().toUtf8());

    // One private copy of the program: instances recognise each other by their executable,
    // and its folder holds the shared log.
    QVERIFY(m_programDir.isValid());
    m_program = m_programDir.filePath(QStringLiteral("NUVUpload"));
    QVERIFY(QFile::copy(qEnvironmentVariable("NUV_BIN_DIR") + QStringLiteral("/NUVUpload"), m_program));
    QVERIFY(QFile::setPermissions(m_program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
}

void TestPagesProcess::init()
{
    QVERIFY(m_server.resetJournal());
}

QString TestPagesProcess::logText() const
{
    QFile file(m_programDir.filePath(QStringLiteral("logs/")
                                     + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))
                                     + QStringLiteral(".log")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QString TestPagesProcess::socketOf(qint64 pid) const
{
    return m_instances.filePath(QStringLiteral("NUVUpload-activate-%1").arg(pid));
}

void TestPagesProcess::secondStart_sameSessionWithVisibleWindow_activatesFirstAndExitsZero()
{
    Instance first;
    QVERIFY(first.start(m_program, {m_server.launchCommand()}));
    // Loaded: the session record was written before the settings were asked for.
    QTRY_COMPARE_WITH_TIMEOUT(m_server.journalList("tokens").size(), 1, StartTimeoutMs);

    Instance second;
    QVERIFY(second.start(m_program, {m_server.launchCommand()}));
    const QList<qint64> pids{first.pid(), second.pid()};
    QVERIFY(second.process->waitForFinished(StartTimeoutMs));
    QCOMPARE(second.process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.process->exitCode(), 0);

    QVERIFY(first.running());
    // The second never loaded the session itself.
    QCOMPARE(m_server.requestsTo(QStringLiteral("/platform/settings")).size(), 1);

    first.process->terminate();
    QVERIFY(first.process->waitForFinished(StartTimeoutMs));
    QCOMPARE(first.process->exitCode(), 0);
    // Whichever way each ended, neither left its activation socket behind, and the launch
    // code both logged at start-up is masked.
    for (const qint64 pid : pids)
        QVERIFY(!QFileInfo::exists(socketOf(pid)));
    QVERIFY(!logText().contains(m_server.code()));
}

void TestPagesProcess::start_withoutLaunchText_endsIdleInstanceAndBecomesIdle()
{
    const int idleBefore = logText().count(QStringLiteral("MyApplication::setFree"));
    Instance first;
    QVERIFY(first.start(m_program, {}));
    QTRY_COMPARE_WITH_TIMEOUT(logText().count(QStringLiteral("MyApplication::setFree")), idleBefore + 1,
                              StartTimeoutMs);
    const qint64 firstPid = first.pid();

    Instance second;
    QVERIFY(second.start(m_program, {}));
    QVERIFY(first.process->waitForFinished(StartTimeoutMs));
    QCOMPARE(first.process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(first.process->exitCode(), 0);
    QVERIFY(logText().contains(QStringLiteral("idleState KILL %1").arg(firstPid)));
    QTRY_COMPARE_WITH_TIMEOUT(logText().count(QStringLiteral("MyApplication::setFree")), idleBefore + 2,
                              StartTimeoutMs);
    QVERIFY(second.running());
}

void TestPagesProcess::start_withoutLaunchText_leavesWorkingInstanceAlone()
{
    Instance working;
    QVERIFY(working.start(m_program, {m_server.launchCommand()}));
    QTRY_COMPARE_WITH_TIMEOUT(m_server.journalList("tokens").size(), 1, StartTimeoutMs);

    // The newcomer finds no idle instance (the working one gave its record up) and waits.
    const int idleBefore = logText().count(QStringLiteral("MyApplication::setFree"));
    Instance idle;
    QVERIFY(idle.start(m_program, {}));
    QTRY_COMPARE_WITH_TIMEOUT(logText().count(QStringLiteral("MyApplication::setFree")), idleBefore + 1,
                              StartTimeoutMs);
    QVERIFY(!logText().contains(QStringLiteral("idleState KILL %1").arg(working.pid())));
    QVERIFY(working.running());
    QVERIFY(idle.running());
}

QTEST_GUILESS_MAIN(TestPagesProcess)
#include "tst_pagesprocess.moc"
