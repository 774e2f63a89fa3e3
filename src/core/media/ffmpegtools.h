// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

class QProcess;
class VideoInfo;

// The only place that starts ffmpeg. info() probes a file, format() runs a whole transcode
// and reports its progress. Both block the calling thread until ffmpeg ends, so they belong
// on a worker thread. One wrapper serves one operation at a time.
class FFMpegTools final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FFMpegTools)

public:
    using Clock = std::function<qint64()>;

    explicit FFMpegTools(QObject *parent = nullptr);
    ~FFMpegTools() override;

    // A packaged copy beside the program wins over the one on the PATH. Looked up on every
    // call; empty when neither exists.
    static QString program();

    // The inverse of QProcess::splitCommand, for log lines.
    static QString joinArguments(const QStringList &arguments);

    // Whether path is something ffmpeg may open as a user's video: 0 a readable regular
    // file, 403 missing or unreadable, 415 a directory, FIFO, socket or device (which could
    // block the probe for ever).
    static int checkInput(const QString &path);
    // The known cause behind a result of info() or checkInput(), for the user; empty when
    // the result is success or says no more than "not a valid video".
    static QString failureCause(int result);

    // Ends the marked ffmpeg processes that earlier runs of this program left behind.
    static int endLeftovers();

    // 0 success, 1 no usable video in ffmpeg's description, 404 no ffmpeg at all, 2065 null
    // target, -1 the file could not be opened for the MP4 layout probe, 403 or 415 as
    // checkInput() says.
    int info(VideoInfo *videoInfo, const QString &path);

    // Runs ffmpeg to its end. 0 when it exited with 0; otherwise 404 when ffmpeg could not
    // be started, -1 when it crashed, else its exit code, and formatError() says why.
    // Throws the QString "停止" when the stop flag is seen set; ffmpeg has then been ended
    // and reaped.
    int format(const QStringList &arguments);
    // Why the last format() failed, for the user: a full disk, or ffmpeg's last error line.
    QString formatError() const { return m_formatError; }

    void setDuration(qint64 seconds) { m_duration = seconds; }
    void setStopFlag(const std::atomic_bool *flag) { m_stopFlag = flag; }
    // Seconds since the epoch; replaced by tests that check the remaining-time arithmetic.
    void setClock(Clock clock) { m_clock = std::move(clock); }

    // One piece of ffmpeg's output during format(): error markers and the first progress
    // clock in it. Public so the parsing can be driven without a process.
    void handleOutput(const QString &chunk);

signals:
    void formatProcessSignal(int rate, int remainingTime);
    void errorMessage(QString msg);

public slots:
    void onReadData();

private:
    bool startProcess(const QString &executable, const QStringList &arguments);
    void releaseProcess();
    void throwIfStopped();
    QString lastErrorLine() const;

    QProcess *m_process = nullptr;
    QString m_executable;
    QString m_mark;
    // The end of format()'s output, where ffmpeg says why it failed.
    QString m_tail;
    bool m_diskFull = false;
    QString m_formatError;
    quint32 m_startTime = 0;
    qint64 m_duration = 0;
    const std::atomic_bool *m_stopFlag = nullptr;
    Clock m_clock;
};
