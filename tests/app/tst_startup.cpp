// SPDX-License-Identifier: MIT
// Runs the real NUVUpload executable and reads what it leaves in its log folder.
#include "core/platform/appdirs.h"
#include "programcopy.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

namespace {

QString lineAfter(const QString &log, const QString &marker)
{
    const int at = log.indexOf(marker);
    if (at < 0)
        return QStringLiteral("<missing>");
    const int end = log.indexOf(QStringLiteral("\r\n"), at);
    return log.mid(at + marker.size(), end - at - marker.size());
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void start_arguments_pickLaunchTextAndWriteBanners_data();
    void start_arguments_pickLaunchTextAndWriteBanners();
    void start_logsFolder_createdAndSubfolderKept();
    void appDirs_programFolder_portableOnlyInOwnFolder_data();
    void appDirs_programFolder_portableOnlyInOwnFolder();

private:
    QTemporaryDir m_instances;
};

void TestStartup::initTestCase()
{
    // The single-instance records and activation sockets live under the temp folder; the
    // programs started here get their own, so they neither end nor meet other instances.
    QVERIFY(m_instances.isValid());
    qputenv("TMPDIR", m_instances.path().toUtf8());
}

void TestStartup::start_arguments_pickLaunchTextAndWriteBanners_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("launchText");
    QTest::newRow("none") << QStringList() << QString();
    QTest::newRow("one") << QStringList{QStringLiteral("X")} << QStringLiteral("X");
    QTest::newRow("two") << QStringList{QStringLiteral("A"), QStringLiteral("X")} << QStringLiteral("X");
    QTest::newRow("three") << QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}
                           << QStringLiteral("B");
}

void TestStartup::start_arguments_pickLaunchTextAndWriteBanners()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, launchText);
    ProgramCopy app;
    QVERIFY(app.install(QStringLiteral("NUVUpload")));
    QTemporaryDir elsewhere;

    QProcess process;
    process.setWorkingDirectory(elsewhere.path());
    process.start(app.program, arguments);
    QVERIFY(process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(app.logText().contains(QStringLiteral("launchText:")), 20000);
    process.terminate(); // a logout: the event loop ends and the stop banner follows
    QVERIFY(process.waitForFinished(20000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);

    const QString log = app.logText();
    const QString rule(64, QLatin1Char('#'));
    const QStringList lines = log.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    QVERIFY(lines.size() > 7);
    // Info lines: time, two blanks (no level word), the call site, the text.
    const QRegularExpression infoLine(QStringLiteral(
        "^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  File:\\(.+startup\\.cpp\\) Line:\\(\\d+\\) #{64}$"));
    QVERIFY2(infoLine.match(lines.at(0)).hasMatch(), qPrintable(lines.at(0)));
    QVERIFY(lines.at(1).endsWith(QStringLiteral("#                          START                               #")));
    QVERIFY(lines.at(2).endsWith(rule));
    QVERIFY(lines.at(lines.size() - 2)
                .endsWith(QStringLiteral("#                          STOP                                #")));
    QVERIFY(lines.last().endsWith(rule));

    QCOMPARE(lineAfter(log, QStringLiteral("currentPath:")), QDir(app.dir.path()).canonicalPath());
    QCOMPARE(lineAfter(log, QStringLiteral("applicationDirPath:")), QDir(app.dir.path()).canonicalPath());
    QCOMPARE(lineAfter(log, QStringLiteral("arguments:")),
             (QStringList{app.program} + arguments).join(QLatin1Char(',')));
    QCOMPARE(lineAfter(log, QStringLiteral("launchText:")), launchText);
    // The settings file beside the program was written because it did not exist.
    QVERIFY(QFile::exists(app.dir.filePath(QStringLiteral("setting.ini"))));
}

void TestStartup::start_logsFolder_createdAndSubfolderKept()
{
    ProgramCopy app;
    QVERIFY(app.install(QStringLiteral("NUVUpload")));
    QVERIFY(!QFile::exists(app.dir.filePath(QStringLiteral("logs"))));

    QProcess first;
    first.start(app.program, QStringList());
    QTRY_VERIFY_WITH_TIMEOUT(app.logText().contains(QStringLiteral("launchText:")), 20000);
    first.terminate();
    QVERIFY(first.waitForFinished(20000));
    QVERIFY(QFileInfo(app.dir.filePath(QStringLiteral("logs"))).isDir());

    // A second start prunes old files only; a folder inside logs is left alone.
    QVERIFY(QDir().mkpath(app.dir.filePath(QStringLiteral("logs/keep"))));
    QProcess second;
    second.start(app.program, QStringList());
    QTRY_VERIFY_WITH_TIMEOUT(app.logText().count(QStringLiteral("launchText:")) == 2, 20000);
    second.terminate();
    QVERIFY(second.waitForFinished(20000));
    QVERIFY(QFileInfo(app.dir.filePath(QStringLiteral("logs/keep"))).isDir());
    QCOMPARE(app.logText().count(QStringLiteral("#                          STOP                                #")),
             2);
}

void TestStartup::appDirs_programFolder_portableOnlyInOwnFolder_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("portable");
    QTest::newRow("own folder") << QStringLiteral("own") << true;
    QTest::newRow("system prefix") << QStringLiteral("/usr/bin") << false;
    QTest::newRow("local prefix") << QStringLiteral("/usr/local/bin") << false;
    QTest::newRow("link into a prefix") << QStringLiteral("link") << false;
    QTest::newRow("another user's folder") << QStringLiteral("foreign") << false;
}

void TestStartup::appDirs_programFolder_portableOnlyInOwnFolder()
{
    QFETCH(QString, folder);
    QFETCH(bool, portable);
    QTemporaryDir dir;
    if (folder == QLatin1String("own")) {
        folder = dir.path();
    } else if (folder == QLatin1String("link")) {
        folder = dir.filePath(QStringLiteral("bin"));
        QVERIFY(QFile::link(QStringLiteral("/usr/bin"), folder));
    } else if (folder == QLatin1String("foreign")) {
        folder = dir.path();
        if (::chown(QFile::encodeName(folder).constData(), 65534, 65534) != 0)
            QSKIP("only root can hand a folder to another user");
    }
    QCOMPARE(AppDirs::isPortable(folder), portable);
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
