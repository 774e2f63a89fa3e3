// SPDX-License-Identifier: MIT
#include "core/session/uploadsession.h"

#include "core/api/taskcommand.h"
#include "core/media/mediaprobe.h"
#include "core/pipeline/uploadmanager.h"
#include "core/session/manager.h"
#include "core/session/schema.h"

#include <QFileInfo>
#include <QMutexLocker>
#include <QThread>

UploadSession::UploadSession(const QSharedPointer<Schema> &schema, const ClientOptions &options,
                             const QStringList &files, bool probe, QObject *parent)
    : QObject(parent)
    , m_files(files)
    , m_probe(probe)
    , m_manager(QSharedPointer<Manager>::create())
{
    m_manager->setOptions(options);
    m_manager->setSchema(schema);
    for (int i = 0; i < files.size(); ++i) {
        const QSharedPointer<UploadManager> pipeline = m_manager->addUploadManager();
        connect(pipeline.data(), &UploadManager::warningRaised, this, &UploadSession::warningRaised);
        connect(pipeline.data(), &UploadManager::deleteMsg, this, &UploadSession::onPipelineRemoved);
        m_pipelines.append(pipeline);
    }
    connect(&m_refreshTimer, &QTimer::timeout, m_manager.data(), &Manager::refreshIfReady);
}

UploadSession::~UploadSession()
{
    stop();
    if (m_worker)
        m_worker->wait();
    // The pipelines point at the coordinator: they go first.
    m_pipelines.clear();
}

void UploadSession::start()
{
    m_worker.reset(QThread::create([this] { run(); }));
    m_worker->setObjectName(QStringLiteral("upload-session"));
    connect(m_worker.get(), &QThread::finished, this, &UploadSession::onWorkerFinished);
    m_worker->start();
}

bool UploadSession::stop()
{
    if (!m_worker || m_worker->isFinished())
        return false;
    // Before the pipelines' stop: the worker looks at it after asking for a run.
    m_interrupted = true;
    // The worker's end is the wait here.
    m_manager->stopForExit(0);
    // A request that waits for a stalled server is abandoned, not waited out.
    m_worker->requestInterruption();
    return true;
}

int UploadSession::fileCount() const
{
    return m_files.size();
}

QString UploadSession::fileName(int index) const
{
    return QFileInfo(m_files.at(index)).fileName();
}

bool UploadSession::failed() const
{
    return m_failed;
}

bool UploadSession::interrupted() const
{
    return m_interrupted;
}

bool UploadSession::exitReported() const
{
    return m_exitReported;
}

int UploadSession::registeredCount() const
{
    return m_registered;
}

void UploadSession::post(std::function<void()> call)
{
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void UploadSession::run()
{
    try {
        m_manager->initSetting();
        m_manager->initToken();
    } catch (const QString &message) {
        m_failed = true;
        post([this, message] { emit sessionFailed(message); });
        return;
    }
    post([this] { m_refreshTimer.start(m_manager->refreshInterval()); });

    analyseAll();
    for (int i = 0; i < m_pipelines.size() && !m_interrupted; ++i) {
        // A file whose analysis failed has no tasks left.
        if (m_pipelines.at(i)->canStart())
            runFile(i);
    }
}

void UploadSession::analyseAll()
{
    const QString uuid = m_manager->schema()->uuid();
    for (int i = 0; i < m_pipelines.size() && !m_interrupted; ++i) {
        const QSharedPointer<UploadManager> &pipeline = m_pipelines.at(i);
        pipeline->setFile(MediaProbe::recordOf(m_files.at(i), uuid));
        const ActionOutcome outcome = ActionOutcome::of([&] { pipeline->analyse(m_probe); });
        if (!outcome.ok()) {
            post([this, i, outcome] { emit fileFailed(i, outcome.message); });
            continue;
        }
        for (const QSharedPointer<TaskCommand> &task : *pipeline->tasks()) {
            connect(
                task.data(), &TaskCommand::dataUpdate, this,
                [this, i] { emit fileProgress(i, m_pipelines.at(i)->progress()); }, Qt::QueuedConnection);
        }
    }
}

void UploadSession::runFile(int index)
{
    const QSharedPointer<UploadManager> pipeline = m_pipelines.at(index);
    // The run is asked for first: a stop or removal from now on reaches it, however early.
    // Only then is the interruption looked at.
    pipeline->requestRun();
    if (m_interrupted)
        return;
    if (isRemoved(index)) {
        leaveSession(index);
        return;
    }
    // The file's first line shows where its run begins, however fast the run goes.
    post([this, index, progress = pipeline->progress()] { emit fileProgress(index, progress); });
    const ActionOutcome outcome = ActionOutcome::of([&] { pipeline->runAlone(); });
    if (outcome.ok())
        ++m_registered;
    else if (outcome.failed())
        post([this, index, outcome] { emit fileFailed(index, outcome.message); });
    const bool removed = isRemoved(index);
    if (removed && !pipeline->finished())
        leaveSession(index);
    const bool shown = outcome.ok() || (outcome.stopped() && !removed);
    post([this, index, outcome, shown, progress = pipeline->progress()] {
        emit fileProgress(index, progress);
        if (shown)
            emit fileEnded(index, outcome);
    });
}

void UploadSession::onWorkerFinished()
{
    m_refreshTimer.stop();
    m_worker->wait();
    if (m_interrupted)
        m_exitReported = m_manager->reportExit();
    else
        // Reports still queued (the last file's completion) go out before the session ends.
        m_manager->flushReports(Manager::FinalReportWaitMs);
    emit ended();
}

void UploadSession::onPipelineRemoved(UploadManager *pipeline)
{
    {
        QMutexLocker locker(&m_removedMutex);
        m_removed.insert(pipeline);
    }
    // Its run, if it is the one running, ends at the next point that looks at the flag.
    pipeline->setStopRequested(true);
}

bool UploadSession::isRemoved(int index) const
{
    QMutexLocker locker(&m_removedMutex);
    return m_removed.contains(m_pipelines.at(index).data());
}

void UploadSession::leaveSession(int index)
{
    // What deleting its row does in the window: the server drops what arrived of the file.
    const QSharedPointer<UploadManager> &pipeline = m_pipelines.at(index);
    pipeline->removeFile();
    m_manager->removeUploadManager(pipeline);
    post([this, index] { emit fileFailed(index, QStringLiteral("已被服务器移除")); });
}
