// SPDX-License-Identifier: MIT
#include "pipelinefixture.h"

#include "core/media/mediaprobe.h"
#include "core/pipeline/uploadmanager.h"
#include "core/session/manager.h"
#include "core/session/schema.h"

#include <QFile>

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
    const ActionOutcome loaded = ActionOutcome::of([this] {
        m_manager->initSetting();
        m_manager->initToken();
    });
    m_error = loaded.message;
    return loaded.ok();
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
