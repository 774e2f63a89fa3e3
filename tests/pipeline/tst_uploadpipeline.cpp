// SPDX-License-Identifier: MIT
// Whole pipeline runs against a real nuv-devserver: check, transcode, chunked upload,
// registration, as the front ends drive them; and the progress and outcome they show.
#include "core/api/taskcommand.h"
#include "core/pipeline/transferrate.h"
#include "core/pipeline/uploadmanager.h"
#include "core/session/manager.h"
#include "core/session/schema.h"
#include "pipelinefixture.h"
#include "testsupport.h"
#include "testvideos.h"

#include <QJsonDocument>
#include <QtTest>

namespace {

constexpr qint64 MiB = 1024 * 1024;

QJsonValue entryOf(const QJsonObject &upload)
{
    if (upload.isEmpty())
        return QJsonValue();
    return QJsonObject{{"uri"_s, upload["uri"_s]}, {"id"_s, upload["id"_s]}};
}

// What a record registers as: every fact as text.
QJsonObject formOf(const UploadFileInfo &r)
{
    const auto text = [](qint64 value) { return QString::number(value); };
    const QStringList values{r.name,        r.suffix,          text(r.size),     text(r.duration),
                             r.videoCodec,  text(r.mp4Format), text(r.nuvVideo), r.rate,
                             text(r.width), text(r.height),    r.audioCodec};
    QJsonObject form;
    for (const QString &key :
         "name suffix size duration videoCodec mp4Format nuvVideo rate width height audioCodec"_s.split(u' '))
        form.insert(key, values.at(form.size()));
    return form;
}

QByteArray json(const QJsonValue &value)
{
    const QJsonDocument document = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    return document.toJson(QJsonDocument::Compact);
}

} // namespace

class TestUploadPipeline final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void doTask_plans_uploadRegisterAndReport_data();
    void doTask_plans_uploadRegisterAndReport();
    void doTask_highAndSuperHigh_eachVariantItsOwnFile();
    void upload_chunking_positionsEndsProgressAndName_data();
    void upload_chunking_positionsEndsProgressAndName();
    void transferRate_counts_speedOverRecentSecondsAndTimeLeft_data();
    void transferRate_counts_speedOverRecentSecondsAndTimeLeft();
};

void TestUploadPipeline::doTask_plans_uploadRegisterAndReport_data()
{
    QTest::addColumn<bool>("transcoded");
    QTest::addColumn<QString>("statuses");
    QTest::newRow("original") << false << "9 10 16 1 19"_s;
    QTest::newRow("transcoded NR") << true << "2 3 7 10 16 11 17 1 19"_s;
}

void TestUploadPipeline::doTask_plans_uploadRegisterAndReport()
{
    QFETCH(bool, transcoded);
    PipelineFixture fixture;
    QVERIFY2(fixture.start({"--plan"_s, transcoded ? "nr"_s : "original"_s, "--fail"_s, "addVideo:500:1"_s}),
             qPrintable(fixture.error()));
    const QString source = fixture.dataPath("clip.mov"_s);
    QVERIFY(TestVideos::make(source));
    const auto pipeline = fixture.pipelineFor(source, true);

    // The registration is refused once: a second run retries only that.
    QCOMPARE(fixture.checkAndRun(pipeline).message,
             "视频登记失败:(401)(服务器遇到了一个意外情况，因此服务器无法满足该请求)"_s);
    const auto tasks = pipeline->tasks();
    QCOMPARE(tasks->last()->taskState(), TaskState::Failed);
    QVERIFY(!pipeline->isRunning());
    const ActionOutcome outcome = fixture.run(pipeline);
    QVERIFY2(outcome.ok(), qPrintable(outcome.message));
    // Each at 100: the transcode's progress read from ffmpeg's output reached the end too.
    for (const auto &task : *tasks) {
        QCOMPARE(task->taskState(), TaskState::Done);
        QCOMPARE(task->runCount(), 2);
        QCOMPARE(task->rate(), 100);
    }
    QCOMPARE(tasks->last()->taskType(), TaskType::Register);
    const PipelineProgress progress = pipeline->progress();
    QVERIFY(progress.allDone && progress.taskIndex == tasks->size() && progress.state == TaskState::Done);

    const UploadFileInfo record = pipeline->file();
    const QString nrName = "NR_"_s + record.id + ".mp4"_s;
    const QJsonObject original = fixture.server().journalEntry("uploads", "name", record.name);
    const QJsonObject nr = fixture.server().journalEntry("uploads", "name", nrName);
    QCOMPARE(original["sha256"_s].toString(), sha256Of(source));
    QCOMPARE(nr["sha256"_s].toString(), transcoded ? sha256Of(fixture.dataPath("tmp/"_s + nrName)) : QString());
    QCOMPARE(fixture.server().requestsTo("/api/upload"_s).size(), transcoded ? 2 : 1);
    const QJsonArray registrations = fixture.journal("registrations");
    QCOMPARE(registrations.size(), 1);
    const QJsonObject registration = registrations.at(0).toObject();
    QCOMPARE(json(registration["dataJson"_s]), json(QJsonArray{entryOf(original), QJsonValue(), entryOf(nr)}));
    QCOMPARE(json(registration["formJson"_s]), json(formOf(record)));
    const QSharedPointer<Schema> schema = fixture.manager()->schema();
    QCOMPARE(registration["filename"_s].toString(), record.name);
    QCOMPARE(registration["Type"_s].toString(), QString::number(schema->type()));
    QCOMPARE(registration["moduleId"_s].toString(), QString::number(schema->moduleId()));
    QCOMPARE(registration["parentId"_s].toString(), schema->parentId());
    QCOMPARE(registration["extras"_s].toString(), schema->extras());
    QTEST(fixture.reportedStatuses().join(u' '), "statuses");
}

void TestUploadPipeline::doTask_highAndSuperHigh_eachVariantItsOwnFile()
{
    PipelineFixture fixture;
    QVERIFY2(fixture.start(), qPrintable(fixture.error()));
    const auto task = [](int id, int type, int sign, int width) {
        const QString mac = "-y -i {source} -vf scale=%1:-2 -c:v libx264 -preset ultrafast {target}"_s.arg(width);
        return QJsonObject{
            {"id"_s, id}, {"type"_s, type}, {"sign"_s, sign}, {"title"_s, "t"_s}, {"mac"_s, width ? mac : QString()}};
    };
    QVERIFY(fixture.server().configure(
        {{"plan"_s, QJsonArray{task(1, 1, 2, 160), task(2, 1, 3, 320), task(3, 2, 2, 0), task(4, 2, 3, 0)}}}));
    const QString source = fixture.dataPath("clip.mp4"_s);
    QVERIFY(TestVideos::make(source));
    const auto pipeline = fixture.pipelineFor(source, true);
    QVERIFY(fixture.checkAndRun(pipeline).ok());
    // Two transcodes, two files, each sent as ffmpeg made it; registered in the slots SHD, HD, NR.
    const QString id = pipeline->file().id;
    const QJsonObject hd = fixture.server().journalEntry("uploads", "name", "HD_"_s + id + ".mp4"_s);
    const QJsonObject shd = fixture.server().journalEntry("uploads", "name", "SHD_"_s + id + ".mp4"_s);
    QVERIFY(!hd.isEmpty() && !shd.isEmpty() && hd["sha256"_s] != shd["sha256"_s]);
    QCOMPARE(shd["sha256"_s].toString(), sha256Of(fixture.dataPath("tmp/SHD_"_s + id + ".mp4"_s)));
    QCOMPARE(json(fixture.journal("registrations").at(0)["dataJson"_s]),
             json(QJsonArray{entryOf(shd), entryOf(hd), QJsonValue()}));
}

void TestUploadPipeline::upload_chunking_positionsEndsProgressAndName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("chunks"); // pos/length/end
    QTest::addColumn<QList<int>>("rates");
    QTest::newRow("5 MiB, quotes") << "say \"hi\".mp4"_s << 5 * MiB
                                   << "0/2097152/0 2097152/2097152/0 4194304/1048576/1"_s << QList<int>{40, 80, 100};
    QTest::newRow("2 MiB, placeholders") << "100%5 off %1.mp4"_s << 2 * MiB << "0/2097152/1"_s << QList<int>{100};
    QTest::newRow("2 MiB and 1 byte, backslash and tab")
        << "a\\b\tc.mp4"_s << 2 * MiB + 1 << "0/2097152/0 2097152/1/1"_s << QList<int>{99, 100};
    QTest::newRow("empty") << "empty.mp4"_s << qint64(0) << QString() << QList<int>();
}

void TestUploadPipeline::upload_chunking_positionsEndsProgressAndName()
{
    QFETCH(QString, name);
    QFETCH(qint64, size);
    PipelineFixture fixture;
    QVERIFY2(fixture.start(), qPrintable(fixture.error()));
    const QString source = fixture.dataFile(name, size);
    const auto pipeline = fixture.pipelineFor(source, false);
    const ActionOutcome checked = fixture.check(pipeline);
    QVERIFY2(checked.ok(), qPrintable(checked.message));

    // Each new rate and the byte count shown with it; read after the worker has ended.
    const QSharedPointer<TaskCommand> upload = pipeline->tasks()->first();
    QList<int> rates;
    qint64 total = -1;
    const auto record = [&] {
        if (upload->rate() != 0 && !rates.endsWith(upload->rate())) {
            rates << upload->rate();
            total = pipeline->progress().bytesTotal;
        }
    };
    connect(upload.data(), &TaskCommand::dataUpdate, this, record, Qt::DirectConnection);
    const ActionOutcome outcome = fixture.run(pipeline);
    QCOMPARE(upload->taskState(), TaskState::Done);
    QTEST(rates, "rates");
    QCOMPARE(total, rates.isEmpty() ? qint64(-1) : size);
    if (size == 0) {
        // Nothing went up, so the registration has nothing to name and the server refuses it.
        QVERIFY(fixture.journal("uploads").isEmpty());
        QVERIFY2(outcome.message.startsWith("视频登记失败:(400)"_s), qPrintable(outcome.message));
        QVERIFY(fixture.reportedStatuses().contains("16"_s));
        return;
    }
    QVERIFY2(outcome.ok(), qPrintable(outcome.message));
    QStringList chunks;
    for (const QJsonValue &chunk : fixture.chunks())
        chunks << "%1/%2/%3"_s.arg(chunk["pos"_s].toInt())
                      .arg(chunk["length"_s].toInt())
                      .arg(int(chunk["end"_s].toBool()));
    QTEST(chunks.join(u' '), "chunks");
    const QJsonObject uploaded = fixture.journal("uploads").at(0).toObject();
    QCOMPARE(uploaded["name"_s].toString(), name);
    QCOMPARE(uploaded["sha256"_s].toString(), sha256Of(source));
    const QJsonObject registration = fixture.journal("registrations").at(0).toObject();
    QCOMPARE(registration["filename"_s].toString(), name);
    QCOMPARE(registration["formJson"_s]["name"_s].toString(), name);
    QCOMPARE(registration["formJson"_s]["size"_s].toString(), QString::number(size));
}

void TestUploadPipeline::transferRate_counts_speedOverRecentSecondsAndTimeLeft_data()
{
    QTest::addColumn<QString>("counts"); // ms:bytes sent since the start at 0 ms
    QTest::addColumn<qint64>("now");
    QTest::addColumn<double>("speed");
    QTest::addColumn<int>("secondsLeft"); // of 3000000 bytes
    QTest::newRow("steady") << "1000:1000000 3000:3000000 6000:6000000"_s << qint64(6000) << 1e6 << 3;
    QTest::newRow("early burst forgotten")
        << "500:5000000 5000:5400000 10000:5900000"_s << qint64(10000) << 1e5 << 30;
    QTest::newRow("quiet line slows down") << "1000:1000000 2000:2000000"_s << qint64(4000) << 5e5 << 6;
    QTest::newRow("stalled") << "1000:1000000 2000:2000000"_s << qint64(8000) << 0.0 << -1;
    QTest::newRow("too early to tell") << "500:1000000"_s << qint64(900) << -1.0 << -1;
}

void TestUploadPipeline::transferRate_counts_speedOverRecentSecondsAndTimeLeft()
{
    QFETCH(QString, counts);
    QFETCH(qint64, now);
    qint64 clock = 0;
    TransferRate rate([&clock] { return clock; });
    for (const QString &count : counts.split(u' ')) {
        clock = count.section(u':', 0, 0).toLongLong();
        rate.record(count.section(u':', 1).toLongLong());
    }
    clock = now;
    QCOMPARE(rate.elapsedMs(), now);
    QTEST(rate.bytesPerSecond(), "speed");
    QTEST(rate.secondsLeft(3000000), "secondsLeft");
    QCOMPARE(rate.secondsLeft(0), 0);
}

QTEST_GUILESS_MAIN(TestUploadPipeline)
#include "tst_uploadpipeline.moc"
