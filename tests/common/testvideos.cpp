// SPDX-License-Identifier: MIT
#include "testvideos.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {

constexpr int GenerateTimeLimitMs = 120 * 1000;

QString runFfmpeg(const QStringList &arguments, int *exitCode)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(TestVideos::ffmpeg(), arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted() || !process.waitForFinished(GenerateTimeLimitMs)) {
        *exitCode = -1;
        return process.errorString();
    }
    *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

QString TestVideos::ffmpeg()
{
    static const QString found = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    return found;
}

bool TestVideos::make(const QString &path, const TestVideoOptions &options)
{
    if (ffmpeg().isEmpty() || (!options.video && !options.audio))
        return false;

    const QString duration = QString::number(options.seconds);
    QStringList arguments{QStringLiteral("-hide_banner"), QStringLiteral("-nostdin"), QStringLiteral("-y"),
                          QStringLiteral("-loglevel"), QStringLiteral("error")};
    int audioInput = 0;
    if (options.video) {
        arguments << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
                  << QStringLiteral("testsrc=size=%1x%2:rate=%3:duration=%4")
                         .arg(options.width)
                         .arg(options.height)
                         .arg(options.fps)
                         .arg(duration);
        audioInput = 1;
    }
    if (options.audio) {
        arguments << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
                  << QStringLiteral("sine=frequency=440:sample_rate=44100:duration=%1").arg(duration);
    }
    if (options.video) {
        for (int i = 0; i < options.videoStreams; ++i)
            arguments << QStringLiteral("-map") << QStringLiteral("0:v");
        arguments << QStringLiteral("-c:v") << options.videoCodec << QStringLiteral("-pix_fmt")
                  << QStringLiteral("yuv420p");
        if (options.videoCodec == QLatin1String("libx264"))
            arguments << QStringLiteral("-preset") << QStringLiteral("ultrafast");
    }
    if (options.audio) {
        arguments << QStringLiteral("-map") << QStringLiteral("%1:a").arg(audioInput) << QStringLiteral("-c:a")
                  << options.audioCodec;
    }
    if (options.faststart)
        arguments << QStringLiteral("-movflags") << QStringLiteral("+faststart");
    if (!options.container.isEmpty())
        arguments << QStringLiteral("-f") << options.container;
    arguments << options.extraArguments << path;

    int exitCode = 0;
    const QString complaint = runFfmpeg(arguments, &exitCode);
    if (exitCode != 0 || !QFileInfo(path).isFile()) {
        qWarning().noquote() << QStringLiteral("TestVideos::make failed:") << complaint;
        return false;
    }
    return true;
}

QString TestVideos::describe(const QString &path)
{
    int exitCode = 0;
    return runFfmpeg({QStringLiteral("-i"), path, QStringLiteral("-threads"), QStringLiteral("1"),
                      QStringLiteral("-loglevel"), QStringLiteral("info")},
                     &exitCode);
}

QStringList TestVideos::silentRunArguments(const QString &marker, int seconds)
{
    // -re paces the null source in real time; the metadata carries the marker.
    return {QStringLiteral("-nostdin"),  QStringLiteral("-loglevel"),
            QStringLiteral("quiet"),     QStringLiteral("-re"),
            QStringLiteral("-f"),        QStringLiteral("lavfi"),
            QStringLiteral("-i"),        QStringLiteral("nullsrc=size=16x16:rate=5"),
            QStringLiteral("-t"),        QString::number(seconds),
            QStringLiteral("-metadata"), QStringLiteral("comment=") + marker,
            QStringLiteral("-f"),        QStringLiteral("null"),
            QStringLiteral("-")};
}

bool TestVideos::processRunningWith(const QString &text)
{
    const QByteArray needle = text.toUtf8();
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        QFile cmdline(QStringLiteral("/proc/") + entry + QStringLiteral("/cmdline"));
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(needle))
            return true;
    }
    return false;
}
