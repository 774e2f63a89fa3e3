// SPDX-License-Identifier: MIT
#pragma once

#include "core/api/taskenums.h"
#include "core/pipeline/uploadfileinfo.h"
#include "core/session/clientoptions.h"
#include "core/session/status.h"

#include <QObject>
#include <QSharedPointer>
#include <QString>

#include <atomic>

class TaskCommand;
class UploadManager;

// The common base of the executors that run one task of a file's pipeline. doJob() runs
// synchronously on the pipeline's worker thread and ends in one of three ways: a normal
// return (done), a thrown QString (failure, shown to the user) or a thrown ActionStopSignal
// (the user stopped it). Reports travel through the owning pipeline's queued signals.
class ITaskExecutor : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ITaskExecutor)

public:
    explicit ITaskExecutor(QObject *parent = nullptr);
    ~ITaskExecutor() override;

    virtual void doJob();

    void setTask(const QSharedPointer<TaskCommand> &task);
    void setFile(const UploadFileInfo &file);
    void setManager(UploadManager *manager);
    // Both flags belong to the owning pipeline and are shared with the user-interface thread.
    void setStopFlag(std::atomic_bool *stopFlag);
    void setRunningFlag(std::atomic_bool *runningFlag);

    QSharedPointer<TaskCommand> task() const { return m_task; }
    UploadFileInfo file() const { return m_file; }

    void sendStatus(STATUS status, int rate, int remaining);
    void sendError(STATUS status, TASK_ERROR errorCode, const QString &msg);
    // Records the task's state; with a message it also ends the job: a stop for Stopped,
    // a failure otherwise.
    void fail(TaskState state, const QString &msg);
    void fail(int state, const QString &msg);
    void warn(const QString &msg);

    // The transcoded variant of a file: "<tmpFolder>/<tag>_<id>.mp4" (see variantTag).
    static QString variantPath(const QString &tmpFolder, VariantSign sign, const QString &id);

protected:
    // The limits and folders this job runs under: its pipeline's (UploadManager::options).
    ClientOptions options() const;
    bool stopRequested() const;
    void clearRunning();

    std::atomic_bool *m_stopFlag = nullptr;
    std::atomic_bool *m_runningFlag = nullptr;
    QSharedPointer<TaskCommand> m_task;
    UploadFileInfo m_file;
    UploadManager *m_manager = nullptr;
};
