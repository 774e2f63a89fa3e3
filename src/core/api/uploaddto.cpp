// SPDX-License-Identifier: MIT
#include "core/api/uploaddto.h"

#include <utility>

UploadDTO::UploadDTO(QObject *parent)
    : QObject(parent)
{
}

UploadDTO::~UploadDTO() = default;

void UploadDTO::setId(QString value)
{
    m_id = std::move(value);
}

void UploadDTO::setUri(QString value)
{
    m_uri = std::move(value);
}
