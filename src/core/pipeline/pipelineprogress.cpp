// SPDX-License-Identifier: MIT
#include "core/pipeline/pipelineprogress.h"

#include "core/api/taskcommand.h"

#include <QDateTime>

PipelineProgress PipelineProgress::of(const QVector<QSharedPointer<TaskCommand>> &tasks)
{
    PipelineProgress progress;
    const int count = int(tasks.size());
    if (count == 0)
        return progress;
    int position = 0;
    while (position < count && tasks.at(position)->taskState() == TaskState::Done)
        ++position;
    progress.allDone = position == count;
    const TaskCommand &task = *tasks.at(progress.allDone ? count - 1 : position);

    progress.valid = true;
    progress.taskIndex = progress.allDone ? count : position + 1;
    progress.taskCount = count;
    progress.title = task.title();
    progress.type = task.taskType();
    progress.sign = task.variant();
    progress.state = progress.allDone ? TaskState::Done : task.taskState();
    progress.remaining = progress.allDone ? 0 : task.remaining();
    if (const qint64 since = task.networkWaitSince(); since > 0 && !progress.allDone)
        progress.networkWaitSeconds = qMax<qint64>(0, QDateTime::currentMSecsSinceEpoch() - since) / 1000;
    progress.setRate(progress.allDone ? 100 : task.rate());
    return progress;
}

void PipelineProgress::setRate(int value)
{
    rate = qBound(0, value, 100);
    if (taskCount <= 1) {
        overall = rate;
        return;
    }
    // All done reads as the last task at its start, as the row has always shown it.
    const int step = 98 / (taskCount - 1);
    const int shareRate = allDone ? 0 : rate;
    overall = step * shareRate / 100 + (taskIndex - 1) * step;
}

QString PipelineProgress::speedText(double bytesPerSecond)
{
    if (bytesPerSecond < 0)
        return QString();
    if (bytesPerSecond < 1024.0 * 1024.0)
        return QString::number(bytesPerSecond / 1024.0, 'f', 0) + QStringLiteral(" KB/s");
    return QString::number(bytesPerSecond / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" MB/s");
}

QString PipelineProgress::bytesText(qint64 bytes)
{
    if (bytes < 1024 * 1024)
        return QString::number(double(qMax<qint64>(0, bytes)) / 1024.0, 'f', 0) + QStringLiteral(" KB");
    if (bytes < qint64(1024) * 1024 * 1024)
        return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" MB");
    return QString::number(double(bytes) / (1024.0 * 1024.0 * 1024.0), 'f', 2) + QStringLiteral(" GB");
}

QString PipelineProgress::durationText(qint64 seconds)
{
    if (seconds < 0)
        return QString();
    const QString minutesAndSeconds = QStringLiteral("%1:%2")
                                          .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
                                          .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return seconds < 3600 ? minutesAndSeconds : QString::number(seconds / 3600) + QLatin1Char(':') + minutesAndSeconds;
}

QString PipelineProgress::networkWaitText() const
{
    if (networkWaitSeconds < 0)
        return QString();
    return QStringLiteral("网络中断，等待重连 (已等待 %1)").arg(durationText(networkWaitSeconds));
}
