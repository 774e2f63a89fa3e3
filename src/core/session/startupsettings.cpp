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
    bool verifyCertificates = true;
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
bool verifyCertificates() { return snapshot().verifyCertificates; }
// clang-format on

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
    settings.setValue(QStringLiteral("network/verifyCertificates"), values.verifyCertificates);
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
    values.verifyCertificates = g_values.verifyCertificates;
    g_values = values;
}

void load(const QString &path)
{
    if (QFile::exists(path)) {
        QSettings settings(path, QSettings::IniFormat);
        openIni(settings);
        const bool verify = settings.value(QStringLiteral("network/verifyCertificates"), true).toBool();
        QMutexLocker locker(&g_mutex);
        g_values.verifyCertificates = verify;
    }
    if (isGood(path))
        read(path);
    else
        writeCurrent(path);
}

void resetToDefaults()
{
    QMutexLocker locker(&g_mutex);
    g_values = Values();
}

} // namespace StartupSettings
