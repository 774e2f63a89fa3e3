// SPDX-License-Identifier: MIT
#include "core/media/processsweep.h"

#include "core/platform/appdirs.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <csignal>
#include <functional>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

// install:pid:starttime:token
constexpr int MarkFields = 4;

QString procPath(qint64 pid, const char *leaf)
{
    return QStringLiteral("/proc/%1/").arg(pid) + QLatin1String(leaf);
}

// Clock ticks after boot at which pid started (field 22 of /proc/<pid>/stat); empty when gone.
QString startTimeOf(qint64 pid)
{
    QFile file(procPath(pid, "stat"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray stat = file.readAll();
    // The command name in field 2 may hold blanks and parentheses; the fields after it do not.
    const int nameEnd = stat.lastIndexOf(')');
    if (nameEnd < 0)
        return {};
    const QList<QByteArray> fields = stat.mid(nameEnd + 1).simplified().split(' ');
    return fields.size() > 19 ? QString::fromLatin1(fields.at(19)) : QString();
}

bool ownedByUs(qint64 pid)
{
    QFile file(procPath(pid, "status"));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // "Uid:\treal\teffective\tsaved\tfilesystem"
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.startsWith("Uid:"))
            continue;
        bool ok = false;
        const uint realUid = line.mid(4).simplified().split(' ').value(0).toUInt(&ok);
        return ok && realUid == uint(::getuid());
    }
    return false;
}

bool runs(qint64 pid, const QString &canonicalExecutable)
{
    return QFileInfo(procPath(pid, "exe")).symLinkTarget() == canonicalExecutable;
}

// A pidfd pins the process: if pid is recycled between the checks and the signal, the
// signal goes nowhere instead of to the newcomer. Kernels before 5.3 have none; there the
// plain signal is the best we can do.
constexpr int NoPidFd = -2;

int openPidFd(qint64 pid)
{
    const int pidFd = int(::syscall(SYS_pidfd_open, pid_t(pid), 0));
    return pidFd < 0 && errno == ENOSYS ? NoPidFd : pidFd;
}

bool endProcess(qint64 pid, int pidFd)
{
    if (pidFd == NoPidFd)
        return ::kill(pid_t(pid), SIGKILL) == 0;
    return ::syscall(SYS_pidfd_send_signal, pidFd, SIGKILL, nullptr, 0) == 0;
}

QList<qint64> sweep(const QString &executable, const std::function<bool(const QString &mark)> &isOurs)
{
    const QString canonical = QFileInfo(executable).canonicalFilePath();
    if (canonical.isEmpty())
        return {};
    const qint64 self = ::getpid();
    QList<qint64> ended;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid || pid <= 0 || pid == self)
            continue;
        const int pidFd = openPidFd(pid);
        if (pidFd < 0 && pidFd != NoPidFd)
            continue;
        if (runs(pid, canonical) && ownedByUs(pid) && isOurs(ProcessSweep::markOf(pid)) && endProcess(pid, pidFd)) {
            qDebug("ProcessSweep: ended %lld", static_cast<long long>(pid));
            ended.append(pid);
        }
        if (pidFd >= 0)
            ::close(pidFd);
    }
    return ended;
}

} // namespace

QString ProcessSweep::markVariable()
{
    return QStringLiteral("NUVUPLOAD_FFMPEG_RUN");
}

QString ProcessSweep::installMarker(const QString &programFolder)
{
    const QString folder = QFileInfo(programFolder).canonicalFilePath();
    const QByteArray digest = QCryptographicHash::hash(QFile::encodeName(folder.isEmpty() ? programFolder : folder),
                                                       QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.toHex().left(16));
}

QString ProcessSweep::newMark()
{
    const qint64 self = ::getpid();
    return QStringList{installMarker(AppDirs::programFolder()), QString::number(self), startTimeOf(self),
                       QString::fromLatin1(QUuid::createUuid().toRfc4122().toHex())}
        .join(QLatin1Char(':'));
}

QString ProcessSweep::markOf(qint64 pid)
{
    QFile file(procPath(pid, "environ"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray prefix = markVariable().toLatin1() + '=';
    for (const QByteArray &entry : file.readAll().split('\0')) {
        if (entry.startsWith(prefix))
            return QString::fromLatin1(entry.mid(prefix.size()));
    }
    return {};
}

QList<qint64> ProcessSweep::endRun(const QString &mark, const QString &executable)
{
    if (mark.isEmpty())
        return {};
    return sweep(executable, [&mark](const QString &found) { return found == mark; });
}

QList<qint64> ProcessSweep::endLeftovers(const QString &executable)
{
    const QString install = installMarker(AppDirs::programFolder());
    return sweep(executable, [&install](const QString &found) {
        const QStringList fields = found.split(QLatin1Char(':'));
        if (fields.size() != MarkFields || fields.at(0) != install)
            return false;
        bool isPid = false;
        const qint64 owner = fields.at(1).toLongLong(&isPid);
        if (!isPid || owner <= 0 || fields.at(2).isEmpty())
            return false;
        return startTimeOf(owner) != fields.at(2);
    });
}
