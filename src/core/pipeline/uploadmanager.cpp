// SPDX-License-Identifier: MIT
#include "core/pipeline/uploadmanager.h"

#include "core/api/chunkconnection.h"
#include "core/api/taskcommand.h"
#include "core/api/uploaddto.h"
#include "core/media/mediaprobe.h"
#include "core/pipeline/itaskexecutor.h"
#include "core/pipeline/outagewait.h"
#include "core/pipeline/pipelinerequests.h"
#include "core/pipeline/taskexecutorfactory.h"
#include "core/session/manager.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEventLoop>
#include <QFileInfo>
#include <QMutexLocker>
#include <QScopeGuard>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace {

// stop() keeps the caller's events flowing in slices of this length while the run winds down.
constexpr int StopSliceMs = 200;

} // namespace

UploadManager::UploadManager(QObject *parent)
    : QObject(parent)
    , m_id(UploadFileInfo::newId())
{
    registerStatusMetaTypes();
    qRegisterMetaType<TaskCommand *>();
    qRegisterMetaType<UploadManager *>();
    qRegisterMetaType<UploadFileInfo>();
    connect(this, &UploadManager::taskStatusSignal, this, &UploadManager::taskStatus);
    connect(this, &UploadManager::warringMessageSignal, this, &UploadManager::warringMessage);
}

UploadManager::~UploadManager() = default;

void UploadManager::setManager(Manager *manager)
{
    m_manager = manager;
}

Manager *UploadManager::manager() const
{
    return m_manager;
}

ClientOptions UploadManager::options() const
{
    const QPointer<Manager> manager = m_manager;
    return manager ? manager->options() : ClientOptions();
}

QString UploadManager::id() const
{
    return m_id;
}

void UploadManager::setFile(const UploadFileInfo &file)
{
    QMutexLocker locker(&m_mutex);
    m_file = file;
}

UploadFileInfo UploadManager::file() const
{
    QMutexLocker locker(&m_mutex);
    return m_file;
}

void UploadManager::setFilePath(const QString &path)
{
    QMutexLocker locker(&m_mutex);
    m_file.path = path;
}

QSharedPointer<UploadManager::TaskList> UploadManager::tasks() const
{
    QMutexLocker locker(&m_mutex);
    return m_tasks;
}

bool UploadManager::isRunning() const
{
    return m_running;
}

void UploadManager::setStopRequested(bool value)
{
    m_stopRequested = value;
}

int UploadManager::rate() const
{
    return m_rate;
}

void UploadManager::setRate(int rate)
{
    m_rate = rate;
}

STATUS UploadManager::status() const
{
    return static_cast<STATUS>(m_status.load());
}

void UploadManager::setStatus(STATUS status)
{
    m_status = status;
    const UploadFileInfo record = file();
    if (m_manager)
        m_manager->setStatus(status, m_rate, record.name, record.size);
}

bool UploadManager::finished() const
{
    return m_finished;
}

void UploadManager::setFinished(bool value)
{
    m_finished = value;
}

void UploadManager::announce(STATUS status)
{
    const UploadFileInfo record = file();
    emit taskStatusSignal(nullptr, record.name, record.size, status, 0, 0, TASK_ERROR_NONE, QString());
}

bool UploadManager::isRunRequested() const
{
    return m_runRequested;
}

bool UploadManager::canStart() const
{
    if (m_finished || m_running || m_runRequested)
        return false;
    const QSharedPointer<TaskList> list = tasks();
    if (!list || list->isEmpty())
        return false;
    for (const QSharedPointer<TaskCommand> &task : *list) {
        if (task->taskState() == TaskState::Failed)
            return false;
    }
    return true;
}

PipelineProgress UploadManager::progress() const
{
    const QSharedPointer<TaskList> list = tasks();
    PipelineProgress progress = PipelineProgress::of(list ? *list : TaskList());
    if (!progress.valid || progress.allDone)
        return progress;
    {
        QMutexLocker locker(&m_mutex);
        if (m_live.task == list->at(progress.taskIndex - 1).data()) {
            progress.elapsedMs = m_live.rate.elapsedMs();
            if (m_live.total >= 0) {
                progress.bytesTotal = m_live.total;
                progress.bytesDone = qMin(m_live.total, m_live.accepted + m_live.inFlight);
                progress.bytesPerSecond = m_live.rate.bytesPerSecond();
                progress.remaining = m_live.rate.secondsLeft(progress.bytesTotal - progress.bytesDone);
                // 100 only once the server has taken the last chunk.
                const int rate = progress.bytesTotal > 0 ? int(progress.bytesDone * 100 / progress.bytesTotal) : 100;
                progress.setRate(m_live.accepted >= m_live.total ? rate : qMin(rate, 99));
                return progress;
            }
        }
    }
    if (progress.type == TaskType::Upload) {
        const UploadFileInfo record = file();
        // The file that goes up: a replacing transcode may have changed the original's path.
        const QString path = progress.sign == VariantSign::Original
                                 ? record.path
                                 : ITaskExecutor::variantPath(options().tmpFolder(), progress.sign, record.id);
        progress.bytesTotal = QFileInfo(path).size();
        progress.bytesDone = progress.bytesTotal * progress.rate / 100;
    }
    return progress;
}

void UploadManager::setTransferred(qint64 accepted, qint64 inFlight, qint64 total)
{
    QMutexLocker locker(&m_mutex);
    // The first figures of a task are where it starts (a continued upload starts past 0):
    // nothing of them was sent in this run.
    const qint64 moved = m_live.total < 0 ? 0 : accepted + inFlight - (m_live.accepted + m_live.inFlight);
    if (moved > 0) {
        m_live.sent += moved;
        m_live.rate.record(m_live.sent);
    }
    m_live.total = total;
    m_live.accepted = accepted;
    m_live.inFlight = inFlight;
}

void UploadManager::analyse(bool probe)
{
    Q_ASSERT(QThread::currentThread() != thread());
    try {
        if (probe) {
            UploadFileInfo record = file();
            const int result = MediaProbe::probe(&record);
            if (result != 0)
                throw MediaProbe::failureText(result);
            setFile(record);
            emit probed(record);
        }
        checkVideo();
    } catch (...) {
        // Without a task list the file cannot run; only its removal is left.
        reset();
        throw;
    }
}

void UploadManager::checkVideo()
{
    qDebug("UploadManager::checkVideo");
    Q_ASSERT(QThread::currentThread() != thread());
    QSharedPointer<AjaxListDTO<TaskCommand>> reply;
    OutageWait outage(options());
    for (;;) {
        reply = PipelineRequests(m_manager).checkVideo(file());
        // Only a check that never reached the server waits for it; a removal or a closing
        // program ends the wait.
        if (!reply || reply->networkFault() != NetworkFault::NotConnected || m_stopRequested || !outage.pause([this] {
                if (m_stopRequested || QThread::currentThread()->isInterruptionRequested())
                    throw QStringLiteral("视频检测失败:任务已经停止");
            }))
            break;
    }
    if (!reply || !reply->success()) {
        announce(STATUS_NO_TASKS);
        throw QString(QStringLiteral("视频检测失败:") + (reply ? reply->errorText() : QString()));
    }
    if (!reply->data() || reply->data()->isEmpty()) {
        announce(STATUS_NO_TASKS);
        throw QStringLiteral("服务器未能取得视频检测信息，请重新获取后尝试。");
    }

    auto list = QSharedPointer<TaskList>::create(*reply->data());
    auto registration = QSharedPointer<TaskCommand>::create();
    registration->setType(int(TaskType::Register));
    registration->setId(list->size() + 1);
    registration->setTitle(QStringLiteral("登记视频"));
    list->append(registration);
    // The tasks were made on this worker, which may end long before them; queued signals and
    // the row's connections should see the pipeline's own thread.
    for (const QSharedPointer<TaskCommand> &task : qAsConst(*list)) {
        if (task->thread() == QThread::currentThread())
            task->moveToThread(thread());
    }
    {
        QMutexLocker locker(&m_mutex);
        m_tasks = list;
    }
    reportState();
}

void UploadManager::reportState()
{
    const QSharedPointer<TaskList> list = tasks();
    if (!list || list->isEmpty()) {
        announce(STATUS_NO_TASKS);
        return;
    }
    for (const QSharedPointer<TaskCommand> &task : *list) {
        if (task->taskState() == TaskState::Done)
            continue;
        if (task->taskType() == TaskType::Transcode)
            announce(STATUS_TRANSCODE_PENDING);
        else if (task->taskType() == TaskType::Upload)
            announce(STATUS_UPLOAD_PENDING);
        return;
    }
}

void UploadManager::requestRun()
{
    m_stopRequested = false;
    m_runRequested = true;
}

void UploadManager::runAlone()
{
    Q_ASSERT(QThread::currentThread() != thread());
    const auto leave = qScopeGuard([this] { m_runRequested = false; });
    // Asked before this run starts, so it is not among the running ones.
    if (Manager *manager = m_manager)
        manager->stopAll();
    doTask();
    m_finished = true;
}

void UploadManager::doTask()
{
    qDebug().noquote() << this << QStringLiteral(":UploadManager::doTask():") + file().name;
    Q_ASSERT(QThread::currentThread() != thread());
    m_finished = false;
    // The stop flag is left alone: requestRun() cleared it before the worker started, so a
    // stop asked in between holds.
    const QSharedPointer<TaskList> list = tasks();
    if (!list || list->isEmpty())
        throw QStringLiteral("未有上传执行任务");
    // Found out before the file goes up, not after.
    const QString registration = PipelineRequests(m_manager).addVideoApi();
    const QUrl registrationUrl(registration, QUrl::StrictMode);
    if ((registrationUrl.scheme() != QLatin1String("http") && registrationUrl.scheme() != QLatin1String("https"))
        || registrationUrl.host().isEmpty())
        throw QStringLiteral("服务器视频登记接口有误，请联系管理员(%1)").arg(registration);
    reportState();

    ++m_activeRuns;
    m_running = true;
    const auto leave = qScopeGuard([this] {
        m_running = false;
        --m_activeRuns;
        emit runEnded(QPrivateSignal());
    });
    for (int i = 0; i < list->size(); ++i) {
        const QSharedPointer<TaskCommand> task = list->at(i);
        task->incrementRunCount();
        if (task->taskState() == TaskState::Done)
            continue;
        task->setTaskState(TaskState::Running);
        task->setRate(0);
        task->setRemaining(0);
        {
            QMutexLocker locker(&m_mutex);
            m_live.task = task.data();
            m_live.total = -1;
            m_live.accepted = m_live.inFlight = m_live.sent = 0;
            m_live.rate.restart();
        }
        emit task->dataUpdate();

        const std::unique_ptr<ITaskExecutor> executor = TaskExecutorFactory::create(task->type());
        executor->setTask(task);
        executor->setFile(file());
        executor->setManager(this);
        executor->setStopFlag(&m_stopRequested);
        executor->setRunningFlag(&m_running);
        executor->doJob();

        task->setTaskState(TaskState::Done);
        emit task->dataUpdate();
    }
    reportState();
}

void UploadManager::stop()
{
    qDebug("UploadManager::stop");
    m_stopRequested = true;
    const auto busy = [this] { return m_running || m_activeRuns > 0; };
    while (busy()) {
        QEventLoop loop;
        QTimer slice;
        slice.setSingleShot(true);
        connect(&slice, &QTimer::timeout, &loop, &QEventLoop::quit);
        // Connected before the test below, so an end between the test and exec() still
        // reaches the loop as a queued call.
        connect(this, &UploadManager::runEnded, &loop, &QEventLoop::quit, Qt::QueuedConnection);
        if (!busy())
            break;
        slice.start(StopSliceMs);
        loop.exec();
    }
    reportState();
}

void UploadManager::reset()
{
    qDebug("UploadManager::reset");
    {
        QMutexLocker locker(&m_mutex);
        m_file.clear();
        m_tasks = QSharedPointer<TaskList>::create();
    }
    announce(STATUS_NO_TASKS);
}

QSharedPointer<AjaxDTO<UploadDTO>> UploadManager::uploadChunk(const QString &name, qint64 pos, qint64 total, bool end,
                                                              const QByteArray &data,
                                                              const std::function<void(qint64)> &onWritten)
{
    // The request goes out on this thread's chunk connection.
    ChunkConnection &connection = ChunkConnection::forThread();
    connection.setWriteObserver(onWritten);
    const auto forget = qScopeGuard([&connection] { connection.setWriteObserver({}); });
    return PipelineRequests(m_manager).uploadChunk(name, pos, total, end, data);
}

QSharedPointer<AjaxDTO<QString>> UploadManager::addVideo(const QString &data, const QString &form)
{
    return PipelineRequests(m_manager).addVideo(file().name, data, form);
}

void UploadManager::removeFile()
{
    qDebug("UploadManager::removeFile");
    PipelineRequests(m_manager).removeFile(m_id);
}

void UploadManager::taskStatus(TaskCommand *taskCommand, QString fileName, qlonglong fileSize, STATUS status, int rate,
                               int remaining, TASK_ERROR errorCode, QString errorMsg)
{
    Q_UNUSED(taskCommand)
    Q_UNUSED(remaining)
    Q_UNUSED(errorCode)
    Q_UNUSED(errorMsg)
    {
        QMutexLocker locker(&m_mutex);
        m_file.name = fileName;
        m_file.size = fileSize;
    }
    // Stored first: the report this status sends lists every pipeline with its own status.
    m_status = status;
    m_rate = rate;
    if (m_manager)
        m_manager->setStatus(status, rate, fileName, fileSize);
}

void UploadManager::warringMessage(QString msg)
{
    qWarning().noquote() << QStringLiteral("UploadManager::warringMessage:") + msg;
    emit warningRaised(msg);
}
