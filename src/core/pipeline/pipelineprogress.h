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
    // Seconds the current task still needs: an upload's from its recent speed, another's as
    // its executor estimates them (a transcode's from ffmpeg's progress); -1 unknown.
    int remaining = -1;
    // The whole file, as its row shows it: every task but the last has an equal share of 98,
    // so the bar reaches 98 when the last task begins; a single task shows its own rate.
    int overall = 0;
    // The file an upload task sends; -1 for other tasks. Done counts the accepted chunks and
    // what of the chunk in flight has been written, so it moves during a chunk.
    qint64 bytesDone = -1;
    qint64 bytesTotal = -1;
    // An upload's speed over the last few seconds; -1 unknown or another task.
    double bytesPerSecond = -1;
    // Since the current task began in this run; -1 before.
    qint64 elapsedMs = -1;

    // The current task's percent, and the file's with it.
    void setRate(int rate);

    // "3.2 MB/s", "850 KB/s"; empty when unknown.
    static QString speedText(double bytesPerSecond);
    // "12.5 MB", "300 KB".
    static QString bytesText(qint64 bytes);
    // "01:23", "1:02:03" past an hour; empty when unknown.
    static QString durationText(qint64 seconds);
    // Seconds the current task has waited for the server to answer at all; -1 when it does not wait.
    qint64 networkWaitSeconds = -1;
    // "网络中断，等待重连 (已等待 01:05)" while the task waits for the network, else empty.
    QString networkWaitText() const;
};
