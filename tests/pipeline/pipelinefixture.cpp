// SPDX-License-Identifier: MIT
#include "pipelinefixture.h"

#include "core/media/mediaprobe.h"
#include "core/pipeline/uploadmanager.h"
#include "core/session/manager.h"
#include "core/session/schema.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

WorkerRun::WorkerRun(std::function<void()> work)
    : m_outcome(std::make_shared<ActionOutcome>())
{
    std::shared_ptr<ActionOutcome> outcome = m_outcome;
    m_thread.reset(QThread::create([outcome, work] { *outcome = ActionOutcome::of(work); }));
    m_thread->start();
}

WorkerRun::~WorkerRun()
{
    m_thread->wait();
}

bool WorkerRun::wait(int timeoutMs)
{
    if (!m_thread->isFinished()) {
        QEventLoop loop;
        QObject::connect(m_thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        if (!m_thread->isFinished())
            loop.exec();
    }
    // finished() comes just before the thread is done; the rest is a matter of moments.
    if (!m_thread->isFinished() || !m_thread->wait(10000))
        return false;
    // Reports the worker emitted are queued to this thread: deliver them too.
    QCoreApplication::processEvents();
    return true;
}

ActionOutcome WorkerRun::outcome() const
{
    return m_thread->isFinished() ? *m_outcome : ActionOutcome{-1, QStringLiteral("<still running>")};
}

PipelineFixture::PipelineFixture() = default;

PipelineFixture::~PipelineFixture()
{
    m_manager.reset();
}

bool PipelineFixture::start(const QStringList &serverArgs, ClientOptions options)
{
    if (!m_data.isValid() || !m_server.start(serverArgs)) {
        m_error = m_server.errorString();
        return false;
    }
    auto schema = QSharedPointer<Schema>::create();
    if (schema->decode(m_server.launchCommand()) != Schema::Valid) {
        m_error = QStringLiteral("launch command refused: ") + m_server.launchCommand();
        return false;
    }
    m_manager = std::make_unique<Manager>();
    options.dataFolder = m_data.path();
    m_manager->setOptions(options);
    m_manager->setSchema(schema);
    try {
        m_manager->initSetting();
        m_manager->initToken();
    } catch (const QString &message) {
        m_error = message;
        return false;
    }
    return true;
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

ActionOutcome PipelineFixture::checkAndRun(const QSharedPointer<UploadManager> &pipeline)
{
    WorkerRun check([pipeline] { pipeline->checkVideo(); });
    check.wait();
    if (!check.outcome().ok())
        return check.outcome();
    return run(pipeline);
}

ActionOutcome PipelineFixture::run(const QSharedPointer<UploadManager> &pipeline)
{
    pipeline->requestRun();
    WorkerRun work([pipeline] { pipeline->runAlone(); });
    work.wait();
    return work.outcome();
}

bool PipelineFixture::makeDataFile(const QString &path, qint64 size) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1 << 16, Qt::Uninitialized);
    for (qint64 written = 0; written < size;) {
        for (int i = 0; i < block.size(); ++i)
            block[i] = char((written + i) * 131 / 7 + (written + i) / 4099);
        const qint64 count = qMin<qint64>(block.size(), size - written);
        if (file.write(block.constData(), count) != count)
            return false;
        written += count;
    }
    return true;
}

QString PipelineFixture::sha256Of(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return QString::fromLatin1(hash.result().toHex());
}

QJsonArray PipelineFixture::journal(const char *kind) const
{
    return m_server.journal().value(QString::fromLatin1(kind)).toArray();
}

QStringList PipelineFixture::reportedStatuses() const
{
    m_manager->flushReports(30000);
    QStringList statuses;
    for (const QJsonValue &report : journal("reports")) {
        const QString status = report.toObject().value(QStringLiteral("status")).toString();
        if (statuses.isEmpty() || statuses.last() != status)
            statuses.append(status);
    }
    return statuses;
}
