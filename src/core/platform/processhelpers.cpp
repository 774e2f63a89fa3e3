// SPDX-License-Identifier: MIT
#include "core/platform/processhelpers.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>

#include <csignal>
#include <sys/types.h>

namespace {

QString executableOf(qint64 pid)
{
    return QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
}

bool isGone(qint64 pid)
{
    // A zombie still has /proc/<pid> but no exe link; it has ended for our purposes.
    return executableOf(pid).isEmpty();
}

bool waitUntilGone(qint64 pid, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!isGone(pid)) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::msleep(20);
    }
    return true;
}

} // namespace

bool isProcessAlive(qint64 pid)
{
    if (pid <= 0)
        return false;
    const QString exe = executableOf(pid);
    return !exe.isEmpty() && exe == executableOf(QCoreApplication::applicationPid());
}

bool killProcess(qint64 pid)
{
    if (pid == QCoreApplication::applicationPid() || !isProcessAlive(pid))
        return false;
    // SIGTERM lets the other instance end its event loop and close its log cleanly.
    if (::kill(pid_t(pid), SIGTERM) != 0)
        return false;
    if (waitUntilGone(pid, 3000))
        return true;
    ::kill(pid_t(pid), SIGKILL);
    return waitUntilGone(pid, 2000);
}

int killChildProcesses()
{
    const QString self = QString::number(QCoreApplication::applicationPid());
    int ended = 0;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (!numeric)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (comm) state ppid ...": the name may hold blanks and parentheses.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1 && fields.at(1) == self.toLatin1() && ::kill(pid_t(pid), SIGKILL) == 0)
            ++ended;
    }
    return ended;
}

QString activationSocketName(qint64 pid)
{
    return QStringLiteral("NUVUpload-activate-%1").arg(pid);
}

bool activateProcessWindow(qint64 pid)
{
    if (!isProcessAlive(pid))
        return false;
    QLocalSocket socket;
    socket.connectToServer(activationSocketName(pid));
    if (!socket.waitForConnected(2000))
        return false;
    socket.write("activate\n");
    if (!socket.waitForBytesWritten(2000))
        return false;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(3000))
            return false;
    }
    return socket.readLine().trimmed() == "visible";
}
