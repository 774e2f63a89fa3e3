// SPDX-License-Identifier: MIT
#pragma once

#include <QProcess>

// An ffmpeg child that dies with us: if this program is killed (SIGKILL included), the
// kernel kills ffmpeg too, so no transcode runs on as an orphan.
class FFMpegProcess final : public QProcess
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FFMpegProcess)

public:
    explicit FFMpegProcess(QObject *parent = nullptr);

protected:
    // Runs in the child between fork and exec.
    void setupChildProcess() override;

private:
    qint64 m_parentPid;
};
