// SPDX-License-Identifier: MIT
// The chunked upload against a misbehaving server: refused chunks, dropped connections,
// stalls, and the user's stop during the pause between attempts.
#include "core/api/taskcommand.h"
#include "core/pipeline/itaskexecutor.h"
#include "core/pipeline/uploadmanager.h"
#include "core/pipeline/uploadtaskexecutor.h"
#include "core/session/manager.h"
#include "pipelinefixture.h"
#include "testsupport.h"
#include "testvideos.h"

#include <QSemaphore>
#include <QtTest>

namespace {

constexpr qint64 MiB = 1024 * 1024;

QJsonArray chunksOf(const PipelineFixture &fixture)
{
    const QJsonArray uploads = fixture.journal("uploads");
    return uploads.isEmpty() ? QJsonArray() : uploads.first().toObject().value(QStringLiteral("chunks")).toArray();
}

int rejectedChunks(const PipelineFixture &fixture)
{
    int rejected = 0;
    for (const QJsonValue &chunk : chunksOf(fixture))
        rejected += chunk.toObject().value(QStringLiteral("accepted")).toBool() ? 0 : 1;
    return rejected;
}

// The count of attempts is what matters here; the 2 s pause is exercised by the stop test.
ClientOptions quickRetries(int stallMs = ClientOptions().stallTimeoutMs)
{
    ClientOptions options;
    options.retryPauseMs = 20;
    options.stallTimeoutMs = stallMs;
    return options;
}

int uploadRequests(const PipelineFixture &fixture)
{
    return fixture.server().requestsTo(QStringLiteral("/api/upload")).size();
}

} // namespace

class TestUploadFaults final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void upload_refusedAttempts_retriedUpToEleven_data();
    void upload_refusedAttempts_retriedUpToEleven();
    void upload_droppedOrStalledReply_retriedNotHung_data();
    void upload_droppedOrStalledReply_retriedNotHung();
    void upload_fileChangedWhileSent_failsNeverPastTotal_data();
    void upload_fileChangedWhileSent_failsNeverPastTotal();
    void run_unusableRegistrationEndpoint_failsBeforeUpload_data();
    void run_unusableRegistrationEndpoint_failsBeforeUpload();
    void stop_duringUploadPause_stopsThenResumesAtUnfinishedTask();
    void stop_atTranscodeStart_stopsThenTranscodesAgain();
};

void TestUploadFaults::upload_refusedAttempts_retriedUpToEleven_data()
{
    QTest::addColumn<int>("refusals");
    QTest::addColumn<QString>("message");
    QTest::newRow("10 refusals, then accepted") << 10 << QString();
    QTest::newRow("11 refusals") << 11 << QStringLiteral("多次上传重试失败((503)(分片暂不可用))");
}

void TestUploadFaults::upload_refusedAttempts_retriedUpToEleven()
{
    QFETCH(int, refusals);
    QFETCH(QString, message);
    PipelineFixture fixture;
    QVERIFY2(fixture.start({QStringLiteral("--reject-chunks"), QString::number(refusals)}, quickRetries()),
             qPrintable(fixture.error()));
    const QString source = fixture.dataPath(QStringLiteral("data.mp4"));
    QVERIFY(fixture.makeDataFile(source, 3 * MiB));
    const auto pipeline = fixture.pipelineFor(source, false);

    const ActionOutcome outcome = fixture.checkAndRun(pipeline);
    const QJsonArray chunks = chunksOf(fixture);
    if (message.isEmpty()) {
        QVERIFY2(outcome.ok(), qPrintable(outcome.message));
        // Ten refused tries of the first chunk, then both chunks accepted.
        QCOMPARE(chunks.size(), 12);
        QCOMPARE(rejectedChunks(fixture), 10);
        QCOMPARE(fixture.journal("uploads").first().toObject().value(QStringLiteral("sha256")).toString(),
                 sha256Of(source));
        return;
    }
    QVERIFY2(outcome.failed(), qPrintable(outcome.message));
    QCOMPARE(outcome.message, message);
    QCOMPARE(chunks.size(), 11);
    QCOMPARE(pipeline->tasks()->first()->taskState(), TaskState::Failed);
    QCOMPARE(pipeline->tasks()->last()->taskState(), TaskState::Pending);
    QCOMPARE(fixture.reportedStatuses().last(), QStringLiteral("20"));
}

void TestUploadFaults::upload_droppedOrStalledReply_retriedNotHung_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::newRow("dropped connection") << QJsonObject{
        {QStringLiteral("drop"), QJsonObject{{QStringLiteral("upload"), 2}}}};
    QTest::newRow("stalled reply") << QJsonObject{
        {QStringLiteral("stall"), QJsonObject{{QStringLiteral("upload"), QJsonObject{{QStringLiteral("ms"), 600000},
                                                                                     {QStringLiteral("count"), 1}}}}}};
}

void TestUploadFaults::upload_droppedOrStalledReply_retriedNotHung()
{
    QFETCH(QJsonObject, fault);
    PipelineFixture fixture;
    QVERIFY2(fixture.start({}, quickRetries(1000)), qPrintable(fixture.error()));
    QVERIFY(fixture.server().configure(fault));
    const QString source = fixture.dataPath(QStringLiteral("data.mp4"));
    QVERIFY(fixture.makeDataFile(source, 3 * MiB));
    const auto pipeline = fixture.pipelineFor(source, false);

    const ActionOutcome outcome = fixture.checkAndRun(pipeline);
    QVERIFY2(outcome.ok(), qPrintable(outcome.message));
    const QJsonObject upload = fixture.journal("uploads").first().toObject();
    QVERIFY(upload.value(QStringLiteral("finished")).toBool());
    QCOMPARE(upload.value(QStringLiteral("sha256")).toString(), sha256Of(source));
    // Two chunks, and the try that met the fault went again.
    QVERIFY2(uploadRequests(fixture) >= 3, qPrintable(QString::number(uploadRequests(fixture))));
    QCOMPARE(fixture.journal("registrations").size(), 1);
}

void TestUploadFaults::upload_fileChangedWhileSent_failsNeverPastTotal_data()
{
    QTest::addColumn<bool>("append");
    QTest::newRow("appended") << true;
    QTest::newRow("rewritten in place") << false;
}

void TestUploadFaults::upload_fileChangedWhileSent_failsNeverPastTotal()
{
    QFETCH(bool, append);
    PipelineFixture fixture;
    QVERIFY2(fixture.start({}, quickRetries()), qPrintable(fixture.error()));
    // The first chunk's answer is held back long enough for the file to change under the run.
    QVERIFY(fixture.server().configure(
        {{QStringLiteral("stall"),
          QJsonObject{
              {QStringLiteral("upload"), QJsonObject{{QStringLiteral("ms"), 2000}, {QStringLiteral("count"), 1}}}}}}));
    const QString source = fixture.dataPath(QStringLiteral("data.mp4"));
    QVERIFY(fixture.makeDataFile(source, 5 * MiB));
    const auto pipeline = fixture.pipelineFor(source, false);
    WorkerRun run([pipeline] {
        pipeline->checkVideo();
        pipeline->doTask();
    });
    QTRY_VERIFY_WITH_TIMEOUT(uploadRequests(fixture) > 0, 60000);
    QFile file(source);
    QVERIFY(file.open(append ? QIODevice::Append : QIODevice::ReadWrite));
    QVERIFY(file.write(QByteArray(int(MiB), 'g')) == MiB);
    file.close();

    QVERIFY(run.wait());
    QVERIFY2(run.outcome().failed(), qPrintable(run.outcome().message));
    QCOMPARE(run.outcome().message, QStringLiteral("文件在上传过程中被修改：") + source);
    QVERIFY(fixture.journal("registrations").isEmpty());
    for (const QJsonValue &chunk : chunksOf(fixture)) {
        const QJsonObject entry = chunk.toObject();
        QVERIFY(entry.value(QStringLiteral("pos")).toDouble() + entry.value(QStringLiteral("length")).toDouble()
                <= 5 * MiB);
    }
}

void TestUploadFaults::run_unusableRegistrationEndpoint_failsBeforeUpload_data()
{
    QTest::addColumn<QJsonValue>("addVideoApi");
    QTest::newRow("missing") << QJsonValue();
    QTest::newRow("ftp") << QJsonValue(QStringLiteral("ftp://h/add"));
}

void TestUploadFaults::run_unusableRegistrationEndpoint_failsBeforeUpload()
{
    QFETCH(QJsonValue, addVideoApi);
    PipelineFixture fixture;
    QVERIFY2(fixture.start(), qPrintable(fixture.error()));
    QVERIFY(fixture.server().configure(
        {{QStringLiteral("settings"), QJsonObject{{QStringLiteral("addVideoApi"), addVideoApi}}}}));
    fixture.manager()->initSetting();
    const QString source = fixture.dataPath(QStringLiteral("data.mp4"));
    QVERIFY(fixture.makeDataFile(source, MiB));
    const ActionOutcome outcome = fixture.checkAndRun(fixture.pipelineFor(source, false));
    QVERIFY2(outcome.failed(), qPrintable(outcome.message));
    QCOMPARE(outcome.message, QStringLiteral("服务器视频登记接口有误，请联系管理员(%1)").arg(addVideoApi.toString()));
    QVERIFY(fixture.journal("uploads").isEmpty());
}

void TestUploadFaults::stop_duringUploadPause_stopsThenResumesAtUnfinishedTask()
{
    PipelineFixture fixture;
    QVERIFY2(fixture.start({QStringLiteral("--plan"), QStringLiteral("nr")}), qPrintable(fixture.error()));
    const QString source = fixture.dataPath(QStringLiteral("clip.mp4"));
    QVERIFY(TestVideos::make(source));
    const auto pipeline = fixture.pipelineFor(source, true);
    WorkerRun check([pipeline] { pipeline->checkVideo(); });
    QVERIFY(check.wait());
    const auto tasks = pipeline->tasks();
    QVERIFY(tasks && tasks->size() == 4);

    QVERIFY(fixture.server().configure({{QStringLiteral("rejectChunks"), 1000}}));
    // A pause far longer than the test waits: only a stop seen inside the pause ends it in time.
    ClientOptions options = fixture.manager()->options();
    options.retryPauseMs = 600000;
    fixture.manager()->setOptions(options);
    WorkerRun run([pipeline] { pipeline->doTask(); });
    // The first upload's first try was refused: the run now sits in its 2 s pause.
    QTRY_VERIFY_WITH_TIMEOUT(rejectedChunks(fixture) >= 1, 60000);
    QVERIFY(pipeline->isRunning());
    pipeline->stop();
    QVERIFY(!pipeline->isRunning());
    QVERIFY(run.wait(1000));
    QVERIFY2(run.outcome().stopped(), qPrintable(run.outcome().message));
    QCOMPARE(run.outcome().message, QStringLiteral("任务已经停止上传"));
    QCOMPARE(tasks->at(0)->taskState(), TaskState::Done);
    QCOMPARE(tasks->at(1)->taskState(), TaskState::Stopped);
    QCOMPARE(tasks->at(2)->taskState(), TaskState::Pending);
    const QString nrFile = ITaskExecutor::variantPath(options.tmpFolder(), VariantSign::Standard, pipeline->file().id);
    const QDateTime transcoded = QFileInfo(nrFile).lastModified();
    QVERIFY(transcoded.isValid());
    const int reportsBefore = fixture.journal("reports").size();

    QVERIFY(fixture.server().configure({{QStringLiteral("rejectChunks"), 0}}));
    const ActionOutcome resumed = fixture.run(pipeline);
    QVERIFY2(resumed.ok(), qPrintable(resumed.message));
    for (const auto &task : *tasks)
        QCOMPARE(task->taskState(), TaskState::Done);
    QCOMPARE(tasks->at(0)->runCount(), 2);
    QCOMPARE(tasks->at(1)->runCount(), 2);
    // The finished transcode was passed over, not run again.
    QCOMPARE(QFileInfo(nrFile).lastModified(), transcoded);
    QCOMPARE(fixture.reportedStatuses().last(), QStringLiteral("19"));
    const QJsonArray reports = fixture.journal("reports");
    for (int i = reportsBefore; i < reports.size(); ++i)
        QVERIFY(reports.at(i).toObject().value(QStringLiteral("status")).toString() != QStringLiteral("3"));
    QCOMPARE(fixture.journal("registrations").size(), 1);
}

void TestUploadFaults::stop_atTranscodeStart_stopsThenTranscodesAgain()
{
    PipelineFixture fixture;
    QVERIFY2(fixture.start({QStringLiteral("--plan"), QStringLiteral("nr")}), qPrintable(fixture.error()));
    const QString source = fixture.dataPath(QStringLiteral("clip.mp4"));
    QVERIFY(TestVideos::make(source));
    const auto pipeline = fixture.pipelineFor(source, true);
    WorkerRun check([pipeline] { pipeline->checkVideo(); });
    QVERIFY(check.wait());
    const QSharedPointer<TaskCommand> transcode = pipeline->tasks()->first();

    // The run was asked for and its worker is held at the door when the user stops it.
    pipeline->requestRun();
    QSemaphore entered;
    QSemaphore door;
    WorkerRun held([&] {
        entered.release();
        door.acquire();
        pipeline->runAlone();
    });
    entered.acquire();
    pipeline->stop();
    door.release();
    QVERIFY(held.wait());
    QVERIFY2(held.outcome().stopped(), qPrintable(held.outcome().message));

    // The user's stop lands the moment the transcode begins, before ffmpeg has anything to say.
    const QMetaObject::Connection stopper = connect(
        transcode.data(), &TaskCommand::dataUpdate, this,
        [&] {
            if (transcode->taskState() == TaskState::Running)
                pipeline->setStopRequested(true);
        },
        Qt::DirectConnection);
    const ActionOutcome stopped = fixture.run(pipeline);
    disconnect(stopper);
    QVERIFY2(stopped.stopped(), qPrintable(stopped.message));
    QCOMPARE(stopped.message, QStringLiteral("任务已经停止转码"));
    QCOMPARE(transcode->taskState(), TaskState::Stopped);
    QVERIFY(!pipeline->isRunning());
    QVERIFY(fixture.journal("uploads").isEmpty());

    const ActionOutcome resumed = fixture.run(pipeline);
    QVERIFY2(resumed.ok(), qPrintable(resumed.message));
    QCOMPARE(transcode->runCount(), 3);
    const QString tmp = fixture.manager()->options().tmpFolder();
    QVERIFY(QFileInfo::exists(ITaskExecutor::variantPath(tmp, VariantSign::Standard, pipeline->file().id)));
    QCOMPARE(fixture.journal("uploads").size(), 2);
}

QTEST_GUILESS_MAIN(TestUploadFaults)
#include "tst_uploadfaults.moc"
