// SPDX-License-Identifier: MIT
#include "core/pipeline/transformtaskexecutor.h"

#include "core/api/taskcommand.h"
#include "core/media/ffmpegtools.h"
#include "core/media/transcodetemplate.h"
#include "core/media/videoinfo.h"
#include "core/pipeline/uploadmanager.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

TransformTaskExecutor::TransformTaskExecutor(QObject *parent)
    : ITaskExecutor(parent)
{
}

TransformTaskExecutor::~TransformTaskExecutor()
{
    qDebug("TransformTaskExecutor::~TransformTaskExecutor");
}

void TransformTaskExecutor::sweepTemporaryFolder(const QString &folder, const QDateTime &now)
{
    const QDateTime limit = now.addDays(-1);
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QFileInfo &entry : entries) {
        if (!entry.isFile() || entry.isSymLink())
            continue;
        const QDateTime modified = entry.lastModified();
        if (limit.secsTo(modified) >= 0)
            continue;
        qDebug().noquote() << QStringLiteral("%1 %2 %3").arg(QString::number(entry.size()), entry.fileName(), folder);
        qDebug().noquote() << QStringLiteral("delete file:") + entry.fileName() + QLatin1Char(':')
                                  + entry.absoluteFilePath() + QLatin1Char(':') + modified.toString(Qt::ISODate);
        QFile::remove(entry.absoluteFilePath());
    }
}

void TransformTaskExecutor::doJob()
{
    if (!m_task)
        throw QStringLiteral("Task Or File is null");

    const QString tmpDir = options().tmpFolder();
    if (!QDir().mkpath(tmpDir))
        fail(TaskState::Failed, QStringLiteral("创建临时文件夹(%1)出错,请确认应用有足够权限!").arg(tmpDir));
    sweepTemporaryFolder(tmpDir);

    FFMpegTools ffmpegTools;
    const VariantSign sign = m_task->variant();
    reportTranscoding(0, 0);

    const QString target = variantPath(tmpDir, sign, m_file.id);
    qDebug().noquote() << QStringLiteral("TransformTaskExecutor::doJob:target:") + target;
    // The template comes from the server: it may read the user's file and write our target,
    // nothing else.
    TranscodeTemplate::Refusal refusal;
    QStringList arguments =
        TranscodeTemplate::build(m_task->mac(), QFileInfo(m_file.path).absoluteFilePath(), target, &refusal);
    if (arguments.isEmpty()) {
        qWarning().noquote() << QStringLiteral("TransformTaskExecutor::doJob:refused:") << refusal.argument
                             << QLatin1Char('(') + refusal.reason + QLatin1Char(')');
        failTranscode(QStringLiteral("服务器下发的转码命令含有不允许的参数(%1)，已拒绝转码").arg(refusal.argument));
    }
    // A global option: placed after the output it would be a trailing option ffmpeg ignores.
    arguments = QStringList{QStringLiteral("-loglevel"), QStringLiteral("info")} + arguments;
    const int input = FFMpegTools::checkInput(m_file.path);
    if (input != 0)
        failTranscode(QStringLiteral("视频转码失败：") + FFMpegTools::failureCause(input));

    connect(&ffmpegTools, &FFMpegTools::formatProcessSignal, this, &TransformTaskExecutor::onProgress,
            Qt::DirectConnection);
    connect(&ffmpegTools, &FFMpegTools::errorMessage, this, &TransformTaskExecutor::warn);
    ffmpegTools.setDuration(m_file.duration);
    ffmpegTools.setStopFlag(m_stopFlag);

    int formatted = 0;
    try {
        formatted = ffmpegTools.format(arguments);
    } catch (...) {
        clearRunning();
        fail(TaskState::Stopped, QStringLiteral("任务已经停止转码"));
    }
    if (formatted != 0)
        failTranscode(QStringLiteral("视频转码失败：") + ffmpegTools.formatError());

    VideoInfo videoInfo;
    const int result = ffmpegTools.info(&videoInfo, target);
    const VideoStream &video = videoInfo.videoStreams().at(0);
    if (result != 0 || video.width == 0 || video.height == 0)
        failTranscode(QStringLiteral("视频转码失败，请确认文件是否为有效视频，或可尝试先使用其他转码工具进行转码"));

    switch (sign) {
    case VariantSign::Standard: sendStatus(STATUS_TRANSCODED_NR, 0, 0); break;
    case VariantSign::High:
    case VariantSign::SuperHigh: sendStatus(STATUS_TRANSCODED_OTHER, 0, 0); break;
    case VariantSign::Original:
        sendStatus(STATUS_TRANSCODED_OTHER, 0, 0);
        if (m_task->taskType() == TaskType::TranscodeReplace && m_manager)
            m_manager->setFilePath(target);
        break;
    }
}

void TransformTaskExecutor::reportTranscoding(int rate, int remaining)
{
    switch (m_task->variant()) {
    case VariantSign::Standard: sendStatus(STATUS_TRANSCODING_NR, rate, remaining); break;
    case VariantSign::High:
    case VariantSign::SuperHigh: sendStatus(STATUS_TRANSCODING_HD, rate, remaining); break;
    case VariantSign::Original: break;
    }
}

void TransformTaskExecutor::failTranscode(const QString &message)
{
    switch (m_task->variant()) {
    case VariantSign::Standard:
        sendError(STATUS_TRANSCODE_NR_FAILED, TASK_ERROR_TRANSCODE, QStringLiteral("视频转码失败"));
        break;
    case VariantSign::High:
    case VariantSign::SuperHigh:
        sendError(STATUS_TRANSCODE_HD_FAILED, TASK_ERROR_TRANSCODE, QStringLiteral("视频转码失败"));
        break;
    case VariantSign::Original: break;
    }
    fail(TaskState::Failed, message);
}

void TransformTaskExecutor::onProgress(int rate, int remaining)
{
    if (!m_task)
        return;
    m_task->setRate(rate);
    m_task->setRemaining(remaining);
    emit m_task->dataUpdate();
    reportTranscoding(rate, remaining);
}
