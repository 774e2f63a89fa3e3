// SPDX-License-Identifier: MIT
#pragma once

#include "core/api/uploadcheckpoint.h"

#include <QJsonArray>
#include <QString>
#include <QVector>

// The uploads of one session (the launch command's uuid) that the server holds in part, kept
// in the data folder so that a program started again for the same session continues them:
// one small JSON file per session, replaced atomically at every change, holding the file
// identities and offsets only (never the token). Any thread; the file is read and written
// under one process-wide lock.
class ResumeJournal final
{
public:
    // A journal this large is not one of ours; it is ignored (and replaced at the next record).
    static constexpr qint64 MaxBytes = 1024 * 1024;
    static constexpr int MaxEntries = 1000;

    ResumeJournal(const QString &folder, const QString &sessionUuid);

    // The checkpoint recorded for the same file, or one with offset 0.
    UploadCheckpoint find(const UploadCheckpoint &file) const;
    void record(const UploadCheckpoint &checkpoint) const;
    // Drops the entries of these files; the journal goes when it is empty.
    void forget(const QVector<UploadCheckpoint> &files) const;
    QString filePath() const { return m_path; }

private:
    QJsonArray read() const;
    void write(const QJsonArray &entries) const;

    QString m_path;
};
