// SPDX-License-Identifier: MIT
#include "core/media/ffmpegtools.h"
#include "core/media/processsweep.h"
#include "core/media/videoinfo.h"
#include "testvideos.h"
#include "workerrun.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <atomic>

namespace {

QString uniqueMarker()
{
    return QStringLiteral("nuv-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

} // namespace

class TestFFMpegFormat final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void handleOutput_chunks_emitErrorsAndProgress_data();
    void handleOutput_chunks_emitErrorsAndProgress();

    void format_realTranscode_reportsRisingProgressTo100();
    void format_stopWhileRunning_throwsStopAndLeavesNoFfmpeg_data();
    void format_stopWhileRunning_throwsStopAndLeavesNoFfmpeg();
    void format_stopBeforeStart_throwsStop();
    void format_clientKilled_ffmpegDiesWithIt();
    void sweep_processes_onlyOurMarkedFfmpegEnds_data();
    void sweep_processes_onlyOurMarkedFfmpegEnds();

private:
    QTemporaryDir m_dir;
    QString m_source;
};

void TestFFMpegFormat::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(!TestVideos::ffmpeg().isEmpty(), "ffmpeg is needed to generate test media");
    TestVideoOptions options;
    options.seconds = 2;
    m_source = m_dir.filePath(QStringLiteral("my \"best\" clip.mp4"));
    QVERIFY(TestVideos::make(m_source, options));
}

void TestFFMpegFormat::handleOutput_chunks_emitErrorsAndProgress_data()
{
    // clang-format off
    QTest::addColumn<QString>("chunk");
    QTest::addColumn<qint64>("duration");
    QTest::addColumn<QStringList>("events");

    // The clock reads 10 and no run has started, so 10 seconds have elapsed.
    const QString progressLine = QStringLiteral(
        "frame=  904 fps= 30 q=28.0 size=    2048kB time=%1 bitrate= 185.3kbits/s speed=1.01x    ");
    QTest::newRow("half way") << progressLine.arg(QStringLiteral("00:01:30.52")) << qint64(180)
                              << QStringList{QStringLiteral("progress 50 10")};
    QTest::newRow("no duration known") << progressLine.arg(QStringLiteral("00:01:30.52")) << qint64(0)
                                       << QStringList{QStringLiteral("progress 0 0")};
    QTest::newRow("beyond duration") << progressLine.arg(QStringLiteral("00:05:00.00")) << qint64(180)
                                     << QStringList{QStringLiteral("progress 100 0")};
    QTest::newRow("nothing done yet") << progressLine.arg(QStringLiteral("00:00:00.00")) << qint64(180)
                                      << QStringList{QStringLiteral("progress 0 -1")};
    QTest::newRow("fraction of a second ignored") << progressLine.arg(QStringLiteral("00:00:01.99"))
                                                  << qint64(2) << QStringList{QStringLiteral("progress 50 10")};
    QTest::newRow("first clock of several")
        << progressLine.arg(QStringLiteral("00:00:30.00")) + QLatin1Char('\r')
               + progressLine.arg(QStringLiteral("00:01:30.00"))
        << qint64(180) << QStringList{QStringLiteral("progress 16 50")};
    QTest::newRow("clock not yet known") << progressLine.arg(QStringLiteral("N/A")) << qint64(180)
                                         << QStringList();
    QTest::newRow("error line")
        << QStringLiteral("[error]: Invalid data found when processing input\n") << qint64(180)
        << QStringList{QStringLiteral("error 出现异常：[error]: Invalid data found when processing input\n")};
    QTest::newRow("memory error then progress")
        << QStringLiteral("[error]: malloc of size 1048576 failed\r") + progressLine.arg(QStringLiteral("00:00:09.00"))
        << qint64(180)
        << QStringList{QStringLiteral("error 系统转码内存不存，请关闭一些应用程序后重试"),
                       QStringLiteral("progress 5 190")};
    QTest::newRow("marker is case-sensitive") << QStringLiteral("[Error]: something\n") << qint64(180)
                                              << QStringList();
    // clang-format on
}

void TestFFMpegFormat::handleOutput_chunks_emitErrorsAndProgress()
{
    QFETCH(QString, chunk);
    QFETCH(qint64, duration);

    FFMpegTools tools;
    tools.setClock([] { return qint64(10); });
    tools.setDuration(duration);
    QStringList events;
    connect(&tools, &FFMpegTools::errorMessage, this,
            [&events](const QString &msg) { events << QStringLiteral("error ") + msg; });
    connect(&tools, &FFMpegTools::formatProcessSignal, this, [&events](int rate, int remaining) {
        events << QStringLiteral("progress %1 %2").arg(rate).arg(remaining);
    });
    tools.handleOutput(chunk);
    QTEST(events, "events");
}

void TestFFMpegFormat::format_realTranscode_reportsRisingProgressTo100()
{
    // -re holds ffmpeg to real time, so the two-second clip yields several progress lines.
    const QString target = m_dir.filePath(QStringLiteral("out put.mp4"));
    const QStringList arguments{QStringLiteral("-y"),
                                QStringLiteral("-re"),
                                QStringLiteral("-i"),
                                m_source,
                                QStringLiteral("-c:v"),
                                QStringLiteral("libx264"),
                                QStringLiteral("-preset"),
                                QStringLiteral("ultrafast"),
                                target,
                                QStringLiteral("-loglevel"),
                                QStringLiteral("info")};

    FFMpegTools tools;
    tools.setDuration(2);
    QSignalSpy progress(&tools, &FFMpegTools::formatProcessSignal);
    QSignalSpy errors(&tools, &FFMpegTools::errorMessage);
    QCOMPARE(tools.format(arguments), 0);

    QVERIFY2(progress.count() >= 2, qPrintable(QString::number(progress.count())));
    int previous = -1;
    for (const QList<QVariant> &report : qAsConst(progress)) {
        const int rate = report.at(0).toInt();
        QVERIFY(rate >= previous);
        QVERIFY(rate >= 0 && rate <= 100);
        previous = rate;
    }
    QCOMPARE(progress.last().at(0).toInt(), 100);
    QCOMPARE(progress.last().at(1).toInt(), 0);
    QCOMPARE(errors.count(), 0);
    QVERIFY(!TestVideos::processRunningWith(target));

    VideoInfo info;
    QCOMPARE(tools.info(&info, target), 0);
    QCOMPARE(info.videoStreams()[0].width, 64);
}

void TestFFMpegFormat::format_stopWhileRunning_throwsStopAndLeavesNoFfmpeg_data()
{
    QTest::addColumn<bool>("silent");
    QTest::newRow("silent ffmpeg") << true;
    QTest::newRow("ffmpeg printing progress") << false;
}

void TestFFMpegFormat::format_stopWhileRunning_throwsStopAndLeavesNoFfmpeg()
{
    QFETCH(bool, silent);
    const QString marker = uniqueMarker();
    QStringList arguments = TestVideos::silentRunArguments(marker, 60);
    if (!silent)
        arguments << QStringLiteral("-loglevel") << QStringLiteral("info") << QStringLiteral("-stats");

    // format() on a worker thread, as the pipeline runs it.
    std::atomic_bool stop{false};
    WorkerRun run([&stop, arguments] {
        FFMpegTools tools;
        tools.setStopFlag(&stop);
        tools.format(arguments);
    });
    const auto cleanup = qScopeGuard([&] { stop = true; });
    QTRY_VERIFY(TestVideos::processRunningWith(marker));
    QVERIFY(!run.finished());

    stop = true;
    QTRY_VERIFY_WITH_TIMEOUT(run.finished(), 1000);
    QCOMPARE(run.outcome().message, QStringLiteral("停止"));
    QVERIFY(!TestVideos::processRunningWith(marker));
}

void TestFFMpegFormat::format_stopBeforeStart_throwsStop()
{
    const QString marker = uniqueMarker();
    std::atomic_bool stop{true};
    FFMpegTools tools;
    tools.setStopFlag(&stop);
    QCOMPARE(ActionOutcome::of([&] { tools.format(TestVideos::silentRunArguments(marker, 60)); }).message,
             QStringLiteral("停止"));
    QVERIFY(!TestVideos::processRunningWith(marker));
}

void TestFFMpegFormat::format_clientKilled_ffmpegDiesWithIt()
{
    // The arguments travel in the environment, so only ffmpeg has the marker in its command line.
    const QString marker = uniqueMarker();
    QProcess client;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NUV_FORMAT_ARGUMENTS"),
                       TestVideos::silentRunArguments(marker, 30).join(QLatin1Char('\n')));
    client.setProcessEnvironment(environment);
    client.start(qEnvironmentVariable("NUV_BIN_DIR") + QStringLiteral("/formathelper"), QStringList());
    QVERIFY(client.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(TestVideos::processRunningWith(marker), 20000);

    client.kill();
    QVERIFY(client.waitForFinished());
    QTRY_VERIFY(!TestVideos::processRunningWith(marker));
}

void TestFFMpegFormat::sweep_processes_onlyOurMarkedFfmpegEnds_data()
{
    // clang-format off
    QTest::addColumn<bool>("ffmpeg");   // false: a shell holding the run's arguments
    QTest::addColumn<QString>("mark");  // none, run, other (another run of ours), dead (owner gone), foreign (other install)
    QTest::addColumn<bool>("startup");  // the start-up sweep of leftovers, else the sweep after this run
    // clang-format on
    QTest::addColumn<bool>("ended");

    QTest::newRow("user's ffmpeg with the run's arguments") << true << "none" << false << false;
    QTest::newRow("decoy with the run's mark and arguments") << false << "run" << false << false;
    QTest::newRow("ffmpeg of this run") << true << "run" << false << true;
    QTest::newRow("ffmpeg of a concurrent run") << true << "other" << false << false;
    QTest::newRow("ffmpeg of a live run at start-up") << true << "run" << true << false;
    QTest::newRow("leftover of a killed run") << true << "dead" << true << true;
    QTest::newRow("decoy leftover") << false << "dead" << true << false;
    QTest::newRow("leftover of another installation") << true << "foreign" << true << false;
}

void TestFFMpegFormat::sweep_processes_onlyOurMarkedFfmpegEnds()
{
    QFETCH(bool, ffmpeg);
    QFETCH(QString, mark);
    QFETCH(bool, startup);
    QFETCH(bool, ended);

    const QString runMark = ProcessSweep::newMark();
    QStringList fields = runMark.split(QLatin1Char(':'));
    fields[2] = QStringLiteral("1"); // started at another time: the id now belongs to someone else
    if (mark == QLatin1String("foreign"))
        fields[0] = ProcessSweep::installMarker(QDir::tempPath());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (mark == QLatin1String("run"))
        environment.insert(ProcessSweep::markVariable(), runMark);
    else if (mark == QLatin1String("other"))
        environment.insert(ProcessSweep::markVariable(), ProcessSweep::newMark());
    else if (mark != QLatin1String("none"))
        environment.insert(ProcessSweep::markVariable(), fields.join(QLatin1Char(':')));

    const QStringList arguments = TestVideos::silentRunArguments(uniqueMarker(), 30);
    QProcess process;
    process.setProcessEnvironment(environment);
    if (ffmpeg)
        process.start(TestVideos::ffmpeg(), arguments);
    else
        process.start(QStringLiteral("bash"),
                      QStringList{QStringLiteral("-c"), QStringLiteral("read -t 30"), QStringLiteral("ffmpeg")}
                          + arguments);
    const auto cleanup = qScopeGuard([&] {
        process.kill();
        process.waitForFinished();
    });
    QVERIFY(process.waitForStarted());

    const QList<qint64> killed = startup ? ProcessSweep::endLeftovers(TestVideos::ffmpeg())
                                         : ProcessSweep::endRun(runMark, TestVideos::ffmpeg());
    QCOMPARE(killed.contains(process.processId()), ended);
    if (ended) {
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);
    }
}

QTEST_GUILESS_MAIN(TestFFMpegFormat)
#include "tst_ffmpegformat.moc"
