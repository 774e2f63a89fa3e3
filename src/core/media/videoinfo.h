// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>

#include <array>

// One "Video:" line of ffmpeg's description of an input. Rates are kept as the texts the
// server receives.
struct VideoStream
{
    QString bitrate; // kb/s as a decimal integer, or "0"
    QString fps;     // up to 6 significant digits, or "0"
    QString codec;
    QString pixelFormat;
    int width = 0;
    int height = 0;
};

// What ffmpeg told us about one media file, plus what the file itself says about its MP4
// layout. Filled by transform() from the text of "ffmpeg -i <file>"; the size and the two
// layout flags are added by the probe that ran ffmpeg.
class VideoInfo final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(VideoInfo)

public:
    static constexpr int StreamSlots = 3;
    using VideoStreams = std::array<VideoStream, StreamSlots>;

    explicit VideoInfo(QObject *parent = nullptr);

    // 0 when the text describes a usable video, 1 otherwise, 2065 for a null target.
    // Partial facts stay in the target even when the result is 1.
    static int transform(VideoInfo *videoInfo, const QString &output);

    // ffmpeg's clock texts ("01:02:03.45", "02:03", "3.5") in seconds; "N/A" gives 0.
    static float timeToSeconds(const QString &text);

    float duration() const { return m_duration; }
    float start() const { return m_start; }
    QString bitrate() const { return m_bitrate; }
    const VideoStreams &videoStreams() const { return m_videoStreams; }
    QString audioCodec() const { return m_audioCodec; }
    QString audioSampleRate() const { return m_audioSampleRate; }
    qint64 size() const { return m_size; }
    QString output() const { return m_output; }
    bool moovAheadMdat() const { return m_moovAheadMdat; }
    bool nuvMp4() const { return m_nuvMp4; }

    void setDuration(float seconds) { m_duration = seconds; }
    void setStart(float seconds) { m_start = seconds; }
    void setBitrate(const QString &kbps) { m_bitrate = kbps; }
    void setVideoStream(int slot, const VideoStream &stream);
    void setAudioCodec(const QString &codec) { m_audioCodec = codec; }
    void setAudioSampleRate(const QString &hz) { m_audioSampleRate = hz; }
    // 64-bit: files over 4 GiB are ordinary for video.
    void setSize(qint64 bytes) { m_size = bytes; }
    void setOutput(const QString &text) { m_output = text; }
    void setMoovAheadMdat(bool value) { m_moovAheadMdat = value; }
    void setNuvMp4(bool value) { m_nuvMp4 = value; }

private:
    void readVideoLines(const QString &cleaned);

    float m_duration = 0;
    float m_start = 0;
    QString m_bitrate;
    VideoStreams m_videoStreams;
    QString m_audioCodec;
    QString m_audioSampleRate;
    qint64 m_size = 0;
    QString m_output;
    bool m_moovAheadMdat = false;
    bool m_nuvMp4 = false;
};
