// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

// What a generated clip looks like. The defaults are the smallest clip that still is an
// ordinary H.264 + AAC file, so tests stay fast.
struct TestVideoOptions
{
    double seconds = 1.0;
    int width = 64;
    int height = 48;
    int fps = 10;
    QString container;      // ffmpeg's -f name; empty: chosen from the file suffix
    bool faststart = false; // MP4: index (moov) before the media data
    bool video = true;
    int videoStreams = 1; // the same picture mapped this many times
    bool audio = true;
    QString videoCodec = QStringLiteral("libx264");
    QString audioCodec = QStringLiteral("aac");
    QStringList extraArguments; // output options appended before the path
};

// Generates test media with ffmpeg's lavfi sources at test time; no media is committed.
class TestVideos final
{
public:
    TestVideos() = delete;

    // The system ffmpeg, looked up once, so tests that empty PATH can still generate clips.
    static QString ffmpeg();

    // Writes the clip to path (overwriting); false when ffmpeg is missing or failed, with
    // ffmpeg's complaint in the warning log.
    static bool make(const QString &path, const TestVideoOptions &options = {});

    // What "ffmpeg -i path" prints: the text the media-facts parser reads.
    static QString describe(const QString &path);

    // Arguments of an ffmpeg that runs for `seconds` in real time, prints nothing and writes
    // nothing; `marker` ends up in its command line so a test can find it in /proc.
    static QStringList silentRunArguments(const QString &marker, int seconds);

    // Whether any process on the machine has `text` in its command line, read straight from
    // /proc: how a test sees that no ffmpeg was left behind.
    static bool processRunningWith(const QString &text);
};
