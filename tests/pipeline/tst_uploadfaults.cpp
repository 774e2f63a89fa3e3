// SPDX-License-Identifier: MIT
// The pipeline when things go wrong: a misbehaving server, a file that changes while it goes
// up, a server's transcode template that cannot be run, and the user's stops.
#include "core/api/taskcommand.h"
#include "core/pipeline/uploadmanager.h"
#include "core/session/manager.h"
#include "pipelinefixture.h"
#include "testsupport.h"
#include "testvideos.h"

#include <QDir>
#include <QSemaphore>
#include <QtTest>

namespace {

constexpr qint64 MiB = 1024 * 1024;

// Outages of the network as tests shorten them: pauses from 50 ms up to 400 ms.
void shortenOutages(Manager *manager, int limitSeconds, int firstPauseMs = 50)
{
    ClientOptions options = manager->options();
    options.retryPauseMs = 300; // 11 refusals: a window of 3.3 s
    options.outageLimitSeconds = limitSeconds;
    options.outageFirstPauseMs = firstPauseMs;
    options.outageMaxPauseMs = qMax(firstPauseMs, 400);
    manager->setOptions(options);
}

// Positions of the accepted chunks of the server's first upload.
QList<qint64> acceptedPositions(const QJsonArray &chunks)
{
    QList<qint64> positions;
    for (const QJsonValue &chunk : chunks) {
        if (chunk["accepted"_s].toBool())
            positions.append(qint64(chunk["pos"_s].toDouble()));
    }
    return positions;
}

} // namespace

class TestUploadFaults final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void run_serverFaults_retriedOrFailedBeforeUpload_data();
    void run_serverFaults_retriedOrFailedBeforeUpload();
    void upload_fileChangedWhileSent_failsNeverPastTotal_data();
    void upload_fileChangedWhileSent_failsNeverPastTotal();
    void stop_heldRunAndUploadPause_stopsThenResumes();
    void outage_midUpload_waitedOutOrFailed_data();
    void outage_midUpload_waitedOutOrFailed();
    void continuation_afterStopInOutage_data();
    void continuation_afterStopInOutage();
    void transcode_serverTemplates_doneOrFailedWithCause_data();
    void transcode_serverTemplates_doneOrFailedWithCause();
};

void TestUploadFaults::run_serverFaults_retriedOrFailedBeforeUpload_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<int>("refusals");
    QTest::addColumn<QString>("message");
    const auto upload = [](const char *kind, const QJsonValue &value) {
        return QJsonObject{{QString::fromLatin1(kind), QJsonObject{{"upload"_s, value}}}};
    };
    const auto endpoint = [](const QJsonValue &url) {
        return QJsonObject{{"settings"_s, QJsonObject{{"addVideoApi"_s, url}}}};
    };
    QTest::newRow("10 refusals, then accepted") << QJsonObject{{"rejectChunks"_s, 10}} << 10 << QString();
    QTest::newRow("11 refusals") << QJsonObject{{"rejectChunks"_s, 11}} << 11
                                 << "多次上传重试失败((503)(分片暂不可用))"_s;
    QTest::newRow("dropped connection") << upload("drop", 2) << 0 << QString();
    QTest::newRow("stalled reply") << upload("stall", QJsonObject{{"ms"_s, 600000}, {"count"_s, 1}}) << 0 << QString();
    QTest::newRow("empty plan") << QJsonObject{{"plan"_s, "empty"_s}} << 0
                                << "服务器未能取得视频检测信息，请重新获取后尝试。"_s;
    QTest::newRow("no registration endpoint")
        << endpoint(QJsonValue()) << 0 << "服务器视频登记接口有误，请联系管理员()"_s;
    QTest::newRow("ftp registration endpoint")
        << endpoint("ftp://h/add"_s) << 0 << "服务器视频登记接口有误，请联系管理员(ftp://h/add)"_s;
}

void TestUploadFaults::run_serverFaults_retriedOrFailedBeforeUpload()
{
    QFETCH(QJsonObject, fault);
    QFETCH(int, refusals);
    QFETCH(QString, message);
    PipelineFixture fixture;
    QVERIFY2(fixture.start({}, 1000), qPrintable(fixture.error()));
    QVERIFY(fixture.server().configure(fault));
    fixture.manager()->initSetting();
    const QString source = fixture.dataFile("data.mp4"_s, 3 * MiB);
    const auto pipeline = fixture.pipelineFor(source, false);

    QCOMPARE(fixture.checkAndRun(pipeline).message, message);
    // The tries that met the fault went again: the first chunk's, then (when it got through) both.
    QCOMPARE(fixture.chunks().size(), refusals + (message.isEmpty() ? 2 : 0));
    const int requests = fixture.server().requestsTo("/api/upload"_s).size();
    const QStringList statuses = fixture.reportedStatuses();
    if (message.isEmpty()) {
        QVERIFY2(requests > 2, qPrintable(QString::number(requests)));
        QCOMPARE(fixture.journal("uploads").at(0)["sha256"_s].toString(), sha256Of(source));
        QCOMPARE(fixture.journal("registrations").size(), 1);
    } else if (refusals > 0) {
        QCOMPARE(requests, 11);
        // The refused chunk's bytes were written, then taken back from the shown figure.
        QCOMPARE(pipeline->progress().bytesDone, 0);
        QCOMPARE(pipeline->tasks()->first()->taskState(), TaskState::Failed);
        QCOMPARE(pipeline->tasks()->last()->taskState(), TaskState::Pending);
        QCOMPARE(statuses.last(), "20"_s);
    } else {
        // Nothing went up; a refused check leaves no task list behind, and the server hears of it.
        QCOMPARE(requests, 0);
        QVERIFY(pipeline->tasks() || statuses == QStringList{"1"_s});
    }
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
    // The first chunk's answer is held back long enough for the file to change under the run.
    QVERIFY2(fixture.start({"--stall"_s, "upload:2000:1"_s}), qPrintable(fixture.error()));
    const QString source = fixture.dataFile("data.mp4"_s, 5 * MiB);
    const auto pipeline = fixture.pipelineFor(source, false);
    QVERIFY(fixture.check(pipeline).ok());
    fixture.begin(pipeline, [pipeline] { pipeline->doTask(); });
    QVERIFY(fixture.waitUntil([&] { return !fixture.server().requestsTo("/api/upload"_s).isEmpty(); }));
    // The held chunk shows as written while the server has taken nothing yet.
    QVERIFY(fixture.waitUntil([&] { return pipeline->progress().bytesDone == 2 * MiB; }));
    QCOMPARE(pipeline->progress().rate, 40);
    QCOMPARE(pipeline->tasks()->first()->rate(), 0);
    QFile file(source);
    QVERIFY(file.open(append ? QIODevice::Append : QIODevice::ReadWrite));
    QCOMPARE(file.write(QByteArray(int(MiB), 'g')), MiB);
    file.close();

    QCOMPARE(fixture.finish().message, "文件在上传过程中被修改："_s + source);
    QVERIFY(fixture.journal("registrations").isEmpty());
    for (const QJsonValue &chunk : fixture.chunks())
        QVERIFY(chunk["pos"_s].toDouble() + chunk["length"_s].toDouble() <= 5 * MiB);
}

void TestUploadFaults::stop_heldRunAndUploadPause_stopsThenResumes()
{
    PipelineFixture fixture;
    QVERIFY2(fixture.start({"--plan"_s, "nr"_s}), qPrintable(fixture.error()));
    const QString source = fixture.dataPath("clip.mp4"_s);
    QVERIFY(TestVideos::make(source));
    const auto pipeline = fixture.pipelineFor(source, true);
    QVERIFY(fixture.check(pipeline).ok());
    const auto tasks = pipeline->tasks();
    QCOMPARE(tasks->size(), 4);

    // The run was asked for and its worker is held at the door when the user stops it.
    pipeline->requestRun();
    QSemaphore entered;
    QSemaphore door;
    fixture.begin(pipeline, [&] {
        entered.release();
        door.acquire();
        pipeline->runAlone();
    });
    entered.acquire();
    pipeline->stop();
    door.release();
    // The stop holds for the run asked before it: the transcode stops as it begins.
    QCOMPARE(fixture.finish().message, "任务已经停止转码"_s);
    QCOMPARE(tasks->at(0)->taskState(), TaskState::Stopped);
    QVERIFY(!pipeline->isRunning());
    QVERIFY(fixture.journal("uploads").isEmpty());

    // A pause far longer than the test waits: only a stop seen inside the pause ends it in time.
    QVERIFY(fixture.server().configure({{"rejectChunks"_s, 1000}}));
    ClientOptions options = fixture.manager()->options();
    options.retryPauseMs = 30000;
    fixture.manager()->setOptions(options);
    pipeline->requestRun();
    fixture.begin(pipeline, [pipeline] { pipeline->runAlone(); });
    QVERIFY(fixture.waitUntil([&] { return !fixture.chunks().isEmpty(); }));
    pipeline->setStopRequested(true);
    const ActionOutcome stopped = fixture.finish(5000);
    QCOMPARE(stopped.message, "任务已经停止上传"_s);
    QVERIFY(stopped.stopped() && !pipeline->isRunning());
    QCOMPARE(tasks->at(0)->taskState(), TaskState::Done);
    QCOMPARE(tasks->at(1)->taskState(), TaskState::Stopped);
    QCOMPARE(tasks->at(2)->taskState(), TaskState::Pending);
    const QString nrFile = fixture.dataPath("tmp/NR_"_s + pipeline->file().id + ".mp4"_s);
    const QDateTime transcoded = QFileInfo(nrFile).lastModified();
    QVERIFY(transcoded.isValid());

    QVERIFY(fixture.server().configure({{"rejectChunks"_s, 0}}));
    const ActionOutcome resumed = fixture.run(pipeline);
    QVERIFY2(resumed.ok(), qPrintable(resumed.message));
    for (const auto &task : *tasks)
        QCOMPARE(task->taskState(), TaskState::Done);
    QCOMPARE(tasks->at(0)->runCount(), 3);
    QCOMPARE(tasks->at(1)->runCount(), 2);
    // The finished transcode was passed over, not run again.
    QCOMPARE(QFileInfo(nrFile).lastModified(), transcoded);
    QCOMPARE(fixture.reportedStatuses().last(), "19"_s);
    QCOMPARE(fixture.journal("uploads").size(), 2);
    QCOMPARE(fixture.journal("registrations").size(), 1);
}

void TestUploadFaults::outage_midUpload_waitedOutOrFailed_data()
{
    QTest::addColumn<QJsonObject>("fault");
    QTest::addColumn<int>("limitSeconds");
    QTest::addColumn<QString>("message");
    const auto outage = [](int ms, const char *mode) {
        return QJsonObject{
            {"outage"_s, QJsonObject{{"ms"_s, ms}, {"mode"_s, QString::fromLatin1(mode)}, {"afterChunks"_s, 2}}}};
    };
    // Three times the window of 11 refusals, and more.
    QTest::newRow("connections cut for 10 s") << outage(10000, "cut") << 30 << QString();
    QTest::newRow("connections refused for 10 s") << outage(10000, "refuse") << 30 << QString();
    // The server stored the second chunk, its answer never came: the chunk goes again, in place.
    QTest::newRow("answer to a stored chunk lost") << QJsonObject{{"loseReply"_s, 2}} << 30 << QString();
    QTest::newRow("outage beyond the limit")
        << outage(4000, "refuse") << 1 << "多次上传重试失败((1)(远程服务器拒绝了连接（服务器不接受请求）))"_s;
    QTest::newRow("registration broken after sending")
        << QJsonObject{{"drop"_s, QJsonObject{{"addVideo"_s, 1}}}} << 30
        << "视频登记失败:(2)(远程服务器在接收并处理整个答复之前提前关闭了连接)"_s;
}

void TestUploadFaults::outage_midUpload_waitedOutOrFailed()
{
    QFETCH(QJsonObject, fault);
    QFETCH(int, limitSeconds);
    QFETCH(QString, message);
    PipelineFixture fixture;
    QVERIFY2(fixture.start(), qPrintable(fixture.error()));
    shortenOutages(fixture.manager(), limitSeconds);
    const QString source = fixture.dataFile("data.mp4"_s, 5 * MiB);
    const auto pipeline = fixture.pipelineFor(source, false);
    QVERIFY(fixture.check(pipeline).ok());
    QVERIFY(fixture.server().configure(fault));
    pipeline->requestRun();
    fixture.begin(pipeline, [pipeline] { pipeline->runAlone(); });
    if (fault.contains("outage"_s))
        QVERIFY(fixture.waitUntil(
            [&] { return pipeline->progress().networkWaitText().startsWith("网络中断，等待重连 (已等待 00:0"_s); }));
    QCOMPARE(fixture.finish().message, message);

    const QStringList statuses = fixture.reportedStatuses();
    const QList<qint64> accepted = acceptedPositions(fixture.chunks());
    // No accepted chunk went twice, however long the wait; only one whose answer was lost goes
    // again, in place, never from 0.
    const bool lost = fault.contains("loseReply"_s);
    QCOMPARE(QSet<qint64>(accepted.begin(), accepted.end()).size(), accepted.size() - (lost ? 1 : 0));
    if (message.isEmpty()) {
        const QList<qint64> expected{0, 2 * MiB, 4 * MiB};
        QCOMPARE(accepted, lost ? (QList<qint64>{0, 2 * MiB} + expected.mid(1)) : expected);
        QCOMPARE(fixture.journal("uploads").at(0)["sha256"_s].toString(), sha256Of(source));
        QVERIFY2(!statuses.mid(statuses.indexOf("10"_s)).contains("20"_s), qPrintable(statuses.join(u' ')));
        return;
    }
    // The failure's report found no network when it was made; it arrived once the network was back.
    QCOMPARE(statuses.value(statuses.size() - 1), limitSeconds == 1 ? "20"_s : "1"_s);
    if (fault.contains("drop"_s)) {
        // Never registered twice by itself; the user's retry continues at the registration.
        QCOMPARE(fixture.server().requestsTo("/api/addVideo"_s).size(), 1);
        QVERIFY(fixture.run(pipeline).ok());
        QCOMPARE(fixture.server().requestsTo("/api/addVideo"_s).size(), 2);
        QCOMPARE(fixture.chunks().size(), 3);
    }
}

void TestUploadFaults::continuation_afterStopInOutage_data()
{
    QTest::addColumn<QString>("meanwhile");
    QTest::addColumn<qint64>("from");
    QTest::newRow("continued") << "nothing"_s << 2 * MiB;
    QTest::newRow("file changed while paused") << "rewrite"_s << qint64(0);
    QTest::newRow("server lost the part") << "server"_s << qint64(0);
    QTest::newRow("program started again") << "restart"_s << 2 * MiB;
    QTest::newRow("started again, journal off") << "restart off"_s << qint64(0);
}

void TestUploadFaults::continuation_afterStopInOutage()
{
    QFETCH(QString, meanwhile);
    QFETCH(qint64, from);
    PipelineFixture fixture;
    QVERIFY2(fixture.start(), qPrintable(fixture.error()));
    // A pause of the outage far longer than the test waits: only a stop seen inside it ends it in time.
    shortenOutages(fixture.manager(), 600, 60000);
    const QString source = fixture.dataFile("data.mp4"_s, 5 * MiB);
    auto pipeline = fixture.pipelineFor(source, false);
    QVERIFY(fixture.check(pipeline).ok());
    QVERIFY(fixture.server().configure({{"outage"_s, QJsonObject{{"ms"_s, 600000}, {"afterChunks"_s, 2}}}}));
    pipeline->requestRun();
    fixture.begin(pipeline, [pipeline] { pipeline->runAlone(); });
    QVERIFY(fixture.waitUntil([&] { return !pipeline->progress().networkWaitText().isEmpty(); }));
    pipeline->setStopRequested(true);
    QCOMPARE(fixture.finish(5000).message, "任务已经停止上传"_s);
    QVERIFY(pipeline->progress().networkWaitText().isEmpty());
    QVERIFY(fixture.server().configure({{"outage"_s, QJsonObject{{"ms"_s, 0}}}}));
    const int sent = fixture.chunks().size();

    QByteArray content;
    if (meanwhile == "rewrite"_s) {
        QFile file(source);
        content = randomBytes(int(5 * MiB));
        QVERIFY(file.open(QIODevice::ReadWrite) && file.write(content) == content.size());
    } else if (meanwhile == "server"_s) {
        // The server holds a different part now: the continuation is refused, the file goes again.
        QVERIFY(pipeline->uploadChunk("data.mp4"_s, 0, 5 * MiB, false, QByteArray(1000, 'x'))->success());
    } else if (meanwhile.startsWith("restart"_s)) {
        ClientOptions options = fixture.manager()->options();
        options.resumeAcrossRestarts = meanwhile == "restart"_s;
        fixture.manager()->setOptions(options);
        pipeline = fixture.pipelineFor(source, false);
        QVERIFY(fixture.check(pipeline).ok());
    }
    const ActionOutcome resumed = fixture.run(pipeline);
    QVERIFY2(resumed.ok(), qPrintable(resumed.message));
    const QJsonArray chunks = fixture.chunks();
    const int first = sent + (meanwhile == "server"_s ? 2 : 0);
    QCOMPARE(qint64(chunks.at(first)["pos"_s].toDouble()), from);
    QCOMPARE(chunks.size(), first + (from == 0 ? 3 : 2));
    QCOMPARE(fixture.journal("uploads").at(0)["sha256"_s].toString(), sha256Of(source));
    // A registered file leaves the session's journal.
    QVERIFY(QDir(fixture.dataPath("resume"_s)).isEmpty());
}

void TestUploadFaults::transcode_serverTemplates_doneOrFailedWithCause_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("mac");
    QTest::addColumn<QString>("message"); // empty: a variant-0 transcode, then its upload; else an NR one failed
    QTest::addColumn<QString>("statuses");
    const auto row = [](const char *name, int type, const char *mac, const char *message, const char *statuses) {
        QTest::newRow(name) << type << QString::fromUtf8(mac) << QString::fromUtf8(message)
                            << QString::fromUtf8(statuses);
    };
    const char *copy = "{ffmpegPath} -y -i \"{source}\" -c copy \"{target}\"";
    row("type 1 keeps the path", 1, copy, "", "2 8 10 16 19");
    row("type 4 replaces the path", 4, copy, "", "8 10 16 19");
    row("refused template", 1, "-y -i \"{source}\" -f null -",
        "服务器下发的转码命令含有不允许的参数(-f null)，已拒绝转码", "2 3 5");
    row("ffmpeg rejects the template", 1, "-y -i \"{source}\" -c:v nosuchcodec \"{target}\"",
        "视频转码失败：Unknown encoder 'nosuchcodec'", "2 3 5");
    // /dev/full behind the target: every write fails with ENOSPC.
    row("full disk", 1, "-y -i \"{source}\" -c:v libx264 \"{target}\"", "视频转码失败：磁盘空间不足，请清理磁盘后重试",
        "2 3 5");
    row("unknown task type", 3, copy, "未知的任务类型(3)，请升级客户端后重试", "");
}

void TestUploadFaults::transcode_serverTemplates_doneOrFailedWithCause()
{
    QFETCH(int, type);
    QFETCH(QString, mac);
    QFETCH(QString, message);
    const int sign = message.isEmpty() ? 0 : 1;
    const auto task = [sign](int id, int type, const QString &mac) {
        return QJsonObject{{"id"_s, id}, {"type"_s, type}, {"sign"_s, sign}, {"title"_s, "t"_s}, {"mac"_s, mac}};
    };
    PipelineFixture fixture;
    QVERIFY2(fixture.start(), qPrintable(fixture.error()));
    QVERIFY(fixture.server().configure({{"plan"_s, QJsonArray{task(1, type, mac), task(2, 2, QString())}}}));
    // Blanks and quotes in the path: it must stay one ffmpeg argument.
    QVERIFY(QDir().mkpath(fixture.dataPath("my videos"_s)) && QDir().mkpath(fixture.dataPath("tmp/sub"_s)));
    const QString source = fixture.dataPath("my videos/say \"hi\" 1.mp4"_s);
    QVERIFY(TestVideos::make(source));
    const auto pipeline = fixture.pipelineFor(source, false);
    const QString target = fixture.dataPath("tmp/%1_%2.mp4"_s.arg(sign ? "NR"_s : QString(), pipeline->file().id));
    QVERIFY(qstrcmp(QTest::currentDataTag(), "full disk") != 0 || QFile::link("/dev/full"_s, target));
    // Each transcode first sweeps the day-old files out of tmp, and nothing else.
    const QDateTime now = QDateTime::currentDateTime();
    for (const auto &[name, age] :
         {std::pair("old"_s, 24 * 3600 + 60), {"young"_s, 23 * 3600}, {"sub/old"_s, 72 * 3600}}) {
        QFile file(fixture.dataPath("tmp/"_s + name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("x") == 1 && file.flush()
                && file.setFileTime(now.addSecs(-age), QFileDevice::FileModificationTime));
    }

    QCOMPARE(fixture.checkAndRun(pipeline).message, message);
    QTEST(fixture.reportedStatuses().join(u' '), "statuses");
    if (sign == 0) {
        QVERIFY(!QFile::exists(fixture.dataPath("tmp/old"_s)));
        QVERIFY(QFile::exists(fixture.dataPath("tmp/young"_s)) && QFile::exists(fixture.dataPath("tmp/sub/old"_s)));
        // What goes up is the transcoded file only when the transcode replaced the path.
        const QString sent = type == 4 ? target : source;
        QCOMPARE(fixture.journal("uploads").at(0)["name"_s].toString(), QFileInfo(sent).fileName());
        QCOMPARE(fixture.journal("uploads").at(0)["sha256"_s].toString(), sha256Of(sent));
    }
}

QTEST_GUILESS_MAIN(TestUploadFaults)
#include "tst_uploadfaults.moc"
