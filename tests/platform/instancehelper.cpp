// SPDX-License-Identifier: MIT
// One instance of the application object, driven by its arguments:
//   idle                 take over the idle record (ending a live idle instance), then wait
//   query-idle           print the idle record
//   session UUID [hidden] register for UUID with a window (hidden: no window), then wait
//   confirm UUID         what a start for UUID does: activate the running instance and exit
//                        0 with "activated", or register and wait
//   kill PID             print whether killProcess(PID) ended it
// Each prints one line when it has done its part, and waits (where it waits) until ended.
#include "app/myapplication.h"
#include "core/platform/activationserver.h"
#include "core/platform/processhelpers.h"
#include "core/platform/signalwatcher.h"

#include <QWidget>

#include <cstdio>

namespace {
void say(const QByteArray &line)
{
    std::printf("%s\n", line.constData());
    std::fflush(stdout);
}
} // namespace

int main(int argc, char *argv[])
{
    MyApplication app(argc, argv);
    const QStringList args = MyApplication::arguments().mid(1);
    const QString mode = args.value(0);

    SignalWatcher watcher;
    QObject::connect(&watcher, &SignalWatcher::terminationRequested, &app, &QCoreApplication::quit);
    QWidget window;
    window.setWindowTitle(QStringLiteral("instancehelper"));
    ActivationServer activation([&window] {
        // A window that was never shown (or was hidden) is not brought up.
        if (!window.isVisible())
            return false;
        window.showNormal();
        window.raise();
        window.activateWindow();
        return window.isVisible();
    });

    if (mode == QLatin1String("idle")) {
        const qint64 previous = app.getFreePid();
        if (previous > 0)
            killProcess(previous);
        app.setFree();
        say("idle " + QByteArray::number(app.getFreePid()));
    } else if (mode == QLatin1String("query-idle")) {
        say(QByteArray::number(app.getFreePid()));
        return 0;
    } else if (mode == QLatin1String("session") || mode == QLatin1String("confirm")) {
        const QString uuid = args.value(1);
        if (mode == QLatin1String("confirm")) {
            const qint64 running = app.getRunningPid(uuid);
            if (running > 0 && activateProcessWindow(running)) {
                say("activated");
                return 0;
            }
        }
        if (args.value(2) != QLatin1String("hidden"))
            window.show();
        app.setRunningPid(uuid);
        say("session " + QByteArray::number(app.getRunningPid(uuid)));
    } else if (mode == QLatin1String("kill")) {
        say(killProcess(args.value(1).toLongLong()) ? "killed" : "refused");
        return 0;
    } else {
        say("unknown mode");
        return 2;
    }
    return MyApplication::exec();
}
