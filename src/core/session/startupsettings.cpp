// SPDX-License-Identifier: MIT
#include "core/session/startupsettings.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSettings>
#include <QTextStream>

namespace {

const QString DefaultDomain = QStringLiteral("https://localhost");

struct Values
{
    QString domain = DefaultDomain;
    QString schoolId;
    QString get;
    QString post;
    // The group "network" as the file had it, unknown keys included.
    QVariantMap network;
};

QMutex g_mutex;
Values g_values;

Values snapshot()
{
    QMutexLocker locker(&g_mutex);
    return g_values;
}

void openIni(QSettings &settings)
{
    // Without it QSettings writes non-ASCII values as escapes.
    settings.setIniCodec("UTF-8");
}

} // namespace

namespace StartupSettings {

// clang-format off
QString domain() { return snapshot().domain; }
QString schoolId() { return snapshot().schoolId; }
QString urlGet() { return snapshot().get; }
QString urlPost() { return snapshot().post; }
// clang-format on

ClientOptions clientOptions()
{
    return ClientOptions().withNetworkSettings(snapshot().network);
}

bool isGood(const QString &path)
{
    QFile file(path);
    if (!file.exists() || QFileInfo(path).size() == 0 || !file.open(QIODevice::ReadOnly))
        return false;
    while (!file.atEnd()) {
        QString line = QString::fromUtf8(file.readLine());
        line.remove(QLatin1Char('\r'));
        line.remove(QLatin1Char('\n'));
        const QStringList parts = line.split(QLatin1Char('='));
        if (parts.size() == 2 && parts.at(1).isEmpty())
            return false;
    }
    return true;
}

void writeCurrent(const QString &path)
{
    const Values values = snapshot();
    QFile::remove(path);
    QSettings settings(path, QSettings::IniFormat);
    openIni(settings);
    settings.setValue(QStringLiteral("domain"), values.domain);
    settings.setValue(QStringLiteral("schoolId"), values.schoolId);
    settings.beginGroup(QStringLiteral("url"));
    settings.setValue(QStringLiteral("get"), values.get);
    settings.setValue(QStringLiteral("post"), values.post);
    settings.endGroup();
    // As the administrator wrote it; the switch is shown even where it was never set.
    settings.beginGroup(QStringLiteral("network"));
    if (!values.network.contains(QStringLiteral("verifyCertificates")))
        settings.setValue(QStringLiteral("verifyCertificates"), true);
    for (auto it = values.network.constBegin(); it != values.network.constEnd(); ++it)
        settings.setValue(it.key(), it.value());
    settings.endGroup();
    settings.sync();
}

void read(const QString &path)
{
    QSettings settings(path, QSettings::IniFormat);
    openIni(settings);
    Values values;
    values.domain = settings.value(QStringLiteral("domain")).toString();
    values.schoolId = settings.value(QStringLiteral("schoolId")).toString();
    settings.beginGroup(QStringLiteral("url"));
    values.get = settings.value(QStringLiteral("get")).toString();
    values.post = settings.value(QStringLiteral("post")).toString();
    settings.endGroup();
    QMutexLocker locker(&g_mutex);
    values.network = g_values.network;
    g_values = values;
}

void load(const QString &path)
{
    if (QFile::exists(path)) {
        QSettings settings(path, QSettings::IniFormat);
        openIni(settings);
        QVariantMap network;
        settings.beginGroup(QStringLiteral("network"));
        for (const QString &key : settings.childKeys())
            network.insert(key, settings.value(key));
        settings.endGroup();
        QMutexLocker locker(&g_mutex);
        g_values.network = network;
    }
    if (isGood(path))
        read(path);
    else
        writeCurrent(path);
}

ClientOptions loadOptions(const QString &dataFolder)
{
    load(dataFolder + QStringLiteral("/setting.ini"));
    ClientOptions options = clientOptions();
    options.dataFolder = dataFolder;
    return options;
}

void resetToDefaults()
{
    QMutexLocker locker(&g_mutex);
    g_values = Values();
}

} // namespace StartupSettings
