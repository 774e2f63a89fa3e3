// SPDX-License-Identifier: MIT
#pragma once

#include "core/pipeline/itaskexecutor.h"

#include <QDateTime>
#include <QString>

// Runs one transcode task: fills the server's ffmpeg template with the source and the
// variant's target in the temporary folder, runs ffmpeg with progress, and probes the
// result. A type-4 job on variant 0 makes its result the file that later tasks send.
class TransformTaskExecutor final : public ITaskExecutor
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TransformTaskExecutor)

public:
    explicit TransformTaskExecutor(QObject *parent = nullptr);
    ~TransformTaskExecutor() override;

    void doJob() override;

    // Deletes the regular files of folder last modified more than a day before now;
    // sub-folders and their contents stay.
    static void sweepTemporaryFolder(const QString &folder, const QDateTime &now = QDateTime::currentDateTime());

private:
    // Reports the variant's failure to the server and ends the job with message.
    void failTranscode(const QString &message);
    // The variant's "transcoding" status; the original's transcode has none.
    void reportTranscoding(int rate, int remaining);
    void onProgress(int rate, int remaining);
};
