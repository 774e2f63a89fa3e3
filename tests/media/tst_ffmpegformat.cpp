// SPDX-License-Identifier: MIT
#include "media/ffmpegtools.h"
#include "media/videoinfo.h"
#include "testvideos.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QUuid>
#include <QtTest>

#include <atomic>

namespace {

QString uniqueMarker()
{
    return QStringLiteral("nuv-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// format() on a worker thread, as the pipeline runs it.
struct BackgroundFormat
{
    std::atomic_bool stop{false};
    std::atomic_bool done{false};
    QString thrown;
    QScopedPointer<QThread> thread;

    void start(const QStringList &arguments)
    {
        thread.reset(QThread::create([this, arguments] {
            FFMpegTools tools;
            tools.setStopFlag(&stop);
            try {
                tools.format(arguments);
            } catch (const QString &text) {
                thrown = text;
            }
            done = true;
        }));
        thread->start();
    }
};

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
    void kill_argumentRun_endsOnlyTheMatchingProcess();

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
    const QStringList arguments = FFMpegTools::buildArguments(
        QStringLiteral("{ffmpegPath} -y -re -i \"{source}\" -c:v libx264 -preset ultrafast \"{target}\""),
        {{QStringLiteral("{ffmpegPath}"), QString()},
         {QStringLiteral("{source}"), m_source},
         {QStringLiteral("{target}"), target}})
        << QStringLiteral("-loglevel") << QStringLiteral("info");

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

    BackgroundFormat run;
    run.start(arguments);
    const auto cleanup = qScopeGuard([&] {
        run.stop = true;
        run.thread->wait();
    });
    QTRY_VERIFY(TestVideos::processRunningWith(marker));

    // A run that a wrapper still waits for is not a leftover.
    QCOMPARE(FFMpegTools::kill(arguments), 0);
    QVERIFY(TestVideos::processRunningWith(marker));
    QVERIFY(!run.done);

    run.stop = true;
    QTRY_VERIFY_WITH_TIMEOUT(run.done, 1000);
    QCOMPARE(run.thrown, QStringLiteral("停止"));
    QVERIFY(!TestVideos::processRunningWith(marker));
}

void TestFFMpegFormat::format_stopBeforeStart_throwsStop()
{
    const QString marker = uniqueMarker();
    std::atomic_bool stop{true};
    FFMpegTools tools;
    tools.setStopFlag(&stop);
    QString thrown;
    try {
        tools.format(TestVideos::silentRunArguments(marker, 60));
    } catch (const QString &text) {
        thrown = text;
    }
    QCOMPARE(thrown, QStringLiteral("停止"));
    QVERIFY(!TestVideos::processRunningWith(marker));
}

void TestFFMpegFormat::kill_argumentRun_endsOnlyTheMatchingProcess()
{
    const QString markerA = uniqueMarker();
    const QString markerB = uniqueMarker();
    const QStringList argumentsA = TestVideos::silentRunArguments(markerA, 60);
    QProcess a;
    QProcess b;
    const auto cleanup = qScopeGuard([&] {
        a.kill();
        b.kill();
        a.waitForFinished();
        b.waitForFinished();
    });
    a.start(TestVideos::ffmpeg(), argumentsA);
    b.start(TestVideos::ffmpeg(), TestVideos::silentRunArguments(markerB, 60));
    QVERIFY(a.waitForStarted());
    QVERIFY(b.waitForStarted());
    QTRY_VERIFY(TestVideos::processRunningWith(markerA) && TestVideos::processRunningWith(markerB));

    QStringList gapped = argumentsA;
    gapped.removeAt(gapped.size() / 2);
    QCOMPARE(FFMpegTools::kill(gapped), 0);
    QCOMPARE(FFMpegTools::kill(QStringList()), 0);
    QCOMPARE(FFMpegTools::kill(QStringList{QStringLiteral("-metadata"), QStringLiteral("comment=") + markerA}), 1);

    QVERIFY(a.waitForFinished(5000));
    QCOMPARE(a.exitStatus(), QProcess::CrashExit);
    QCOMPARE(b.state(), QProcess::Running);
    QVERIFY(!TestVideos::processRunningWith(markerA));
    QVERIFY(TestVideos::processRunningWith(markerB));

    // The text form splits the way a server template is split.
    QCOMPARE(FFMpegTools::kill(FFMpegTools::joinArguments(b.arguments())), 1);
    QVERIFY(b.waitForFinished(5000));
}

QTEST_GUILESS_MAIN(TestFFMpegFormat)
#include "tst_ffmpegformat.moc"
