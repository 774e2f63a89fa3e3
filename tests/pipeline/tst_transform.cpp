// SPDX-License-Identifier: MIT
// The transcode executor with real ffmpeg runs, and the factory that picks executors.
#include "core/api/taskcommand.h"
#include "core/pipeline/addvideotaskexecutor.h"
#include "core/pipeline/taskexecutorfactory.h"
#include "core/pipeline/transformtaskexecutor.h"
#include "core/pipeline/uploadmanager.h"
#include "core/pipeline/uploadtaskexecutor.h"
#include "core/session/manager.h"
#include "pipelinefixture.h"
#include "testvideos.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>

namespace {

QSharedPointer<TaskCommand> transcodeTask(TaskType type, VariantSign sign, const QString &mac)
{
    auto task = QSharedPointer<TaskCommand>::create();
    task->setType(int(type));
    task->setSign(int(sign));
    task->setMac(mac);
    return task;
}

QList<int> statusesOf(const QSignalSpy &spy)
{
    QList<int> statuses;
    for (const QList<QVariant> &arguments : spy)
        statuses.append(arguments.at(3).value<STATUS>());
    return statuses;
}

} // namespace

Q_DECLARE_METATYPE(TaskType)

class TestTransform final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void factory_types_executorOrMessage();
    void doJob_variantZero_pathReplacedOnlyForType4_data();
    void doJob_variantZero_pathReplacedOnlyForType4();
    void doJob_failures_failTheTaskWithTheirCause_data();
    void doJob_failures_failTheTaskWithTheirCause();
    void doJob_stopWhileFfmpegRuns_endsFfmpegAndStops();
    void sweepTemporaryFolder_dayOldFilesOnly();

private:
    std::unique_ptr<QTemporaryDir> m_data;
    // The executors' session: its options put tmp into m_data.
    std::unique_ptr<Manager> m_session;
    QString m_tmp;
};

void TestTransform::init()
{
    m_data = std::make_unique<QTemporaryDir>();
    QVERIFY(m_data->isValid());
    ClientOptions options;
    options.dataFolder = m_data->path();
    m_session = std::make_unique<Manager>();
    m_session->setOptions(options);
    m_tmp = options.tmpFolder();
}

void TestTransform::cleanup()
{
    m_session.reset();
    m_data.reset();
}

void TestTransform::factory_types_executorOrMessage()
{
    QVERIFY(qobject_cast<TransformTaskExecutor *>(TaskExecutorFactory::create(int(TaskType::Transcode)).get()));
    QVERIFY(qobject_cast<TransformTaskExecutor *>(TaskExecutorFactory::create(int(TaskType::TranscodeReplace)).get()));
    QVERIFY(qobject_cast<UploadTaskExecutor *>(TaskExecutorFactory::create(int(TaskType::Upload)).get()));
    QVERIFY(qobject_cast<AddVideoTaskExecutor *>(TaskExecutorFactory::create(int(TaskType::Register)).get()));
    for (int type : {3, 0, -1}) {
        QCOMPARE(ActionOutcome::of([type] { TaskExecutorFactory::create(type); }).message,
                 QStringLiteral("未知的任务类型(%1)，请升级客户端后重试").arg(type));
    }
}

void TestTransform::doJob_variantZero_pathReplacedOnlyForType4_data()
{
    QTest::addColumn<TaskType>("type");
    QTest::newRow("type 1 keeps the path") << TaskType::Transcode;
    QTest::newRow("type 4 replaces the path") << TaskType::TranscodeReplace;
}

void TestTransform::doJob_variantZero_pathReplacedOnlyForType4()
{
    QFETCH(TaskType, type);
    // Blanks and quotes in the path: it must stay one ffmpeg argument.
    QVERIFY(QDir().mkpath(m_data->filePath(QStringLiteral("my videos"))));
    const QString source = m_data->filePath(QStringLiteral("my videos/say \"hi\" 1.mp4"));
    QVERIFY(TestVideos::make(source));

    UploadManager pipeline;
    pipeline.setManager(m_session.get());
    UploadFileInfo record;
    record.path = source;
    record.name = QFileInfo(source).fileName();
    record.duration = 1;
    pipeline.setFile(record);
    QSignalSpy reports(&pipeline, &UploadManager::taskStatusSignal);
    std::atomic_bool stop{false};
    std::atomic_bool running{true};
    TransformTaskExecutor executor;
    executor.setTask(transcodeTask(type, VariantSign::Original,
                                   QStringLiteral("{ffmpegPath} -y -i \"{source}\" -c copy \"{target}\"")));
    executor.setFile(record);
    executor.setManager(&pipeline);
    executor.setStopFlag(&stop);
    executor.setRunningFlag(&running);
    executor.doJob();

    const QString target = m_tmp + QStringLiteral("/_") + record.id + QStringLiteral(".mp4");
    QVERIFY(QFileInfo(target).size() > 0);
    QCOMPARE(pipeline.file().path, type == TaskType::TranscodeReplace ? target : source);
    QTRY_COMPARE(statusesOf(reports), QList<int>{STATUS_TRANSCODED_OTHER});
    QCOMPARE(executor.task()->taskState(), TaskState::Pending);
}

void TestTransform::doJob_failures_failTheTaskWithTheirCause_data()
{
    QTest::addColumn<QString>("mac");
    QTest::addColumn<bool>("fullDisk");
    QTest::addColumn<QString>("message");

    QTest::newRow("refused template") << QStringLiteral("-y -i \"{source}\" -f null -") << false
                                      << QStringLiteral("服务器下发的转码命令含有不允许的参数(-f null)，已拒绝转码");
    QTest::newRow("ffmpeg rejects the template")
        << QStringLiteral("-y -i \"{source}\" -c:v nosuchcodec \"{target}\"") << false
        << QStringLiteral("视频转码失败：Unknown encoder 'nosuchcodec'");
    // /dev/full behind the target: every write fails with ENOSPC.
    QTest::newRow("full disk") << QStringLiteral("-y -i \"{source}\" -c:v libx264 \"{target}\"") << true
                               << QStringLiteral("视频转码失败：磁盘空间不足，请清理磁盘后重试");
}

void TestTransform::doJob_failures_failTheTaskWithTheirCause()
{
    QFETCH(QString, mac);
    QFETCH(bool, fullDisk);
    const QString source = m_data->filePath(QStringLiteral("clip.mp4"));
    QVERIFY(TestVideos::make(source));
    UploadManager pipeline;
    pipeline.setManager(m_session.get());
    UploadFileInfo record;
    record.path = source;
    record.duration = 1;
    if (fullDisk) {
        QVERIFY(QDir().mkpath(m_tmp));
        QVERIFY(QFile::link(QStringLiteral("/dev/full"),
                            ITaskExecutor::variantPath(m_tmp, VariantSign::Standard, record.id)));
    }
    QSignalSpy reports(&pipeline, &UploadManager::taskStatusSignal);
    TransformTaskExecutor executor;
    executor.setTask(transcodeTask(TaskType::Transcode, VariantSign::Standard, mac));
    executor.setFile(record);
    executor.setManager(&pipeline);
    QTEST(ActionOutcome::of([&] { executor.doJob(); }).message, "message");
    QCOMPARE(executor.task()->taskState(), TaskState::Failed);
    QTRY_COMPARE(statusesOf(reports).first(), int(STATUS_TRANSCODING_NR));
    QCOMPARE(statusesOf(reports).last(), int(STATUS_TRANSCODE_NR_FAILED));
    QCOMPARE(reports.last().at(6).value<TASK_ERROR>(), TASK_ERROR_TRANSCODE);
    QCOMPARE(reports.last().at(7).toString(), QStringLiteral("视频转码失败"));
}

void TestTransform::doJob_stopWhileFfmpegRuns_endsFfmpegAndStops()
{
    // Read in real time, the clip keeps ffmpeg busy for longer than the test waits.
    const QString source =
        m_data->filePath(QStringLiteral("nuv-stop-") + UploadFileInfo::newId() + QStringLiteral(".mp4"));
    TestVideoOptions options;
    options.seconds = 60;
    options.audio = false;
    QVERIFY(TestVideos::make(source, options));
    const QString marker = QFileInfo(source).fileName();
    auto task = transcodeTask(TaskType::Transcode, VariantSign::High,
                              QStringLiteral("-re -i {source} -c:v libx264 -preset ultrafast {target}"));
    std::atomic_bool stop{false};
    std::atomic_bool running{true};
    UploadManager pipeline;
    pipeline.setManager(m_session.get());
    auto executor = std::make_shared<TransformTaskExecutor>();
    executor->setManager(&pipeline);
    executor->setTask(task);
    UploadFileInfo record;
    record.path = source;
    executor->setFile(record);
    executor->setStopFlag(&stop);
    executor->setRunningFlag(&running);
    WorkerRun run([executor] { executor->doJob(); });
    QTRY_VERIFY_WITH_TIMEOUT(TestVideos::processRunningWith(marker), 20000);

    stop = true;
    QVERIFY(run.wait(20000));
    QVERIFY2(run.outcome().stopped(), qPrintable(run.outcome().message));
    QCOMPARE(run.outcome().message, QStringLiteral("任务已经停止转码"));
    QCOMPARE(task->taskState(), TaskState::Stopped);
    QVERIFY(!running);
    QVERIFY(!TestVideos::processRunningWith(marker));
}

void TestTransform::sweepTemporaryFolder_dayOldFilesOnly()
{
    const QString folder = m_tmp;
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/sub")));
    const QDateTime now = QDateTime::currentDateTime();
    const auto makeFile = [](const QString &path, const QDateTime &modified) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write("x") == 1 && file.flush()
               && file.setFileTime(modified, QFileDevice::FileModificationTime);
    };
    QVERIFY(makeFile(folder + QStringLiteral("/old.mp4"), now.addSecs(-(24 * 3600 + 1))));
    QVERIFY(makeFile(folder + QStringLiteral("/young.mp4"), now.addSecs(-23 * 3600)));
    QVERIFY(makeFile(folder + QStringLiteral("/sub/old.mp4"), now.addDays(-3)));

    TransformTaskExecutor::sweepTemporaryFolder(folder, now);
    QVERIFY(!QFile::exists(folder + QStringLiteral("/old.mp4")));
    QVERIFY(QFile::exists(folder + QStringLiteral("/young.mp4")));
    QVERIFY(QFile::exists(folder + QStringLiteral("/sub/old.mp4")));
}

QTEST_GUILESS_MAIN(TestTransform)
#include "tst_transform.moc"
