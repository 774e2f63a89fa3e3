// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes to the MP4 layout probe as a file on disk.
#include "core/media/nuvmp4info.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <unistd.h>

namespace {

void dropMessage(QtMsgType, const QMessageLogContext &, const QString &)
{
}

QString &scratchFile()
{
    // Shared memory when available: one file write per input is the main cost.
    static QString path =
        (QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm") : QDir::tempPath())
        + QStringLiteral("/fuzz_mp4probe-%1.mp4").arg(::getpid());
    return path;
}

void removeScratchFile()
{
    QFile::remove(scratchFile());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const QString path = [] {
        qInstallMessageHandler(dropMessage);
        const QString scratch = scratchFile(); // built before the exit hook, so it outlives it
        std::atexit(removeScratchFile);
        return scratch;
    }();

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 0;
    file.write(reinterpret_cast<const char *>(data), qint64(size));
    file.close();

    bool moovAheadMdat = false;
    bool nuvMp4 = false;
    NuvMp4Info::get(path, &moovAheadMdat, &nuvMp4);
    return 0;
}
