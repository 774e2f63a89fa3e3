// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QString>

class QProcess;

// The SHA-256 of a file's content (empty when it cannot be read) or of bytes, as lower-case
// hex: the form the devserver's journal gives.
QString sha256Of(const QString &path);
QString sha256Of(const QByteArray &bytes);

// size bytes no compression or chunk boundary can make regular.
QByteArray randomBytes(int size);

// Ends process politely (SIGTERM, so it releases what it holds), killing it after graceMs.
void endProcess(QProcess *process, int graceMs = 5000);
