// SPDX-License-Identifier: MIT
#include "core/api/uploadcheckpoint.h"

#include <QDateTime>
#include <QFileInfo>

UploadCheckpoint UploadCheckpoint::of(const QString &path)
{
    const QFileInfo info(path);
    UploadCheckpoint file;
    file.path = path;
    if (info.isFile()) {
        file.size = info.size();
        file.modifiedMs = info.lastModified().toMSecsSinceEpoch();
    }
    return file;
}
