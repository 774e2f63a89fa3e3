// SPDX-License-Identifier: MIT
#include "core/api/removefileid.h"

#include <utility>

RemoveFileId::RemoveFileId(QObject *parent)
    : QObject(parent)
{
}

RemoveFileId::~RemoveFileId() = default;

void RemoveFileId::setRemoveTaskId(QString value)
{
    m_removeTaskId = std::move(value);
}
