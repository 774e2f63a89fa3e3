// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>

// Ends ffmpeg processes that this program started and nothing else. Every ffmpeg we start
// carries a mark in its environment: this installation, the marking process (id and start
// time, so a recycled id does not count) and a token of its own. A sweep reads the mark back
// from /proc/<pid>/environ and also requires /proc/<pid>/exe to be the ffmpeg binary, so a
// process that merely looks like ours (same arguments, same name, even a copied mark on
// another binary) is never touched.
class ProcessSweep final
{
    Q_DISABLE_COPY_MOVE(ProcessSweep)

public:
    ProcessSweep() = delete;

    // The environment variable that holds the mark.
    static QString markVariable();
    // A fresh mark for one ffmpeg run of this process.
    static QString newMark();
    // The installation part of a mark: the same for every run of a program in this folder.
    static QString installMarker(const QString &programFolder);

    // Ends the processes of this user that carry exactly `mark` and run `executable`.
    // Returns the ids of those sent SIGKILL.
    static QList<qint64> endRun(const QString &mark, const QString &executable);
    // Ends the processes of this user that run `executable` with a mark of this installation
    // whose marking process is gone: what a crashed or killed earlier run left behind.
    static QList<qint64> endLeftovers(const QString &executable);

    // The mark in the environment of process pid; empty when it has none or is unreadable.
    static QString markOf(qint64 pid);
};
