// SPDX-License-Identifier: MIT
#include "core/pipeline/itaskexecutor.h"

#include "core/api/taskcommand.h"
#include "core/pipeline/actionstopsignal.h"
#include "core/pipeline/uploadmanager.h"

#include <QDebug>

ITaskExecutor::ITaskExecutor(QObject *parent)
    : QObject(parent)
{
    registerStatusMetaTypes();
}

ITaskExecutor::~ITaskExecutor()
{
    qDebug("ITaskExecutor::~ITaskExecutor");
}

void ITaskExecutor::doJob()
{
}

void ITaskExecutor::setTask(const QSharedPointer<TaskCommand> &task)
{
    m_task = task;
}

void ITaskExecutor::setFile(const UploadFileInfo &file)
{
    m_file = file;
}

void ITaskExecutor::setManager(UploadManager *manager)
{
    m_manager = manager;
}

void ITaskExecutor::setStopFlag(std::atomic_bool *stopFlag)
{
    m_stopFlag = stopFlag;
}

void ITaskExecutor::setRunningFlag(std::atomic_bool *runningFlag)
{
    m_runningFlag = runningFlag;
}

void ITaskExecutor::sendStatus(STATUS status, int rate, int remaining)
{
    if (!m_task || !m_manager)
        return;
    emit m_manager->taskStatusSignal(m_task.data(), m_file.name, m_file.size, status, rate, remaining, TASK_ERROR_NONE,
                                     QString());
}

void ITaskExecutor::sendError(STATUS status, TASK_ERROR errorCode, const QString &msg)
{
    if (!m_task || !m_manager)
        return;
    emit m_manager->taskStatusSignal(m_task.data(), m_file.name, m_file.size, status, 0, 0, errorCode, msg);
}

void ITaskExecutor::fail(TaskState state, const QString &msg)
{
    if (m_task) {
        m_task->setTaskState(state);
        emit m_task->dataUpdate();
    }
    if (msg.isEmpty())
        return;
    if (state == TaskState::Stopped)
        throw ActionStopSignal(msg);
    throw QString(msg);
}

void ITaskExecutor::fail(int state, const QString &msg)
{
    fail(static_cast<TaskState>(state), msg);
}

void ITaskExecutor::warn(const QString &msg)
{
    if (m_manager)
        emit m_manager->warringMessageSignal(msg);
}

QString ITaskExecutor::variantPath(const QString &tmpFolder, VariantSign sign, const QString &id)
{
    return tmpFolder + QLatin1Char('/') + variantTag(sign) + QLatin1Char('_') + id + QStringLiteral(".mp4");
}

ClientOptions ITaskExecutor::options() const
{
    return m_manager ? m_manager->options() : ClientOptions();
}

bool ITaskExecutor::stopRequested() const
{
    return m_stopFlag && m_stopFlag->load();
}

void ITaskExecutor::clearRunning()
{
    if (m_runningFlag)
        *m_runningFlag = false;
}
