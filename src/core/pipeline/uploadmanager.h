// SPDX-License-Identifier: MIT
#pragma once

#include "core/api/ajaxdto.h"
#include "core/pipeline/pipelineprogress.h"
#include "core/pipeline/transferrate.h"
#include "core/pipeline/uploadfileinfo.h"
#include "core/session/clientoptions.h"
#include "core/session/status.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QSharedPointer>
#include <QString>
#include <QVector>

#include <atomic>
#include <functional>

class Manager;
class TaskCommand;
class UploadDTO;

// The pipeline of one added file: its record, the task list the server issued for it (plus
// the registration task appended here), the run of the unfinished tasks through their
// executors, and the hub of their reports.
//
// Both front ends drive a file the same way: analyse() on a worker (probe, then the check);
// requestRun() where the run is decided, then runAlone() on a worker; progress() to show
// where it stands; canStart() for a scheduler.
//
// The object lives on the user-interface thread; analyse(), checkVideo(), runAlone() and
// doTask() block a worker thread. Everything both sides touch is atomic or behind a lock,
// and a published task list is never changed again (a new check or a reset replaces it),
// so a run can walk its list without holding a lock across a request.
class UploadManager final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UploadManager)

public:
    using TaskList = QVector<QSharedPointer<TaskCommand>>;

    explicit UploadManager(QObject *parent = nullptr);
    ~UploadManager() override;

    void setManager(Manager *manager);
    Manager *manager() const;
    // The session's options (Manager::options); the defaults while there is no coordinator.
    ClientOptions options() const;
    // This pipeline's 32-digit id: "fileId" of the removal, "uuid" in the status list.
    QString id() const;

    void setFile(const UploadFileInfo &file);
    UploadFileInfo file() const;
    // A format-fixing transcode replaces the file that later tasks send.
    void setFilePath(const QString &path);
    // Null until the first successful check.
    QSharedPointer<TaskList> tasks() const;

    bool isRunning() const;
    void setStopRequested(bool value);
    int rate() const;
    void setRate(int rate);
    STATUS status() const;
    void setStatus(STATUS status);
    bool finished() const;
    void setFinished(bool value);

    // Probes the record's file into the record (probed() follows), then checkVideo(). Worker
    // thread. Throws the user-facing text; a file that fails either step is reset. Without
    // probe the check goes out with empty media facts.
    void analyse(bool probe = true);
    // Sends the record's facts to the server and adopts the task list it returns. Worker thread.
    void checkVideo();
    // Runs every unfinished task in order. Worker thread. Throws what the failing executor threw.
    void doTask();

    // Asks for a run of this file, before its worker starts: a stop from now on holds for
    // that run, and the pipeline counts as started until runAlone() has left.
    void requestRun();
    // The requested run: every other running pipeline of the session gives way, then
    // doTask(); a run that got through marks the file finished. Worker thread.
    void runAlone();
    bool isRunRequested() const;
    // Whether a scheduler may start this file: not finished, not started, tasks present and
    // none of them failed (a failed file waits for the user).
    bool canStart() const;
    // Where the file's run stands; invalid while it has no tasks.
    PipelineProgress progress() const;
    // How far the running upload is: `accepted` bytes taken by the server and `inFlight`
    // bytes of the next chunk written to the socket, of `total`. A refused chunk's bytes
    // leave the shown figure again; the speed counts every byte that went over the line.
    // Worker thread.
    void setTransferred(qint64 accepted, qint64 inFlight, qint64 total);
    // Asks the run to stop and returns once it has ended, processing events meanwhile.
    void stop();
    void reset();
    void reportState();

    // onWritten gets the chunk's bytes written to the socket so far while the request goes.
    QSharedPointer<AjaxDTO<UploadDTO>> uploadChunk(const QString &name, qint64 pos, qint64 total, bool end,
                                                   const QByteArray &data,
                                                   const std::function<void(qint64 written)> &onWritten = {});
    QSharedPointer<AjaxDTO<QString>> addVideo(const QString &data, const QString &form);
    void removeFile();

signals:
    void taskStatusSignal(TaskCommand *taskCommand, QString fileName, qlonglong fileSize, STATUS status, int rate,
                          int remaining, TASK_ERROR errorCode, QString errorMsg);
    void warringMessageSignal(QString msg);
    void deleteMsg(UploadManager *uploadManager);
    // A warning for the user, on this object's thread: the window shows it in the "警告"
    // box, the command-line client prints it.
    void warningRaised(QString msg);
    // A doTask() call has left, whichever way.
    void runEnded(QPrivateSignal);
    // analyse() has probed the file; emitted on the worker.
    void probed(UploadFileInfo record);

public slots:
    void taskStatus(TaskCommand *taskCommand, QString fileName, qlonglong fileSize, STATUS status, int rate,
                    int remaining, TASK_ERROR errorCode, QString errorMsg);
    void warringMessage(QString msg);

private:
    void announce(STATUS status);

    // The running task's clock and, for an upload, its bytes.
    struct Live
    {
        const TaskCommand *task = nullptr;
        qint64 total = -1;
        qint64 accepted = 0;
        qint64 inFlight = 0;
        qint64 sent = 0;
        TransferRate rate;
    };

    mutable QMutex m_mutex; // guards m_tasks, m_file and m_live
    QSharedPointer<TaskList> m_tasks;
    QPointer<Manager> m_manager;
    const QString m_id;
    UploadFileInfo m_file;
    Live m_live;
    std::atomic_int m_rate{0};
    std::atomic_bool m_running{false};
    std::atomic_bool m_stopRequested{false};
    std::atomic_int m_status{STATUS_UPLOAD_FAILED};
    std::atomic_bool m_finished{false};
    std::atomic_bool m_runRequested{false};
    // Calls of doTask() that have not left yet. Executors clear m_running as soon as they
    // see a stop; stop() also waits for the call itself, so a new run never overlaps it.
    std::atomic_int m_activeRuns{0};
};
