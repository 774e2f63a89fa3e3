// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes as setting.ini to the start-up check and load: never a crash, and
// a file that passes the check is left as it was.
#include "core/session/startupsettings.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtGlobal>

#include <cstdint>
#include <cstdlib>

static void quietMessages(QtMsgType, const QMessageLogContext &, const QString &)
{
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = (qInstallMessageHandler(quietMessages), true);
    (void)quiet;
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("setting.ini"));
    const QByteArray bytes(reinterpret_cast<const char *>(data), int(size));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(bytes);
    }
    const bool good = StartupSettings::isGood(path);
    StartupSettings::load(path);
    if (good) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || file.readAll() != bytes)
            std::abort();
    } else if (!StartupSettings::isGood(path) && !StartupSettings::schoolId().isEmpty()) {
        // A rewritten file holds the current values; it may fail the check again only
        // because one of them is empty.
        std::abort();
    }
    StartupSettings::resetToDefaults();
    return 0;
}
