// SPDX-License-Identifier: MIT
// Whole pipeline runs against a real nuv-devserver: check, transcode, chunked upload,
// registration, as the front ends drive them; and the progress and outcome they show.
#include "core/api/taskcommand.h"
#include "core/pipeline/actionstopsignal.h"
#include "core/pipeline/addvideotaskexecutor.h"
#include "core/pipeline/itaskexecutor.h"
#include "core/pipeline/uploadmanager.h"
#include "core/session/manager.h"
#include "core/session/schema.h"
#include "pipelinefixture.h"
#include "testsupport.h"
#include "testvideos.h"

#include <QJsonDocument>
#include <QMutex>
#include <QtTest>

#include <stdexcept>

namespace {

constexpr qint64 MiB = 1024 * 1024;

QJsonObject entryOf(const QJsonObject &upload)
{
    return QJsonObject{{QStringLiteral("uri"), upload.value(QStringLiteral("uri"))},
                       {QStringLiteral("id"), upload.value(QStringLiteral("id"))}};
}

struct NotAnException
{
};

} // namespace

Q_DECLARE_METATYPE(TaskState)
Q_DECLARE_METATYPE(std::function<void()>)

class TestUploadPipeline final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void doTask_originalPlan_uploadsAndRegisters();
    void doTask_nrPlan_transcodesAndUploadsBothVariants();
    void upload_chunking_positionsEndsAndProgress_data();
    void upload_chunking_positionsEndsAndProgress();
    void addVideo_awkwardFileNames_validJsonWithExactName_data();
    void addVideo_awkwardFileNames_validJsonWithExactName();
    void createAddVideoForm_ordinaryRecord_templateTextAndKeyOrder();
    void doTask_registrationRefused_retriesOnlyRegistration();
    void checkVideo_refusedOrEmpty_announcesAndThrows_data();
    void checkVideo_refusedOrEmpty_announcesAndThrows();
    void reset_thenDoTask_raisesNoTasks();
    void progress_taskStates_currentTaskAndRowPercent_data();
    void progress_taskStates_currentTaskAndRowPercent();
    void actionOutcome_thrownValue_codeAndMessage_data();
    void actionOutcome_thrownValue_codeAndMessage();
};

void TestUploadPipeline::doTask_originalPlan_uploadsAndRegisters()
{
    PipelineFixture fixture;
    QVERIFY2(fixture.start(), qPrintable(fixture.error()));
    const QString source = fixture.dataPath(QStringLiteral("clip.mp4"));
    QVERIFY(TestVideos::make(source));
    const auto pipeline = fixture.pipelineFor(source, true);

    const ActionOutcome outcome = fixture.checkAndRun(pipeline);
    QVERIFY2(outcome.ok(), qPrintable(outcome.message));
    const auto tasks = pipeline->tasks();
    QCOMPARE(tasks->size(), 2);
    QCOMPARE(tasks->last()->taskType(), TaskType::Register);
    QCOMPARE(tasks->last()->id(), 2);
    QCOMPARE(tasks->last()->title(), QStringLiteral("登记视频"));
    QCOMPARE(tasks->last()->rate(), 100);
    for (const auto &task : *tasks)
        QCOMPARE(task->taskState(), TaskState::Done);

    const QJsonArray uploads = fixture.journal("uploads");
    QCOMPARE(uploads.size(), 1);
    const QJsonObject upload = uploads.first().toObject();
    QCOMPARE(upload.value(QStringLiteral("name")).toString(), QStringLiteral("clip.mp4"));
    QVERIFY(upload.value(QStringLiteral("finished")).toBool());
    QCOMPARE(upload.value(QStringLiteral("sha256")).toString(), sha256Of(source));
    QCOMPARE(tasks->first()->uploadId(), upload.value(QStringLiteral("id")).toString());

    const QJsonArray registrations = fixture.journal("registrations");
    QCOMPARE(registrations.size(), 1);
    const QJsonObject registration = registrations.first().toObject();
    QCOMPARE(registration.value(QStringLiteral("dataJson")).toArray(),
             (QJsonArray{entryOf(upload), QJsonValue(), QJsonValue()}));
    const QJsonObject form = registration.value(QStringLiteral("formJson")).toObject();
    const UploadFileInfo record = pipeline->file();
    QCOMPARE(form.value(QStringLiteral("name")).toString(), QStringLiteral("clip.mp4"));
    QCOMPARE(form.value(QStringLiteral("suffix")).toString(), QStringLiteral(".mp4"));
    QCOMPARE(form.value(QStringLiteral("size")).toString(), QString::number(QFileInfo(source).size()));
    QCOMPARE(form.value(QStringLiteral("videoCodec")).toString(), QStringLiteral("h264"));
    QCOMPARE(form.value(QStringLiteral("width")).toString(), QStringLiteral("64"));
    const QSharedPointer<Schema> schema = fixture.manager()->schema();
    QCOMPARE(registration.value(QStringLiteral("filename")).toString(), QStringLiteral("clip.mp4"));
    QCOMPARE(registration.value(QStringLiteral("Type")).toString(), QString::number(schema->type()));
    QCOMPARE(registration.value(QStringLiteral("moduleId")).toString(), QString::number(schema->moduleId()));
    QCOMPARE(registration.value(QStringLiteral("parentId")).toString(), schema->parentId());
    QCOMPARE(registration.value(QStringLiteral("extras")).toString(), schema->extras());

    QCOMPARE(fixture.reportedStatuses(),
             (QStringList{QStringLiteral("9"), QStringLiteral("10"), QStringLiteral("16"), QStringLiteral("19")}));
}

void TestUploadPipeline::doTask_nrPlan_transcodesAndUploadsBothVariants()
{
    PipelineFixture fixture;
    QVERIFY2(fixture.start({QStringLiteral("--plan"), QStringLiteral("nr")}), qPrintable(fixture.error()));
    const QString source = fixture.dataPath(QStringLiteral("talk.mov"));
    TestVideoOptions options;
    options.seconds = 2.0;
    options.width = 320;
    options.height = 240;
    QVERIFY(TestVideos::make(source, options));
    const auto pipeline = fixture.pipelineFor(source, true);

    const ActionOutcome outcome = fixture.checkAndRun(pipeline);
    QVERIFY2(outcome.ok(), qPrintable(outcome.message));
    QCOMPARE(pipeline->tasks()->size(), 4);

    const QString nrName = QStringLiteral("NR_") + pipeline->file().id + QStringLiteral(".mp4");
    const QString nrFile = ITaskExecutor::variantPath(fixture.manager()->options().tmpFolder(), VariantSign::Standard,
                                                      pipeline->file().id);
    QCOMPARE(QFileInfo(nrFile).fileName(), nrName);
    const QJsonArray uploads = fixture.journal("uploads");
    QCOMPARE(uploads.size(), 2);
    const QJsonObject original = fixture.server().journalEntry("uploads", "name", QStringLiteral("talk.mov"));
    const QJsonObject nr = fixture.server().journalEntry("uploads", "name", nrName);
    QCOMPARE(original.value(QStringLiteral("sha256")).toString(), sha256Of(source));
    QCOMPARE(nr.value(QStringLiteral("sha256")).toString(), sha256Of(nrFile));
    QVERIFY(nr.value(QStringLiteral("total")).toDouble() > 0);

    const QJsonArray registrations = fixture.journal("registrations");
    QCOMPARE(registrations.size(), 1);
    QCOMPARE(registrations.first().toObject().value(QStringLiteral("dataJson")).toArray(),
             (QJsonArray{entryOf(original), QJsonValue(), entryOf(nr)}));

    QCOMPARE(fixture.reportedStatuses(),
             (QStringList{QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("7"), QStringLiteral("10"),
                          QStringLiteral("16"), QStringLiteral("11"), QStringLiteral("17"), QStringLiteral("19")}));
}

void TestUploadPipeline::upload_chunking_positionsEndsAndProgress_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QList<qint64>>("positions");
    QTest::addColumn<QList<qint64>>("lengths");
    QTest::addColumn<QList<int>>("rates");

    QTest::newRow("5 MiB") << 5 * MiB << QList<qint64>{0, 2 * MiB, 4 * MiB} << QList<qint64>{2 * MiB, 2 * MiB, MiB}
                           << QList<int>{40, 80, 100};
    QTest::newRow("exactly 2 MiB") << 2 * MiB << QList<qint64>{0} << QList<qint64>{2 * MiB} << QList<int>{100};
    QTest::newRow("2 MiB and 1 byte") << 2 * MiB + 1 << QList<qint64>{0, 2 * MiB} << QList<qint64>{2 * MiB, 1}
                                      << QList<int>{99, 100};
    QTest::newRow("empty") << qint64(0) << QList<qint64>{} << QList<qint64>{} << QList<int>{};
}

void TestUploadPipeline::upload_chunking_positionsEndsAndProgress()
{
    QFETCH(qint64, size);
    QFETCH(QList<qint64>, positions);
    QFETCH(QList<qint64>, lengths);
    QFETCH(QList<int>, rates);

    PipelineFixture fixture;
    QVERIFY2(fixture.start(), qPrintable(fixture.error()));
    const QString source = fixture.dataPath(QStringLiteral("data.mp4"));
    QVERIFY(fixture.makeDataFile(source, size));
    const auto pipeline = fixture.pipelineFor(source, false);
    WorkerRun check([pipeline] { pipeline->checkVideo(); });
    QVERIFY(check.wait());
    QVERIFY2(check.outcome().ok(), qPrintable(check.outcome().message));

    const QSharedPointer<TaskCommand> upload = pipeline->tasks()->first();
    QMutex mutex;
    QList<int> seen;
    qint64 total = -1;
    connect(
        upload.data(), &TaskCommand::dataUpdate, this,
        [&] {
            QMutexLocker locker(&mutex);
            if (upload->rate() != 0 && (seen.isEmpty() || seen.last() != upload->rate())) {
                seen.append(upload->rate());
                total = pipeline->progress().bytesTotal;
            }
        },
        Qt::DirectConnection);
    const ActionOutcome outcome = fixture.run(pipeline);
    QCOMPARE(upload->taskState(), TaskState::Done);
    QCOMPARE(seen, rates);
    QCOMPARE(total, rates.isEmpty() ? qint64(-1) : size);

    const QJsonArray uploads = fixture.journal("uploads");
    if (size == 0) {
        // Nothing went up, so the registration has nothing to name and the server refuses it.
        QVERIFY(uploads.isEmpty());
        QVERIFY2(outcome.failed(), qPrintable(outcome.message));
        QVERIFY2(outcome.message.startsWith(QStringLiteral("视频登记失败:(400)")), qPrintable(outcome.message));
        QVERIFY(fixture.reportedStatuses().contains(QStringLiteral("16")));
        return;
    }
    QVERIFY2(outcome.ok(), qPrintable(outcome.message));
    QCOMPARE(uploads.size(), 1);
    const QJsonArray chunks = uploads.first().toObject().value(QStringLiteral("chunks")).toArray();
    QCOMPARE(chunks.size(), positions.size());
    for (int i = 0; i < chunks.size(); ++i) {
        const QJsonObject chunk = chunks.at(i).toObject();
        QCOMPARE(qint64(chunk.value(QStringLiteral("pos")).toDouble()), positions.at(i));
        QCOMPARE(qint64(chunk.value(QStringLiteral("length")).toDouble()), lengths.at(i));
        QCOMPARE(chunk.value(QStringLiteral("end")).toBool(), i == chunks.size() - 1);
    }
    QCOMPARE(uploads.first().toObject().value(QStringLiteral("sha256")).toString(), sha256Of(source));
}

void TestUploadPipeline::addVideo_awkwardFileNames_validJsonWithExactName_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("double quote") << QStringLiteral("say \"hi\".mp4");
    QTest::newRow("percent placeholder") << QStringLiteral("100%5 off %1.mp4");
    QTest::newRow("backslash and tab") << QStringLiteral("a\\b\tc.mp4");
}

void TestUploadPipeline::addVideo_awkwardFileNames_validJsonWithExactName()
{
    QFETCH(QString, name);
    PipelineFixture fixture;
    QVERIFY2(fixture.start(), qPrintable(fixture.error()));
    const QString source = fixture.dataPath(name);
    QVERIFY(fixture.makeDataFile(source, 1000));
    const auto pipeline = fixture.pipelineFor(source, false);
    const ActionOutcome outcome = fixture.checkAndRun(pipeline);
    QVERIFY2(outcome.ok(), qPrintable(outcome.message));

    const QJsonArray registrations = fixture.journal("registrations");
    QCOMPARE(registrations.size(), 1);
    const QJsonObject registration = registrations.first().toObject();
    QCOMPARE(registration.value(QStringLiteral("filename")).toString(), name);
    QCOMPARE(registration.value(QStringLiteral("formJson")).toObject().value(QStringLiteral("name")).toString(), name);
    QCOMPARE(registration.value(QStringLiteral("formJson")).toObject().value(QStringLiteral("size")).toString(),
             QStringLiteral("1000"));
}

void TestUploadPipeline::createAddVideoForm_ordinaryRecord_templateTextAndKeyOrder()
{
    UploadFileInfo record;
    record.name = QStringLiteral("课程.mp4");
    record.suffix = QStringLiteral(".mp4");
    record.size = Q_INT64_C(5000000000);
    record.duration = 61;
    record.videoCodec = QStringLiteral("h264");
    record.mp4Format = true;
    record.rate = QStringLiteral("950");
    record.width = 1280;
    record.height = 720;
    record.audioCodec = QStringLiteral("aac");
    AddVideoTaskExecutor executor;
    executor.setFile(record);
    QCOMPARE(executor.createAddVideoForm(),
             QStringLiteral("{\"name\":\"课程.mp4\",\"suffix\":\".mp4\",\"size\":\"5000000000\",\"duration\":\"61\","
                            "\"videoCodec\":\"h264\",\"mp4Format\":\"1\",\"nuvVideo\":\"0\",\"rate\":\"950\","
                            "\"width\":\"1280\",\"height\":\"720\",\"audioCodec\":\"aac\"}"));
    QCOMPARE(executor.createAddVideoData(), QStringLiteral("[null,null,null]"));
}

void TestUploadPipeline::doTask_registrationRefused_retriesOnlyRegistration()
{
    PipelineFixture fixture;
    QVERIFY2(fixture.start(), qPrintable(fixture.error()));
    const QString source = fixture.dataPath(QStringLiteral("data.mp4"));
    QVERIFY(fixture.makeDataFile(source, 3 * MiB));
    QVERIFY(fixture.server().configure(
        {{QStringLiteral("fail"),
          QJsonObject{{QStringLiteral("addVideo"),
                       QJsonObject{{QStringLiteral("status"), 500}, {QStringLiteral("count"), 1}}}}}}));
    const auto pipeline = fixture.pipelineFor(source, false);

    const ActionOutcome failed = fixture.checkAndRun(pipeline);
    QVERIFY2(failed.failed(), qPrintable(failed.message));
    QCOMPARE(failed.message, QStringLiteral("视频登记失败:(401)(服务器遇到了一个意外情况，因此服务器无法满足该请求)"));
    const auto tasks = pipeline->tasks();
    QCOMPARE(tasks->at(0)->taskState(), TaskState::Done);
    QCOMPARE(tasks->at(1)->taskState(), TaskState::Failed);
    QVERIFY(!pipeline->isRunning());
    QCOMPARE(fixture.reportedStatuses().last(), QStringLiteral("1"));

    const ActionOutcome retried = fixture.run(pipeline);
    QVERIFY2(retried.ok(), qPrintable(retried.message));
    QCOMPARE(tasks->at(0)->runCount(), 2);
    QCOMPARE(tasks->at(1)->runCount(), 2);
    const QJsonArray uploads = fixture.journal("uploads");
    QCOMPARE(uploads.size(), 1);
    QCOMPARE(uploads.first().toObject().value(QStringLiteral("chunks")).toArray().size(), 2);
    QCOMPARE(fixture.journal("registrations").size(), 1);
    QCOMPARE(fixture.reportedStatuses().last(), QStringLiteral("19"));
}

void TestUploadPipeline::checkVideo_refusedOrEmpty_announcesAndThrows_data()
{
    QTest::addColumn<QJsonObject>("config");
    QTest::addColumn<QString>("message");
    QTest::newRow("empty plan") << QJsonObject{{QStringLiteral("plan"), QStringLiteral("empty")}}
                                << QStringLiteral("服务器未能取得视频检测信息，请重新获取后尝试。");
    QTest::newRow("HTTP 404") << QJsonObject{{QStringLiteral("fail"), QJsonObject{{QStringLiteral("check"), 404}}}}
                              << QStringLiteral("视频检测失败:(203)(在服务器上找不到远程内容)");
}

void TestUploadPipeline::checkVideo_refusedOrEmpty_announcesAndThrows()
{
    QFETCH(QJsonObject, config);
    QFETCH(QString, message);
    PipelineFixture fixture;
    QVERIFY2(fixture.start(), qPrintable(fixture.error()));
    QVERIFY(fixture.server().configure(config));
    const QString source = fixture.dataPath(QStringLiteral("data.mp4"));
    QVERIFY(fixture.makeDataFile(source, 10));
    const auto pipeline = fixture.pipelineFor(source, false);
    WorkerRun check([pipeline] { pipeline->checkVideo(); });
    QVERIFY(check.wait());
    QVERIFY2(check.outcome().failed(), qPrintable(check.outcome().message));
    QCOMPARE(check.outcome().message, message);
    QVERIFY(!pipeline->tasks());
    QCOMPARE(fixture.reportedStatuses(), QStringList{QStringLiteral("1")});
}

void TestUploadPipeline::reset_thenDoTask_raisesNoTasks()
{
    PipelineFixture fixture;
    QVERIFY2(fixture.start(), qPrintable(fixture.error()));
    const QString source = fixture.dataPath(QStringLiteral("data.mp4"));
    QVERIFY(fixture.makeDataFile(source, 10));
    const auto pipeline = fixture.pipelineFor(source, false);
    const QString id = pipeline->file().id;
    WorkerRun check([pipeline] { pipeline->checkVideo(); });
    QVERIFY(check.wait());
    QVERIFY(!pipeline->tasks()->isEmpty());

    pipeline->reset();
    QVERIFY(pipeline->tasks()->isEmpty());
    QVERIFY(pipeline->file().name.isEmpty());
    QCOMPARE(pipeline->file().id, id);
    const ActionOutcome outcome = fixture.run(pipeline);
    QVERIFY2(outcome.failed(), qPrintable(outcome.message));
    QCOMPARE(outcome.message, QStringLiteral("未有上传执行任务"));
    QCOMPARE(fixture.reportedStatuses(), (QStringList{QStringLiteral("9"), QStringLiteral("1")}));
}

void TestUploadPipeline::progress_taskStates_currentTaskAndRowPercent_data()
{
    QTest::addColumn<QList<TaskState>>("states");
    QTest::addColumn<int>("rate"); // of every task not done
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("overall");
    const TaskState done = TaskState::Done;
    QTest::newRow("two tasks, first at 30")
        << QList<TaskState>{TaskState::Running, TaskState::Pending} << 30 << 1 << 29;
    QTest::newRow("three tasks, second stopped at 50")
        << QList<TaskState>{done, TaskState::Stopped, TaskState::Pending} << 50 << 2 << 73;
    QTest::newRow("three tasks, all done") << QList<TaskState>{done, done, done} << 0 << 3 << 98;
    QTest::newRow("one failed task at 40") << QList<TaskState>{TaskState::Failed} << 40 << 1 << 40;
}

void TestUploadPipeline::progress_taskStates_currentTaskAndRowPercent()
{
    QFETCH(QList<TaskState>, states);
    QFETCH(int, rate);
    QFETCH(int, index);
    QFETCH(int, overall);
    QVector<QSharedPointer<TaskCommand>> tasks;
    for (const TaskState state : states) {
        tasks.append(QSharedPointer<TaskCommand>::create());
        tasks.last()->setTitle(QString::number(tasks.size()));
        tasks.last()->setTaskState(state);
        tasks.last()->setRate(state == TaskState::Done ? 100 : rate);
    }
    const PipelineProgress progress = PipelineProgress::of(tasks);
    QVERIFY(progress.valid);
    QCOMPARE(progress.taskIndex, index);
    QCOMPARE(progress.title, QString::number(index));
    QCOMPARE(progress.state, progress.allDone ? TaskState::Done : states.at(index - 1));
    QCOMPARE(progress.rate, progress.allDone ? 100 : rate);
    QCOMPARE(progress.overall, overall);
}

void TestUploadPipeline::actionOutcome_thrownValue_codeAndMessage_data()
{
    QTest::addColumn<std::function<void()>>("work");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    ActionStopSignal stopWithCode(QStringLiteral("stopped with a code"));
    stopWithCode.code = 3;
    QTest::newRow("returns normally") << std::function<void()>([] {}) << 0 << QString();
    QTest::newRow("QString") << std::function<void()>([] { throw QStringLiteral("x"); }) << -1 << QStringLiteral("x");
    QTest::newRow("const char*") << std::function<void()>([] { throw "x"; }) << -1 << QStringLiteral("x");
    QTest::newRow("derived std::exception")
        << std::function<void()>([] { throw std::invalid_argument("bad argument"); }) << -1
        << QStringLiteral("bad argument");
    QTest::newRow("ActionStopSignal") << std::function<void()>([] { throw ActionStopSignal(QStringLiteral("已暂停")); })
                                      << 0 << QStringLiteral("已暂停");
    QTest::newRow("ActionStopSignal with a code")
        << std::function<void()>([stopWithCode] { throw stopWithCode; }) << 3 << QStringLiteral("stopped with a code");
    QTest::newRow("int") << std::function<void()>([] { throw 42; }) << 999 << QStringLiteral("fatal error");
    QTest::newRow("anything else") << std::function<void()>([] { throw NotAnException(); }) << 999
                                   << QStringLiteral("fatal error");
}

void TestUploadPipeline::actionOutcome_thrownValue_codeAndMessage()
{
    QFETCH(std::function<void()>, work);
    const ActionOutcome outcome = ActionOutcome::of(work);
    QTEST(outcome.code, "code");
    QTEST(outcome.message, "message");
}

QTEST_GUILESS_MAIN(TestUploadPipeline)
#include "tst_uploadpipeline.moc"
