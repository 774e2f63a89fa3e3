// SPDX-License-Identifier: MIT
#include "pipelinefixture.h"

#include "core/media/mediaprobe.h"
#include "core/pipeline/uploadmanager.h"
#include "core/session/manager.h"
#include "core/session/schema.h"
#include "testsupport.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

PipelineFixture::~PipelineFixture()
{
    interrupt();
    m_work.reset();
    m_pipeline.reset();
    m_manager.reset();
}

bool PipelineFixture::start(const QStringList &serverArgs, int stallMs)
{
    if (!m_data.isValid() || !m_server.start(serverArgs)) {
        m_error = m_server.errorString();
        return false;
    }
    auto schema = QSharedPointer<Schema>::create();
    if (schema->decode(m_server.launchCommand()) != Schema::Valid) {
        m_error = "launch command refused: "_s + m_server.launchCommand();
        return false;
    }
    ClientOptions options;
    options.retryPauseMs = 20;
    options.stallTimeoutMs = stallMs;
    options.dataFolder = m_data.path();
    m_manager = std::make_unique<Manager>();
    m_manager->setOptions(options);
    m_manager->setSchema(schema);
    const ActionOutcome loaded = ActionOutcome::of([this] {
        m_manager->initSetting();
        m_manager->initToken();
    });
    m_error = loaded.message;
    return loaded.ok();
}

QString PipelineFixture::dataFile(const QString &name, qint64 size) const
{
    QFile file(m_data.filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(randomBytes(int(size))) == size ? file.fileName() : QString();
}

QSharedPointer<UploadManager> PipelineFixture::pipelineFor(const QString &path, bool probe)
{
    UploadFileInfo record = MediaProbe::recordOf(path, m_manager->schema()->uuid());
    if (probe)
        MediaProbe::probe(&record);
    auto pipeline = QSharedPointer<UploadManager>::create();
    pipeline->setManager(m_manager.get());
    pipeline->setFile(record);
    return pipeline;
}

ActionOutcome PipelineFixture::check(const QSharedPointer<UploadManager> &pipeline)
{
    begin(pipeline, [pipeline] { pipeline->checkVideo(); });
    return finish();
}

ActionOutcome PipelineFixture::run(const QSharedPointer<UploadManager> &pipeline)
{
    pipeline->requestRun();
    begin(pipeline, [pipeline] { pipeline->runAlone(); });
    return finish();
}

ActionOutcome PipelineFixture::checkAndRun(const QSharedPointer<UploadManager> &pipeline)
{
    const ActionOutcome checked = check(pipeline);
    return checked.ok() ? run(pipeline) : checked;
}

void PipelineFixture::begin(const QSharedPointer<UploadManager> &pipeline, const std::function<void()> &work)
{
    m_work.reset();
    m_pipeline = pipeline;
    m_refusal.clear();
    const auto thread = m_thread = std::make_shared<std::atomic<QThread *>>(nullptr);
    m_work = std::make_unique<WorkerRun>([thread, work] {
        *thread = QThread::currentThread();
        work();
    });
}

bool PipelineFixture::waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (m_work->finished() || !m_refusal.isEmpty() || deadline.hasExpired())
            return false;
        m_work->wait(200);
        m_refusal = strayRefusal();
    }
    return true;
}

ActionOutcome PipelineFixture::finish(int timeoutMs)
{
    if (!waitUntil([this] { return m_work->finished(); }, timeoutMs)) {
        interrupt();
        m_work->wait();
        return {-1, m_refusal.isEmpty() ? "still running after %1 ms"_s.arg(timeoutMs)
                                        : "the server refused a chunk: "_s + m_refusal};
    }
    m_work->wait();
    return m_work->outcome();
}

void PipelineFixture::interrupt()
{
    if (!m_work || m_work->finished())
        return;
    m_pipeline->setStopRequested(true);
    if (QThread *thread = *m_thread)
        thread->requestInterruption();
}

QJsonArray PipelineFixture::chunks() const
{
    return journal("uploads").at(0)["chunks"_s].toArray();
}

QString PipelineFixture::strayRefusal() const
{
    for (const QJsonValue &upload : journal("uploads")) {
        for (const QJsonValue &chunk : upload["chunks"_s].toArray()) {
            const QString reason = chunk["reason"_s].toString();
            // A refused continuation is the server's word that the client starts again at 0.
            if (!chunk["accepted"_s].toBool() && reason != "rejectChunks"_s && !reason.startsWith("randomFaults"_s)
                && !reason.startsWith("续传位置"_s))
                return "pos %1: %2"_s.arg(qint64(chunk["pos"_s].toDouble())).arg(reason);
        }
    }
    return {};
}

QStringList PipelineFixture::reportedStatuses() const
{
    m_manager->flushReports(30000);
    QStringList statuses;
    for (const QString &status : m_server.reportedStatuses()) {
        if (statuses.isEmpty() || statuses.last() != status)
            statuses.append(status);
    }
    return statuses;
}
