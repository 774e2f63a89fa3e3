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
    progress.rate = progress.allDone ? 100 : qBound(0, task.rate(), 100);
    progress.remaining = progress.allDone ? 0 : task.remaining();
    if (const qint64 since = task.networkWaitSince(); since > 0 && !progress.allDone)
        progress.networkWaitSeconds = qMax<qint64>(0, QDateTime::currentMSecsSinceEpoch() - since) / 1000;
    if (count == 1) {
        progress.overall = progress.rate;
    } else {
        // All done reads as the last task at its start, as the row has always shown it.
        const int step = 98 / (count - 1);
        const int shareRate = progress.allDone ? 0 : progress.rate;
        progress.overall = step * shareRate / 100 + (progress.taskIndex - 1) * step;
    }
    return progress;
}

QString PipelineProgress::networkWaitText() const
{
    if (networkWaitSeconds < 0)
        return QString();
    const qint64 s = networkWaitSeconds;
    const QString waited =
        s >= 3600 ? QStringLiteral("%1:%2:%3")
                        .arg(s / 3600, 2, 10, QLatin1Char('0'))
                        .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
                        .arg(s % 60, 2, 10, QLatin1Char('0'))
                  : QStringLiteral("%1:%2").arg(s / 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("网络中断，等待重连 (已等待 %1)").arg(waited);
}
