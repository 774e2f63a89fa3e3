// SPDX-License-Identifier: MIT
// nuvupload-cli: the session and the pipeline of NUVUpload without a window.
#include "cli/cliarguments.h"
#include "cli/clirunner.h"
#include "core/log/initializelogger.h"
#include "core/log/logfolder.h"
#include "core/media/ffmpegtools.h"
#include "core/platform/appdirs.h"
#include "core/platform/signalwatcher.h"
#include "core/session/startupsettings.h"

#include <QCoreApplication>
#include <QDebug>
#include <QTextCodec>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The same per-user folders as the window when the program folder is not writable.
    QCoreApplication::setApplicationName(QStringLiteral("NUVUpload"));
    QCoreApplication::setApplicationVersion(QStringLiteral(NUV_APP_VERSION));
    // Caught from the start: a Ctrl-C before the loop runs waits for it.
    SignalWatcher signalWatcher;
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF8"));

    const CliArguments arguments = CliArguments::parse(QCoreApplication::arguments());
    const bool working = arguments.mode == CliArguments::Mode::Upload || arguments.mode == CliArguments::Mode::Probe;
    ClientOptions options;
    if (working) {
        // The terminal gets progress and outcomes only; the details go to the daily log.
        prepareLogFolder(AppDirs::logsFolder());
        qInstallMessageHandler(initializeLogger);
        qInfo().noquote() << QStringLiteral("nuvupload-cli ") + QCoreApplication::applicationVersion();
        qInfo().noquote() << QStringLiteral("files:") + arguments.files.join(QLatin1Char(','));
        options = StartupSettings::loadOptions(AppDirs::dataFolder());
        FFMpegTools::endLeftovers();
    }

    CliRunner runner(arguments, options);
    QObject::connect(&signalWatcher, &SignalWatcher::terminationRequested, &runner, &CliRunner::onTerminationRequested);
    QObject::connect(&runner, &CliRunner::finished, &app, &QCoreApplication::exit);
    runner.start();
    const int exitCode = QCoreApplication::exec();
    if (working)
        qInfo().noquote() << QStringLiteral("nuvupload-cli exit ") + QString::number(exitCode);
    return exitCode;
}
