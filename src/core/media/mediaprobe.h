// SPDX-License-Identifier: MIT
#pragma once

#include "core/pipeline/uploadfileinfo.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

// What is known of a file before the server sees it, for every front end: which files are
// videos, the record a file page builds for an added file, and the media facts from the
// ffmpeg probe (duration truncated, the first word of the codec and bit-rate texts).
namespace MediaProbe {

// The 17 accepted video suffixes, in the order they are tried.
const QStringList &acceptedSuffixes();
// Whether path ends with an accepted suffix, in any letter case.
bool hasAcceptedSuffix(const QString &path);
// The file dialog's filter offering exactly those files.
QString nameFilter();

// The record of a file as added: uuid, path, name, suffix ("." and the text after the
// name's last dot) and size.
UploadFileInfo recordOf(const QString &path, const QString &uuid);

// Fills the media facts of record from ffmpeg; the result of FFMpegTools::info (0 success).
int probe(UploadFileInfo *record);
// What the user is told when probe() gives result.
QString failureText(int result);

// The facts sent to the file check, as JSON.
QJsonObject facts(const UploadFileInfo &record);

} // namespace MediaProbe
