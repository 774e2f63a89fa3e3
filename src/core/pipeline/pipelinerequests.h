// SPDX-License-Identifier: MIT
#pragma once

#include "core/api/ajaxdto.h"

#include <QByteArray>
#include <QSharedPointer>
#include <QString>

class Api;
class BaseClient;
class Manager;
class QueryData;
class Schema;
class TaskCommand;
class UploadDTO;
struct UploadFileInfo;

// The requests of one file's pipeline, built from what the coordinator holds at the moment
// of the call: its client, the server's endpoints, the launch command and the token (sent
// in the "token" header). Every call returns null while the session is not loaded. Any thread.
class PipelineRequests final
{
public:
    explicit PipelineRequests(const Manager *manager);

    bool isLoaded() const;
    QString addVideoApi() const;

    // The file check of record's facts; the reply lists the file's tasks.
    QSharedPointer<AjaxListDTO<TaskCommand>> checkVideo(const UploadFileInfo &record) const;
    QSharedPointer<AjaxDTO<UploadDTO>> uploadChunk(const QString &name, qint64 pos, qint64 total, bool end,
                                                   const QByteArray &data) const;
    QSharedPointer<AjaxDTO<QString>> addVideo(const QString &fileName, const QString &data, const QString &form) const;
    // The server drops what arrived of the pipeline `fileId`; the reply is not examined.
    void removeFile(const QString &fileId) const;

private:
    QSharedPointer<QueryData> query() const;

    BaseClient *m_client = nullptr;
    QSharedPointer<Api> m_api;
    QSharedPointer<Schema> m_schema;
    QString m_token;
};
