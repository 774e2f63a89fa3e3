// SPDX-License-Identifier: MIT
#pragma once

#include "core/api/uploadcheckpoint.h"
#include "core/pipeline/itaskexecutor.h"

#include <QElapsedTimer>
#include <QString>
#include <QtGlobal>

#include <functional>

// Sends one file (the added one or a transcoded variant, by the task's sign) to the upload
// endpoint in consecutive 2 MiB chunks over the calling thread's connection. A chunk the
// server refused is tried again, up to 11 attempts with a pause between them (retryPauseMs);
// a chunk that got no answer at all is tried again, with growing pauses, until the server
// answers or the outage limit passes (OutageWait). The user's stop is honoured at every
// attempt and every slice of a pause. One chunk buffer serves the whole file. Nothing past
// the size taken at the start is sent; a file whose size or modification time changes
// meanwhile fails its upload.
//
// The task keeps where the server stands (its checkpoint, also in the session's journal), so
// a later run of the same file continues after the last accepted chunk; a changed file, or a
// continuation the server refuses, starts again at 0.
class UploadTaskExecutor final : public ITaskExecutor
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UploadTaskExecutor)

public:
    static constexpr qint64 ChunkSize = 2 * 1024 * 1024;
    static constexpr int MaxAttempts = 11;
    static constexpr int PauseSliceMs = 100;
    // Bytes written during a chunk are shown at most this often: each showing is a queued
    // call to every view of the file.
    static constexpr int ShowWrittenMs = 250;
    using Clock = std::function<qint64()>;

    explicit UploadTaskExecutor(QObject *parent = nullptr);
    ~UploadTaskExecutor() override;

    void doJob() override;

    // remaining = elapsed * 100 / percent - elapsed, the way the status report expects it:
    // -1 when there is no estimate yet (nothing done, or no representable value).
    static int remainingSeconds(float percent, quint32 elapsed);

private:
    QString sourcePath(const QString &tmpFolder, STATUS *startStatus, QString *openFailure) const;
    void pause(int milliseconds);
    void stopIfRequested();
    void reportProgress(qint64 pos, qint64 total);
    void showWritten(qint64 pos, qint64 written, qint64 total);
    // Where this file continues: its checkpoint from the task or the journal, else 0.
    qint64 resumeOffset(const UploadCheckpoint &file) const;
    void recordAccepted(UploadCheckpoint file, qint64 offset);
    // Sends one chunk until the server accepts it (true) or fails the job. False only for the
    // first chunk of a continuation that the server refused.
    bool sendChunk(const QString &name, qint64 pos, qint64 total, bool end, const QByteArray &chunk, bool continuation);

    quint32 m_startTime = 0;
    QElapsedTimer m_shown;
};
