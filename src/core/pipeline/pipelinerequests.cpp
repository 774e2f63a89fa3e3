// SPDX-License-Identifier: MIT
#include "core/pipeline/pipelinerequests.h"

#include "core/api/api.h"
#include "core/api/baseclient.h"
#include "core/api/taskcommand.h"
#include "core/api/uploaddto.h"
#include "core/pipeline/uploadfileinfo.h"
#include "core/session/manager.h"
#include "core/session/schema.h"

PipelineRequests::PipelineRequests(const Manager *manager)
{
    if (!manager)
        return;
    m_client = manager->client();
    m_api = manager->api();
    m_schema = manager->schema();
    m_token = manager->token();
}

bool PipelineRequests::isLoaded() const
{
    return m_client && m_api && m_schema;
}

QString PipelineRequests::addVideoApi() const
{
    return m_api ? m_api->addVideoApi() : QString();
}

QSharedPointer<QueryData> PipelineRequests::query() const
{
    auto data = QSharedPointer<QueryData>::create();
    data->addHeader(QStringLiteral("token"), m_token);
    return data;
}

QSharedPointer<AjaxListDTO<TaskCommand>> PipelineRequests::checkVideo(const UploadFileInfo &record) const
{
    if (!isLoaded())
        return {};
    const QSharedPointer<QueryData> data = query();
    data->add(QStringLiteral("uuid"), record.uuid);
    data->add(QStringLiteral("name"), record.name);
    data->add(QStringLiteral("suffix"), record.suffix);
    data->add(QStringLiteral("size"), record.size);
    data->add(QStringLiteral("duration"), record.duration);
    data->add(QStringLiteral("videoCodec"), record.videoCodec);
    data->add(QStringLiteral("mp4Format"), record.mp4Format);
    data->add(QStringLiteral("nuvVideo"), record.nuvVideo);
    data->add(QStringLiteral("rate"), record.rate);
    data->add(QStringLiteral("width"), record.width);
    data->add(QStringLiteral("height"), record.height);
    data->add(QStringLiteral("audioCodec"), record.audioCodec);
    return m_client->postList<TaskCommand>(m_api->validVideoInfoApi(), data);
}

QSharedPointer<AjaxDTO<UploadDTO>> PipelineRequests::uploadChunk(const QString &name, qint64 pos, qint64 total,
                                                                 bool end, const QByteArray &data) const
{
    if (!isLoaded())
        return {};
    const QSharedPointer<QueryData> parameters = query();
    parameters->add(QStringLiteral("uuid"), m_schema->uuid());
    parameters->add(QStringLiteral("name"), name);
    parameters->add(QStringLiteral("total"), total);
    parameters->add(QStringLiteral("pos"), pos);
    parameters->add(QStringLiteral("end"), end);
    return m_client->postData<UploadDTO>(m_api->uploadApi(), parameters, data);
}

QSharedPointer<AjaxDTO<QString>> PipelineRequests::addVideo(const QString &fileName, const QString &data,
                                                            const QString &form) const
{
    if (!isLoaded())
        return {};
    const QSharedPointer<QueryData> parameters = query();
    parameters->add(QStringLiteral("uuid"), m_schema->uuid());
    parameters->add(QStringLiteral("filename"), fileName);
    parameters->add(QStringLiteral("Type"), int(m_schema->type()));
    parameters->add(QStringLiteral("moduleId"), int(m_schema->moduleId()));
    parameters->add(QStringLiteral("parentId"), m_schema->parentId());
    parameters->add(QStringLiteral("extras"), m_schema->extras());
    parameters->add(QStringLiteral("data"), data);
    parameters->add(QStringLiteral("form"), form);
    return m_client->post<QString>(m_api->addVideoApi(), parameters);
}

void PipelineRequests::removeFile(const QString &fileId) const
{
    if (!isLoaded())
        return;
    const QSharedPointer<QueryData> parameters = query();
    parameters->add(QStringLiteral("fileId"), fileId);
    parameters->add(QStringLiteral("uuid"), m_schema->uuid());
    m_client->post<QString>(m_api->removeFileApi(), parameters);
}
