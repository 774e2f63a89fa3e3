// SPDX-License-Identifier: MIT
#include "app/startup.h"

#include "core/log/logfolder.h"
#include "core/platform/appdirs.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>

namespace {

const char RequiredQt[] = "5.12.3";

int versionNumber(const QString &version)
{
    const QStringList parts = version.split(QLatin1Char('.'));
    const auto part = [&parts](int i) { return i < parts.size() ? parts.at(i).toInt() : 0; };
    return part(0) * 65536 + part(1) * 256 + part(2);
}

void writeBanner(const char *middleLine)
{
    const QString rule(64, QLatin1Char('#'));
    qInfo().noquote() << rule;
    qInfo("%s", middleLine);
    qInfo().noquote() << rule;
}

bool loadTranslator(QApplication &app, const QString &path)
{
    auto *translator = new QTranslator(&app);
    if (!translator->load(path)) {
        delete translator;
        return false;
    }
    app.installTranslator(translator);
    return true;
}

} // namespace

namespace Startup {

QString launchTextFromArguments(QStringList arguments)
{
    if (arguments.size() > 2)
        arguments.removeFirst();
    return arguments.size() >= 2 ? arguments.at(1) : QString();
}

void checkQtVersion()
{
    const QString runtime = QString::fromLatin1(qVersion());
    if (versionNumber(runtime) >= versionNumber(QString::fromLatin1(RequiredQt)))
        return;
    const QString text = QStringLiteral("Executable '%1' requires Qt %2, found Qt %3.")
                             .arg(QCoreApplication::applicationName(), QString::fromLatin1(RequiredQt), runtime);
    QMessageBox::critical(nullptr, QStringLiteral("Incompatible Qt Library Error"), text);
    qFatal("%s", qPrintable(text));
}

void prepareLogs(const QStringList &arguments)
{
    prepareLogFolder(AppDirs::logsFolder());

    writeBanner("#                          START                               #");
    qInfo().noquote() << QStringLiteral("currentPath:") + QDir::currentPath();
    qInfo().noquote() << QStringLiteral("applicationDirPath:") + QCoreApplication::applicationDirPath();
    qInfo().noquote() << QStringLiteral("arguments:") + arguments.join(QLatin1Char(','));
    qDebug() << "cmdline_args:" << arguments;
}

void applyStyleSheet(QApplication &app)
{
    QFile css(QStringLiteral(":/assets/style/default.css"));
    if (css.open(QIODevice::ReadOnly))
        app.setStyleSheet(QString::fromUtf8(css.readAll()));
}

void installTranslations(QApplication &app)
{
    const QLocale::Country country = QLocale::system().country();
    const bool chinese = country == QLocale::China || country == QLocale::HongKong || country == QLocale::Taiwan;
    loadTranslator(app, chinese ? QStringLiteral(":/assets/i18n/zh_CN.qm") : QStringLiteral(":/assets/i18n/en_US.qm"));
    if (chinese) {
        loadTranslator(app, QStringLiteral(":/assets/i18n/qt_zh_CN.qm"));
        loadTranslator(app, QStringLiteral(":/assets/i18n/qtbase_zh_CN.qm"));
    }
}

void writeStopBanner()
{
    writeBanner("#                          STOP                                #");
}

} // namespace Startup
