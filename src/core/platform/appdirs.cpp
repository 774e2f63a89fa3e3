// SPDX-License-Identifier: MIT
#include "appdirs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace {

QMutex &lock()
{
    static QMutex mutex;
    return mutex;
}

QString &overrideFolder()
{
    static QString folder;
    return folder;
}

// QFileInfo::isWritable answers from the permission bits, which lie for root and for
// read-only mounts; creating a file is the only reliable test.
bool canWriteIn(const QString &folder)
{
    QTemporaryFile probe(folder + QStringLiteral("/.nuvupload-write-test-XXXXXX"));
    return probe.open();
}

QString decideDataFolder()
{
    const QString program = AppDirs::programFolder();
    if (canWriteIn(program))
        return program;
    QString perUser = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (perUser.isEmpty())
        perUser = QDir::homePath() + QStringLiteral("/.local/share/NUVUpload");
    QDir().mkpath(perUser);
    return perUser;
}

} // namespace

namespace AppDirs {

QString programFolder()
{
    return QCoreApplication::applicationDirPath();
}

QString dataFolder()
{
    QMutexLocker locker(&lock());
    if (!overrideFolder().isEmpty())
        return overrideFolder();
    static const QString decided = decideDataFolder();
    return decided;
}

QString logsFolder()
{
    return dataFolder() + QStringLiteral("/logs");
}

QString tmpFolder()
{
    return dataFolder() + QStringLiteral("/tmp");
}

QString settingsFile()
{
    return dataFolder() + QStringLiteral("/setting.ini");
}

void setDataFolderOverride(const QString &folder)
{
    QMutexLocker locker(&lock());
    overrideFolder() = folder;
}

} // namespace AppDirs
