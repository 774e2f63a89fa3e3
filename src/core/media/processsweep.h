// SPDX-License-Identifier: MIT
#pragma once

#include <QStringList>
#include <QtGlobal>

class QProcess;

// Ends leftover ffmpeg runs: every process of this user whose argument vector holds a given
// argument list as a contiguous run. Reads /proc directly (no shell, no matching by program
// name), so only the exact run is hit. Processes that a live wrapper of this process is still
// waiting for are registered here and spared, so a run that finishes cannot sweep away a
// concurrent run of the same command.
class ProcessSweep final
{
    Q_DISABLE_COPY_MOVE(ProcessSweep)

public:
    ProcessSweep() = delete;

    // Number of processes sent SIGKILL. An empty list matches nothing.
    static int endMatching(const QStringList &arguments);

    // The argument vector of a process, or an empty list when it is gone or unreadable.
    static QStringList commandLine(qint64 pid);

    static bool containsRun(const QStringList &haystack, const QStringList &run);

    // Starts the process so that no sweep can catch it between its start and its marking
    // as in use. Returns its id (0 when it did not start); release() ends the marking.
    static qint64 startSpared(QProcess &process, const QString &program, const QStringList &arguments);
    static void release(qint64 pid);

private:
    static bool ownedByUs(qint64 pid);
};
