// SPDX-License-Identifier: MIT
// Feeds arbitrary text to the media-facts parser and to the transcode progress parser.
#include "core/media/ffmpegtools.h"
#include "core/media/videoinfo.h"

#include <QString>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>

namespace {

void dropMessage(QtMsgType, const QMessageLogContext &, const QString &)
{
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool silenced = [] {
        qInstallMessageHandler(dropMessage);
        return true;
    }();
    Q_UNUSED(silenced)

    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), int(size));

    VideoInfo info;
    VideoInfo::transform(&info, text);
    VideoInfo::timeToSeconds(text.left(32));

    FFMpegTools tools;
    tools.setClock([] { return qint64(1700000000); });
    tools.setDuration(qint64(size % 7200));
    tools.handleOutput(text);
    return 0;
}
