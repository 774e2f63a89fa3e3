// SPDX-License-Identifier: MIT
#include "core/session/manager.h"

#include "core/api/api.h"
#include "core/api/baseclient.h"
#include "core/api/removefileid.h"
#include "core/api/settinginfodto.h"
#include "core/pipeline/uploadmanager.h"
#include "core/session/schema.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDebug>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

// Progress of one file in one status is reported at most once per this many seconds.
constexpr qint64 ThinningSeconds = 5;

bool isHttp(const QString &url)
{
    return url.startsWith(QLatin1String("http"), Qt::CaseSensitive);
}

// A JSON string literal, quotes included.
QString jsonString(const QString &text)
{
    // Every report lists every file: names with nothing to escape (nearly all) are quoted
    // as they are, without building a JSON document for each.
    const bool plain = std::none_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.unicode() < 0x20 || c == QLatin1Char('"') || c == QLatin1Char('\\') || c.isSurrogate();
    });
    if (plain)
        return QLatin1Char('"') + text + QLatin1Char('"');
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// A pipeline lives on the thread that made it; the last owner may be a worker.
void deletePipeline(UploadManager *pipeline)
{
    if (pipeline->thread() == QThread::currentThread())
        delete pipeline;
    else
        pipeline->deleteLater();
}

} // namespace

Manager::Manager(QObject *parent)
    : QObject(parent)
    , m_client(std::make_unique<BaseClient>())
    , m_clock([] { return QDateTime::currentSecsSinceEpoch(); })
{
    registerStatusMetaTypes();
    m_reporter = QThread::create([this] { reportLoop(); });
    m_reporter->setObjectName(QStringLiteral("status-reporter"));
    m_reporter->start();
}

Manager::~Manager()
{
    {
        QMutexLocker locker(&m_mutex);
        m_stopping = true;
        m_wake.wakeAll();
    }
    // Ends a request in flight instead of waiting out a stalled server.
    m_reporter->requestInterruption();
    m_reporter->wait();
    delete m_reporter;
}

void Manager::setSchema(const QSharedPointer<Schema> &schema)
{
    QMutexLocker locker(&m_configMutex);
    m_schema = schema;
}

QSharedPointer<Schema> Manager::schema() const
{
    QMutexLocker locker(&m_configMutex);
    return m_schema;
}

QSharedPointer<Api> Manager::api() const
{
    QMutexLocker locker(&m_configMutex);
    return m_api;
}

QString Manager::token() const
{
    QMutexLocker locker(&m_configMutex);
    return m_token;
}

int Manager::refreshSecond() const
{
    QMutexLocker locker(&m_configMutex);
    return m_refreshSecond;
}

int Manager::refreshInterval() const
{
    QMutexLocker locker(&m_configMutex);
    return m_options.refreshIntervalMs > 0 ? m_options.refreshIntervalMs : m_refreshSecond * 1000;
}

void Manager::setOptions(const ClientOptions &options)
{
    QMutexLocker locker(&m_configMutex);
    m_options = options;
    m_client->setOptions(options);
}

ClientOptions Manager::options() const
{
    QMutexLocker locker(&m_configMutex);
    return m_options;
}

BaseClient *Manager::client() const
{
    return m_client.get();
}

bool Manager::startPermit() const
{
    return m_startPermit;
}

void Manager::setStartPermit(bool value)
{
    m_startPermit = value;
}

void Manager::initSetting()
{
    qDebug().noquote() << QStringLiteral("Manager::initSetting");
    const QSharedPointer<Schema> launch = schema();
    if (!launch || launch->server().isEmpty())
        throw QStringLiteral("启动参数未初始化，请确认从平台粘贴的的启动参数正确!");

    const auto reply = m_client->get<SettingInfoDTO>(launch->server(), QSharedPointer<QueryData>::create());
    if (!reply || !reply->success()) {
        const QString message = reply && reply->message() ? *reply->message() : QString();
        throw QString(QStringLiteral("服务器配置信息获取失败:") + message);
    }
    const QSharedPointer<SettingInfoDTO> settings = reply->data();
    if (!settings)
        throw QStringLiteral("当前启动参数可能已过期，请重新获取后尝试。");

    auto api = QSharedPointer<Api>::create();
    api->setServerAddress(launch->server());
    api->setGetTokenApi(settings->getTokenApi());
    api->setValidVideoInfoApi(settings->validVideoInfoApi());
    api->setUploadApi(settings->uploadApi());
    api->setRefreshApi(settings->refreshApi());
    api->setAddVideoApi(settings->addVideoApi());
    api->setGetRemovedFileIdListApi(settings->getRemovedFileIdListApi());
    api->setRemoveFileApi(settings->removeFileApi());
    api->setPcVideoClientVersion(settings->pcVideoClientVersion());
    api->setPcVideoClientDownloadApi(settings->pcVideoClientDownloadApi());
    api->setMacVideoClientVersion(settings->macVideoClientVersion());
    api->setMacVideoClientDownloadApi(settings->macVideoClientDownloadApi());
    api->setLinuxVideoClientVersion(settings->linuxVideoClientVersion());
    api->setLinuxVideoClientDownloadApi(settings->linuxVideoClientDownloadApi());
    {
        QMutexLocker locker(&m_configMutex);
        m_api = api;
    }

    if (!isHttp(api->getTokenApi()))
        throw QStringLiteral("服务器返回Token接口有误，请联系管理员(%1)").arg(api->getTokenApi());
    if (!isHttp(api->validVideoInfoApi()))
        throw QStringLiteral("服务器视频校验接口有误，请联系管理员(%1)").arg(api->validVideoInfoApi());
    if (!isHttp(api->uploadApi()))
        throw QStringLiteral("服务器上传接口有误，请联系管理员(%1)").arg(api->uploadApi());
    if (!isHttp(api->refreshApi()))
        throw QStringLiteral("服务器上传状态接口有误，请联系管理员(%1)").arg(api->refreshApi());

    if (settings->refreshSecond() > DefaultRefreshSecond) {
        QMutexLocker locker(&m_configMutex);
        m_refreshSecond = qMin(settings->refreshSecond(), MaxRefreshSecond);
    }
}

void Manager::initToken()
{
    qDebug().noquote() << QStringLiteral("Manager::initToken");
    const QSharedPointer<Api> endpoints = api();
    if (!endpoints || endpoints->getTokenApi().isEmpty())
        throw QStringLiteral("未定义服务器令牌接口，请确认从平台粘贴的的启动参数正确!");

    const QSharedPointer<Schema> launch = schema();
    auto data = QSharedPointer<QueryData>::create();
    data->add(QStringLiteral("code"), launch ? launch->code() : QString());
    data->setSecretReply(true);
    const auto reply = m_client->get<QString>(endpoints->getTokenApi(), data);
    if (!reply || !reply->success()) {
        const QString message = reply && reply->message() ? *reply->message() : QString();
        throw QString(QStringLiteral("获取令牌失败:") + message);
    }
    // A number or an object reads as an empty text, which is no token either.
    if (!reply->data() || reply->data()->isEmpty())
        throw QStringLiteral("未能取得接口令牌，请重新获取后尝试。");

    QMutexLocker locker(&m_configMutex);
    m_token = *reply->data();
}

void Manager::onTaskComplete(const QObject *widget)
{
    Q_EMIT taskCompleteSignal(widget);
}

STATUS Manager::status() const
{
    QMutexLocker locker(&m_mutex);
    return m_status;
}

void Manager::setClock(Clock clock)
{
    QMutexLocker locker(&m_mutex);
    m_clock = clock ? std::move(clock) : Clock([] { return QDateTime::currentSecsSinceEpoch(); });
}

void Manager::setStatus(STATUS status, int rate, const QString &fileName, qint64 fileSize)
{
    {
        QMutexLocker locker(&m_mutex);
        if (m_status == STATUS_CLIENT_EXIT)
            return;
        const STATUS previous = m_status;
        m_status = status;

        const StatusEntry entry{status, rate, fileName, m_clock(), fileSize};
        if (!m_statusList.isEmpty()) {
            const StatusEntry &last = m_statusList.last();
            if (last.status == status && last.fileName == fileName) {
                if (last.rate == rate)
                    return;
                // Unsent for lack of network: only the newest progress of the file is worth sending.
                if (m_networkDown) {
                    m_statusList.last() = entry;
                    return;
                }
                const qint64 elapsed = entry.time - last.time;
                if (elapsed >= 0 && elapsed < ThinningSeconds)
                    return;
            }
        }
        m_statusList.enqueue(entry);
        qDebug().noquote() << QStringLiteral("statusList.enqueue: %1, %2, %3")
                                  .arg(QString::number(status), QString::number(rate), fileName);
        if (status == previous)
            return;
        requestRunLocked();
    }
    // The closing path exits the process right after this call.
    if (status == STATUS_CLIENT_EXIT)
        flushReports(FinalReportWaitMs);
}

void Manager::refreshStatus()
{
    QMutexLocker locker(&m_mutex);
    m_stateReportWanted = true;
    requestRunLocked();
}

void Manager::refreshIfReady()
{
    const QSharedPointer<Schema> launch = schema();
    if (launch && !launch->uuid().isEmpty() && !token().isEmpty())
        refreshStatus();
}

void Manager::requestRunLocked()
{
    m_runWanted = true;
    m_wake.wakeAll();
}

bool Manager::flushReports(int timeoutMs)
{
    if (QThread::currentThread() == m_reporter)
        return false;
    const QDeadlineTimer deadline(timeoutMs);
    QMutexLocker locker(&m_mutex);
    for (;;) {
        // Entries queued without a status change wait for the next run; ask for it now.
        if (!m_statusList.isEmpty() && !m_runWanted && !m_draining)
            requestRunLocked();
        if (!m_runWanted && !m_running && m_statusList.isEmpty())
            return true;
        if (!m_idle.wait(&m_mutex, deadline))
            return false;
    }
}

void Manager::reportLoop()
{
    QMutexLocker locker(&m_mutex);
    for (;;) {
        // While the network is out, runs wait for the next try, except the exit's report.
        while (!m_stopping
               && (!m_runWanted || (m_networkDown && m_status != STATUS_CLIENT_EXIT && !m_retryAt.hasExpired())))
            m_wake.wait(&m_mutex, m_runWanted ? m_retryAt : QDeadlineTimer(QDeadlineTimer::Forever));
        if (m_stopping)
            break;
        const bool stateReport = std::exchange(m_stateReportWanted, false);
        m_runWanted = false;
        m_running = true;
        // Whatever is queued now is this run's to send, even before it reaches the queue.
        m_draining = true;
        locker.unlock();
        try {
            runRefresh(stateReport);
        } catch (const QString &error) {
            qWarning().noquote() << QStringLiteral("Manager::refreshStatus:") + error;
        }
        locker.relock();
        m_running = false;
        m_draining = false;
        m_idle.wakeAll();
    }
    m_idle.wakeAll();
}

void Manager::runRefresh(bool stateReport)
{
    const QSharedPointer<Api> endpoints = api();
    const QSharedPointer<Schema> launch = schema();
    auto data = QSharedPointer<QueryData>::create();
    data->addHeader(QStringLiteral("token"), token());
    data->add(QStringLiteral("uuid"), launch ? launch->uuid() : QString());
    const QString refreshUrl = endpoints ? endpoints->refreshApi() : QString();

    if (endpoints && !endpoints->getRemovedFileIdListApi().isEmpty())
        pollRemovedFiles(data, endpoints->getRemovedFileIdListApi());

    STATUS current = STATUS_NONE;
    bool queueEmpty = false;
    {
        QMutexLocker locker(&m_mutex);
        if (m_stopping)
            return;
        queueEmpty = m_statusList.isEmpty();
        if (queueEmpty) {
            current = m_status;
            m_draining = false;
        }
    }
    if (queueEmpty) {
        // A run asked for by a status change finds its entry taken by an earlier run: done.
        if (!stateReport || current == STATUS_REGISTERED)
            return;
        const WorkingFile file = firstWorkingFile();
        noteDelivery(sendReport(data, refreshUrl, current, file.rate, file.name, file.size));
        return;
    }

    for (;;) {
        StatusEntry entry;
        {
            QMutexLocker locker(&m_mutex);
            if (m_statusList.isEmpty() || m_stopping) {
                m_draining = false;
                return;
            }
            entry = m_statusList.dequeue();
        }
        const bool delivered = sendReport(data, refreshUrl, entry.status, entry.rate, entry.fileName, entry.fileSize);
        noteDelivery(delivered);
        if (!delivered) {
            // Kept, in order, for when the network is back; a newer progress of the file replaces it.
            QMutexLocker locker(&m_mutex);
            const bool superseded = !m_statusList.isEmpty() && m_statusList.head().status == entry.status
                                    && m_statusList.head().fileName == entry.fileName;
            if (!superseded)
                m_statusList.prepend(entry);
            m_draining = false;
            return;
        }
    }
}

void Manager::noteDelivery(bool delivered)
{
    QMutexLocker locker(&m_mutex);
    if (delivered) {
        m_networkDown = false;
        m_retryPauseMs = 0;
        return;
    }
    const ClientOptions options = this->options();
    m_networkDown = true;
    m_retryPauseMs =
        m_retryPauseMs == 0 ? options.outageFirstPauseMs : qMin(m_retryPauseMs * 2, options.outageMaxPauseMs);
    m_retryAt = QDeadlineTimer(m_retryPauseMs);
    // The queue is tried again then, without waiting for the timer.
    if (!m_statusList.isEmpty())
        m_runWanted = true;
}

void Manager::pollRemovedFiles(const QSharedPointer<QueryData> &data, const QString &url)
{
    const auto reply = m_client->postList<RemoveFileId>(url, data);
    qDebug().noquote() << QStringLiteral("result:") + reply->describe();
    if (!reply->success() || !reply->data())
        return;
    QStringList ids;
    for (const QSharedPointer<RemoveFileId> &item : *reply->data())
        ids.append(item->removeTaskId());
    removePipelines(ids);
}

bool Manager::sendReport(const QSharedPointer<QueryData> &data, const QString &url, STATUS status, int rate,
                         const QString &fileName, qint64 fileSize)
{
    const QString list = pipelinesJson();
    data->set(QStringLiteral("status"), static_cast<int>(status));
    data->set(QStringLiteral("finishRate"), rate);
    data->set(QStringLiteral("fileName"), fileName);
    data->set(QStringLiteral("fileSize"), fileSize);
    data->set(QStringLiteral("list"), list);
    qWarning().noquote() << QStringLiteral("status:%1, rate=%2, filename=%3, filesize=%4, list=%5")
                                .arg(QString::number(status), QString::number(rate), fileName,
                                     QString::number(fileSize), list);
    // Without endpoints there is nowhere to report to; the entry goes as a failed report would.
    if (url.isEmpty())
        return true;
    const QSharedPointer<AjaxDTO<QString>> reply = m_client->post<QString>(url, data);
    return !reply || reply->networkFault() == NetworkFault::None;
}

QSharedPointer<UploadManager> Manager::addUploadManager()
{
    QSharedPointer<UploadManager> pipeline(new UploadManager, deletePipeline);
    pipeline->setManager(this);
    QMutexLocker locker(&m_mutex);
    m_uploadManagers.append(pipeline);
    m_hasUploadManagers = true;
    return pipeline;
}

QSharedPointer<QList<QSharedPointer<UploadManager>>> Manager::uploadManagers() const
{
    QMutexLocker locker(&m_mutex);
    if (!m_hasUploadManagers)
        return {};
    return QSharedPointer<QList<QSharedPointer<UploadManager>>>::create(m_uploadManagers);
}

QList<QSharedPointer<UploadManager>> Manager::pipelines() const
{
    QMutexLocker locker(&m_mutex);
    return m_uploadManagers;
}

void Manager::removeUploadManager(const QSharedPointer<UploadManager> &uploadManager)
{
    qDebug("Manager::removeUploadManager");
    if (!uploadManager)
        return;
    {
        QMutexLocker locker(&m_mutex);
        m_uploadManagers.removeOne(uploadManager);
    }
    uploadManager->stop();
    // Through the slot at once rather than a queued signal: the pipeline usually goes right
    // after this, and a queued report would go with it.
    const UploadFileInfo record = uploadManager->file();
    uploadManager->taskStatus(nullptr, record.name, record.size, STATUS_UPLOAD_FAILED, 0, 0, TASK_ERROR_NONE,
                              QString());
}

bool Manager::hasRunningTask() const
{
    const QList<QSharedPointer<UploadManager>> list = pipelines();
    for (const QSharedPointer<UploadManager> &pipeline : list) {
        if (pipeline->isRunning())
            return true;
    }
    return false;
}

void Manager::stopAll()
{
    qDebug("Manager::stopAll");
    const QList<QSharedPointer<UploadManager>> list = pipelines();
    for (const QSharedPointer<UploadManager> &pipeline : list) {
        if (pipeline->isRunning())
            pipeline->setStopRequested(true);
    }
}

bool Manager::stopForExit(int waitMs)
{
    // Its wait lets the pipelines' queued reports in, which only this object's thread gets.
    Q_ASSERT(QThread::currentThread() == thread());
    qInfo("Manager Stop");
    // A run whose worker is only about to start is stopped too: an ffmpeg left running
    // would outlive the process.
    setStartPermit(false);
    for (const QSharedPointer<UploadManager> &pipeline : pipelines())
        pipeline->setStopRequested(true);
    QElapsedTimer waited;
    waited.start();
    while (hasRunningTask() && waited.elapsed() < waitMs) {
        // Events keep flowing: a worker may be waiting for this thread.
        QEventLoop slice;
        QTimer::singleShot(50, &slice, &QEventLoop::quit);
        slice.exec();
    }
    return !hasRunningTask();
}

bool Manager::reportExit()
{
    qInfo("Client Exit");
    setStatus(STATUS_CLIENT_EXIT, 0, QString(), 0);
    // setStatus has waited already; this only tells whether the report went.
    return flushReports(0);
}

QString Manager::pipelinesJson() const
{
    QList<QSharedPointer<UploadManager>> list;
    {
        QMutexLocker locker(&m_mutex);
        // No pipeline list exists yet: the server gets the empty text it gets for a null list.
        if (!m_hasUploadManagers)
            return QString();
        list = m_uploadManagers;
    }
    // Built by hand to keep the keys in the order the server documents.
    QString json = QStringLiteral("[");
    // Each report carries every file: one allocation for the text, not one per file.
    json.reserve(list.size() * 128);
    for (const QSharedPointer<UploadManager> &pipeline : qAsConst(list)) {
        const UploadFileInfo record = pipeline->file();
        if (json.size() > 1)
            json += QLatin1Char(',');
        json += QStringLiteral("{\"uuid\":") + jsonString(pipeline->id()) + QStringLiteral(",\"status\":")
                + QString::number(pipeline->status()) + QStringLiteral(",\"finishRate\":")
                + QString::number(pipeline->rate()) + QStringLiteral(",\"fileName\":") + jsonString(record.name)
                + QStringLiteral(",\"fileSize\":") + QString::number(record.size) + QLatin1Char('}');
    }
    return json + QLatin1Char(']');
}

Manager::WorkingFile Manager::firstWorkingFile() const
{
    const QList<QSharedPointer<UploadManager>> list = pipelines();
    for (const QSharedPointer<UploadManager> &pipeline : list) {
        if (pipeline->isRunning()) {
            const UploadFileInfo record = pipeline->file();
            return WorkingFile{record.name, record.size, pipeline->rate()};
        }
    }
    return WorkingFile();
}

void Manager::removePipelines(const QStringList &ids)
{
    for (const QString &id : ids) {
        QSharedPointer<UploadManager> removed;
        {
            QMutexLocker locker(&m_mutex);
            for (int i = m_uploadManagers.size() - 1; i >= 0; --i) {
                if (m_uploadManagers.at(i)->id() == id) {
                    removed = m_uploadManagers.takeAt(i);
                    break;
                }
            }
        }
        // Whoever shows the file (its row, the command line) takes it from here.
        if (removed)
            emit removed->deleteMsg(removed.data());
    }
}
