// SPDX-License-Identifier: MIT
#include "processsweep.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QProcess>
#include <QSet>

#include <csignal>
#include <sys/types.h>
#include <unistd.h>

namespace {

QMutex &registryLock()
{
    static QMutex mutex;
    return mutex;
}

QSet<qint64> &registry()
{
    static QSet<qint64> pids;
    return pids;
}

QString procPath(qint64 pid, const char *leaf)
{
    return QStringLiteral("/proc/%1/").arg(pid) + QLatin1String(leaf);
}

} // namespace

qint64 ProcessSweep::startSpared(QProcess &process, const QString &program, const QStringList &arguments)
{
    // Held across the start: a sweep either finishes before the fork or sees the marking.
    QMutexLocker locker(&registryLock());
    process.start(program, arguments, QIODevice::ReadOnly);
    const qint64 pid = process.processId();
    if (pid > 0)
        registry().insert(pid);
    return pid;
}

void ProcessSweep::release(qint64 pid)
{
    if (pid <= 0)
        return;
    QMutexLocker locker(&registryLock());
    registry().remove(pid);
}

QStringList ProcessSweep::commandLine(qint64 pid)
{
    QFile file(procPath(pid, "cmdline"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QByteArray raw = file.readAll();
    if (raw.endsWith('\0'))
        raw.chop(1);
    if (raw.isEmpty())
        return {};
    QStringList arguments;
    for (const QByteArray &piece : raw.split('\0'))
        arguments.append(QFile::decodeName(piece));
    return arguments;
}

bool ProcessSweep::containsRun(const QStringList &haystack, const QStringList &run)
{
    if (run.isEmpty() || run.size() > haystack.size())
        return false;
    for (int start = 0; start + run.size() <= haystack.size(); ++start) {
        int matched = 0;
        while (matched < run.size() && haystack.at(start + matched) == run.at(matched))
            ++matched;
        if (matched == run.size())
            return true;
    }
    return false;
}

bool ProcessSweep::ownedByUs(qint64 pid)
{
    QFile file(procPath(pid, "status"));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // "Uid:\treal\teffective\tsaved\tfilesystem"
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.startsWith("Uid:"))
            continue;
        const QList<QByteArray> fields = line.mid(4).simplified().split(' ');
        bool ok = false;
        const uint realUid = fields.value(0).toUInt(&ok);
        return ok && realUid == uint(::getuid());
    }
    return false;
}

int ProcessSweep::endMatching(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return 0;
    const qint64 self = ::getpid();
    int ended = 0;
    QMutexLocker locker(&registryLock());
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid || pid <= 0 || pid == self || registry().contains(pid) || !ownedByUs(pid))
            continue;
        if (!containsRun(commandLine(pid), arguments))
            continue;
        if (::kill(pid_t(pid), SIGKILL) == 0) {
            qDebug("ProcessSweep::endMatching: ended %lld", static_cast<long long>(pid));
            ++ended;
        }
    }
    return ended;
}
