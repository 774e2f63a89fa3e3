// SPDX-License-Identifier: MIT
#include "cli/clirunner.h"

#include "cli/mediaprobe.h"
#include "core/api/taskcommand.h"
#include "core/media/ffmpegtools.h"
#include "core/pipeline/actionstopsignal.h"
#include "core/pipeline/itaskexecutor.h"
#include "core/pipeline/uploadmanager.h"
#include "core/platform/processhelpers.h"
#include "core/session/manager.h"
#include "core/session/schema.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QThread>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

constexpr int ProgressPollMs = 200;

void writeTo(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

CliRunner::CliRunner(CliArguments arguments, QObject *parent)
    : QObject(parent)
    , m_arguments(std::move(arguments))
    , m_printer([](const QString &text) { writeTo(stdout, text); }, ::isatty(STDOUT_FILENO) == 1)
{
    m_progressTimer.setInterval(ProgressPollMs);
    connect(&m_progressTimer, &QTimer::timeout, this, [this] { printProgress(m_current); });
    connect(&m_refreshTimer, &QTimer::timeout, this, &CliRunner::onRefreshTimeout);
}

CliRunner::~CliRunner()
{
    if (m_worker) {
        m_interrupted = true;
        stopPipelines();
        m_worker->requestInterruption();
        m_worker->wait();
    }
    // The pipelines point at the coordinator: they go first.
    m_pipelines.clear();
}

void CliRunner::stopPipelines()
{
    // Every pipeline, not only a running one: the next may be about to start.
    for (const QSharedPointer<UploadManager> &pipeline : qAsConst(m_pipelines))
        pipeline->setStopRequested(true);
}

void CliRunner::post(std::function<void()> call)
{
    QMetaObject::invokeMethod(this, std::move(call), Qt::QueuedConnection);
}

void CliRunner::printError(const QString &text)
{
    m_printer.breakLine();
    writeTo(stderr, text + QLatin1Char('\n'));
}

void CliRunner::finish(int exitCode)
{
    post([this, exitCode] { emit finished(exitCode); });
}

void CliRunner::start()
{
    switch (m_arguments.mode) {
    case CliArguments::Mode::Help:
        writeTo(stdout, CliArguments::helpText());
        finish(ExitOk);
        return;
    case CliArguments::Mode::Invalid:
        printError(m_arguments.error);
        finish(ExitUsage);
        return;
    case CliArguments::Mode::Probe: runProbe(); return;
    case CliArguments::Mode::Upload: break;
    }
    if (!prepareUpload())
        return;
    m_worker.reset(QThread::create([this] { runSession(); }));
    m_worker->setObjectName(QStringLiteral("cli-session"));
    connect(m_worker.get(), &QThread::finished, this, &CliRunner::onSessionEnded);
    m_progressTimer.start();
    m_worker->start();
}

void CliRunner::runProbe()
{
    UploadFileInfo record = MediaProbe::recordOf(QFileInfo(m_arguments.files.first()).absoluteFilePath(), QString());
    const int result = MediaProbe::probe(&record);
    if (result != 0) {
        printError(FFMpegTools::infoFailureText(result));
        finish(ExitFailed);
        return;
    }
    writeTo(stdout, QString::fromUtf8(QJsonDocument(MediaProbe::facts(record)).toJson(QJsonDocument::Compact))
                        + QLatin1Char('\n'));
    finish(ExitOk);
}

bool CliRunner::prepareUpload()
{
    auto schema = QSharedPointer<Schema>::create();
    const int code = schema->decode(m_arguments.launchCommand);
    if (code != Schema::Valid) {
        printError(QStringLiteral("启动参数有误: ") + schemaErrorMessage(code));
        finish(ExitUsage);
        return false;
    }

    QStringList problems;
    QStringList files;
    for (const QString &file : qAsConst(m_arguments.files)) {
        const QFileInfo info(file);
        if (!MediaProbe::hasAcceptedSuffix(file))
            problems.append(QStringLiteral("请正确添加视频文件: ") + file);
        else if (!info.isFile())
            problems.append(QStringLiteral("文件不存在: ") + file);
        files.append(info.absoluteFilePath());
    }
    const int max = schema->maxUploadNum();
    if (max != -1 && files.size() > max)
        problems.append(QStringLiteral("选择的文件数量，超出当前最大可上传数量(%1)。").arg(max));
    if (!problems.isEmpty()) {
        printError(problems.join(QLatin1Char('\n')));
        finish(ExitUsage);
        return false;
    }
    m_arguments.files = files;

    m_manager = QSharedPointer<Manager>::create();
    m_manager->setSchema(schema);
    for (int i = 0; i < files.size(); ++i) {
        const QSharedPointer<UploadManager> pipeline = m_manager->addUploadManager();
        connect(pipeline.data(), &UploadManager::warningRaised, this, [this](const QString &message) {
            printError(QStringLiteral("警告: ") + ProgressPrinter::printable(message));
        });
        connect(pipeline.data(), &UploadManager::deleteMsg, this, &CliRunner::onPipelineRemoved);
        m_pipelines.append(pipeline);
    }
    return true;
}

void CliRunner::onPipelineRemoved(UploadManager *pipeline)
{
    {
        QMutexLocker locker(&m_removedMutex);
        m_removed.insert(pipeline);
    }
    // Its run, if it is the one running, ends at the next point that looks at the flag.
    pipeline->setStopRequested(true);
}

bool CliRunner::isRemoved(int index) const
{
    QMutexLocker locker(&m_removedMutex);
    return m_removed.contains(m_pipelines.at(index).data());
}

void CliRunner::leaveSession(int index)
{
    // What deleting its row does in the window: the server drops what arrived of the file.
    const QSharedPointer<UploadManager> &pipeline = m_pipelines.at(index);
    pipeline->removeFile();
    m_manager->removeUploadManager(pipeline);
    fileFailed(index, QStringLiteral("已被服务器移除"));
}

void CliRunner::fileFailed(int index, const QString &message)
{
    const QString name = ProgressPrinter::printable(QFileInfo(m_arguments.files.at(index)).fileName());
    const QString text = name + QStringLiteral(": 失败: ") + ProgressPrinter::printable(message);
    post([this, text] { printError(text); });
}

void CliRunner::runSession()
{
    try {
        m_manager->initSetting();
        m_manager->initToken();
    } catch (const QString &message) {
        m_sessionFailed = true;
        post([this, message] { printError(ProgressPrinter::printable(message)); });
        return;
    }
    post([this] { m_refreshTimer.start(m_manager->refreshSecond() * 1000); });

    const QString uuid = m_manager->schema()->uuid();
    QVector<bool> checked(m_pipelines.size(), false);
    for (int i = 0; i < m_pipelines.size() && !m_interrupted; ++i) {
        UploadFileInfo record = MediaProbe::recordOf(m_arguments.files.at(i), uuid);
        if (!m_arguments.noProbe) {
            const int result = MediaProbe::probe(&record);
            if (result != 0) {
                qDebug().noquote() << QStringLiteral("ffmpegTools.info:") << record.path;
                m_pipelines.at(i)->reset();
                fileFailed(i, FFMpegTools::infoFailureText(result));
                continue;
            }
        }
        m_pipelines.at(i)->setFile(record);
        try {
            m_pipelines.at(i)->checkVideo();
            checked[i] = true;
        } catch (const QString &message) {
            fileFailed(i, message);
        }
    }

    for (int i = 0; i < m_pipelines.size() && !m_interrupted; ++i) {
        if (!checked.at(i))
            continue;
        const QSharedPointer<UploadManager> pipeline = m_pipelines.at(i);
        // The run is asked for here: a stop or removal from now on reaches it, however
        // early. Only then is the interruption looked at.
        pipeline->setStopRequested(false);
        if (m_interrupted)
            break;
        if (isRemoved(i)) {
            leaveSession(i);
            continue;
        }
        // The file's first line shows where its run begins, however fast the run goes.
        ProgressPrinter::Progress start;
        if (progressOf(i, &start))
            post([this, start] { m_printer.update(start); });
        m_current = i;
        QString outcome;
        try {
            // As a row does: whatever else runs gives way to this one.
            m_manager->stopAll();
            pipeline->doTask();
            pipeline->setFinished(true);
            ++m_registered;
            outcome = QStringLiteral("上传完成");
        } catch (const ActionStopSignal &stop) {
            if (!isRemoved(i))
                outcome = QStringLiteral("暂停上传: ") + stop.message;
        } catch (const QString &message) {
            fileFailed(i, message);
        } catch (...) {
            fileFailed(i, QStringLiteral("unexpected failure"));
        }
        m_current = -1;
        if (isRemoved(i) && !pipeline->finished())
            leaveSession(i);
        const QString name = QFileInfo(m_arguments.files.at(i)).fileName();
        post([this, i, name, outcome] {
            printProgress(i);
            if (!outcome.isEmpty())
                m_printer.println(name + QStringLiteral(": ") + outcome);
        });
    }
}

void CliRunner::printProgress(int index)
{
    ProgressPrinter::Progress progress;
    if (progressOf(index, &progress))
        m_printer.update(progress);
}

bool CliRunner::progressOf(int index, ProgressPrinter::Progress *progress) const
{
    if (index < 0 || index >= m_pipelines.size())
        return false;
    const QSharedPointer<UploadManager> &pipeline = m_pipelines.at(index);
    const auto tasks = pipeline->tasks();
    if (!tasks || tasks->isEmpty())
        return false;
    int position = 0;
    while (position < tasks->size() && tasks->at(position)->taskState() == TaskState::Done)
        ++position;
    const bool allDone = position == tasks->size();
    if (allDone)
        --position;
    const QSharedPointer<TaskCommand> task = tasks->at(position);

    progress->file = QFileInfo(m_arguments.files.at(index)).fileName();
    progress->fileIndex = index + 1;
    progress->fileCount = m_pipelines.size();
    progress->task = task->title();
    progress->taskIndex = position + 1;
    progress->taskCount = tasks->size();
    progress->percent = allDone ? 100 : qBound(0, task->rate(), 100);
    progress->remaining = allDone ? 0 : task->remaining();
    progress->bytesDone = -1;
    if (task->taskType() == TaskType::Upload) {
        const UploadFileInfo record = pipeline->file();
        const qint64 size = task->variant() == VariantSign::Original
                                ? record.size
                                : QFileInfo(ITaskExecutor::variantPath(task->variant(), record.id)).size();
        progress->bytesDone = size * progress->percent / 100;
    }
    return true;
}

void CliRunner::onRefreshTimeout()
{
    const QSharedPointer<Schema> schema = m_manager ? m_manager->schema() : nullptr;
    if (!schema || schema->uuid().isEmpty() || m_manager->token().isEmpty())
        return;
    m_manager->refreshStatus();
}

void CliRunner::onTerminationRequested(int signalNumber)
{
    if (m_signal != 0) {
        // A second Ctrl-C: the user does not want to wait for the stop; ffmpeg goes with us.
        printError(QStringLiteral("stopped at once"));
        killChildProcesses();
        std::_Exit(128 + signalNumber);
    }
    m_signal = signalNumber;
    if (!m_worker || m_worker->isFinished()) {
        finish(128 + signalNumber);
        return;
    }
    m_printer.println(QStringLiteral("stopping..."));
    m_interrupted = true;
    qInfo("Manager Stop");
    stopPipelines();
    // A request that waits for a stalled server is abandoned, not waited out.
    m_worker->requestInterruption();
}

void CliRunner::onSessionEnded()
{
    m_progressTimer.stop();
    m_refreshTimer.stop();
    m_worker->wait();

    if (m_interrupted) {
        qInfo("Client Exit");
        m_manager->setStatus(STATUS_CLIENT_EXIT, 0, QString(), 0);
        if (!m_manager->flushReports(Manager::FinalReportWaitMs))
            printError(QStringLiteral("the exit could not be reported to the server"));
        qInfo("Application Exit");
        finish(128 + m_signal);
        return;
    }
    // Reports still queued (the last file's completion) go out before the process does.
    m_manager->flushReports(Manager::FinalReportWaitMs);
    if (m_sessionFailed) {
        finish(ExitFailed);
        return;
    }
    m_printer.println(QStringLiteral("%1/%2 files registered").arg(m_registered).arg(m_pipelines.size()));
    finish(m_registered == m_pipelines.size() ? ExitOk : ExitFailed);
}
