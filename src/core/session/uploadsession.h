// SPDX-License-Identifier: MIT
#pragma once

#include "core/pipeline/actionoutcome.h"
#include "core/pipeline/pipelineprogress.h"
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
class Schema;
class UploadManager;

// One session without a window, in the window's order: the settings and the token, every
// file analysed, then every file that can start run alone, one after another, with the
// status report on its timer. A file the server removes leaves the session; a stop ends it
// with the client's exit reported.
//
// The blocking work runs on a worker thread of the session's own. This object, the
// coordinator and the pipelines live on the thread that made them: its event loop delivers
// the pipelines' reports, and every signal below is emitted there.
class UploadSession final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UploadSession)

public:
    // options: the session's limits and folders. files: the paths to upload, in order.
    // Without probe the file checks go out with empty media facts.
    UploadSession(const QSharedPointer<Schema> &schema, const ClientOptions &options, const QStringList &files,
                  bool probe, QObject *parent = nullptr);
    // Stops a session still running and waits for its worker.
    ~UploadSession() override;

    void start();
    // Stops the running file and what would follow; ended() comes once the worker has left
    // and the exit has been reported. False when there is nothing left to stop.
    bool stop();

    int fileCount() const;
    QString fileName(int index) const;

    // What ended() leaves: whether the settings or the token failed, whether stop() ended
    // the session and its exit report reached the server, and how many files were registered.
    bool failed() const;
    bool interrupted() const;
    bool exitReported() const;
    int registeredCount() const;

signals:
    void sessionFailed(const QString &message);
    void fileProgress(int index, const PipelineProgress &progress);
    void fileFailed(int index, const QString &message);
    // A run that was done, or stopped by the user; a failed or removed file gets fileFailed().
    void fileEnded(int index, const ActionOutcome &outcome);
    void warningRaised(const QString &message);
    void ended();

private:
    void run();
    void analyseAll();
    void runFile(int index);
    void onWorkerFinished();
    void onPipelineRemoved(UploadManager *pipeline);
    bool isRemoved(int index) const;
    void leaveSession(int index);
    void post(std::function<void()> call);

    QStringList m_files;
    bool m_probe = true;
    QSharedPointer<Manager> m_manager;
    QVector<QSharedPointer<UploadManager>> m_pipelines;
    std::unique_ptr<QThread> m_worker;
    QTimer m_refreshTimer;
    mutable QMutex m_removedMutex;
    QSet<const UploadManager *> m_removed;
    std::atomic_bool m_interrupted{false};
    // Written by the worker, read once it has ended.
    bool m_failed = false;
    int m_registered = 0;
    bool m_exitReported = false;
};
