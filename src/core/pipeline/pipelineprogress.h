// SPDX-License-Identifier: MIT
#pragma once

#include "core/api/taskenums.h"

#include <QSharedPointer>
#include <QString>
#include <QVector>

class TaskCommand;

// Where one file's run stands, the one model both front ends show: the current task (the
// first not done, or the last when all are done) and the file's percentage.
struct PipelineProgress
{
    // From the file's tasks, in order; the byte counts stay unknown.
    static PipelineProgress of(const QVector<QSharedPointer<TaskCommand>> &tasks);

    // False while the file has no tasks.
    bool valid = false;
    bool allDone = false;
    // 1-based.
    int taskIndex = 0;
    int taskCount = 0;
    QString title;
    TaskType type = TaskType::Transcode;
    VariantSign sign = VariantSign::Original;
    // Done when all are done.
    TaskState state = TaskState::Pending;
    // The current task's percent, 0 to 100; 100 when all are done.
    int rate = 0;
    // Seconds the current task still needs as its executor estimates them; -1 unknown.
    int remaining = -1;
    // The whole file, as its row shows it: every task but the last has an equal share of 98,
    // so the bar reaches 98 when the last task begins; a single task shows its own rate.
    int overall = 0;
    // The file an upload task sends; -1 for other tasks.
    qint64 bytesDone = -1;
    qint64 bytesTotal = -1;
    // Seconds the current task has waited for the server to answer at all; -1 when it does not wait.
    qint64 networkWaitSeconds = -1;
    // "网络中断，等待重连 (已等待 01:05)" while the task waits for the network, else empty.
    QString networkWaitText() const;
};
