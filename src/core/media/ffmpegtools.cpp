// SPDX-License-Identifier: MIT
#include "ffmpegtools.h"

#include "nuvmp4info.h"
#include "platform/appdirs.h"
#include "processsweep.h"
#include "videoinfo.h"

#include <QDateTime>
#include <QDebug>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <cmath>

namespace {

// How often a silent ffmpeg is interrupted to look at the stop flag.
constexpr int kStopPollMs = 100;
// "ffmpeg -i" only reads the headers; a run this long means a file that never ends (a FIFO,
// a stalled network mount), not a slow probe.
constexpr int kInfoTimeLimitMs = 60 * 1000;
// Reaping a killed process takes milliseconds; the bound only guards against a stuck kernel.
constexpr int kReapMs = 5000;

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

QStringList FFMpegTools::splitArguments(const QString &text)
{
    return QProcess::splitCommand(text);
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

QStringList FFMpegTools::buildArguments(const QString &argumentTemplate,
                                        const Substitutions &substitutions)
{
    QStringList result;
    const QStringList pieces = splitArguments(argumentTemplate);
    for (const QString &piece : pieces) {
        QString built;
        int at = 0;
        while (at < piece.size()) {
            bool substituted = false;
            for (const auto &substitution : substitutions) {
                const QString &placeholder = substitution.first;
                if (!placeholder.isEmpty() && piece.midRef(at).startsWith(placeholder)) {
                    built += substitution.second;
                    at += placeholder.size();
                    substituted = true;
                    break;
                }
            }
            if (!substituted)
                built += piece.at(at++);
        }
        if (built.isEmpty() && !piece.isEmpty())
            continue;
        result.append(built);
    }
    return result;
}

int FFMpegTools::info(VideoInfo *videoInfo, const QString &path)
{
    const QString argumentText = QStringLiteral("-i \"") + path
        + QStringLiteral("\" -threads 1 -loglevel info");
    qWarning().noquote() << QStringLiteral("FFMpegTools::info") << argumentText;
    if (!videoInfo)
        return 2065;

    const QStringList arguments{QStringLiteral("-i"), path, QStringLiteral("-threads"),
                                QStringLiteral("1"), QStringLiteral("-loglevel"),
                                QStringLiteral("info")};
    const QString executable = program();
    QString output;
    if (!executable.isEmpty() && startProcess(executable, arguments)) {
        if (!m_process->waitForFinished(kInfoTimeLimitMs)
            && m_process->state() != QProcess::NotRunning) {
            qWarning().noquote() << QStringLiteral("FFMpegTools::info: ffmpeg still running, ended");
            m_process->kill();
            m_process->waitForFinished(kReapMs);
        }
        output = QString::fromUtf8(m_process->readAllStandardOutput());
    }
    releaseProcess();
    qWarning().noquote() << output;

    const int parsed = VideoInfo::transform(videoInfo, output);
    if (parsed != 0)
        return executable.isEmpty() ? 404 : parsed;

    qWarning().noquote() << QStringLiteral("VideoInfo::transform:ret:") << 0;
    videoInfo->setSize(QFileInfo(path).size());
    bool moovAheadMdat = false;
    bool nuvMp4 = false;
    const int probed = NuvMp4Info::get(path, &moovAheadMdat, &nuvMp4);
    videoInfo->setMoovAheadMdat(moovAheadMdat);
    videoInfo->setNuvMp4(nuvMp4);
    kill(arguments);
    return probed;
}

int FFMpegTools::format(const QString &arguments)
{
    return runFormat(splitArguments(arguments), arguments);
}

int FFMpegTools::format(const QStringList &arguments)
{
    return runFormat(arguments, joinArguments(arguments));
}

int FFMpegTools::runFormat(const QStringList &arguments, const QString &argumentText)
{
    qWarning().noquote() << QStringLiteral("FFMpegTools::format") << argumentText;
    // A stop that came before ffmpeg started needs no ffmpeg at all.
    throwIfStopped();

    const QString executable = program();
    m_startTime = quint32(m_clock());
    if (executable.isEmpty() || !startProcess(executable, arguments)) {
        qWarning().noquote() << QStringLiteral("FFMpegTools::format: ffmpeg did not start");
        releaseProcess();
        return 0;
    }

    // Our own wait loop instead of one long waitForFinished: it lets a stop interrupt an
    // ffmpeg that prints nothing, and the stop is thrown here rather than from a slot.
    for (;;) {
        throwIfStopped();
        const bool gotOutput = m_process->waitForReadyRead(kStopPollMs);
        onReadData();
        if (!gotOutput && m_process->state() == QProcess::NotRunning)
            break;
    }
    onReadData();
    releaseProcess();
    kill(arguments);
    return 0;
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

int FFMpegTools::kill(const QString &arguments)
{
    return kill(splitArguments(arguments));
}

int FFMpegTools::kill(const QStringList &arguments)
{
    qDebug().noquote() << QStringLiteral("FFMpegTools::kill") << joinArguments(arguments);
    return ProcessSweep::endMatching(arguments);
}

bool FFMpegTools::startProcess(const QString &executable, const QStringList &arguments)
{
    releaseProcess();
    m_process = new QProcess;
    // ffmpeg writes its stream descriptions and progress to stderr.
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->setReadChannel(QProcess::StandardOutput);
    // ffmpeg reads keyboard commands from stdin; give it nothing to read.
    m_process->setStandardInputFile(QProcess::nullDevice());
    m_processId = ProcessSweep::startSpared(*m_process, executable, arguments);
    if (!m_process->waitForStarted()) {
        qWarning().noquote() << QStringLiteral("FFMpegTools: cannot start") << executable
                             << m_process->errorString();
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
        m_process->waitForFinished(kReapMs);
    }
    delete m_process;
    m_process = nullptr;
    ProcessSweep::release(m_processId);
    m_processId = 0;
}

void FFMpegTools::throwIfStopped()
{
    if (!m_stopFlag || !m_stopFlag->load())
        return;
    if (m_process) {
        m_process->terminate();
        m_process->kill();
        m_process->waitForFinished(kReapMs);
    }
    releaseProcess();
    throw QString(QStringLiteral("停止"));
}
