// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QObject>
#include <QPair>
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
    using Substitutions = QList<QPair<QString, QString>>;
    using Clock = std::function<qint64()>;

    explicit FFMpegTools(QObject *parent = nullptr);
    ~FFMpegTools() override;

    // A packaged copy beside the program wins over the one on the PATH. Looked up on every
    // call; empty when neither exists.
    static QString program();

    // Splits a command text at blanks outside double quotes, the way a server writes its
    // ffmpeg templates.
    static QStringList splitArguments(const QString &text);
    // The inverse of splitArguments, for log lines.
    static QString joinArguments(const QStringList &arguments);
    // Splits the template first and substitutes afterwards, so a path with blanks or quotes
    // stays one argument. Each argument is scanned once: text that a substitution inserts is
    // never substituted again. An argument made only of placeholders that all became empty
    // is dropped, which lets "{ffmpegPath} -y ..." start with the real arguments.
    static QStringList buildArguments(const QString &argumentTemplate,
                                      const Substitutions &substitutions);

    // 0 success, 1 no usable video in ffmpeg's description, 404 no ffmpeg at all, 2065 null
    // target, -1 the file could not be opened for the MP4 layout probe.
    int info(VideoInfo *videoInfo, const QString &path);

    // Runs ffmpeg to its end and returns 0 whatever ffmpeg's exit code: the caller probes
    // the produced file. Throws the QString "停止" when the stop flag is seen set; ffmpeg
    // has then been ended and reaped.
    int format(const QString &arguments);
    int format(const QStringList &arguments);

    void setDuration(qint64 seconds) { m_duration = seconds; }
    void setStopFlag(const std::atomic_bool *flag) { m_stopFlag = flag; }
    // Seconds since the epoch; replaced by tests that check the remaining-time arithmetic.
    void setClock(Clock clock) { m_clock = std::move(clock); }

    // Ends leftover processes of this user that were started with exactly this run of
    // arguments. Returns how many were ended.
    static int kill(const QString &arguments);
    static int kill(const QStringList &arguments);

    // One piece of ffmpeg's output during format(): error markers and the first progress
    // clock in it. Public so the parsing can be driven without a process.
    void handleOutput(const QString &chunk);

signals:
    void formatProcessSignal(int rate, int remainingTime);
    void errorMessage(QString msg);

public slots:
    void onReadData();

private:
    int runFormat(const QStringList &arguments, const QString &argumentText);
    bool startProcess(const QString &executable, const QStringList &arguments);
    void releaseProcess();
    void throwIfStopped();

    QProcess *m_process = nullptr;
    qint64 m_processId = 0;
    quint32 m_startTime = 0;
    qint64 m_duration = 0;
    const std::atomic_bool *m_stopFlag = nullptr;
    Clock m_clock;
};
