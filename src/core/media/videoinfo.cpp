// SPDX-License-Identifier: MIT
#include "core/media/videoinfo.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

// The server compares these texts with its own records, so the number formats stay fixed:
// integers in decimal, frame rates in the general format with 6 significant digits.
QString integerText(const QString &text)
{
    return QString::number(text.toInt());
}

QString rateText(const QString &text)
{
    return QString::number(text.toFloat(), 'g', 6);
}

QString withoutLastWord(const QString &text)
{
    return text.section(QLatin1Char(' '), 0, -2);
}

} // namespace

VideoInfo::VideoInfo(QObject *parent)
    : QObject(parent)
{
}

void VideoInfo::setVideoStream(int slot, const VideoStream &stream)
{
    if (slot >= 0 && slot < StreamSlots)
        m_videoStreams[slot] = stream;
}

float VideoInfo::timeToSeconds(const QString &text)
{
    if (text.isEmpty())
        return 0;
    const QStringList parts = text.split(QLatin1Char(':'));
    float seconds = 0;
    switch (parts.size()) {
    case 3:
        seconds = parts.at(0).toFloat() * 3600;
        seconds += parts.at(1).toFloat() * 60;
        seconds += parts.at(2).toFloat();
        break;
    case 2:
        seconds = parts.at(0).toFloat() * 60;
        seconds += parts.at(1).toFloat();
        break;
    case 1: seconds = parts.at(0).toFloat(); break;
    default: break;
    }
    return seconds;
}

int VideoInfo::transform(VideoInfo *videoInfo, const QString &output)
{
    if (!videoInfo)
        return 2065;
    videoInfo->m_output = output;

    // "yuv420p(tv, bt709)" would otherwise split the pixel format across two fields of the
    // comma-separated stream line.
    static const QRegularExpression commaInGroup(QStringLiteral("(\\([^\\)]+?)\\,([^\\)]+?\\))"));
    QString cleaned = output;
    cleaned.replace(commaInGroup, QStringLiteral("\\1\\2"));

    static const QRegularExpression durationLine(
        QStringLiteral("Duration: (.*?), start: (.*?), bitrate: (\\d*) kb\\/s"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch duration = durationLine.match(cleaned);
    if (duration.hasMatch()) {
        videoInfo->m_duration = timeToSeconds(duration.captured(1));
        videoInfo->m_start = duration.captured(2).toFloat();
        videoInfo->m_bitrate = duration.captured(3);
    }

    videoInfo->readVideoLines(cleaned);

    static const QRegularExpression audioLine(QStringLiteral("Audio: ([^,]*), (\\d*) Hz"),
                                              QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch audio = audioLine.match(cleaned);
    if (audio.hasMatch()) {
        videoInfo->m_audioCodec = audio.captured(1);
        videoInfo->m_audioSampleRate = audio.captured(2);
    }

    const VideoStream &first = videoInfo->m_videoStreams[0];
    const bool usable = first.height != 0 && first.width != 0 && !first.bitrate.isEmpty() && !first.codec.isEmpty();
    return usable ? 0 : 1;
}

void VideoInfo::readVideoLines(const QString &cleaned)
{
    static const QRegularExpression videoLine(
        QStringLiteral("Video: (.*?), (.*?)[,]* ([\\d]{1,5}x[\\d]{1,5}.*?), (.*?), (.*?),[,\\s]"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression bitrateField(QStringLiteral(", ([\\d\\.]*) kb\\/s,"),
                                                 QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression fpsField(QStringLiteral(", ([\\d\\.]*) fps,"),
                                             QRegularExpression::CaseInsensitiveOption);

    QRegularExpressionMatchIterator it = videoLine.globalMatch(cleaned);
    for (int slot = 0; slot < StreamSlots && it.hasNext(); ++slot) {
        const QRegularExpressionMatch match = it.next();
        const QStringList size = match.captured(3).split(QLatin1Char('x'));
        const QString widthText = size.value(0);
        const QString heightText = size.value(1).section(QLatin1Char(' '), 0, 0);

        // Containers without per-stream bit rates (MKV) shift the fields, so either of the
        // two fields may hold either value.
        QString bitrate = QStringLiteral("0");
        QString fps = QStringLiteral("0");
        for (int field : {4, 5}) {
            const QString text = match.captured(field);
            if (text.contains(QLatin1String("kb/s")))
                bitrate = withoutLastWord(text);
        }
        for (int field : {4, 5}) {
            const QString text = match.captured(field);
            if (text.contains(QLatin1String("fps")))
                fps = withoutLastWord(text);
        }

        VideoStream &stream = m_videoStreams[slot];
        stream.codec = match.captured(1);
        stream.pixelFormat = match.captured(2);
        stream.width = widthText.toInt();
        stream.height = heightText.toInt();
        stream.bitrate = integerText(bitrate);
        stream.fps = rateText(fps);

        if (slot != 0)
            continue;
        if (stream.bitrate == QLatin1String("0"))
            stream.bitrate = integerText(bitrateField.match(cleaned).captured(1));
        if (stream.fps == QLatin1String("0")) {
            const QRegularExpressionMatch found = fpsField.match(cleaned);
            stream.fps = found.hasMatch() ? rateText(found.captured(1)) : QStringLiteral("0");
        }
        if (stream.bitrate == QLatin1String("0"))
            stream.bitrate = m_bitrate;
    }
}
