// SPDX-License-Identifier: MIT
#pragma once

#include "core/api/ajaxdto.h"
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

class Manager;
class TaskCommand;
class UploadDTO;

// The pipeline of one added file: its record, the task list the server issued for it (plus
// the registration task appended here), the run of the unfinished tasks through their
// executors, and the hub of their reports.
//
// The object lives on the user-interface thread; checkVideo() and doTask() block a worker
// thread. Everything both sides touch is atomic or behind a lock, and a published task list
// is never changed again (a new check or a reset replaces it), so a run can walk its list
// without holding a lock across a request.
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

    // Sends the record's facts to the server and adopts the task list it returns. Worker thread.
    void checkVideo();
    // Runs every unfinished task in order. Worker thread. Throws what the failing executor threw.
    void doTask();
    // Asks the run to stop and returns once it has ended, processing events meanwhile.
    void stop();
    void reset();
    void reportState();

    QSharedPointer<AjaxDTO<UploadDTO>> uploadChunk(const QString &name, qint64 pos, qint64 total, bool end,
                                                   const QByteArray &data);
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

public slots:
    void taskStatus(TaskCommand *taskCommand, QString fileName, qlonglong fileSize, STATUS status, int rate,
                    int remaining, TASK_ERROR errorCode, QString errorMsg);
    void warringMessage(QString msg);

private:
    struct Session;

    void announce(STATUS status);
    // What every request needs from the coordinator; false while the session is not loaded.
    bool loadSession(Session *session) const;

    mutable QMutex m_mutex; // guards m_tasks and m_file
    QSharedPointer<TaskList> m_tasks;
    QPointer<Manager> m_manager;
    const QString m_id;
    UploadFileInfo m_file;
    std::atomic_int m_rate{0};
    std::atomic_bool m_running{false};
    std::atomic_bool m_stopRequested{false};
    std::atomic_int m_status{STATUS_UPLOAD_FAILED};
    std::atomic_bool m_finished{false};
    // Calls of doTask() that have not left yet. Executors clear m_running as soon as they
    // see a stop; stop() also waits for the call itself, so a new run never overlaps it.
    std::atomic_int m_activeRuns{0};
};
