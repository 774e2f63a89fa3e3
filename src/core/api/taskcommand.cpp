// SPDX-License-Identifier: MIT
#include "core/api/taskcommand.h"

#include <QMutexLocker>

#include <utility>

TaskCommand::TaskCommand(QObject *parent)
    : QObject(parent)
{
}

TaskCommand::~TaskCommand() = default;

void TaskCommand::setId(int value)
{
    m_id = value;
}

void TaskCommand::setMac(QString value)
{
    m_mac = std::move(value);
}

void TaskCommand::setSign(int value)
{
    m_sign = value;
}

void TaskCommand::setTitle(QString value)
{
    m_title = std::move(value);
}

void TaskCommand::setType(int value)
{
    m_type = value;
}

QString TaskCommand::uploadId() const
{
    QMutexLocker locker(&m_uploadMutex);
    return m_uploadId;
}

void TaskCommand::setUploadId(const QString &value)
{
    QMutexLocker locker(&m_uploadMutex);
    m_uploadId = value;
}

QString TaskCommand::uploadUri() const
{
    QMutexLocker locker(&m_uploadMutex);
    return m_uploadUri;
}

void TaskCommand::setUploadUri(const QString &value)
{
    QMutexLocker locker(&m_uploadMutex);
    m_uploadUri = value;
}

UploadCheckpoint TaskCommand::checkpoint() const
{
    QMutexLocker locker(&m_uploadMutex);
    return m_checkpoint;
}

void TaskCommand::setCheckpoint(const UploadCheckpoint &value)
{
    QMutexLocker locker(&m_uploadMutex);
    m_checkpoint = value;
}
