// SPDX-License-Identifier: MIT
#include "app/myapplication.h"
#include "app/startup.h"
#include "core/log/initializelogger.h"
#include "core/media/ffmpegtools.h"
#include "core/platform/activationserver.h"
#include "core/platform/appdirs.h"
#include "core/platform/signalwatcher.h"
#include "core/session/manager.h"
#include "core/session/schema.h"
#include "core/session/startupsettings.h"
#include "gui/assets/guiresources.h"
#include "gui/pages/frmapp.h"
#include "gui/toolkit/accessibility.h"

#include <QDebug>
#include <QDir>
#include <QFont>
#include <QTextCodec>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Answered before the application object exists: it needs no display, log or instance record.
    if (argc == 2 && qstrcmp(argv[1], "--version") == 0) {
        std::printf("NUVUpload %s\n", NUV_APP_VERSION);
        return 0;
    }
    // Sharp at 150 % and 200 %: sizes in logical pixels, images from their "@2x" files, and
    // a fractional factor kept as it is rather than rounded to a whole one.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    MyApplication app(argc, argv);
    // A logout or kill stops the window's work as a confirmed close does, then ends the event
    // loop, so the stop banner is still written. Caught from the start: a signal that
    // arrives before the loop runs waits for it.
    SignalWatcher signalWatcher;
    FrmApp *mainWindow = nullptr;
    QObject::connect(&signalWatcher, &SignalWatcher::terminationRequested, &app, [&mainWindow] {
        if (mainWindow)
            mainWindow->onTerminationRequested();
        else
            QCoreApplication::quit();
    });
    MyApplication::setApplicationVersion(QStringLiteral(NUV_APP_VERSION));

    // Everything relative (setting.ini, logs, tmp in the portable layout) resolves here.
    if (QDir::currentPath() != MyApplication::applicationDirPath())
        QDir::setCurrent(MyApplication::applicationDirPath());

    Startup::checkQtVersion();
    MyApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    MyApplication::setFont(QFont(QStringLiteral("黑体"), 11));

    qInstallMessageHandler(initializeLogger);
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF8"));

    const QStringList arguments = MyApplication::arguments();
    for (const QString &argument : arguments)
        Schema::protectCode(argument);
    Startup::prepareLogs(arguments);
    const QString launchText = Startup::launchTextFromArguments(arguments);
    qDebug().noquote() << QStringLiteral("launchText:") + launchText;

    initGuiResources();
    Accessibility::install();
    Startup::applyStyleSheet(app);
    // "雅黑" is not installed on Linux; fontconfig falls back to the installed CJK font.
    MyApplication::setFont(QFont(QStringLiteral("雅黑"), 11, -1, false));
    Startup::installTranslations(app);
    const ClientOptions options = StartupSettings::loadOptions(AppDirs::dataFolder());
    FFMpegTools::endLeftovers();

    int exitCode = 0;
    {
        FrmApp window(nullptr, launchText, &app);
        window.manager()->setOptions(options);
        // Another start for the session we run asks us to come to the front. A window
        // that is not shown stays hidden: then the other start goes on by itself.
        ActivationServer activation([&window] {
            if (!window.isVisible())
                return false;
            window.showNormal();
            window.raise();
            window.activateWindow();
            return true;
        });
        // Ending at once skips destructors: the socket file goes first.
        QObject::connect(&window, &FrmApp::aboutToExit, &activation, &ActivationServer::close);
        mainWindow = &window;
        window.show();
        exitCode = MyApplication::exec();
        mainWindow = nullptr;
        Startup::writeStopBanner();
    }
    return exitCode;
}
