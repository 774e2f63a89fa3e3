// SPDX-License-Identifier: MIT
#include "core/media/videoinfo.h"
#include "testvideos.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString Duration = QStringLiteral("  Duration: 00:01:23.45, start: 0.021333, bitrate: 1500 kb/s\n");

// The number in front of "kb/s" in the stream line itself, found without the parser's
// patterns: what a reader of ffmpeg's output would call the stream's bit rate.
QString streamBitrate(const QString &output, const QString &kind)
{
    for (const QString &line : output.split(QLatin1Char('\n'))) {
        if (!line.contains(kind))
            continue;
        for (const QString &field : line.split(QStringLiteral(", "))) {
            if (field.endsWith(QLatin1String(" kb/s")))
                return field.section(QLatin1Char(' '), 0, 0);
        }
    }
    return {};
}

} // namespace

class TestVideoInfo final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void timeToSeconds_clockTexts_giveSeconds_data();
    void timeToSeconds_clockTexts_giveSeconds();

    void transform_streamLines_fillFirstSlot_data();
    void transform_streamLines_fillFirstSlot();
    void transform_nullTarget_returns2065();
    void transform_fourStreams_fillsThreeSlotsWithoutFallbacks();

    void transform_generatedFiles_readStreamFacts_data();
    void transform_generatedFiles_readStreamFacts();

private:
    QTemporaryDir m_dir;
};

void TestVideoInfo::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(!TestVideos::ffmpeg().isEmpty(), "ffmpeg is needed to generate test media");
}

void TestVideoInfo::timeToSeconds_clockTexts_giveSeconds_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<float>("seconds");

    QTest::newRow("hours minutes seconds") << QStringLiteral("00:01:23.45") << 83.45f;
    QTest::newRow("long transcode") << QStringLiteral("10:30:15.5") << 37815.5f;
    QTest::newRow("minutes seconds") << QStringLiteral("02:03") << 123.0f;
    QTest::newRow("seconds only") << QStringLiteral("3.5") << 3.5f;
    QTest::newRow("empty") << QString() << 0.0f;
    QTest::newRow("not available") << QStringLiteral("N/A") << 0.0f;
    QTest::newRow("four parts") << QStringLiteral("1:2:3:4") << 0.0f;
    QTest::newRow("unreadable part counts zero") << QStringLiteral("aa:10") << 10.0f;
    QTest::newRow("empty part kept") << QStringLiteral("10:") << 600.0f;
}

void TestVideoInfo::timeToSeconds_clockTexts_giveSeconds()
{
    QFETCH(QString, text);
    QFETCH(float, seconds);
    QCOMPARE(VideoInfo::timeToSeconds(text), seconds);
}

void TestVideoInfo::transform_streamLines_fillFirstSlot_data()
{
    // clang-format off
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("codec");
    QTest::addColumn<QString>("pixelFormat");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QString>("bitrate");
    QTest::addColumn<QString>("fps");
    QTest::addColumn<float>("duration");
    QTest::addColumn<QString>("overallBitrate");

    QTest::newRow("worked example")
        << Duration
               + QStringLiteral("    Stream #0:0: Video: h264 (High), yuv420p(tv, bt709), 1920x1080 "
                                "[SAR 1:1 DAR 16:9], 4000 kb/s, 25 fps, 25 tbr\n")
        << 0 << QStringLiteral("h264 (High)") << QStringLiteral("yuv420p(tv bt709)") << 1920
        << 1080 << QStringLiteral("4000") << QStringLiteral("25") << 83.45f
        << QStringLiteral("1500");
    QTest::newRow("three-part colour group keeps later commas")
        << Duration
               + QStringLiteral("    Stream #0:0: Video: hevc (Main 10), yuv420p10le(tv, bt2020nc, "
                                "progressive), 3840x2160, 9000 kb/s, 29.97 fps, 29.97 tbr\n")
        << 0 << QStringLiteral("hevc (Main 10)") << QStringLiteral("yuv420p10le(tv bt2020nc, progressive)")
        << 3840 << 2160 << QStringLiteral("9000") << QStringLiteral("29.97") << 83.45f
        << QStringLiteral("1500");
    QTest::newRow("decimal bit rate falls back to overall")
        << Duration
               + QStringLiteral("    Stream #0:0: Video: h264, yuv420p, 640x480, 1234.5 kb/s, "
                                "29.97 fps, 29.97 tbr, 90k tbn\n")
        << 0 << QStringLiteral("h264") << QStringLiteral("yuv420p") << 640 << 480
        << QStringLiteral("1500") << QStringLiteral("29.97") << 83.45f << QStringLiteral("1500");
    QTest::newRow("bit rate fallback takes first rate in whole text")
        << Duration
               + QStringLiteral("    Stream #0:0: Video: mjpeg (Baseline), yuvj420p(pc, bt470bg/unknown), "
                                "640x480 [SAR 1:1 DAR 4:3], 90k tbr, 90k tbn, 90k tbc\n"
                                "    Stream #0:1: Data: bin_data, 300 kb/s, 7 fps, x\n")
        << 0 << QStringLiteral("mjpeg (Baseline)") << QStringLiteral("yuvj420p(pc bt470bg/unknown)")
        << 640 << 480 << QStringLiteral("300") << QStringLiteral("7") << 83.45f
        << QStringLiteral("1500");
    QTest::newRow("duration not available, rate in stream line")
        << QStringLiteral("  Duration: N/A, start: 0.000000, bitrate: N/A\n"
                          "    Stream #0:0: Video: h264 (Main), yuv420p, 1280x720, 2500 kb/s, "
                          "30 fps, 30 tbr\n")
        << 0 << QStringLiteral("h264 (Main)") << QStringLiteral("yuv420p") << 1280 << 720
        << QStringLiteral("2500") << QStringLiteral("30") << 0.0f << QString();
    QTest::newRow("duration not available, no rate anywhere")
        << QStringLiteral("  Duration: N/A, start: 0.000000, bitrate: N/A\n"
                          "    Stream #0:0: Video: h264 (High), yuv420p(tv, progressive), 320x240 "
                          "[SAR 1:1 DAR 4:3], 25 fps, 25 tbr, 1k tbn\n")
        << 1 << QStringLiteral("h264 (High)") << QStringLiteral("yuv420p(tv progressive)") << 320
        << 240 << QString() << QStringLiteral("25") << 0.0f << QString();
    QTest::newRow("no video line")
        << Duration + QStringLiteral("    Stream #0:0: Audio: mp3, 44100 Hz, stereo, fltp, 128 kb/s\n")
        << 1 << QString() << QString() << 0 << 0 << QString() << QString() << 83.45f
        << QStringLiteral("1500");
    QTest::newRow("empty output") << QString() << 1 << QString() << QString() << 0 << 0 << QString()
                                  << QString() << 0.0f << QString();
    // clang-format on
}

void TestVideoInfo::transform_streamLines_fillFirstSlot()
{
    QFETCH(QString, output);
    QFETCH(int, result);

    VideoInfo info;
    QCOMPARE(VideoInfo::transform(&info, output), result);
    QCOMPARE(info.output(), output);

    const VideoStream &slot = info.videoStreams()[0];
    QTEST(slot.codec, "codec");
    QTEST(slot.pixelFormat, "pixelFormat");
    QTEST(slot.width, "width");
    QTEST(slot.height, "height");
    QTEST(slot.bitrate, "bitrate");
    QTEST(slot.fps, "fps");
    QTEST(info.duration(), "duration");
    QTEST(info.bitrate(), "overallBitrate");
}

void TestVideoInfo::transform_nullTarget_returns2065()
{
    QCOMPARE(VideoInfo::transform(nullptr, Duration), 2065);
}

void TestVideoInfo::transform_fourStreams_fillsThreeSlotsWithoutFallbacks()
{
    const QString output = Duration
                           + QStringLiteral("    Stream #0:0: Video: h264, yuv420p, 100x110, 25 fps, 25 tbr, 1k tbn\n"
                                            "    Stream #0:1: Video: h264, yuv420p, 200x210, 25 fps, 25 tbr, 1k tbn\n"
                                            "    Stream #0:2: Video: vp9, yuv420p, 300x310, 1k tbr, 1k tbn, 1k tbc\n"
                                            "    Stream #0:3: Video: av1, yuv420p, 400x410, 700 kb/s, 50 fps, 50 tbr\n"
                                            "    Stream #0:4: Audio: opus, 48000 Hz, stereo, fltp\n");
    VideoInfo info;
    QCOMPARE(VideoInfo::transform(&info, output), 0);

    const VideoInfo::VideoStreams &streams = info.videoStreams();
    QCOMPARE(streams[0].width, 100);
    // Slot 0 falls back through the whole text: the fourth stream's rate is the first one.
    QCOMPARE(streams[0].bitrate, QStringLiteral("700"));
    QCOMPARE(streams[1].width, 200);
    QCOMPARE(streams[1].bitrate, QStringLiteral("0"));
    QCOMPARE(streams[1].fps, QStringLiteral("25"));
    QCOMPARE(streams[2].codec, QStringLiteral("vp9"));
    QCOMPARE(streams[2].height, 310);
    QCOMPARE(streams[2].bitrate, QStringLiteral("0"));
    QCOMPARE(streams[2].fps, QStringLiteral("0"));
    QCOMPARE(info.audioCodec(), QStringLiteral("opus"));
    QCOMPARE(info.audioSampleRate(), QStringLiteral("48000"));
}

void TestVideoInfo::transform_generatedFiles_readStreamFacts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("video");
    QTest::addColumn<int>("videoStreams");
    QTest::addColumn<bool>("audio");
    QTest::addColumn<int>("result");

    QTest::newRow("h264 and aac in mp4") << QStringLiteral("clip.mp4") << true << 1 << true << 0;
    QTest::newRow("matroska without stream rates") << QStringLiteral("clip.mkv") << true << 1 << false << 0;
    QTest::newRow("audio only") << QStringLiteral("sound.m4a") << false << 0 << true << 1;
    QTest::newRow("four video streams") << QStringLiteral("four.mp4") << true << 4 << false << 0;
}

void TestVideoInfo::transform_generatedFiles_readStreamFacts()
{
    QFETCH(QString, name);
    QFETCH(bool, video);
    QFETCH(int, videoStreams);
    QFETCH(bool, audio);
    TestVideoOptions options;
    options.seconds = 2;
    options.fps = 15;
    options.video = video;
    options.videoStreams = videoStreams;
    options.audio = audio;
    const QString path = m_dir.filePath(name);
    QVERIFY(TestVideos::make(path, options));
    const QString output = TestVideos::describe(path);
    QCOMPARE(output.count(QStringLiteral("Video:")), videoStreams);

    VideoInfo info;
    QTEST(VideoInfo::transform(&info, output), "result");
    QVERIFY(qAbs(info.duration() - 2.0f) < 0.1f);
    QVERIFY(!info.bitrate().isEmpty());
    QCOMPARE(info.audioSampleRate(), audio ? QStringLiteral("44100") : QString());
    QCOMPARE(info.audioCodec().startsWith(QLatin1String("aac")), audio);
    QCOMPARE(info.videoStreams()[0].width, video ? 64 : 0);
    QCOMPARE(info.videoStreams()[0].height, video ? 48 : 0);

    // A stream line without its own rate (Matroska) takes the overall rate.
    const QString lineRate = streamBitrate(output, QStringLiteral("Video:"));
    for (int slot = 0; slot < qMin(videoStreams, VideoInfo::StreamSlots); ++slot) {
        const VideoStream &stream = info.videoStreams()[slot];
        QVERIFY2(stream.codec.startsWith(QLatin1String("h264 (")), qPrintable(stream.codec));
        // "yuv420p(tv, progressive)" must stay whole, not be cut at its comma.
        QVERIFY2(stream.pixelFormat.startsWith(QLatin1String("yuv420p("))
                     && stream.pixelFormat.endsWith(QLatin1Char(')')),
                 qPrintable(stream.pixelFormat));
        QCOMPARE(stream.width, 64);
        QCOMPARE(stream.fps, QStringLiteral("15"));
        QCOMPARE(stream.bitrate, lineRate.isEmpty() ? info.bitrate() : lineRate);
    }
}

QTEST_GUILESS_MAIN(TestVideoInfo)
#include "tst_videoinfo.moc"
