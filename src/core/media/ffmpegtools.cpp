// SPDX-License-Identifier: MIT
#include "core/media/ffmpegtools.h"

#include "core/media/ffmpegprocess.h"
#include "core/media/nuvmp4info.h"
#include "core/media/processsweep.h"
#include "core/media/videoinfo.h"
#include "core/platform/appdirs.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cmath>

namespace {

// How often a silent ffmpeg is interrupted to look at the stop flag.
constexpr int StopPollMs = 100;
// "ffmpeg -i" only reads the headers; a run this long means a file that never ends (a FIFO,
// a stalled network mount), not a slow probe.
constexpr int InfoTimeLimitMs = 60 * 1000;
// Reaping a killed process takes milliseconds; the bound only guards against a stuck kernel.
constexpr int ReapMs = 5000;
// Enough of the end of ffmpeg's output to hold its last complaint.
constexpr int TailMax = 4096;
constexpr int ErrorLineMax = 300;
const char DiskFull[] = "No space left on device";

int remainingSeconds(float percent, quint32 elapsed)
{
    // Nothing done yet: no estimate. The int carries an unsigned count, so "unknown" is -1.
    if (!(percent > 0))
        return -1;
    const float remaining = float(quint32(elapsed * 100u)) / percent - float(elapsed);
    if (!std::isfinite(remaining) || remaining >= 4294967296.0f)
        return -1;
    if (remaining <= 0)
        return 0;
    return int(quint32(remaining));
}

bool needsQuotes(const QString &argument)
{
    if (argument.isEmpty())
        return true;
    for (const QChar c : argument) {
        if (c.isSpace())
            return true;
    }
    return false;
}

} // namespace

FFMpegTools::FFMpegTools(QObject *parent)
    : QObject(parent)
    , m_clock([] { return QDateTime::currentSecsSinceEpoch(); })
{
}

FFMpegTools::~FFMpegTools()
{
    if (m_process) {
        qDebug("FFMpegTools::~FFMpegTools process");
        releaseProcess();
    }
}

QString FFMpegTools::program()
{
    const QString packaged = AppDirs::programFolder() + QStringLiteral("/ffmpeg/ffmpeg");
    const QFileInfo packagedInfo(packaged);
    if (packagedInfo.isFile() && packagedInfo.isExecutable())
        return packaged;
    return QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
}

QString FFMpegTools::joinArguments(const QStringList &arguments)
{
    QStringList quoted;
    quoted.reserve(arguments.size());
    for (const QString &argument : arguments) {
        QString text = argument;
        text.replace(QLatin1Char('"'), QLatin1String("\"\"\""));
        quoted.append(needsQuotes(argument) ? QLatin1Char('"') + text + QLatin1Char('"') : text);
    }
    return quoted.join(QLatin1Char(' '));
}

int FFMpegTools::checkInput(const QString &path)
{
    // Only the type is looked at first: opening a FIFO for reading would block right here.
    const QFileInfo info(path);
    if (!info.exists())
        return 403;
    if (!info.isFile())
        return 415;
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? 0 : 403;
}

QString FFMpegTools::failureCause(int result)
{
    switch (result) {
    case 404: return QStringLiteral("未找到 ffmpeg,请重新安装本程序");
    case 403: return QStringLiteral("无法读取文件,请确认文件存在且有读取权限");
    case 415: return QStringLiteral("所选的不是普通文件(文件夹、管道或设备),请选择视频文件");
    default: return {};
    }
}

int FFMpegTools::endLeftovers()
{
    const QString executable = program();
    const int ended = executable.isEmpty() ? 0 : ProcessSweep::endLeftovers(executable).size();
    qInfo().noquote() << QStringLiteral("FFMpegTools::endLeftovers:") << ended;
    return ended;
}

int FFMpegTools::info(VideoInfo *videoInfo, const QString &path)
{
    const QString argumentText = QStringLiteral("-i \"") + path + QStringLiteral("\" -threads 1 -loglevel info");
    qWarning().noquote() << QStringLiteral("FFMpegTools::info") << argumentText;
    if (!videoInfo)
        return 2065;
    const QString executable = program();
    if (executable.isEmpty())
        return 404;
    const int input = checkInput(path);
    if (input != 0)
        return input;

    // Absolute, so ffmpeg can never read the path as an option or a protocol.
    const QStringList arguments{QStringLiteral("-i"), QFileInfo(path).absoluteFilePath(), QStringLiteral("-threads"),
                                QStringLiteral("1"),  QStringLiteral("-loglevel"),        QStringLiteral("info")};
    QString output;
    if (startProcess(executable, arguments)) {
        if (!m_process->waitForFinished(InfoTimeLimitMs) && m_process->state() != QProcess::NotRunning) {
            qWarning().noquote() << QStringLiteral("FFMpegTools::info: ffmpeg still running, ended");
            m_process->kill();
            m_process->waitForFinished(ReapMs);
        }
        output = QString::fromUtf8(m_process->readAllStandardOutput());
    }
    releaseProcess();
    qWarning().noquote() << output;

    const int parsed = VideoInfo::transform(videoInfo, output);
    if (parsed != 0)
        return parsed;

    qWarning().noquote() << QStringLiteral("VideoInfo::transform:ret:") << 0;
    videoInfo->setSize(QFileInfo(path).size());
    bool moovAheadMdat = false;
    bool nuvMp4 = false;
    const int probed = NuvMp4Info::get(path, &moovAheadMdat, &nuvMp4);
    videoInfo->setMoovAheadMdat(moovAheadMdat);
    videoInfo->setNuvMp4(nuvMp4);
    return probed;
}

int FFMpegTools::format(const QStringList &arguments)
{
    qWarning().noquote() << QStringLiteral("FFMpegTools::format") << joinArguments(arguments);
    // A stop that came before ffmpeg started needs no ffmpeg at all.
    throwIfStopped();
    m_tail.clear();
    m_diskFull = false;
    m_formatError.clear();

    const QString executable = program();
    m_startTime = quint32(m_clock());
    if (executable.isEmpty() || !startProcess(executable, arguments)) {
        qWarning().noquote() << QStringLiteral("FFMpegTools::format: ffmpeg did not start");
        releaseProcess();
        m_formatError = failureCause(404);
        return 404;
    }

    // Our own wait loop instead of one long waitForFinished: it lets a stop interrupt an
    // ffmpeg that prints nothing, and the stop is thrown here rather than from a slot.
    for (;;) {
        throwIfStopped();
        const bool gotOutput = m_process->waitForReadyRead(StopPollMs);
        onReadData();
        if (!gotOutput && m_process->state() == QProcess::NotRunning)
            break;
    }
    onReadData();
    const bool crashed = m_process->exitStatus() != QProcess::NormalExit;
    const int exitCode = m_process->exitCode();
    releaseProcess();
    if (!crashed && exitCode == 0)
        return 0;

    const QString line = lastErrorLine();
    if (m_diskFull || m_tail.contains(QLatin1String(DiskFull)))
        m_formatError = QStringLiteral("磁盘空间不足，请清理磁盘后重试");
    else if (crashed)
        m_formatError = QStringLiteral("ffmpeg 异常退出") + (line.isEmpty() ? QString() : QStringLiteral("：") + line);
    else
        m_formatError = line.isEmpty() ? QStringLiteral("ffmpeg 退出码 %1").arg(exitCode) : line;
    qWarning().noquote() << QStringLiteral("FFMpegTools::format: failed:") << m_formatError;
    return crashed ? -1 : exitCode;
}

QString FFMpegTools::lastErrorLine() const
{
    static const QRegularExpression lineBreak(QStringLiteral("[\r\n]+"));
    const QStringList lines = m_tail.split(lineBreak, Qt::SkipEmptyParts);
    for (auto it = lines.crbegin(); it != lines.crend(); ++it) {
        const QString line = it->trimmed();
        // Progress, the closing summary and ffmpeg's generic last words say nothing.
        if (line.isEmpty() || line.startsWith(QLatin1String("frame=")) || line.startsWith(QLatin1String("size="))
            || line.startsWith(QLatin1String("video:")) || line == QLatin1String("Conversion failed!"))
            continue;
        return line.left(ErrorLineMax);
    }
    return {};
}

void FFMpegTools::onReadData()
{
    if (!m_process)
        return;
    const QByteArray chunk = m_process->readAllStandardOutput();
    if (!chunk.isEmpty())
        handleOutput(QString::fromUtf8(chunk));
}

void FFMpegTools::handleOutput(const QString &chunk)
{
    qDebug().noquote() << chunk;
    m_tail = QString(m_tail + chunk).right(TailMax);
    if (chunk.contains(QLatin1String(DiskFull)))
        m_diskFull = true;
    if (chunk.contains(QLatin1String("[error]:"))) {
        qWarning().noquote() << QStringLiteral("FFMpegTools::onReadData") << chunk;
        if (chunk.contains(QLatin1String("[error]: malloc of size")))
            emit errorMessage(QStringLiteral("系统转码内存不存，请关闭一些应用程序后重试"));
        else
            emit errorMessage(QStringLiteral("出现异常：") + chunk);
    }

    // Only whole seconds count; a chunk may hold several progress lines and the first wins.
    static const QRegularExpression progressClock(QStringLiteral("time=(\\d+:\\d+:\\d+)"),
                                                  QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = progressClock.match(chunk);
    if (!match.hasMatch())
        return;
    const float seconds = VideoInfo::timeToSeconds(match.captured(1));
    if (m_duration == 0) {
        emit formatProcessSignal(0, 0);
        return;
    }
    const float percent = qMin(100.0f, seconds * 100 / float(m_duration));
    const quint32 elapsed = quint32(m_clock() - m_startTime);
    emit formatProcessSignal(int(percent), remainingSeconds(percent, elapsed));
}

bool FFMpegTools::startProcess(const QString &executable, const QStringList &arguments)
{
    releaseProcess();
    m_process = new FFMpegProcess;
    // ffmpeg writes its stream descriptions and progress to stderr.
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setReadChannel(QProcess::StandardOutput);
    // ffmpeg reads keyboard commands from stdin; give it nothing to read.
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_executable = executable;
    m_mark = ProcessSweep::newMark();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(ProcessSweep::markVariable(), m_mark);
    m_process->setProcessEnvironment(environment);
    // Every input may be a local file only: no URL, no device protocol, no nested protocol.
    QStringList confined{QStringLiteral("-nostdin")};
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("-i"))
            confined << QStringLiteral("-protocol_whitelist") << QStringLiteral("file");
        confined << argument;
    }
    m_process->start(executable, confined, QIODevice::ReadOnly);
    if (!m_process->waitForStarted()) {
        qWarning().noquote() << QStringLiteral("FFMpegTools: cannot start") << executable << m_process->errorString();
        return false;
    }
    return true;
}

void FFMpegTools::releaseProcess()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->kill();
        m_process->waitForFinished(ReapMs);
    }
    delete m_process;
    m_process = nullptr;
    // ffmpeg itself is reaped; this catches anything it may have spawned under our mark.
    ProcessSweep::endRun(m_mark, m_executable);
    m_mark.clear();
}

void FFMpegTools::throwIfStopped()
{
    if (!m_stopFlag || !m_stopFlag->load())
        return;
    if (m_process) {
        m_process->terminate();
        m_process->kill();
        m_process->waitForFinished(ReapMs);
    }
    releaseProcess();
    throw QString(QStringLiteral("停止"));
}
