// SPDX-License-Identifier: MIT
#pragma once

#include "cli/cliarguments.h"
#include "cli/progressprinter.h"
#include "core/session/clientoptions.h"

#include <QMutex>
#include <QObject>
#include <QSet>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>

class Manager;
class QThread;
class UploadManager;

// Sequences one headless session the way the window does: decode the launch command, load
// the settings and the token, check every file, then run the files' pipelines one after
// another, with the status report on its timer. The session's blocking work runs on one
// worker thread; this object, the coordinator and the pipelines live on the main thread,
// whose event loop delivers the pipelines' reports, the progress and the signals.
class CliRunner final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CliRunner)

public:
    static constexpr int ExitOk = 0;
    static constexpr int ExitFailed = 1;
    static constexpr int ExitUsage = 2;

    // options: the session's limits and folders, as start-up read them.
    CliRunner(CliArguments arguments, ClientOptions options, QObject *parent = nullptr);
    ~CliRunner() override;

    // Starts the work; finished() follows from the event loop.
    void start();

signals:
    void finished(int exitCode);

public slots:
    // Ctrl-C or SIGTERM: stop the running pipeline, wait for it, report the exit, leave.
    void onTerminationRequested(int signalNumber);

private:
    bool prepareUpload();
    void runProbe();
    void runSession();
    void onSessionEnded();
    void onRefreshTimeout();
    void printProgress(int index);
    // Where the file's run stands, from its tasks; false while it has none.
    bool progressOf(int index, ProgressPrinter::Progress *progress) const;
    void fileFailed(int index, const QString &message);
    // The server listed the file among the uploads to remove.
    void onPipelineRemoved(UploadManager *pipeline);
    bool isRemoved(int index) const;
    void leaveSession(int index);
    void stopPipelines();
    void post(std::function<void()> call);
    void printError(const QString &text);
    void finish(int exitCode);

    CliArguments m_arguments;
    const ClientOptions m_options;
    ProgressPrinter m_printer;
    QSharedPointer<Manager> m_manager;
    QVector<QSharedPointer<UploadManager>> m_pipelines;
    std::unique_ptr<QThread> m_worker;
    QTimer m_refreshTimer;
    QTimer m_progressTimer;
    mutable QMutex m_removedMutex;
    QSet<const UploadManager *> m_removed;
    std::atomic_int m_current{-1};
    std::atomic_bool m_interrupted{false};
    int m_signal = 0;
    // Written by the worker, read once it has ended.
    bool m_sessionFailed = false;
    int m_registered = 0;
};
