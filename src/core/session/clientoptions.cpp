// SPDX-License-Identifier: MIT
#include "core/session/clientoptions.h"

#include "core/platform/appdirs.h"

#include <QDebug>

namespace {

// A limit longer than a day is a typing error, and the timers count milliseconds in 32 bits.
constexpr int MaxLimitSeconds = 24 * 60 * 60;

// A whole number of seconds in 1..MaxLimitSeconds, as milliseconds; fallback otherwise. The
// file never turns a limit off: a server that stops answering must not hang an upload.
int limitMs(const QVariantMap &network, const QString &key, int fallback)
{
    const auto found = network.constFind(key);
    if (found == network.constEnd())
        return fallback;
    bool ok = false;
    const int seconds = found->toString().trimmed().toInt(&ok);
    if (!ok || seconds < 1 || seconds > MaxLimitSeconds) {
        qWarning().noquote() << QStringLiteral("setting.ini: [network] %1=%2 ignored (1 to %3 seconds)")
                                    .arg(key, found->toString())
                                    .arg(MaxLimitSeconds);
        return fallback;
    }
    return seconds * 1000;
}

// "false" or "0" is off, any other text on; an empty value is no choice at all, so a key
// left blank never turns certificate checks off.
bool switchValue(const QVariantMap &network, const QString &key, bool fallback)
{
    const QString text = network.value(key).toString().trimmed();
    return text.isEmpty() ? fallback : QVariant(text).toBool();
}

} // namespace

QString ClientOptions::logsFolder() const
{
    return folder() + QStringLiteral("/logs");
}

QString ClientOptions::tmpFolder() const
{
    return folder() + QStringLiteral("/tmp");
}

QString ClientOptions::resumeFolder() const
{
    return folder() + QStringLiteral("/resume");
}

QString ClientOptions::folder() const
{
    return dataFolder.isEmpty() ? AppDirs::dataFolder() : dataFolder;
}

ClientOptions ClientOptions::withNetworkSettings(const QVariantMap &network) const
{
    ClientOptions options = *this;
    options.verifyCertificates = switchValue(network, QStringLiteral("verifyCertificates"), verifyCertificates);
    options.stallTimeoutMs = limitMs(network, QStringLiteral("stallLimitSeconds"), stallTimeoutMs);
    options.chunkRequestTimeoutMs = limitMs(network, QStringLiteral("chunkLimitSeconds"), chunkRequestTimeoutMs);
    options.outageLimitSeconds =
        limitMs(network, QStringLiteral("outageLimitSeconds"), outageLimitSeconds * 1000) / 1000;
    options.resumeAcrossRestarts = switchValue(network, QStringLiteral("resumeAcrossRestarts"), resumeAcrossRestarts);
    return options;
}
