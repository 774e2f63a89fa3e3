// SPDX-License-Identifier: MIT
#include "core/api/api.h"
#include "core/api/taskcommand.h"
#include "core/pipeline/actionoutcome.h"
#include "core/pipeline/uploadmanager.h"
#include "core/session/manager.h"
#include "core/session/schema.h"
#include "devserver.h"
#include "logcapture.h"
#include "workerrun.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QtTest>

#include <atomic>
#include <memory>
#include <vector>

namespace {

QSharedPointer<Schema> schemaOf(const QString &command)
{
    auto schema = QSharedPointer<Schema>::create();
    return schema->decode(command) == Schema::Valid ? schema : QSharedPointer<Schema>();
}

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

QJsonObject settings(const char *key, const QJsonValue &value)
{
    return {{QStringLiteral("settings"), QJsonObject{{QString::fromLatin1(key), value}}}};
}

QJsonObject fault(const char *kind, const char *endpoint, const QJsonValue &value)
{
    return {{QString::fromLatin1(kind), QJsonObject{{QString::fromLatin1(endpoint), value}}}};
}

} // namespace

class TestManager final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup() { m_server.reset(); }

    void initSetting_failures_throwMessages_data();
    void initSetting_failures_throwMessages();
    void initSetting_refreshSecond_adoptedAboveEight_data();
    void initSetting_refreshSecond_adoptedAboveEight();
    void initToken_failures_throwMessages();
    void requests_tokenHeader_onlyAfterExchange();
    void setStatus_statusChange_reportsAtOnceWithAllParameters();
    void setStatus_progress_thinnedByInjectedClock();
    void refreshStatus_emptyQueue_currentStateUnlessRegistered();
    void setStatus_clientExit_finalAndSentBeforeReturn();
    void setStatus_concurrentWithWorkerRefreshes_keepsEveryEntryInOrder();
    void reporting_stalledServer_boundedWaitAndPromptDestruction();
    void refreshStatus_pipelines_listJsonInOrderAndRemovedTakenOut();
    void stopAllAndRemove_runningPipeline_stopThenReport20();

private:
    std::unique_ptr<Manager> loadedManager();

    std::unique_ptr<DevServer> m_server;
};

void TestManager::init()
{
    m_server = std::make_unique<DevServer>();
    QVERIFY2(m_server->start(), qPrintable(m_server->errorString()));
}

std::unique_ptr<Manager> TestManager::loadedManager()
{
    auto manager = std::make_unique<Manager>();
    manager->setSchema(schemaOf(m_server->launchCommand()));
    manager->initSetting();
    manager->initToken();
    return manager;
}

void TestManager::initSetting_failures_throwMessages_data()
{
    QTest::addColumn<QJsonObject>("config");
    QTest::addColumn<QString>("message");
    QTest::newRow("server error") << fault("fail", "settings", 500)
                                  << QStringLiteral(
                                         "服务器配置信息获取失败:服务器遇到了一个意外情况，因此服务器无法满足该请求");
    QTest::newRow("not JSON") << fault("invalidJson", "settings", QJsonValue())
                              << QStringLiteral("服务器配置信息获取失败:json error:");
    QTest::newRow("no data") << QJsonObject{{QStringLiteral("settingsNoData"), true}}
                             << QStringLiteral("当前启动参数可能已过期，请重新获取后尝试。");
    QTest::newRow("token ftp") << settings("getTokenApi", QStringLiteral("ftp://h/t"))
                               << QStringLiteral("服务器返回Token接口有误，请联系管理员(ftp://h/t)");
    QTest::newRow("token upper-case HTTP") << settings("getTokenApi", QStringLiteral("HTTP://h/t"))
                                           << QStringLiteral("服务器返回Token接口有误，请联系管理员(HTTP://h/t)");
    QTest::newRow("check") << settings("validVideoInfoApi", QStringLiteral(" http://h/c"))
                           << QStringLiteral("服务器视频校验接口有误，请联系管理员( http://h/c)");
    QTest::newRow("upload ftp") << settings("uploadApi", QStringLiteral("ftp://h/u"))
                                << QStringLiteral("服务器上传接口有误，请联系管理员(ftp://h/u)");
    QTest::newRow("refresh, %1 kept") << settings("refreshApi", QStringLiteral("x%1"))
                                      << QStringLiteral("服务器上传状态接口有误，请联系管理员(x%1)");
}

void TestManager::initSetting_failures_throwMessages()
{
    QFETCH(QJsonObject, config);
    QFETCH(QString, message);
    QVERIFY(m_server->configure(config));
    Manager manager;
    manager.setSchema(schemaOf(m_server->launchCommand()));
    const QString thrown = ActionOutcome::of([&] { manager.initSetting(); }).message;
    QVERIFY2(thrown.startsWith(message), qPrintable(thrown));
    QCOMPARE(manager.refreshSecond(), Manager::DefaultRefreshSecond);
}

void TestManager::initSetting_refreshSecond_adoptedAboveEight_data()
{
    QTest::addColumn<int>("offered");
    QTest::addColumn<int>("adopted");
    QTest::newRow("5 keeps 8") << 5 << 8;
    QTest::newRow("9") << 9 << 9;
    QTest::newRow("30") << 30 << 30;
    // Milliseconds of these overflow 32 bits (a report every 0.7 s; no reports at all).
    QTest::newRow("4294968 cut to a day") << 4294968 << Manager::MaxRefreshSecond;
    QTest::newRow("INT_MAX cut to a day") << 2147483647 << Manager::MaxRefreshSecond;
}

void TestManager::initSetting_refreshSecond_adoptedAboveEight()
{
    QFETCH(int, offered);
    QVERIFY(m_server->configure({{QStringLiteral("refreshSecond"), offered}}));
    Manager manager;
    manager.setSchema(schemaOf(m_server->launchCommand()));
    manager.initSetting();
    QTEST(manager.refreshSecond(), "adopted");
    QCOMPARE(manager.api()->refreshApi(), m_server->url(QStringLiteral("/api/refresh")));
    QCOMPARE(manager.api()->serverAddress(), manager.schema()->server());
}

void TestManager::initToken_failures_throwMessages()
{
    Manager manager;
    QCOMPARE(ActionOutcome::of([&] { manager.initSetting(); }).message,
             QStringLiteral("启动参数未初始化，请确认从平台粘贴的的启动参数正确!"));
    QCOMPARE(ActionOutcome::of([&] { manager.initToken(); }).message,
             QStringLiteral("未定义服务器令牌接口，请确认从平台粘贴的的启动参数正确!"));

    manager.setSchema(schemaOf(QString(m_server->launchCommand())
                                   .replace(QStringLiteral(":%1/").arg(m_server->port()), QStringLiteral(":1/"))));
    QCOMPARE(ActionOutcome::of([&] { manager.initSetting(); }).message,
             QStringLiteral("服务器配置信息获取失败:远程服务器拒绝了连接（服务器不接受请求）"));

    manager.setSchema(schemaOf(QString(m_server->launchCommand())
                                   .replace(QStringLiteral("code=") + m_server->code(), QStringLiteral("code=wrong"))));
    manager.initSetting();
    QCOMPARE(ActionOutcome::of([&] { manager.initToken(); }).message,
             QStringLiteral("获取令牌失败:授权码无效或已过期"));
    QVERIFY(manager.token().isEmpty());

    QVERIFY(m_server->configure(fault("fail", "token", 404)));
    QCOMPARE(ActionOutcome::of([&] { manager.initToken(); }).message,
             QStringLiteral("获取令牌失败:在服务器上找不到远程内容"));

    // Only a non-empty string is a token.
    manager.setSchema(schemaOf(m_server->launchCommand()));
    for (const QJsonValue &odd :
         {QJsonValue(5), QJsonValue(QJsonObject{{QStringLiteral("t"), 1}}), QJsonValue(QString())}) {
        QVERIFY(m_server->configure({{QStringLiteral("tokenData"), odd}, {QStringLiteral("fail"), QJsonValue()}}));
        QCOMPARE(ActionOutcome::of([&] { manager.initToken(); }).message,
                 QStringLiteral("未能取得接口令牌，请重新获取后尝试。"));
    }

    // A successful envelope without data: the status test endpoint answers exactly that.
    QVERIFY(m_server->configure(settings("getTokenApi", m_server->url(QStringLiteral("/test/status/200")))));
    manager.initSetting();
    QCOMPARE(ActionOutcome::of([&] { manager.initToken(); }).message,
             QStringLiteral("未能取得接口令牌，请重新获取后尝试。"));
}

void TestManager::requests_tokenHeader_onlyAfterExchange()
{
    std::unique_ptr<Manager> manager = loadedManager();
    QCOMPARE(manager->token(), m_server->journalValues("tokens", "token").value(0));
    manager->refreshStatus();
    QVERIFY(manager->flushReports(10000));

    const QJsonArray requests = m_server->journalList("requests");
    QStringList paths;
    for (int i = 0; i < requests.size(); ++i) {
        paths.append(field(requests.at(i), "path"));
        const QJsonValue header =
            requests.at(i).toObject().value(QStringLiteral("headers")).toObject().value(QStringLiteral("token"));
        if (i < 2)
            QVERIFY(header.isUndefined());
        else
            QCOMPARE(QUrl::fromPercentEncoding(header.toString().toLatin1()), manager->token());
    }
    QCOMPARE(paths, (QStringList{QStringLiteral("/platform/settings"), QStringLiteral("/api/token"),
                                 QStringLiteral("/api/removed"), QStringLiteral("/api/refresh")}));
    QCOMPARE(field(requests.at(2).toObject().value(QStringLiteral("form")), "uuid"), m_server->uuid());
}

void TestManager::setStatus_statusChange_reportsAtOnceWithAllParameters()
{
    std::unique_ptr<Manager> manager = loadedManager();
    auto log = std::make_unique<LogCapture>();
    manager->setStatus(STATUS_UPLOADING_ORIGINAL, 5, QStringLiteral("大 文件.mp4"), Q_INT64_C(5000000000));
    QTRY_COMPARE(reportFields(*m_server).size(), 1);
    const QStringList refreshPosts = log->messages(QStringLiteral("Thread:")).filter(QStringLiteral("/api/refresh?"));
    log.reset();

    // Sizes beyond 4 GiB stay whole; "list" is there and empty while no pipeline exists.
    const QJsonObject report = m_server->journalList("reports").first().toObject();
    QCOMPARE(report.value(QStringLiteral("list")).toString(QStringLiteral("<missing>")), QString());
    QCOMPARE(refreshPosts.size(), 1);
    const QString body = QStringLiteral("?uuid=%1&status=10&finishRate=5&fileName=%E5%A4%A7%20%E6%96%87%E4%BB%B6.mp4"
                                        "&fileSize=5000000000&list=")
                             .arg(m_server->uuid());
    QVERIFY2(refreshPosts.first().endsWith(body), qPrintable(refreshPosts.first()));
    QCOMPARE(field(report, "fileName"), QStringLiteral("大 文件.mp4"));
}

void TestManager::setStatus_progress_thinnedByInjectedClock()
{
    std::unique_ptr<Manager> manager = loadedManager();
    std::atomic<qint64> now{1000};
    manager->setClock([&now] { return now.load(); });
    manager->setStatus(STATUS_TRANSCODING_NR, 0, QStringLiteral("a.mp4"), 100);
    QVERIFY(manager->flushReports(10000));
    QVERIFY(m_server->resetJournal());

    // The status stays the same from here on, so nothing goes out before refreshStatus.
    manager->setStatus(STATUS_TRANSCODING_NR, 10, QStringLiteral("a.mp4"), 100);
    now = 1004;
    manager->setStatus(STATUS_TRANSCODING_NR, 20, QStringLiteral("a.mp4"), 100); // 4 s apart: dropped
    manager->setStatus(STATUS_TRANSCODING_NR, 10, QStringLiteral("a.mp4"), 100); // identical: dropped
    now = 1005;
    manager->setStatus(STATUS_TRANSCODING_NR, 30, QStringLiteral("a.mp4"), 100); // exactly 5 s: kept
    manager->setStatus(STATUS_TRANSCODING_NR, 35, QStringLiteral("b.mp4"), 200); // other file: kept
    manager->setStatus(STATUS_TRANSCODING_NR, 40, QStringLiteral("b.mp4"), 200); // 0 s apart: dropped
    manager->refreshStatus();
    QVERIFY(manager->flushReports(10000));
    QCOMPARE(reportFields(*m_server),
             (QStringList{QStringLiteral("a.mp4:10"), QStringLiteral("a.mp4:30"), QStringLiteral("b.mp4:35")}));
}

void TestManager::refreshStatus_emptyQueue_currentStateUnlessRegistered()
{
    std::unique_ptr<Manager> manager = loadedManager();
    manager->refreshStatus();
    QVERIFY(manager->flushReports(10000));
    QCOMPARE(m_server->reportedStatuses(), QStringList{QStringLiteral("20")});
    QCOMPARE(reportFields(*m_server), QStringList{QStringLiteral(":0")});
    QCOMPARE(m_server->journalValues("reports", "fileSize"), QStringList{QStringLiteral("0")});

    manager->setStatus(STATUS_REGISTERED, 100, QStringLiteral("a.mp4"), 100);
    QVERIFY(manager->flushReports(10000));
    QVERIFY(m_server->resetJournal());
    // Registered and nothing queued: the removed-files poll runs, the report does not, and an
    // id that matches no pipeline changes nothing.
    QVERIFY(m_server->markRemoved(QStringLiteral("matches-no-pipeline")));
    manager->refreshStatus();
    QVERIFY(manager->flushReports(10000));
    QCOMPARE(m_server->requestsTo(QStringLiteral("/api/removed")).size(), 1);
    QVERIFY(reportFields(*m_server).isEmpty());
    QCOMPARE(manager->status(), STATUS_REGISTERED);
}

void TestManager::setStatus_clientExit_finalAndSentBeforeReturn()
{
    std::unique_ptr<Manager> manager = loadedManager();
    QVERIFY(m_server->configure(fault("stall", "refresh", 300)));
    manager->setStatus(STATUS_UPLOADING_ORIGINAL, 40, QStringLiteral("a.mp4"), 100);
    manager->setStatus(STATUS_CLIENT_EXIT, 0, QString(), 0);
    // Already there, without waiting: the closing path exits right after this call.
    QCOMPARE(m_server->reportedStatuses(), (QStringList{QStringLiteral("10"), QStringLiteral("21")}));

    manager->setStatus(STATUS_UPLOADING_NR, 50, QStringLiteral("b.mp4"), 100);
    QCOMPARE(manager->status(), STATUS_CLIENT_EXIT);
    manager->refreshStatus();
    QVERIFY(manager->flushReports(10000));
    QCOMPARE(m_server->reportedStatuses(),
             (QStringList{QStringLiteral("10"), QStringLiteral("21"), QStringLiteral("21")}));
    QCOMPARE(reportFields(*m_server).last(), QStringLiteral(":0"));
}

void TestManager::setStatus_concurrentWithWorkerRefreshes_keepsEveryEntryInOrder()
{
    std::unique_ptr<Manager> manager = loadedManager();
    std::atomic_bool done{false};
    std::vector<std::unique_ptr<QThread>> workers;
    const auto joinWorkers = qScopeGuard([&] {
        done = true;
        for (const auto &worker : workers)
            worker->wait();
    });
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
    done = true;
    for (const auto &worker : workers)
        QVERIFY(worker->wait(30000));
    QVERIFY(manager->flushReports(60000));
    // The workers' own runs report the current state with no file name; leave those out.
    QCOMPARE(reportFields(*m_server).filter(QStringLiteral("f")), expected);
}

void TestManager::reporting_stalledServer_boundedWaitAndPromptDestruction()
{
    std::unique_ptr<Manager> manager = loadedManager();
    QVERIFY(m_server->configure(fault("stall", "refresh", 1500)));
    manager->setStatus(STATUS_UPLOADING_ORIGINAL, 1, QStringLiteral("a.mp4"), 100);
    // setStatus returned although the report is still on its way.
    QVERIFY(!manager->flushReports(100));
    QVERIFY(manager->flushReports(30000));
    QCOMPARE(reportFields(*m_server).size(), 1);

    // Ten minutes of stall: a destructor that waited the request out would time the test out.
    QVERIFY(m_server->configure(fault("stall", "refresh", 600000)));
    manager->setStatus(STATUS_UPLOADING_NR, 2, QStringLiteral("a.mp4"), 100);
    QTRY_COMPARE(m_server->requestsTo(QStringLiteral("/api/refresh")).size(), 2);
    manager.reset();
}

void TestManager::refreshStatus_pipelines_listJsonInOrderAndRemovedTakenOut()
{
    std::unique_ptr<Manager> manager = loadedManager();
    QVERIFY(!manager->uploadManagers());
    const QStringList names{QStringLiteral("一.mp4"), QStringLiteral("say \"two\".mp4"), QStringLiteral("three.mkv")};
    QList<QSharedPointer<UploadManager>> added;
    for (int i = 0; i < names.size(); ++i) {
        const QSharedPointer<UploadManager> pipeline = manager->addUploadManager();
        UploadFileInfo record;
        record.name = names.at(i);
        record.size = Q_INT64_C(5000000000) + i;
        pipeline->setFile(record);
        pipeline->setRate(10 * i);
        added.append(pipeline);
    }
    QCOMPARE(*manager->uploadManagers(), added);
    QSignalSpy firstRemoved(added.at(0).data(), &UploadManager::deleteMsg);
    QSignalSpy secondRemoved(added.at(1).data(), &UploadManager::deleteMsg);

    // One id names nothing here; the other names the middle pipeline.
    QVERIFY(m_server->markRemoved(QStringLiteral("0123456789abcdef0123456789abcdef")));
    manager->refreshStatus();
    QVERIFY(manager->flushReports(10000));
    QCOMPARE(manager->uploadManagers()->size(), 3);
    QCOMPARE(firstRemoved.size() + secondRemoved.size(), 0);
    const QJsonObject report = m_server->journalList("reports").last().toObject();
    QVERIFY2(field(report, "list")
                 .startsWith(QStringLiteral("[{\"uuid\":\"") + added.at(0)->id()
                             + QStringLiteral("\",\"status\":20,\"finishRate\":0,\"fileName\":")),
             qPrintable(field(report, "list")));
    const QJsonArray list = report.value(QStringLiteral("listJson")).toArray();
    QCOMPARE(list.size(), 3);
    for (int i = 0; i < list.size(); ++i) {
        const QJsonObject entry = list.at(i).toObject();
        QCOMPARE(entry.value(QStringLiteral("uuid")).toString(), added.at(i)->id());
        QCOMPARE(entry.value(QStringLiteral("status")).toInt(), 20);
        QCOMPARE(entry.value(QStringLiteral("finishRate")).toInt(), 10 * i);
        QCOMPARE(entry.value(QStringLiteral("fileName")).toString(), names.at(i));
        QCOMPARE(qint64(entry.value(QStringLiteral("fileSize")).toDouble()), Q_INT64_C(5000000000) + i);
    }

    QVERIFY(m_server->markRemoved(added.at(1)->id()));
    manager->refreshStatus();
    QVERIFY(manager->flushReports(10000));
    QCOMPARE(*manager->uploadManagers(), (QList<QSharedPointer<UploadManager>>{added.at(0), added.at(2)}));
    QTRY_COMPARE(secondRemoved.size(), 1);
    QCOMPARE(secondRemoved.first().first().value<UploadManager *>(), added.at(1).data());
    QCOMPARE(firstRemoved.size(), 0);
    // The report of the same run already leaves it out.
    const QJsonArray after =
        m_server->journalList("reports").last().toObject().value(QStringLiteral("listJson")).toArray();
    QCOMPARE(after.size(), 2);
    QCOMPARE(after.at(1).toObject().value(QStringLiteral("uuid")).toString(), added.at(2)->id());
}

void TestManager::stopAllAndRemove_runningPipeline_stopThenReport20()
{
    std::unique_ptr<Manager> manager = loadedManager();
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("clip.mp4"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(QByteArray(3 * 1024 * 1024, 'v')) > 0);
    file.close();
    const QSharedPointer<UploadManager> kept = manager->addUploadManager();
    const QSharedPointer<UploadManager> pipeline = manager->addUploadManager();
    UploadFileInfo record;
    record.uuid = m_server->uuid();
    record.path = path;
    record.name = QStringLiteral("clip.mp4");
    record.suffix = QStringLiteral(".mp4");
    record.size = file.size();
    pipeline->setFile(record);
    // Every chunk refused: a run stays in its attempts and pauses until it is stopped.
    QVERIFY(m_server->configure({{QStringLiteral("rejectChunks"), 100000}}));
    const auto startRun = [&] {
        pipeline->requestRun();
        return std::make_unique<WorkerRun>([&] {
            if (!pipeline->tasks())
                pipeline->checkVideo();
            pipeline->runAlone();
        });
    };

    std::unique_ptr<WorkerRun> run = startRun();
    QTRY_VERIFY_WITH_TIMEOUT(manager->hasRunningTask(), 20000);
    manager->stopAll();
    QVERIFY(run->wait(10000));
    QVERIFY(run->outcome().stopped());
    QCOMPARE(run->outcome().message, QStringLiteral("任务已经停止上传"));
    QCOMPARE(pipeline->tasks()->first()->taskState(), TaskState::Stopped);
    QVERIFY(!manager->hasRunningTask());

    run = startRun();
    QTRY_VERIFY_WITH_TIMEOUT(pipeline->isRunning(), 20000);
    manager->removeUploadManager(pipeline);
    // Back only once the run has ended.
    QVERIFY(!pipeline->isRunning());
    QVERIFY(run->wait(10000));
    QVERIFY(run->outcome().stopped());
    QCOMPARE(run->outcome().message, QStringLiteral("任务已经停止上传"));
    QCOMPARE(*manager->uploadManagers(), QList<QSharedPointer<UploadManager>>{kept});
    QVERIFY(manager->flushReports(10000));
    const QJsonObject last = m_server->journalList("reports").last().toObject();
    QCOMPARE(field(last, "status"), QStringLiteral("20"));
    QCOMPARE(field(last, "fileName"), QStringLiteral("clip.mp4"));
    QCOMPARE(field(last, "fileSize"), QString::number(record.size));
}

QTEST_GUILESS_MAIN(TestManager)
#include "tst_manager.moc"
