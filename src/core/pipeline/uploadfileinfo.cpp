// SPDX-License-Identifier: MIT
#include "core/pipeline/uploadfileinfo.h"

#include <QUuid>

UploadFileInfo::UploadFileInfo()
    : id(newId())
{
}

QString UploadFileInfo::newId()
{
    return QUuid::createUuid().toString(QUuid::Id128);
}

void UploadFileInfo::clear()
{
    const QString keptId = id;
    *this = UploadFileInfo();
    id = keptId;
}
