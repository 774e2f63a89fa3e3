// SPDX-License-Identifier: MIT
// The real nuvupload-cli process against a real nuv-devserver.
#include "core/media/processsweep.h"
#include "devserver.h"
#include "programcopy.h"
#include "testvideos.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run runCli(const ProgramCopy &app, const QStringList &arguments)
{
    QProcess process;
    process.start(app.program, arguments);
    // One that does not end is killed as the process object goes.
    const bool ended = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit;
    return {ended ? process.exitCode() : -1, QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

// Clear the screen, set the window title, a C1 line break, a carriage return.
const QString Controls = QStringLiteral("\x1b[2J\x1b]0;x\x07\x85\r");
// Any control character (C0, DEL, C1) but the line feed.
const QRegularExpression ControlCharacter(QStringLiteral("[\\x{0}-\\x{9}\\x{b}-\\x{1f}\\x{7f}-\\x{9f}]"));

} // namespace

class TestCli final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void upload_twoFiles_registersBothPrintsProgressMasksLog();
    void run_badInput_exitCodeAndMessage_data();
    void run_badInput_exitCodeAndMessage();
    void probe_leftoverOfKilledRun_endedThenFactsPrinted();
    void upload_signal_stopsEndsFfmpegAndReportsExit_data();
    void upload_signal_stopsEndsFfmpegAndReportsExit();

private:
    ProgramCopy m_app;
    // Its settings name a token endpoint full of terminal controls.
    DevServer m_hostile;
    QTemporaryDir m_media;
    QString m_first;
    QString m_second;
};

void TestCli::initTestCase()
{
    QVERIFY(m_app.install(QStringLiteral("nuvupload-cli")));
    m_first = m_media.filePath(QStringLiteral("first clip.mp4"));
    m_second = m_media.filePath(QStringLiteral("second.MKV"));
    TestVideoOptions faststart;
    faststart.faststart = true;
    QVERIFY(TestVideos::make(m_first, faststart));
    TestVideoOptions matroska;
    matroska.container = QStringLiteral("matroska");
    QVERIFY(TestVideos::make(m_second, matroska));
    QVERIFY2(m_hostile.start(), qPrintable(m_hostile.errorString()));
    const QJsonObject settings{{QStringLiteral("getTokenApi"), QString(QStringLiteral("ftp://h/") + Controls)}};
    QVERIFY(m_hostile.configure({{QStringLiteral("settings"), settings}}));
}

void TestCli::upload_twoFiles_registersBothPrintsProgressMasksLog()
{
    DevServer server;
    const QString code = QStringLiteral("c0deS3cretForTheLog");
    // The first chunk meets a network outage of 3 s, which the line shows while it waits.
    QVERIFY2(server.start({QStringLiteral("--code"), code, QStringLiteral("--outage"), QStringLiteral("3000:refuse")}),
             qPrintable(server.errorString()));
    const QJsonObject task{{QStringLiteral("id"), 1},
                           {QStringLiteral("type"), 2},
                           {QStringLiteral("sign"), 0},
                           {QStringLiteral("mac"), QString()},
                           {QStringLiteral("title"), QString(Controls + QStringLiteral("上传原视频"))}};
    QVERIFY(server.configure({{QStringLiteral("plan"), QJsonArray{task}}}));
    const Run run = runCli(m_app, {server.launchCommand(), m_first, m_second});
    QVERIFY2(run.exitCode == 0 && run.err.isEmpty(), qPrintable(run.out + run.err));
    // Not a terminal: a few plain lines, one file after the other, then the summary. The
    // server's task title is printed without its controls.
    const QRegularExpression flow(
        QStringLiteral("(?s)^\\[1/2\\] first clip\\.mp4   上传原视频 \\(1/2\\).*first clip\\.mp4: 上传完成\n"
                       ".*\\[2/2\\] second\\.MKV   上传原视频 \\(1/2\\).*second\\.MKV: 上传完成\n"
                       "2/2 files registered\n$"));
    QVERIFY2(flow.match(run.out).hasMatch() && run.out.count(QLatin1Char('\n')) < 20
                 && !run.out.contains(ControlCharacter)
                 && run.out.contains(QStringLiteral("first clip.mp4  网络中断，等待重连 (已等待 00:0")),
             qPrintable(run.out));

    QCOMPARE(server.registeredNames(), (QStringList{QStringLiteral("first clip.mp4"), QStringLiteral("second.MKV")}));
    QCOMPARE(server.journalList("registrations").at(1)[QStringLiteral("formJson")][QStringLiteral("suffix")].toString(),
             QStringLiteral(".MKV"));
    // The last report lists both files as registered.
    const QJsonArray list = server.journalList("reports").last().toObject().value(QStringLiteral("listJson")).toArray();
    QVERIFY2(list.size() == 2 && list.at(0)[QStringLiteral("status")] == 19
                 && list.at(1)[QStringLiteral("status")] == 19,
             QJsonDocument(list).toJson().constData());
    // The details went to the daily log, not to the terminal; neither the token nor the launch
    // code is in it, while the lines that held them stay.
    const QString log = m_app.logText();
    QVERIFY(log.contains(QStringLiteral("FFMpegTools::info")) && !run.out.contains(QStringLiteral("FFMpegTools")));
    const QString token = server.journalValues("tokens", "token").value(0);
    QVERIFY(token.size() >= 8 && !log.contains(token) && !log.contains(code));
    QVERIFY(log.contains(QStringLiteral("code=c0de…")));
}

void TestCli::run_badInput_exitCodeAndMessage_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    const auto row = [](const char *tag, const char *arguments, int exitCode, const char *message) {
        QTest::newRow(tag) << QString::fromUtf8(arguments).split(QLatin1Char('|')) << exitCode
                           << QString::fromUtf8(message);
    };
    row("unknown option", "--fast|cmd|a", 2, "unknown option --fast");
    row("probe of two files", "--probe|a|b", 2, "--probe takes exactly one file");
    row("no file", "<onlyOne>", 2, "a launch command and at least one file");
    row("a file named like an option", "hello|--|--help.mp4", 2, "启动参数有误: 指令格式不正确");
    row("not a video suffix", "<onlyOne>|notes.txt", 2, "请正确添加视频文件: notes.txt");
    row("more files than allowed", "<onlyOne>|<first>|<first>", 2, "选择的文件数量，超出当前最大可上传数量(1)。");
    row("server text with controls", "<hostile>|<first>", 1, "服务器返回Token接口有误，请联系管理员(ftp://h/ )");
    row("probe of no video", "--probe|<program>", 1, "获取上传文件信息失败,请确认文件为有效视频(");
}

void TestCli::run_badInput_exitCodeAndMessage()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    arguments.replaceInStrings(QStringLiteral("<first>"), m_first);
    arguments.replaceInStrings(QStringLiteral("<program>"), m_app.program);
    arguments.replaceInStrings(QStringLiteral("<hostile>"), m_hostile.launchCommand());
    // Refused before any request: nothing listens on the discard port.
    arguments.replaceInStrings(QStringLiteral("<onlyOne>"),
                               QStringLiteral("nuvVideoClient://http://127.0.0.1:9/s?uuid=u&code=c&type=1&moduleId=1&"
                                              "parentId=1&maxUploadNum=1"));
    const Run run = runCli(m_app, arguments);
    QCOMPARE(run.exitCode, exitCode);
    // A failure goes to stderr alone.
    QVERIFY2(run.err.contains(message) && !run.err.contains(ControlCharacter) && run.out.isEmpty(),
             qPrintable(run.out + run.err));
}

void TestCli::probe_leftoverOfKilledRun_endedThenFactsPrinted()
{
    // What a run of this installation leaves when its process dies before ffmpeg does.
    const QString marker = QStringLiteral("nuv-leftover-") + QString::number(QCoreApplication::applicationPid());
    const QStringList mark{ProcessSweep::installMarker(m_app.dir.path()),
                           QString::number(QCoreApplication::applicationPid()), QStringLiteral("1"), marker};
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(ProcessSweep::markVariable(), mark.join(QLatin1Char(':')));
    QProcess leftover;
    leftover.setProcessEnvironment(environment);
    leftover.start(TestVideos::ffmpeg(), TestVideos::silentRunArguments(marker, 30));
    QVERIFY(leftover.waitForStarted());

    const Run run = runCli(m_app, {QStringLiteral("--probe"), m_first});
    QVERIFY(leftover.waitForFinished(5000) && leftover.exitStatus() == QProcess::CrashExit);
    // The facts the file check would send, as one JSON object.
    const QJsonObject facts = QJsonDocument::fromJson(run.out.toUtf8()).object();
    QVERIFY2(run.exitCode == 0 && facts.size() == 11
                 && facts.value(QStringLiteral("name")) == QStringLiteral("first clip.mp4")
                 && facts.value(QStringLiteral("size")).toDouble() == QFileInfo(m_first).size()
                 && facts.value(QStringLiteral("width")) == 64,
             qPrintable(run.out));
}

void TestCli::upload_signal_stopsEndsFfmpegAndReportsExit_data()
{
    QTest::addColumn<int>("second");
    QTest::newRow("SIGINT mid transcode") << 0;
    // Two signals at once: the second ends the process without waiting for the stop.
    QTest::newRow("SIGTERM right after") << int(SIGTERM);
}

void TestCli::upload_signal_stopsEndsFfmpegAndReportsExit()
{
    QFETCH(int, second);
    DevServer server;
    QVERIFY2(server.start({QStringLiteral("--plan"), QStringLiteral("nr")}), qPrintable(server.errorString()));
    // Wide and long: ffmpeg works for many seconds on the upscaled picture.
    const QString wide = m_media.filePath(QStringLiteral("wide.mp4"));
    TestVideoOptions options;
    options.seconds = 60;
    options.width = 3000;
    options.extraArguments = QStringList{QStringLiteral("-preset"), QStringLiteral("ultrafast")};
    QVERIFY(QFileInfo::exists(wide) || TestVideos::make(wide, options));
    QProcess process;
    process.start(m_app.program, {server.launchCommand(), wide});
    const QString variants = m_app.dir.filePath(QStringLiteral("tmp/"));
    QTRY_VERIFY_WITH_TIMEOUT(TestVideos::processRunningWith(variants) || process.state() == QProcess::NotRunning,
                             60000);
    QVERIFY2(process.state() == QProcess::Running, process.readAllStandardError().constData());

    ::kill(pid_t(process.processId()), SIGINT);
    if (second != 0)
        ::kill(pid_t(process.processId()), second);
    QVERIFY(process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit);
    // 128 + the signal that ended it: with two, either may be handled first.
    const int code = process.exitCode();
    QVERIFY2(code == 128 + SIGINT || (second != 0 && code == 128 + second),
             qPrintable(QString::number(code) + QLatin1Char(' ') + QString::fromUtf8(process.readAllStandardError())));
    // No ffmpeg of the run outlives it, however impatient the user. One killed as the
    // program left may take a moment to go.
    QTRY_VERIFY(!TestVideos::processRunningWith(variants));
    QVERIFY(server.registeredNames().isEmpty());
    if (second != 0)
        return;
    // The exit report went out before the process ended, after the file's last state.
    const QStringList statuses = server.reportedStatuses();
    QVERIFY2(statuses.contains(QStringLiteral("3")) && statuses.last() == QStringLiteral("21"),
             qPrintable(statuses.join(QLatin1Char(','))));
    const QString log = m_app.logText();
    const int stopping = log.lastIndexOf(QStringLiteral("Manager Stop"));
    QVERIFY(stopping >= 0 && stopping < log.lastIndexOf(QStringLiteral("Client Exit")));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
