// SPDX-License-Identifier: MIT
// The transcode executor with real ffmpeg runs, and the factory that picks executors.
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>

#include "api/taskcommand.h"
#include "media/ffmpegtools.h"
#include "pipeline/addvideotaskexecutor.h"
#include "pipeline/taskexecutorfactory.h"
#include "pipeline/transformtaskexecutor.h"
#include "pipeline/uploadmanager.h"
#include "pipeline/uploadtaskexecutor.h"
#include "pipelinefixture.h"
#include "platform/appdirs.h"
#include "testvideos.h"

namespace {

QSharedPointer<TaskCommand> transcodeTask(int type, int sign, const QString &mac)
{
    auto task = QSharedPointer<TaskCommand>::create();
    task->setType(type);
    task->setSign(sign);
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

class TestTransform final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();
    void factory_types_executorOrMessage();
    void doJob_variantZero_pathReplacedOnlyForType4_data();
    void doJob_variantZero_pathReplacedOnlyForType4();
    void doJob_templateWithoutTarget_failsWithTranscodeMessage();
    void doJob_stopWhileFfmpegRuns_endsFfmpegAndStops();
    void sweepTemporaryFolder_dayOldFilesOnly();

private:
    std::unique_ptr<QTemporaryDir> m_data;
};

void TestTransform::init()
{
    m_data = std::make_unique<QTemporaryDir>();
    QVERIFY(m_data->isValid());
    AppDirs::setDataFolderOverride(m_data->path());
}

void TestTransform::cleanup()
{
    AppDirs::setDataFolderOverride(QString());
    m_data.reset();
}

void TestTransform::factory_types_executorOrMessage()
{
    QVERIFY(qobject_cast<TransformTaskExecutor *>(TaskExecutorFactory::create(1).get()));
    QVERIFY(qobject_cast<TransformTaskExecutor *>(TaskExecutorFactory::create(4).get()));
    QVERIFY(qobject_cast<UploadTaskExecutor *>(TaskExecutorFactory::create(2).get()));
    QVERIFY(qobject_cast<AddVideoTaskExecutor *>(TaskExecutorFactory::create(99).get()));
    for (int type : {3, 0, -1}) {
        QString thrown;
        try {
            TaskExecutorFactory::create(type);
        } catch (const QString &message) {
            thrown = message;
        }
        QCOMPARE(thrown, QStringLiteral("unkonw TaskExecutorFactory::create type:") + QString::number(type));
    }
}

void TestTransform::doJob_variantZero_pathReplacedOnlyForType4_data()
{
    QTest::addColumn<int>("type");
    QTest::newRow("type 1 keeps the path") << 1;
    QTest::newRow("type 4 replaces the path") << 4;
}

void TestTransform::doJob_variantZero_pathReplacedOnlyForType4()
{
    QFETCH(int, type);
    // Blanks and quotes in the path: it must stay one ffmpeg argument.
    QVERIFY(QDir().mkpath(m_data->filePath(QStringLiteral("my videos"))));
    const QString source = m_data->filePath(QStringLiteral("my videos/say \"hi\" 1.mp4"));
    QVERIFY(TestVideos::make(source));

    UploadManager pipeline;
    UploadFileInfo record;
    record.path = source;
    record.name = QFileInfo(source).fileName();
    record.duration = 1;
    pipeline.setFile(record);
    QSignalSpy reports(&pipeline, &UploadManager::taskStatusSignal);
    std::atomic_bool stop{false};
    std::atomic_bool running{true};
    TransformTaskExecutor executor;
    executor.setTask(transcodeTask(type, 0, QStringLiteral("{ffmpegPath} -y -i \"{source}\" -c copy \"{target}\"")));
    executor.setFile(record);
    executor.setManager(&pipeline);
    executor.setStopFlag(&stop);
    executor.setRunningFlag(&running);
    executor.doJob();

    const QString target = AppDirs::tmpFolder() + QStringLiteral("/_") + record.id + QStringLiteral(".mp4");
    QVERIFY(QFileInfo(target).size() > 0);
    QCOMPARE(pipeline.file().path, type == 4 ? target : source);
    QTRY_COMPARE(statusesOf(reports), QList<int>{STATUS_TRANSCODED_OTHER});
    QCOMPARE(executor.task()->state(), 0);
}

void TestTransform::doJob_templateWithoutTarget_failsWithTranscodeMessage()
{
    const QString source = m_data->filePath(QStringLiteral("clip.mp4"));
    QVERIFY(TestVideos::make(source));
    UploadManager pipeline;
    UploadFileInfo record;
    record.path = source;
    record.duration = 1;
    QSignalSpy reports(&pipeline, &UploadManager::taskStatusSignal);
    TransformTaskExecutor executor;
    executor.setTask(transcodeTask(1, 1, QStringLiteral("-y -i \"{source}\" -f null -")));
    executor.setFile(record);
    executor.setManager(&pipeline);
    QString thrown;
    try {
        executor.doJob();
    } catch (const QString &message) {
        thrown = message;
    }
    QCOMPARE(thrown, QStringLiteral("视频转码失败，请确认文件是否为有效视频，或可尝试先使用其他转码工具进行转码"));
    QCOMPARE(executor.task()->state(), -1);
    QTRY_COMPARE(statusesOf(reports).first(), int(STATUS_TRANSCODING_NR));
    QCOMPARE(statusesOf(reports).last(), int(STATUS_TRANSCODE_NR_FAILED));
    QCOMPARE(reports.last().at(6).value<TASK_ERROR>(), TASK_ERROR_TRANSCODE);
    QCOMPARE(reports.last().at(7).toString(), QStringLiteral("视频转码失败"));
}

void TestTransform::doJob_stopWhileFfmpegRuns_endsFfmpegAndStops()
{
    const QString marker = QStringLiteral("nuv-stop-") + UploadFileInfo::newId();
    auto task = transcodeTask(1, 2, FFMpegTools::joinArguments(TestVideos::silentRunArguments(marker, 120)));
    std::atomic_bool stop{false};
    std::atomic_bool running{true};
    auto executor = std::make_shared<TransformTaskExecutor>();
    executor->setTask(task);
    executor->setStopFlag(&stop);
    executor->setRunningFlag(&running);
    WorkerRun run([executor] { executor->doJob(); });
    QTRY_VERIFY_WITH_TIMEOUT(TestVideos::processRunningWith(marker), 20000);

    stop = true;
    QVERIFY(run.wait(20000));
    QCOMPARE(int(run.outcome().kind), int(WorkOutcome::Kind::Stopped));
    QCOMPARE(run.outcome().message, QStringLiteral("任务已经停止转码"));
    QCOMPARE(task->state(), 3);
    QVERIFY(!running);
    QVERIFY(!TestVideos::processRunningWith(marker));
}

void TestTransform::sweepTemporaryFolder_dayOldFilesOnly()
{
    const QString folder = AppDirs::tmpFolder();
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
