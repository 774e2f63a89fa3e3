// SPDX-License-Identifier: MIT
#include "core/platform/appdirs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <unistd.h>

namespace {

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
    if (AppDirs::isPortable(program))
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
    static const QString decided = decideDataFolder();
    return decided;
}

bool isPortable(const QString &programFolder)
{
    // Root can write under a system prefix, and an installed copy must not fill it with
    // logs and transcodes; a copy there is installed whoever runs it.
    const QString folder = QFileInfo(programFolder).canonicalFilePath();
    for (const QString &prefix : {QStringLiteral("/usr"), QStringLiteral("/opt")}) {
        if (folder == prefix || folder.startsWith(prefix + QLatin1Char('/')))
            return false;
    }
    return !folder.isEmpty() && QFileInfo(folder).ownerId() == ::geteuid() && canWriteIn(folder);
}

QString logsFolder()
{
    return dataFolder() + QStringLiteral("/logs");
}

} // namespace AppDirs
