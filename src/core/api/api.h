// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>

// The endpoint URLs of the session, taken from the server's settings. Built once by the
// coordinator and only read afterwards; a new settings load replaces the whole object.
class Api final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Api)

public:
    explicit Api(QObject *parent = nullptr);
    ~Api() override;

    QString serverAddress() const { return m_serverAddress; }
    QString getTokenApi() const { return m_getTokenApi; }
    QString validVideoInfoApi() const { return m_validVideoInfoApi; }
    QString uploadApi() const { return m_uploadApi; }
    QString refreshApi() const { return m_refreshApi; }
    QString addVideoApi() const { return m_addVideoApi; }
    QString getRemovedFileIdListApi() const { return m_getRemovedFileIdListApi; }
    QString removeFileApi() const { return m_removeFileApi; }
    QString pcVideoClientVersion() const { return m_pcVideoClientVersion; }
    QString pcVideoClientDownloadApi() const { return m_pcVideoClientDownloadApi; }
    QString macVideoClientVersion() const { return m_macVideoClientVersion; }
    QString macVideoClientDownloadApi() const { return m_macVideoClientDownloadApi; }
    QString linuxVideoClientVersion() const { return m_linuxVideoClientVersion; }
    QString linuxVideoClientDownloadApi() const { return m_linuxVideoClientDownloadApi; }

    void setServerAddress(const QString &value) { m_serverAddress = value; }
    void setGetTokenApi(const QString &value) { m_getTokenApi = value; }
    void setValidVideoInfoApi(const QString &value) { m_validVideoInfoApi = value; }
    void setUploadApi(const QString &value) { m_uploadApi = value; }
    void setRefreshApi(const QString &value) { m_refreshApi = value; }
    void setAddVideoApi(const QString &value) { m_addVideoApi = value; }
    void setGetRemovedFileIdListApi(const QString &value) { m_getRemovedFileIdListApi = value; }
    void setRemoveFileApi(const QString &value) { m_removeFileApi = value; }
    void setPcVideoClientVersion(const QString &value) { m_pcVideoClientVersion = value; }
    void setPcVideoClientDownloadApi(const QString &value) { m_pcVideoClientDownloadApi = value; }
    void setMacVideoClientVersion(const QString &value) { m_macVideoClientVersion = value; }
    void setMacVideoClientDownloadApi(const QString &value) { m_macVideoClientDownloadApi = value; }
    void setLinuxVideoClientVersion(const QString &value) { m_linuxVideoClientVersion = value; }
    void setLinuxVideoClientDownloadApi(const QString &value) { m_linuxVideoClientDownloadApi = value; }

private:
    QString m_serverAddress;
    QString m_getTokenApi;
    QString m_validVideoInfoApi;
    QString m_uploadApi;
    QString m_refreshApi;
    QString m_addVideoApi;
    QString m_getRemovedFileIdListApi;
    QString m_removeFileApi;
    QString m_pcVideoClientVersion;
    QString m_pcVideoClientDownloadApi;
    QString m_macVideoClientVersion;
    QString m_macVideoClientDownloadApi;
    QString m_linuxVideoClientVersion;
    QString m_linuxVideoClientDownloadApi;
};
