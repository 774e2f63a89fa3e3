// SPDX-License-Identifier: MIT
#pragma once

#include "core/session/clientoptions.h"
#include "core/session/status.h"

#include <QDeadlineTimer>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QQueue>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QWaitCondition>

#include <atomic>
#include <functional>
#include <memory>

class Api;
class BaseClient;
class QThread;
class QueryData;
class Schema;
class UploadManager;

// The session coordinator: launch command, server settings and endpoints, API token, the
// start permit, the list of file pipelines, and the status reports to the server.
//
// Reports go out on one reporting thread of the coordinator's own. setStatus() only queues
// (it never waits for the network, so the user-interface thread is never re-entered by a
// request's event loop) and wakes that thread on a status change; refreshStatus() asks it
// for a report run. One thread sending one request after another keeps the order of queued
// entries on the wire whatever threads queue them, and no lock is held across a request.
class Manager final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Manager)

public:
    // Seconds since the Unix epoch; replaceable so the thinning of progress reports can be
    // tested without waiting.
    using Clock = std::function<qint64()>;

    static constexpr int DefaultRefreshSecond = 8;
    // A longer period from the server is cut to this (one day): the timers count milliseconds
    // in 32 bits.
    static constexpr int MaxRefreshSecond = 24 * 60 * 60;
    // How long setStatus(21) waits for the final report before the process may exit.
    static constexpr int FinalReportWaitMs = 10000;

    explicit Manager(QObject *parent = nullptr);
    // Ends the reporting thread, cutting short a request in flight; entries not yet sent are
    // dropped (flushReports first to deliver them).
    ~Manager() override;

    void setSchema(const QSharedPointer<Schema> &schema);
    QSharedPointer<Schema> schema() const;

    // Both run on a worker thread and throw the user-facing QString on failure.
    void initSetting();
    void initToken();

    QSharedPointer<Api> api() const;
    QString token() const;
    int refreshSecond() const;
    // The status report period in milliseconds: the options' refreshIntervalMs when set,
    // otherwise refreshSecond seconds.
    int refreshInterval() const;
    // The one JSON client of the session, shared by every caller on every thread.
    BaseClient *client() const;

    bool startPermit() const;
    void setStartPermit(bool value);

    // A new pipeline of this session (no parent, on the calling thread), appended to the list.
    QSharedPointer<UploadManager> addUploadManager();
    // A copy of the pipeline list, in the order the files were added; null before the first.
    QSharedPointer<QList<QSharedPointer<UploadManager>>> uploadManagers() const;
    // Takes the pipeline out of the list, stops it and waits (processing events) until its
    // run has ended, then reports status 20 for it.
    void removeUploadManager(const QSharedPointer<UploadManager> &uploadManager);
    // Whether any pipeline of the list is working.
    bool hasRunningTask() const;
    // Asks every working pipeline to stop; does not wait.
    void stopAll();
    // The session ends: nothing may start any more, every pipeline is asked to stop (one
    // about to start as well), then up to waitMs pass, events flowing, until none runs.
    // False when one still runs. Logs "Manager Stop".
    bool stopForExit(int waitMs);
    // Reports the client's exit (21) and waits for it to be sent; false when it was not
    // sent in time. Logs "Client Exit".
    bool reportExit();

    STATUS status() const;
    // Queues a status change and reports at once when the status differs from the previous
    // one. After 21 nothing changes any more; setting 21 returns only once the final report
    // was sent (or FinalReportWaitMs passed).
    void setStatus(STATUS status, int rate, const QString &fileName, qint64 fileSize);
    // Asks for a report run: the removed-files poll, then the queued entries or, with an
    // empty queue, the current state. Returns at once; the run happens on the reporting thread.
    void refreshStatus();
    // The report timer's tick: refreshStatus() once the session has its uuid and its token.
    void refreshIfReady();
    // Waits until every queued entry has been sent and no run is in progress. False on timeout.
    bool flushReports(int timeoutMs);

    void setClock(Clock clock);

    // The session's limits and folders, handed on to the JSON client; the pipelines'
    // executors read them from here. Set before the session starts its work.
    void setOptions(const ClientOptions &options);
    ClientOptions options() const;

Q_SIGNALS:
    void taskCompleteSignal(const QObject *widget);

public Q_SLOTS:
    void onTaskComplete(const QObject *widget);

private:
    struct StatusEntry
    {
        STATUS status = STATUS_NONE;
        int rate = 0;
        QString fileName;
        qint64 time = 0;
        qint64 fileSize = 0;
    };
    struct WorkingFile
    {
        QString name;
        qint64 size = 0;
        int rate = 0;
    };

    void reportLoop();
    // stateReport: with an empty queue, report the current state (the timer's run).
    void runRefresh(bool stateReport);
    void pollRemovedFiles(const QSharedPointer<QueryData> &data, const QString &url);
    // False when the report got no answer at all (the server's refusal counts as sent).
    bool sendReport(const QSharedPointer<QueryData> &data, const QString &url, STATUS status, int rate,
                    const QString &fileName, qint64 fileSize);
    // After each report: a report without answer makes the next run wait (growing pauses).
    void noteDelivery(bool delivered);
    void requestRunLocked();

    // The pipeline list's share of a report: the "list" JSON (empty text while there is no
    // list), the file of the first working pipeline, and dropping the pipelines the server
    // listed as removed. Each takes m_mutex only while it reads or changes the list.
    QString pipelinesJson() const;
    WorkingFile firstWorkingFile() const;
    void removePipelines(const QStringList &ids);
    QList<QSharedPointer<UploadManager>> pipelines() const;

    std::unique_ptr<BaseClient> m_client;
    std::atomic_bool m_startPermit{true};

    mutable QMutex m_configMutex;
    QSharedPointer<Schema> m_schema;
    QSharedPointer<Api> m_api;
    QString m_token;
    int m_refreshSecond = DefaultRefreshSecond;
    ClientOptions m_options;

    // Guards the status, the queue, the clock and the reporting thread's state; the pipeline
    // list joins them here so a report sees queue and list in one consistent state.
    mutable QMutex m_mutex;
    QWaitCondition m_wake;
    QWaitCondition m_idle;
    QQueue<StatusEntry> m_statusList;
    STATUS m_status = STATUS_UPLOAD_FAILED;
    Clock m_clock;
    bool m_runWanted = false;
    bool m_stateReportWanted = false;
    bool m_running = false;
    bool m_draining = false; // the running run will still take queued entries
    bool m_stopping = false;
    // The last report got no answer: the queue waits until m_retryAt.
    bool m_networkDown = false;
    int m_retryPauseMs = 0;
    QDeadlineTimer m_retryAt;
    QThread *m_reporter = nullptr;
    // The pipelines, also guarded by m_mutex. Callers work on copies, so no lock is held
    // while a pipeline stops or a request runs.
    QList<QSharedPointer<UploadManager>> m_uploadManagers;
    bool m_hasUploadManagers = false;
};
