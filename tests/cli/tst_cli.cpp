// SPDX-License-Identifier: MIT
// The real nuvupload-cli process against a real nuv-devserver.
#include "core/media/processsweep.h"
#include "devserver.h"
#include "programcopy.h"
#include "testvideos.h"

#include <QDir>
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

Run runCli(const ProgramCopy &app, const QStringList &arguments, int timeoutMs = 120000)
{
    QProcess process;
    process.start(app.program, arguments);
    Run run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

} // namespace

class TestCli final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void upload_twoFiles_registersBothAndPrintsProgress();
    void upload_badLaunchCommand_exitsWithDecodingMessage_data();
    void upload_badLaunchCommand_exitsWithDecodingMessage();
    void upload_refusedFiles_exitWithMessagesBeforeAnyRequest();
    void upload_serverTextWithControls_printedHarmless_data();
    void upload_serverTextWithControls_printedHarmless();
    void probe_video_printsFactsAsJson();
    void probe_leftoverOfKilledRun_endedAtStart();
    void upload_sigint_stopsEndsFfmpegAndReportsExit_data();
    void upload_sigint_stopsEndsFfmpegAndReportsExit();

private:
    ProgramCopy m_app;
    QTemporaryDir m_media;
    QString m_first;
    QString m_second;
};

void TestCli::initTestCase()
{
    QVERIFY(m_app.install(QStringLiteral("nuvupload-cli")));
    QVERIFY(m_media.isValid());
    m_first = m_media.filePath(QStringLiteral("first clip.mp4"));
    m_second = m_media.filePath(QStringLiteral("second.MKV"));
    TestVideoOptions faststart;
    faststart.faststart = true;
    QVERIFY(TestVideos::make(m_first, faststart));
    TestVideoOptions matroska;
    matroska.container = QStringLiteral("matroska");
    QVERIFY(TestVideos::make(m_second, matroska));
}

void TestCli::upload_twoFiles_registersBothAndPrintsProgress()
{
    DevServer server;
    const QString code = QStringLiteral("c0deS3cretForTheLog");
    QVERIFY2(server.start({QStringLiteral("--code"), code}), qPrintable(server.errorString()));
    const Run run = runCli(m_app, {server.launchCommand(), m_first, m_second});
    QVERIFY2(run.exitCode == 0, qPrintable(run.out + run.err));
    QVERIFY2(run.err.isEmpty(), qPrintable(run.err));
    // Not a terminal: plain lines, one file after the other, then the summary.
    QVERIFY(!run.out.contains(QLatin1Char('\r')));
    const int first = run.out.indexOf(QStringLiteral("[1/2] first clip.mp4  上传原视频 (1/2)"));
    const int firstDone = run.out.indexOf(QStringLiteral("first clip.mp4: 上传完成"));
    const int second = run.out.indexOf(QStringLiteral("[2/2] second.MKV  上传原视频 (1/2)"));
    QVERIFY2(first >= 0 && firstDone > first && second > firstDone, qPrintable(run.out));
    QVERIFY2(run.out.contains(QStringLiteral("second.MKV: 上传完成")), qPrintable(run.out));
    QVERIFY2(run.out.endsWith(QStringLiteral("2/2 files registered\n")), qPrintable(run.out));
    QVERIFY2(run.out.count(QLatin1Char('\n')) < 20, qPrintable(run.out));

    QCOMPARE(server.registeredNames(), (QStringList{QStringLiteral("first clip.mp4"), QStringLiteral("second.MKV")}));
    const QJsonArray registrations = server.journalList("registrations");
    QCOMPARE(registrations.at(1)
                 .toObject()
                 .value(QStringLiteral("formJson"))
                 .toObject()
                 .value(QStringLiteral("suffix"))
                 .toString(),
             QStringLiteral(".MKV"));
    QCOMPARE(server.reportedStatuses().last(), QStringLiteral("19"));
    // The last report lists both files as registered.
    const QJsonArray list = server.journalList("reports").last().toObject().value(QStringLiteral("listJson")).toArray();
    QCOMPARE(list.size(), 2);
    for (const QJsonValue &entry : list)
        QCOMPARE(entry.toObject().value(QStringLiteral("status")).toInt(), 19);
    // The details went to the daily log, not to the terminal.
    QVERIFY(m_app.logText().contains(QStringLiteral("FFMpegTools::info")));
    QVERIFY(!run.out.contains(QStringLiteral("FFMpegTools")));
    // Neither the token nor the launch code is in any log file; the lines that held them stay.
    const QString token = server.journalValues("tokens", "token").value(0);
    QVERIFY(token.size() >= 8);
    for (const QFileInfo &log : QDir(m_app.dir.filePath(QStringLiteral("logs"))).entryInfoList(QDir::Files)) {
        QFile file(log.filePath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY2(!text.contains(token) && !text.contains(code), qPrintable(log.fileName()));
    }
    QVERIFY(m_app.logText().contains(QStringLiteral("code=c0de…")));
}

void TestCli::upload_badLaunchCommand_exitsWithDecodingMessage_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("message");
    QTest::newRow("not a launch command") << QStringLiteral("hello") << QStringLiteral("指令格式不正确");
    QTest::newRow("ftp server") << QStringLiteral(
        "nuvVideoClient://ftp://h/s?uuid=u&type=1&moduleId=1&parentId=1&maxUploadNum=2")
                                << QStringLiteral("服务器地址格式有误");
    QTest::newRow("no uuid") << QStringLiteral(
        "nuvVideoClient://http://h/s?type=1&moduleId=1&parentId=1&maxUploadNum=2")
                             << QStringLiteral("uuid格式有误");
}

void TestCli::upload_badLaunchCommand_exitsWithDecodingMessage()
{
    QFETCH(QString, command);
    QFETCH(QString, message);
    const Run run = runCli(m_app, {command, m_first});
    QCOMPARE(run.exitCode, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(run.out.isEmpty());
}

void TestCli::upload_refusedFiles_exitWithMessagesBeforeAnyRequest()
{
    DevServer server;
    QVERIFY2(server.start({QStringLiteral("--max-upload-num"), QStringLiteral("1")}), qPrintable(server.errorString()));
    const QString notes = m_media.filePath(QStringLiteral("notes.txt"));
    const Run refused = runCli(m_app, {server.launchCommand(), notes});
    QCOMPARE(refused.exitCode, 2);
    QVERIFY2(refused.err.contains(QStringLiteral("请正确添加视频文件: ") + notes), qPrintable(refused.err));

    const Run tooMany = runCli(m_app, {server.launchCommand(), m_first, m_second});
    QCOMPARE(tooMany.exitCode, 2);
    QVERIFY2(tooMany.err.contains(QStringLiteral("选择的文件数量，超出当前最大可上传数量(1)。")),
             qPrintable(tooMany.err));
    QVERIFY(server.journalList("requests").isEmpty());
}

void TestCli::upload_serverTextWithControls_printedHarmless_data()
{
    QTest::addColumn<QJsonObject>("config");
    QTest::addColumn<QString>("shown");
    // Clear the screen, set the window title, a C1 line break, a carriage return.
    const QString controls = QStringLiteral("\x1b[2J\x1b]0;x\x07\x85\r");
    QTest::newRow("message") << QJsonObject{{QStringLiteral("settings"),
                                             QJsonObject{{QStringLiteral("getTokenApi"),
                                                          QString(QStringLiteral("ftp://h/") + controls)}}}}
                             << QStringLiteral("服务器返回Token接口有误，请联系管理员(ftp://h/ )");
    const QJsonObject task{{QStringLiteral("id"), 1},
                           {QStringLiteral("type"), 2},
                           {QStringLiteral("sign"), 0},
                           {QStringLiteral("title"), QString(controls + QStringLiteral("上传"))},
                           {QStringLiteral("mac"), QString()}};
    QTest::newRow("task title") << QJsonObject{{QStringLiteral("plan"), QJsonArray{task}}}
                                << QStringLiteral("first clip.mp4   上传 (1/2)");
}

void TestCli::upload_serverTextWithControls_printedHarmless()
{
    QFETCH(QJsonObject, config);
    QFETCH(QString, shown);
    DevServer server;
    QVERIFY2(server.start(), qPrintable(server.errorString()));
    QVERIFY(server.configure(config));
    const Run run = runCli(m_app, {server.launchCommand(), m_first});
    const QString printed = run.out + run.err;
    QVERIFY2(printed.contains(shown), qPrintable(printed));
    for (const QChar c : printed)
        QVERIFY2(c == QLatin1Char('\n') || (c.unicode() >= 0x20 && (c.unicode() < 0x7f || c.unicode() > 0x9f)),
                 qPrintable(QString::number(c.unicode(), 16)));
}

void TestCli::probe_video_printsFactsAsJson()
{
    const Run run = runCli(m_app, {QStringLiteral("--probe"), m_first});
    QCOMPARE(run.exitCode, 0);
    QJsonParseError error;
    const QJsonObject facts = QJsonDocument::fromJson(run.out.toUtf8(), &error).object();
    QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(run.out));
    QCOMPARE(facts.keys().size(), 11);
    QCOMPARE(facts.value(QStringLiteral("name")).toString(), QStringLiteral("first clip.mp4"));
    QCOMPARE(facts.value(QStringLiteral("suffix")).toString(), QStringLiteral(".mp4"));
    QCOMPARE(qint64(facts.value(QStringLiteral("size")).toDouble()), QFileInfo(m_first).size());
    QCOMPARE(facts.value(QStringLiteral("duration")).toInt(), 1);
    QCOMPARE(facts.value(QStringLiteral("videoCodec")).toString(), QStringLiteral("h264"));
    QCOMPARE(facts.value(QStringLiteral("mp4Format")).toBool(), true);
    QCOMPARE(facts.value(QStringLiteral("nuvVideo")).toBool(), false);
    QVERIFY(!facts.value(QStringLiteral("rate")).toString().isEmpty());
    QCOMPARE(facts.value(QStringLiteral("width")).toInt(), 64);
    QCOMPARE(facts.value(QStringLiteral("height")).toInt(), 48);
    QCOMPARE(facts.value(QStringLiteral("audioCodec")).toString(), QStringLiteral("aac"));

    const Run notVideo = runCli(m_app, {QStringLiteral("--probe"), m_app.program});
    QCOMPARE(notVideo.exitCode, 1);
    QVERIFY2(notVideo.err.contains(QStringLiteral("获取上传文件信息失败,请确认文件为有效视频(")),
             qPrintable(notVideo.err));
}

void TestCli::probe_leftoverOfKilledRun_endedAtStart()
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

    QCOMPARE(runCli(m_app, {QStringLiteral("--probe"), m_first}).exitCode, 0);
    QVERIFY(leftover.waitForFinished(5000));
    QCOMPARE(leftover.exitStatus(), QProcess::CrashExit);
}

void TestCli::upload_sigint_stopsEndsFfmpegAndReportsExit_data()
{
    QTest::addColumn<bool>("transcode");
    QTest::addColumn<int>("second");
    QTest::newRow("mid upload") << false << 0;
    QTest::newRow("mid transcode") << true << 0;
    // Two signals at once: the second ends the process without waiting for the stop.
    QTest::newRow("SIGTERM right after") << true << int(SIGTERM);
}

void TestCli::upload_sigint_stopsEndsFfmpegAndReportsExit()
{
    QFETCH(bool, transcode);
    QFETCH(int, second);
    DevServer server;
    QVERIFY2(server.start({QStringLiteral("--plan"), transcode ? QStringLiteral("nr") : QStringLiteral("original")}),
             qPrintable(server.errorString()));
    QVERIFY(server.configure({{QStringLiteral("stall"), QJsonObject{{QStringLiteral("upload"), 60000}}}}));
    // Wide and long: ffmpeg works for many seconds on the upscaled picture.
    const QString wide = m_media.filePath(QStringLiteral("wide.mp4"));
    TestVideoOptions options;
    options.seconds = 60;
    options.width = 3000;
    options.extraArguments = QStringList{QStringLiteral("-preset"), QStringLiteral("ultrafast")};
    QVERIFY(!transcode || QFileInfo::exists(wide) || TestVideos::make(wide, options));
    QProcess process;
    process.start(m_app.program, {server.launchCommand(), transcode ? wide : m_first});
    QVERIFY(process.waitForStarted());
    const QString variants = m_app.dir.filePath(QStringLiteral("tmp/"));
    const auto busy = [&server, transcode, &variants] {
        if (transcode)
            return TestVideos::processRunningWith(variants);
        return !server.requestsTo(QStringLiteral("/api/upload")).isEmpty();
    };
    QTRY_VERIFY_WITH_TIMEOUT(busy(), 60000);

    ::kill(pid_t(process.processId()), SIGINT);
    if (second != 0)
        ::kill(pid_t(process.processId()), second);
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    // 128 + the signal that ended it: with two, either may be handled first.
    const int code = process.exitCode();
    QVERIFY2(code == 128 + SIGINT || (second != 0 && code == 128 + second), qPrintable(QString::number(code)));
    // No ffmpeg of the run outlives it, however impatient the user. One killed as the
    // program left may take a moment to go.
    QTRY_VERIFY(!TestVideos::processRunningWith(variants));
    QVERIFY(server.registeredNames().isEmpty());
    if (second != 0)
        return;
    // The exit report went out before the process ended, after the file's last state.
    const QStringList statuses = server.reportedStatuses();
    QCOMPARE(statuses.last(), QStringLiteral("21"));
    QVERIFY2(statuses.contains(transcode ? QStringLiteral("3") : QStringLiteral("10")),
             qPrintable(statuses.join(QLatin1Char(','))));
    const QString log = m_app.logText();
    const int stopping = log.lastIndexOf(QStringLiteral("Manager Stop"));
    QVERIFY(stopping >= 0 && stopping < log.lastIndexOf(QStringLiteral("Client Exit")));
}

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
