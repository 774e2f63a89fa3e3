// SPDX-License-Identifier: MIT
#pragma once

#include <QMetaType>
#include <QString>
#include <QtGlobal>

// What one added file is: where it lies, what the probe found in it, and the id that names
// its transcoded variants. A plain value, copied freely: the task row fills it, the pipeline
// keeps it and every executor gets a snapshot.
struct UploadFileInfo
{
    UploadFileInfo();

    // 32 hexadecimal digits of a fresh random UUID.
    static QString newId();

    // Empties every field but the id, which keeps naming the same file's variants.
    void clear();

    QString uuid;
    QString path;
    QString name;
    QString suffix;
    qint64 size = 0;
    qint64 duration = 0;
    QString videoCodec;
    bool mp4Format = false;
    bool nuvVideo = false;
    QString rate;
    int width = 0;
    int height = 0;
    QString audioCodec;
    QString id;
};

Q_DECLARE_METATYPE(UploadFileInfo)
