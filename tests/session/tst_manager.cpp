// SPDX-License-Identifier: MIT
#include "core/api/taskcommand.h"
#include "core/pipeline/actionoutcome.h"
#include "core/pipeline/uploadmanager.h"
#include "core/session/manager.h"
#include "core/session/schema.h"
#include "devserver.h"
#include "testsupport.h"
#include "workerrun.h"

#include <QJsonObject>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>
#include <vector>

namespace {

QString field(const QJsonValue &object, const char *key)
{
    return object.toObject().value(QString::fromLatin1(key)).toString();
}

// "fileName:finishRate" of every report.
QStringList reportFields(const DevServer &server)
{
    QStringList fields;
    for (const QJsonValue &report : server.journalList("reports"))
        fields.append(field(report, "fileName") + QLatin1Char(':') + field(report, "finishRate"));
    return fields;
}

QJsonObject config(const char *key, const char *inner, const QJsonValue &value)
{
    const QJsonValue wrapped = inner ? QJsonObject{{QString::fromLatin1(inner), value}} : value;
    return {{QString::fromLatin1(key), wrapped}};
}

} // namespace

class TestManager final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup() { m_server.reset(); }

    void init_settingsAndToken_adoptedOrRefused_data();
    void init_settingsAndToken_adoptedOrRefused();
    void reports_stateOrChangeAtOnce_allParameters();
    void setStatus_progress_thinnedByInjectedClock();
    void setStatus_concurrentWithWorkerRefreshes_keepsEveryEntryInOrder();
    void reporting_stalledServer_onlyTheExitWaitsAndDestructionIsPrompt();
    void pipelines_listedInOrder_removedByServerOrByUser();

private:
    // A coordinator on the server's launch command (unless told otherwise), with `steps` of
    // settings and token loaded.
    std::unique_ptr<Manager> loaded(int steps = 2, bool command = true);

    std::unique_ptr<DevServer> m_server;
};

void TestManager::init()
{
    m_server = std::make_unique<DevServer>();
    QVERIFY2(m_server->start(), qPrintable(m_server->errorString()));
}

std::unique_ptr<Manager> TestManager::loaded(int steps, bool command)
{
    auto manager = std::make_unique<Manager>();
    auto schema = QSharedPointer<Schema>::create();
    if (command && schema->decode(m_server->launchCommand()) == Schema::Valid)
        manager->setSchema(schema);
    for (int step = 0; step < steps; ++step)
        step == 0 ? manager->initSetting() : manager->initToken();
    return manager;
}

void TestManager::init_settingsAndToken_adoptedOrRefused_data()
{
    // "token": the settings load, the token exchange fails; "no command": nothing is loaded.
    QTest::addColumn<QString>("call");
    QTest::addColumn<QJsonObject>("config");
    // What the call throws; a number: it throws nothing and that refreshSecond is adopted.
    QTest::addColumn<QString>("message");
    const QString setting = QStringLiteral("setting");
    const QString token = QStringLiteral("token");
    const QString noToken = QStringLiteral("未能取得接口令牌，请重新获取后尝试。");
    const QString day = QString::number(Manager::MaxRefreshSecond);
    // clang-format off
    QTest::newRow("refreshSecond 5 keeps 8") << setting << config("refreshSecond", nullptr, 5) << QStringLiteral("8");
    QTest::newRow("refreshSecond 9") << setting << config("refreshSecond", nullptr, 9) << QStringLiteral("9");
    // Milliseconds of these overflow 32 bits (a report every 0.7 s; no reports at all).
    QTest::newRow("refreshSecond 4294968") << setting << config("refreshSecond", nullptr, 4294968) << day;
    QTest::newRow("refreshSecond INT_MAX") << setting << config("refreshSecond", nullptr, 2147483647) << day;
    QTest::newRow("no command") << QStringLiteral("setting, no command") << QJsonObject() << QStringLiteral("启动参数未初始化，请确认从平台粘贴的的启动参数正确!");
    QTest::newRow("no token endpoint") << QStringLiteral("token, no command") << QJsonObject() << QStringLiteral("未定义服务器令牌接口，请确认从平台粘贴的的启动参数正确!");
    QTest::newRow("server error") << setting << config("fail", "settings", 500) << QStringLiteral("服务器配置信息获取失败:服务器遇到了一个意外情况，因此服务器无法满足该请求");
    QTest::newRow("not JSON") << setting << config("invalidJson", "settings", QJsonValue()) << QStringLiteral("服务器配置信息获取失败:json error:");
    QTest::newRow("no data") << setting << config("settingsNoData", nullptr, true) << QStringLiteral("当前启动参数可能已过期，请重新获取后尝试。");
    QTest::newRow("token ftp") << setting << config("settings", "getTokenApi", QStringLiteral("ftp://h/t")) << QStringLiteral("服务器返回Token接口有误，请联系管理员(ftp://h/t)");
    QTest::newRow("token upper-case HTTP") << setting << config("settings", "getTokenApi", QStringLiteral("HTTP://h/t")) << QStringLiteral("服务器返回Token接口有误，请联系管理员(HTTP://h/t)");
    QTest::newRow("check") << setting << config("settings", "validVideoInfoApi", QStringLiteral(" http://h/c")) << QStringLiteral("服务器视频校验接口有误，请联系管理员( http://h/c)");
    QTest::newRow("upload ftp") << setting << config("settings", "uploadApi", QStringLiteral("ftp://h/u")) << QStringLiteral("服务器上传接口有误，请联系管理员(ftp://h/u)");
    QTest::newRow("refresh, %1 kept") << setting << config("settings", "refreshApi", QStringLiteral("x%1")) << QStringLiteral("服务器上传状态接口有误，请联系管理员(x%1)");
    QTest::newRow("token refused") << token << config("fail", "token", 404) << QStringLiteral("获取令牌失败:在服务器上找不到远程内容");
    // Only a non-empty string is a token.
    QTest::newRow("token a number") << token << config("tokenData", nullptr, 5) << noToken;
    QTest::newRow("token an object") << token << config("tokenData", "t", 1) << noToken;
    QTest::newRow("token empty") << token << config("tokenData", nullptr, QString()) << noToken;
    // clang-format on
}

void TestManager::init_settingsAndToken_adoptedOrRefused()
{
    QFETCH(QString, call);
    QFETCH(QJsonObject, config);
    QFETCH(QString, message);
    QVERIFY(m_server->configure(config));
    const bool command = !call.contains(QLatin1String("no command"));
    const bool token = call.startsWith(QLatin1String("token"));
    const auto manager = loaded(command && token, command);
    const QString thrown = ActionOutcome::of([&] { token ? manager->initToken() : manager->initSetting(); }).message;
    const QString seen = thrown.isEmpty() ? QString::number(manager->refreshSecond()) : thrown;
    QVERIFY2(thrown.isEmpty() ? seen == message : thrown.startsWith(message), qPrintable(seen));
    // A refusal leaves the defaults.
    QVERIFY(thrown.isEmpty()
            || (manager->token().isEmpty() && manager->refreshSecond() == Manager::DefaultRefreshSecond));
}

void TestManager::reports_stateOrChangeAtOnce_allParameters()
{
    std::unique_ptr<Manager> manager = loaded();
    // Nothing queued: the current state, with no file.
    manager->refreshStatus();
    QVERIFY(manager->flushReports(10000));
    // A change goes at once; sizes beyond 4 GiB stay whole.
    manager->setStatus(STATUS_UPLOADING_ORIGINAL, 5, QStringLiteral("大 文件.mp4"), Q_INT64_C(5000000000));
    QTRY_COMPARE(reportFields(*m_server), (QStringList{QStringLiteral(":0"), QStringLiteral("大 文件.mp4:5")}));
    QCOMPARE(
        m_server->reportedStatuses() + m_server->journalValues("reports", "fileSize"),
        (QStringList{QStringLiteral("20"), QStringLiteral("10"), QStringLiteral("0"), QStringLiteral("5000000000")}));
    // "list" is there and empty while no pipeline exists.
    const QJsonObject report = m_server->journalList("reports").last().toObject();
    QVERIFY(report.contains(QStringLiteral("list")) && field(report, "list").isEmpty());
    QCOMPARE(field(report, "uuid"), m_server->uuid());

    // Registered and nothing queued: the removed-files poll runs, the report does not.
    manager->setStatus(STATUS_REGISTERED, 100, QStringLiteral("a.mp4"), 100);
    QVERIFY(manager->flushReports(10000));
    QVERIFY(m_server->resetJournal());
    manager->refreshStatus();
    QVERIFY(manager->flushReports(10000));
    QCOMPARE(m_server->requestsTo(QStringLiteral("/api/removed")).size(), 1);
    QVERIFY(reportFields(*m_server).isEmpty());
}

void TestManager::setStatus_progress_thinnedByInjectedClock()
{
    std::unique_ptr<Manager> manager = loaded();
    std::atomic<qint64> now{1000};
    manager->setClock([&now] { return now.load(); });
    manager->setStatus(STATUS_TRANSCODING_NR, 0, QStringLiteral("a.mp4"), 100);
    QVERIFY(manager->flushReports(10000));
    QVERIFY(m_server->resetJournal());

    // The status stays the same from here on, so nothing goes out before refreshStatus.
    manager->setStatus(STATUS_TRANSCODING_NR, 10, QStringLiteral("a.mp4"), 100);
    now = 1004;
    manager->setStatus(STATUS_TRANSCODING_NR, 20, QStringLiteral("a.mp4"), 100); // 4 s apart: dropped
    now = 1005;
    manager->setStatus(STATUS_TRANSCODING_NR, 10, QStringLiteral("a.mp4"), 100); // identical: dropped
    manager->setStatus(STATUS_TRANSCODING_NR, 30, QStringLiteral("a.mp4"), 100); // exactly 5 s: kept
    manager->setStatus(STATUS_TRANSCODING_NR, 35, QStringLiteral("b.mp4"), 200); // other file: kept
    manager->setStatus(STATUS_TRANSCODING_NR, 40, QStringLiteral("b.mp4"), 200); // 0 s apart: dropped
    manager->refreshStatus();
    QVERIFY(manager->flushReports(10000));
    // One run sends the three: the server refuses a body that repeats a key of the one before.
    QCOMPARE(reportFields(*m_server),
             (QStringList{QStringLiteral("a.mp4:10"), QStringLiteral("a.mp4:30"), QStringLiteral("b.mp4:35")}));
}

void TestManager::setStatus_concurrentWithWorkerRefreshes_keepsEveryEntryInOrder()
{
    std::unique_ptr<Manager> manager = loaded();
    std::atomic_bool done{false};
    std::vector<std::unique_ptr<QThread>> workers;
    const auto stop = [&] {
        done = true;
        for (const auto &worker : workers)
            worker->wait();
    };
    const auto joinWorkers = qScopeGuard(stop);
    for (int w = 0; w < 3; ++w) {
        workers.emplace_back(QThread::create([&] {
            while (!done)
                manager->refreshStatus();
        }));
        workers.back()->start();
    }
    QStringList expected;
    for (int i = 0; i < 60; ++i) {
        // Alternating statuses: every entry is a change and asks for a run at once.
        expected.append(QStringLiteral("f%1:%1").arg(i));
        manager->setStatus(i % 2 ? STATUS_UPLOADING_ORIGINAL : STATUS_UPLOADING_NR, i, QStringLiteral("f%1").arg(i), i);
        if (i % 10 == 0) { // spread the changes over several runs of the workers
            const int runs = m_server->requestsTo(QStringLiteral("/api/removed")).size();
            QTRY_VERIFY(m_server->requestsTo(QStringLiteral("/api/removed")).size() > runs);
        }
    }
    stop();
    QVERIFY(manager->flushReports(60000));
    // The workers' own runs report the current state with no file name; leave those out.
    QCOMPARE(reportFields(*m_server).filter(QStringLiteral("f")), expected);
}

void TestManager::reporting_stalledServer_onlyTheExitWaitsAndDestructionIsPrompt()
{
    std::unique_ptr<Manager> manager = loaded();
    QVERIFY(m_server->configure(config("stall", "refresh", 1500)));
    manager->setStatus(STATUS_UPLOADING_ORIGINAL, 40, QStringLiteral("a.mp4"), 100);
    // setStatus returns at once; the exit's once both reports are there (the process ends next).
    QVERIFY(!manager->flushReports(100));
    manager->setStatus(STATUS_CLIENT_EXIT, 0, QString(), 0);
    QCOMPARE(m_server->reportedStatuses(), (QStringList{QStringLiteral("10"), QStringLiteral("21")}));
    // Nothing changes after the exit; a state report tells it again.
    manager->setStatus(STATUS_UPLOADING_NR, 50, QStringLiteral("b.mp4"), 100);
    QCOMPARE(manager->status(), STATUS_CLIENT_EXIT);
    manager->refreshStatus();
    QVERIFY(manager->flushReports(10000));
    QCOMPARE(m_server->reportedStatuses().mid(2), QStringList{QStringLiteral("21")});
    QCOMPARE(reportFields(*m_server).last(), QStringLiteral(":0"));

    // Ten minutes of stall: a destructor that waited the request out would time the test out.
    QVERIFY(m_server->configure(config("stall", "refresh", 600000)));
    manager->refreshStatus();
    QTRY_COMPARE(m_server->requestsTo(QStringLiteral("/api/refresh")).size(), 4);
    manager.reset();
}

void TestManager::pipelines_listedInOrder_removedByServerOrByUser()
{
    std::unique_ptr<Manager> manager = loaded();
    QVERIFY(!manager->uploadManagers());
    QList<QSharedPointer<UploadManager>> added;
    for (const QString &name : {QStringLiteral("say \"一\".mp4"), QStringLiteral("two.mp4"), QStringLiteral("3.mkv")}) {
        added.append(manager->addUploadManager());
        UploadFileInfo record;
        record.name = name;
        record.size = Q_INT64_C(5000000000) + added.size();
        added.last()->setFile(record);
        added.last()->setRate(10 * added.size());
    }
    QCOMPARE(*manager->uploadManagers(), added);
    QSignalSpy removed(added.at(1).data(), &UploadManager::deleteMsg);

    // One id names nothing here and changes nothing; the other names the middle pipeline.
    QVERIFY(m_server->markRemoved(QStringLiteral("0123456789abcdef0123456789abcdef")));
    QVERIFY(m_server->markRemoved(added.at(1)->id()));
    manager->refreshStatus();
    QVERIFY(manager->flushReports(10000));
    QCOMPARE(*manager->uploadManagers(), (QList<QSharedPointer<UploadManager>>{added.at(0), added.at(2)}));
    QTRY_COMPARE(removed.size(), 1);
    QCOMPARE(removed.first().first().value<UploadManager *>(), added.at(1).data());
    // The report of the same run already leaves it out; keys in the server's order.
    const QString list =
        QStringLiteral("[{\"uuid\":\"%1\",\"status\":20,\"finishRate\":10,\"fileName\":\"say \\\"一\\\".mp4\","
                       "\"fileSize\":5000000001},{\"uuid\":\"%2\",\"status\":20,\"finishRate\":30,"
                       "\"fileName\":\"3.mkv\",\"fileSize\":5000000003}]");
    QCOMPARE(field(m_server->journalList("reports").last(), "list"), list.arg(added.at(0)->id(), added.at(2)->id()));

    // Taken out by the user while it runs (every chunk refused, so it stays in its attempts):
    // stopped and waited for, then reported as 20.
    QTemporaryDir folder;
    UploadFileInfo record;
    record.uuid = m_server->uuid();
    record.path = folder.filePath(QStringLiteral("clip.mp4"));
    record.name = QStringLiteral("clip.mp4");
    record.suffix = QStringLiteral(".mp4");
    record.size = 3 * 1024 * 1024;
    QFile file(record.path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(randomBytes(int(record.size))) == record.size);
    file.close();
    const QSharedPointer<UploadManager> pipeline = added.at(2);
    pipeline->setFile(record);
    QVERIFY(m_server->configure({{QStringLiteral("rejectChunks"), 100000}}));
    pipeline->requestRun();
    WorkerRun run([&] {
        pipeline->checkVideo();
        pipeline->runAlone();
    });
    QTRY_VERIFY_WITH_TIMEOUT(manager->hasRunningTask() || run.finished(), 20000);
    manager->removeUploadManager(pipeline);
    QVERIFY(!pipeline->isRunning() && !manager->hasRunningTask());
    QVERIFY(run.wait(10000) && run.outcome().stopped());
    QCOMPARE(run.outcome().message, QStringLiteral("任务已经停止上传"));
    QCOMPARE(pipeline->tasks()->first()->taskState(), TaskState::Stopped);
    QCOMPARE(*manager->uploadManagers(), QList<QSharedPointer<UploadManager>>{added.at(0)});
    QVERIFY(manager->flushReports(10000));
    const QJsonObject last = m_server->journalList("reports").last().toObject();
    QCOMPARE(field(last, "status") + field(last, "fileName") + field(last, "fileSize"),
             QStringLiteral("20clip.mp4") + QString::number(record.size));
}

QTEST_GUILESS_MAIN(TestManager)
#include "tst_manager.moc"
