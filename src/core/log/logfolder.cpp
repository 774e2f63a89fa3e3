// SPDX-License-Identifier: MIT
#include "core/log/logfolder.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
// Not every file system records a birth time; the last change is the closest we have then.
QDateTime creationTime(const QFileInfo &info)
{
    const QDateTime born = info.birthTime();
    return born.isValid() ? born : info.lastModified();
}
} // namespace

void prepareLogFolder(const QString &folder, const QDateTime &now, int retentionDays)
{
    QDir dir(folder);
    if (!dir.exists()) {
        dir.mkpath(QStringLiteral("."));
        return;
    }
    const QDateTime limit = now.addDays(-retentionDays);
    const QFileInfoList entries = dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &info : entries) {
        if (!info.isFile() || info.isSymLink() || creationTime(info) >= limit)
            continue;
        qDebug().noquote() << QStringLiteral("%1 %2 %3").arg(info.size(), 10).arg(info.fileName(), 10).arg(folder);
        qDebug().noquote() << info.absoluteFilePath();
        qDebug().noquote() << info.fileName();
        QFile::remove(info.absoluteFilePath());
    }
}
