// SPDX-License-Identifier: MIT
#include "core/pipeline/resumejournal.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>

#include <algorithm>
#include <cstdio>

namespace {

QMutex g_journalMutex;

QJsonObject entryOf(const UploadCheckpoint &checkpoint)
{
    return QJsonObject{{QStringLiteral("path"), checkpoint.path},
                       {QStringLiteral("size"), QString::number(checkpoint.size)},
                       {QStringLiteral("modified"), QString::number(checkpoint.modifiedMs)},
                       {QStringLiteral("offset"), QString::number(checkpoint.offset)}};
}

UploadCheckpoint checkpointOf(const QJsonObject &entry)
{
    UploadCheckpoint checkpoint;
    checkpoint.path = entry.value(QStringLiteral("path")).toString();
    checkpoint.size = entry.value(QStringLiteral("size")).toString().toLongLong();
    checkpoint.modifiedMs = entry.value(QStringLiteral("modified")).toString().toLongLong();
    checkpoint.offset = entry.value(QStringLiteral("offset")).toString().toLongLong();
    return checkpoint;
}

} // namespace

ResumeJournal::ResumeJournal(const QString &folder, const QString &sessionUuid)
{
    // The uuid comes from a launch command: hashed, it names a file and nothing else.
    const QByteArray key = QCryptographicHash::hash(sessionUuid.toUtf8(), QCryptographicHash::Sha256).toHex();
    m_path = folder + QStringLiteral("/") + QString::fromLatin1(key.left(32)) + QStringLiteral(".json");
}

QJsonArray ResumeJournal::read() const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > MaxBytes)
        return {};
    return QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("files")).toArray();
}

void ResumeJournal::write(const QJsonArray &entries) const
{
    if (entries.isEmpty()) {
        QFile::remove(m_path);
        return;
    }
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    // Replaced by a rename, but not synced to disk: this runs between two chunks of an
    // upload, where a sync costs milliseconds each time. The journal is for a program that
    // ends or is killed, whose written pages outlive it; after a power cut, a lost offset
    // only means the file goes again from its start.
    const QString part = m_path + QStringLiteral(".part");
    QFile file(part);
    const bool written =
        file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        && file.write(QJsonDocument(QJsonObject{{QStringLiteral("files"), entries}}).toJson(QJsonDocument::Compact))
               >= 0
        && file.flush();
    file.close();
    if (!written || std::rename(QFile::encodeName(part).constData(), QFile::encodeName(m_path).constData()) != 0) {
        qWarning().noquote() << QStringLiteral("ResumeJournal: cannot write ") + m_path + QStringLiteral(": ")
                                    + file.errorString();
        QFile::remove(part);
    }
}

UploadCheckpoint ResumeJournal::find(const UploadCheckpoint &file) const
{
    QMutexLocker locker(&g_journalMutex);
    for (const QJsonValue entry : read()) {
        const UploadCheckpoint saved = checkpointOf(entry.toObject());
        if (saved.sameFile(file) && saved.offset > 0 && saved.offset <= saved.size)
            return saved;
    }
    UploadCheckpoint none = file;
    none.offset = 0;
    return none;
}

void ResumeJournal::record(const UploadCheckpoint &checkpoint) const
{
    QMutexLocker locker(&g_journalMutex);
    QJsonArray entries;
    for (const QJsonValue entry : read()) {
        if (!checkpointOf(entry.toObject()).sameFile(checkpoint))
            entries.append(entry);
    }
    while (entries.size() >= MaxEntries)
        entries.removeFirst();
    entries.append(entryOf(checkpoint));
    write(entries);
}

void ResumeJournal::forget(const QVector<UploadCheckpoint> &files) const
{
    QMutexLocker locker(&g_journalMutex);
    const QJsonArray old = read();
    QJsonArray entries;
    for (const QJsonValue entry : old) {
        const UploadCheckpoint saved = checkpointOf(entry.toObject());
        if (std::none_of(files.begin(), files.end(),
                         [&](const UploadCheckpoint &file) { return file.sameFile(saved); }))
            entries.append(entry);
    }
    if (entries.size() != old.size())
        write(entries);
}
