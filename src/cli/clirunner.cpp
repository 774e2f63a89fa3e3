// SPDX-License-Identifier: MIT
#include "cli/clirunner.h"

#include "core/media/mediaprobe.h"
#include "core/platform/processhelpers.h"
#include "core/session/schema.h"
#include "core/session/uploadsession.h"

#include <QDebug>
#include <QFileInfo>
#include <QJsonDocument>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

void writeTo(FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

CliRunner::CliRunner(CliArguments arguments, ClientOptions options, QObject *parent)
    : QObject(parent)
    , m_arguments(std::move(arguments))
    , m_options(std::move(options))
    , m_printer([](const QString &text) { writeTo(stdout, text); }, ::isatty(STDOUT_FILENO) == 1)
{
}

CliRunner::~CliRunner() = default;

void CliRunner::printError(const QString &text)
{
    m_printer.breakLine();
    writeTo(stderr, text + QLatin1Char('\n'));
}

void CliRunner::finish(int exitCode)
{
    QMetaObject::invokeMethod(
        this, [this, exitCode] { emit finished(exitCode); }, Qt::QueuedConnection);
}

void CliRunner::start()
{
    switch (m_arguments.mode) {
    case CliArguments::Mode::Help:
        writeTo(stdout, CliArguments::helpText());
        finish(ExitOk);
        return;
    case CliArguments::Mode::Version:
        writeTo(stdout, CliArguments::versionText());
        finish(ExitOk);
        return;
    case CliArguments::Mode::Invalid:
        printError(m_arguments.error);
        finish(ExitUsage);
        return;
    case CliArguments::Mode::Probe: runProbe(); return;
    case CliArguments::Mode::Upload: break;
    }
    if (prepareUpload())
        m_session->start();
}

void CliRunner::runProbe()
{
    UploadFileInfo record = MediaProbe::recordOf(QFileInfo(m_arguments.files.first()).absoluteFilePath(), QString());
    const int result = MediaProbe::probe(&record);
    if (result != 0) {
        printError(MediaProbe::failureText(result));
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

    m_session = std::make_unique<UploadSession>(schema, m_options, files, !m_arguments.noProbe);
    UploadSession *session = m_session.get();
    connect(session, &UploadSession::sessionFailed, this,
            [this](const QString &message) { printError(ProgressPrinter::printable(message)); });
    connect(session, &UploadSession::warningRaised, this, [this](const QString &message) {
        printError(QStringLiteral("警告: ") + ProgressPrinter::printable(message));
    });
    connect(session, &UploadSession::fileProgress, this, [this, session](int index, const PipelineProgress &task) {
        if (task.valid)
            m_printer.update({session->fileName(index), index + 1, session->fileCount(), task});
    });
    connect(session, &UploadSession::fileFailed, this, [this, session](int index, const QString &message) {
        printError(ProgressPrinter::printable(session->fileName(index)) + QStringLiteral(": 失败: ")
                   + ProgressPrinter::printable(message));
    });
    connect(session, &UploadSession::fileEnded, this, [this, session](int index, const ActionOutcome &outcome) {
        m_printer.println(
            session->fileName(index) + QStringLiteral(": ")
            + (outcome.ok() ? QStringLiteral("上传完成") : QStringLiteral("暂停上传: ") + outcome.message));
    });
    connect(session, &UploadSession::ended, this, &CliRunner::onSessionEnded);
    return true;
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
    if (!m_session || !m_session->stop()) {
        finish(128 + signalNumber);
        return;
    }
    m_printer.println(QStringLiteral("stopping..."));
}

void CliRunner::onSessionEnded()
{
    if (m_session->interrupted()) {
        if (!m_session->exitReported())
            printError(QStringLiteral("the exit could not be reported to the server"));
        qInfo("Application Exit");
        finish(128 + m_signal);
        return;
    }
    if (m_session->failed()) {
        finish(ExitFailed);
        return;
    }
    const int registered = m_session->registeredCount();
    m_printer.println(QStringLiteral("%1/%2 files registered").arg(registered).arg(m_session->fileCount()));
    finish(registered == m_session->fileCount() ? ExitOk : ExitFailed);
}
