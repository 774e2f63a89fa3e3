// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QtGlobal>

// Where one file's upload stands on the server: the file as it was sent (path, size and
// modification time, so a file changed since is recognised) and the end of its last chunk
// the server accepted. The next run of the upload continues from offset.
struct UploadCheckpoint
{
    QString path;
    qint64 size = -1;
    qint64 modifiedMs = 0;
    qint64 offset = 0;

    // The file as it lies now, offset 0; size -1 when it cannot be read.
    static UploadCheckpoint of(const QString &path);
    bool sameFile(const UploadCheckpoint &other) const
    {
        return size >= 0 && path == other.path && size == other.size && modifiedMs == other.modifiedMs;
    }
};
