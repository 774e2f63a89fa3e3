// SPDX-License-Identifier: MIT
#pragma once

#include "core/pipeline/pipelineprogress.h"

#include <QString>
#include <QtGlobal>

#include <functional>

// One progress line per file on stdout. On a terminal the line is rewritten in place with a
// carriage return; otherwise (a pipe, a log) a new plain line is written only when the task
// changed or its progress moved on by 5 % and a second has passed, so logs stay short.
class ProgressPrinter final
{
    Q_DISABLE_COPY_MOVE(ProgressPrinter)

public:
    // Milliseconds of a steady clock.
    using Clock = std::function<qint64()>;
    using Sink = std::function<void(const QString &text)>;

    struct Progress
    {
        QString file;
        int fileIndex = 1;
        int fileCount = 1;
        // Of the current task: title, index and count, rate, remaining, bytes done.
        PipelineProgress task;
    };

    ProgressPrinter(Sink sink, bool terminal, Clock clock = {});

    void update(const Progress &progress);
    // Ends an in-place line so that other output starts on a line of its own.
    void breakLine();
    // A line of its own (a file's outcome); ends the in-place line first.
    void println(const QString &text);

    // "[1/2] a.mp4  上传原视频 (1/2)  45%  3.2 MB/s  01:23 left"; unknown figures read "--".
    static QString formatLine(const Progress &progress);
    // Text from the server made harmless for a terminal: escape sequences and every other
    // control character (C0, DEL, C1) removed, line breaks and tabs turned into spaces.
    static QString printable(const QString &text);

private:
    Sink m_sink;
    bool m_terminal = false;
    Clock m_clock;
    bool m_lineOpen = false;

    QString m_taskKey;
    qint64 m_lastPrintMs = 0;
    int m_lastPercent = -1;
    qint64 m_lastWaitSeconds = -1;
};
