// SPDX-License-Identifier: MIT
// nuv-bench-many LAUNCH_COMMAND DATA_FOLDER FILE...: the window under test. Drops the files on
// the empty file page at once, as a file manager would, lets every row be analysed and
// uploaded against the server of the launch command, and prints what it cost. Run by
// bench/many.sh.
#include "core/session/clientoptions.h"
#include "core/session/manager.h"
#include "gui/assets/guiresources.h"
#include "gui/pages/frmapp.h"
#include "gui/pages/itemtaskwidget.h"
#include "filedrop.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QMimeData>
#include <QMutex>
#include <QStackedWidget>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <time.h>

namespace {

// A field of /proc/self/status, in its own unit (kB for memory).
long statusField(const char *name)
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(name) + ':';
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// The ffmpeg processes whose parent is this process.
int ffmpegChildren()
{
    const QByteArray self = QByteArray::number(QCoreApplication::applicationPid());
    int count = 0;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
        if (entry.at(0).isDigit() && stat.open(QIODevice::ReadOnly)) {
            // "pid (comm) state ppid ...": comm may hold blanks, so split after its ')'.
            const QByteArray line = stat.readAll();
            const int close = line.lastIndexOf(')');
            const QList<QByteArray> rest = line.mid(close + 2).split(' ');
            if (line.mid(line.indexOf('(') + 1, close - line.indexOf('(') - 1) == "ffmpeg" && rest.value(1) == self)
                ++count;
        }
    }
    return count;
}

// CPU time of the calling thread.
qint64 threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() < 4) {
        std::fprintf(stderr, "usage: nuv-bench-many LAUNCH_COMMAND DATA_FOLDER FILE...\n");
        return 2;
    }
    // The program writes these to its log file; here they would only cost terminal time,
    // unless NUV_BENCH_LOG names a file for them (with milliseconds and threads).
    static QFile *log = nullptr;
    static QElapsedTimer logClock;
    if (qEnvironmentVariableIsSet("NUV_BENCH_LOG")) {
        log = new QFile(qEnvironmentVariable("NUV_BENCH_LOG"));
        log = log->open(QIODevice::WriteOnly) ? log : nullptr;
        logClock.start();
    }
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &, const QString &message) {
        static QMutex mutex;
        QMutexLocker locker(&mutex);
        if (log)
            log->write(QStringLiteral("%1 %2 %3\n")
                           .arg(logClock.elapsed())
                           .arg(quintptr(QThread::currentThreadId()), 0, 16)
                           .arg(message.left(200))
                           .toUtf8());
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "%s\n", qPrintable(message));
    });
    initGuiResources();
    QFile css(QStringLiteral(":/assets/style/default.css"));
    if (css.open(QIODevice::ReadOnly))
        app.setStyleSheet(QString::fromUtf8(css.readAll()));

    const QStringList files = arguments.mid(3);
    ClientOptions options;
    options.dataFolder = arguments.at(2);
    FrmApp window(nullptr, arguments.at(1), nullptr);
    window.manager()->setOptions(options);
    window.show();

    // Sampled off the user-interface thread, so a blocked event loop is still seen.
    std::atomic_int mostFfmpeg{0};
    std::atomic_long mostThreads{0};
    std::atomic_bool sampling{true};
    std::thread sampler([&] {
        while (sampling) {
            mostFfmpeg = qMax(mostFfmpeg.load(), ffmpegChildren());
            mostThreads = qMax(mostThreads.load(), statusField("Threads"));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });

    auto *stack = window.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    auto *addPage = window.findChild<QWidget *>(QStringLiteral("frmAdd"));
    auto *list = window.findChild<QListWidget *>(QStringLiteral("listTask"));
    QElapsedTimer clock;
    qint64 analysedMs = -1;
    qint64 registeredMs = -1;
    qint64 worstLateMs = 0;
    qint64 worstAtMs = 0;
    qint64 mostCpuMs = 0;
    qint64 lastCpuMs = 0;
    int failed = 0;
    bool dropped = false;

    // The 10 ms timer's lateness is the longest the user-interface thread was not available.
    QElapsedTimer tick;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 cpu = threadCpuMs();
        if (dropped && tick.isValid() && tick.elapsed() - 10 > worstLateMs) {
            worstLateMs = tick.elapsed() - 10;
            worstAtMs = clock.elapsed();
        }
        // A late tick the thread spent little CPU time on was the machine not running it.
        if (dropped && tick.isValid())
            mostCpuMs = qMax(mostCpuMs, cpu - lastCpuMs);
        lastCpuMs = cpu;
        tick.restart();
    });
    heartbeat.start(10);

    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!dropped) {
            if (stack->currentWidget() != addPage)
                return;
            dropped = true;
            clock.start();
            tick.restart();
            lastCpuMs = threadCpuMs();
            if (!GuiTest::drop(addPage, files)) {
                std::fprintf(stderr, "nuv-bench-many: the file page refused the drop\n");
                QApplication::exit(1);
            }
            return;
        }
        if (list->count() < files.size())
            return;
        int analysing = 0;
        int ended = 0;
        failed = 0;
        for (int i = 0; i < list->count(); ++i) {
            const auto *row = qobject_cast<ItemTaskWidget *>(list->itemWidget(list->item(i)));
            const ItemTaskWidgetStatus status = row ? row->status() : ItemTaskWidgetStatus::Analysing;
            analysing += status == ItemTaskWidgetStatus::Analysing;
            ended += status == ItemTaskWidgetStatus::Completed || status == ItemTaskWidgetStatus::Failed;
            failed += status == ItemTaskWidgetStatus::Failed;
        }
        if (analysing == 0 && analysedMs < 0)
            analysedMs = clock.elapsed();
        if (ended == list->count()) {
            registeredMs = clock.elapsed();
            QApplication::exit(failed == 0 ? 0 : 1);
        }
    });
    watch.start(50);

    const int code = QApplication::exec();
    sampling = false;
    sampler.join();
    std::fprintf(stderr,
                 "nuv-bench-many: the longest stall ended %.1f s after the drop; the most CPU time the thread used "
                 "between two ticks: %lld ms\n",
                 worstAtMs / 1000.0, mostCpuMs);
    if (failed > 0)
        std::fprintf(stderr, "nuv-bench-many: %d of %d rows failed\n", failed, int(files.size()));
    std::printf("many: files %d, analysed %.1f s, registered %.1f s, ffmpeg at once %d, threads %ld, peak RSS %.0f "
                "MiB, UI stall %lld ms\n",
                int(files.size()), analysedMs / 1000.0, registeredMs / 1000.0, mostFfmpeg.load(), mostThreads.load(),
                statusField("VmHWM") / 1024.0, worstLateMs);
    std::fflush(stdout);
    if (log)
        log->flush();
    // As the program itself ends: rows whose threads still wind down are not waited for.
    std::_Exit(code);
}
