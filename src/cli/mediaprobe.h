// SPDX-License-Identifier: MIT
#pragma once

#include "core/pipeline/uploadfileinfo.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

// What the command-line client knows about a file before the server sees it: the record the
// task row would build (path, name, suffix, size) and the media facts from the ffmpeg probe,
// taken the same way (duration truncated, the first word of the codec and bit-rate texts).
namespace MediaProbe {

// The 17 accepted video suffixes, in the order they are tried.
const QStringList &acceptedSuffixes();
// Whether path ends with an accepted suffix, in any letter case.
bool hasAcceptedSuffix(const QString &path);

// The record of a file as added: uuid, path, name, suffix and size.
UploadFileInfo recordOf(const QString &path, const QString &uuid);

// Fills the media facts of record from ffmpeg; the result of FFMpegTools::info (0 success).
int probe(UploadFileInfo *record);

// The facts sent to the file check, as JSON.
QJsonObject facts(const UploadFileInfo &record);

} // namespace MediaProbe
