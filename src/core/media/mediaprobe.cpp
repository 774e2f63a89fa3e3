// SPDX-License-Identifier: MIT
#include "core/media/mediaprobe.h"

#include "core/media/ffmpegtools.h"
#include "core/media/videoinfo.h"

#include <QDebug>
#include <QFileInfo>

namespace {

QString firstWord(const QString &text)
{
    const int blank = text.indexOf(QLatin1Char(' '));
    return blank < 0 ? text : text.left(blank);
}

} // namespace

namespace MediaProbe {

const QStringList &acceptedSuffixes()
{
    static const QStringList suffixes{QStringLiteral(".mp4"),  QStringLiteral(".mov"), QStringLiteral(".mkv"),
                                      QStringLiteral(".webm"), QStringLiteral(".avi"), QStringLiteral(".navi"),
                                      QStringLiteral(".flv"),  QStringLiteral(".wmv"), QStringLiteral(".3gp"),
                                      QStringLiteral(".mpg"),  QStringLiteral(".vob"), QStringLiteral(".ogg"),
                                      QStringLiteral(".rmvb"), QStringLiteral(".asf"), QStringLiteral(".f4v"),
                                      QStringLiteral(".rm"),   QStringLiteral(".ram")};
    return suffixes;
}

bool hasAcceptedSuffix(const QString &path)
{
    for (const QString &suffix : acceptedSuffixes()) {
        if (path.endsWith(suffix, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

QString nameFilter()
{
    // No ";" after the closing parenthesis: with it the dialog no longer reads the text as
    // "name (patterns)" but as blank-separated patterns, the last one "*.ram);".
    QStringList patterns;
    for (const QString &suffix : acceptedSuffixes())
        patterns.append(QLatin1Char('*') + suffix);
    return QStringLiteral("Video File( ") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
}

UploadFileInfo recordOf(const QString &path, const QString &uuid)
{
    const QFileInfo info(path);
    UploadFileInfo record;
    record.uuid = uuid;
    record.path = path;
    record.name = info.fileName();
    record.suffix = QLatin1Char('.') + record.name.mid(record.name.lastIndexOf(QLatin1Char('.')) + 1);
    record.size = info.size();
    return record;
}

int probe(UploadFileInfo *record)
{
    FFMpegTools ffmpegTools;
    VideoInfo info;
    const int result = ffmpegTools.info(&info, record->path);
    if (result != 0) {
        qDebug().noquote() << QStringLiteral("ffmpegTools.info:") << record->path;
        return result;
    }
    const VideoStream &video = info.videoStreams().at(0);
    record->duration = qint64(info.duration());
    record->videoCodec = firstWord(video.codec);
    record->mp4Format = info.moovAheadMdat();
    record->nuvVideo = info.nuvMp4();
    record->rate = firstWord(video.bitrate);
    record->width = video.width;
    record->height = video.height;
    record->audioCodec = firstWord(info.audioCodec());
    return 0;
}

QString failureText(int result)
{
    const QString cause = FFMpegTools::failureCause(result);
    return QStringLiteral("获取上传文件信息失败,%1(%2)")
        .arg(cause.isEmpty() ? QStringLiteral("请确认文件为有效视频") : cause)
        .arg(result);
}

QJsonObject facts(const UploadFileInfo &record)
{
    return QJsonObject{
        {QStringLiteral("name"), record.name},
        {QStringLiteral("suffix"), record.suffix},
        {QStringLiteral("size"), double(record.size)},
        {QStringLiteral("duration"), double(record.duration)},
        {QStringLiteral("videoCodec"), record.videoCodec},
        {QStringLiteral("mp4Format"), record.mp4Format},
        {QStringLiteral("nuvVideo"), record.nuvVideo},
        {QStringLiteral("rate"), record.rate},
        {QStringLiteral("width"), record.width},
        {QStringLiteral("height"), record.height},
        {QStringLiteral("audioCodec"), record.audioCodec},
    };
}

} // namespace MediaProbe
