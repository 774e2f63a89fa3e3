// SPDX-License-Identifier: MIT
#include "media/ffmpegtools.h"
#include "media/videoinfo.h"
#include "platform/appdirs.h"
#include "testvideos.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

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

    void buildArguments_templates_substituteAfterSplitting_data();
    void buildArguments_templates_substituteAfterSplitting();

private:
    QTemporaryDir m_dir;
    QString m_plain;
    QString m_fast;
    QString m_awkward;
};

void TestFFMpegTools::initTestCase()
{
    QVERIFY(m_dir.isValid());
    AppDirs::setDataFolderOverride(m_dir.path());
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
    QTest::newRow("text named mp4") << m_dir.filePath(QStringLiteral("notes.mp4"))
                                    << QByteArray("not a video\n") << 1 << false;
    QTest::newRow("missing file") << m_dir.filePath(QStringLiteral("missing.mp4")) << QByteArray() << 1
                                  << false;
}

void TestFFMpegTools::info_files_giveFactsAndLayout()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, content);
    QFETCH(int, result);
    QFETCH(bool, moovAheadMdat);
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
    // A transcode without ffmpeg does nothing and says nothing; the caller's probe finds out.
    QSignalSpy progress(&tools, &FFMpegTools::formatProcessSignal);
    const QString target = m_dir.filePath(QStringLiteral("never.mp4"));
    QCOMPARE(tools.format(QStringList{QStringLiteral("-i"), m_fast, target}), 0);
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

void TestFFMpegTools::buildArguments_templates_substituteAfterSplitting_data()
{
    QTest::addColumn<QString>("argumentTemplate");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QStringList>("expected");

    const QString target = QStringLiteral("tmp/NR_7.mp4");
    QTest::newRow("server template")
        << QStringLiteral("{ffmpegPath} -y -i \"{source}\" -vf scale=-2:480 \"{target}\" -loglevel info")
        << QStringLiteral("/home/u/My Videos/a.mp4")
        << QStringList{QStringLiteral("-y"), QStringLiteral("-i"), QStringLiteral("/home/u/My Videos/a.mp4"),
                       QStringLiteral("-vf"), QStringLiteral("scale=-2:480"), target,
                       QStringLiteral("-loglevel"), QStringLiteral("info")};
    QTest::newRow("quote in path stays inside its argument")
        << QStringLiteral("-i \"{source}\" \"{target}\"") << QStringLiteral("/v/say \"hi\" now.mp4")
        << QStringList{QStringLiteral("-i"), QStringLiteral("/v/say \"hi\" now.mp4"), target};
    QTest::newRow("inserted text is not substituted again")
        << QStringLiteral("-i {source} {target}") << QStringLiteral("/v/{target}.mp4")
        << QStringList{QStringLiteral("-i"), QStringLiteral("/v/{target}.mp4"), target};
    QTest::newRow("placeholder inside an argument")
        << QStringLiteral("-i {source} -passlogfile {target}.log {target}") << QStringLiteral("/v/a.mp4")
        << QStringList{QStringLiteral("-i"), QStringLiteral("/v/a.mp4"), QStringLiteral("-passlogfile"),
                       target + QStringLiteral(".log"), target};
    QTest::newRow("template without target") << QStringLiteral("{ffmpegPath}{ffmpegPath} -i {source}")
                                             << QStringLiteral("/v/a.mp4")
                                             << QStringList{QStringLiteral("-i"), QStringLiteral("/v/a.mp4")};
}

void TestFFMpegTools::buildArguments_templates_substituteAfterSplitting()
{
    QFETCH(QString, argumentTemplate);
    QFETCH(QString, source);
    const FFMpegTools::Substitutions substitutions{
        {QStringLiteral("{ffmpegPath}"), QString()},
        {QStringLiteral("{source}"), source},
        {QStringLiteral("{target}"), QStringLiteral("tmp/NR_7.mp4")}};
    QTEST(FFMpegTools::buildArguments(argumentTemplate, substitutions), "expected");
}

QTEST_GUILESS_MAIN(TestFFMpegTools)
#include "tst_ffmpegtools.moc"
