// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>

// The server's configuration: every endpoint URL, the report period and the client versions.
// Filled by reflection through the invokable setters, which are declared in the order the
// reflection calls them.
class SettingInfoDTO final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettingInfoDTO)

public:
    explicit SettingInfoDTO(QObject *parent = nullptr);
    ~SettingInfoDTO() override;

    Q_INVOKABLE void setAddVideoApi(QString value);
    Q_INVOKABLE void setGetTokenApi(QString value);
    Q_INVOKABLE void setInfoAddress(QString value);
    Q_INVOKABLE void setInfoSubmitApi(QString value);
    Q_INVOKABLE void setName(QString value);
    Q_INVOKABLE void setPcVideoClientDownloadApi(QString value);
    Q_INVOKABLE void setPcVideoClientVersion(QString value);
    Q_INVOKABLE void setRefreshApi(QString value);
    Q_INVOKABLE void setRefreshSecond(int value);
    Q_INVOKABLE void setUploadApi(QString value);
    Q_INVOKABLE void setValidVideoInfoApi(QString value);
    Q_INVOKABLE void setVideoSpeaker(QString value);
    Q_INVOKABLE void setVideoTitle(QString value);
    Q_INVOKABLE void setMacVideoClientDownloadApi(QString value);
    Q_INVOKABLE void setMacVideoClientVersion(QString value);
    Q_INVOKABLE void setLinuxVideoClientDownloadApi(QString value);
    Q_INVOKABLE void setLinuxVideoClientVersion(QString value);
    Q_INVOKABLE void setGetRemovedFileIdListApi(QString value);
    Q_INVOKABLE void setRemoveFileApi(QString value);

    QString addVideoApi() const { return m_addVideoApi; }
    QString getTokenApi() const { return m_getTokenApi; }
    QString infoAddress() const { return m_infoAddress; }
    QString infoSubmitApi() const { return m_infoSubmitApi; }
    QString name() const { return m_name; }
    QString pcVideoClientDownloadApi() const { return m_pcVideoClientDownloadApi; }
    QString pcVideoClientVersion() const { return m_pcVideoClientVersion; }
    QString macVideoClientDownloadApi() const { return m_macVideoClientDownloadApi; }
    QString macVideoClientVersion() const { return m_macVideoClientVersion; }
    QString linuxVideoClientDownloadApi() const { return m_linuxVideoClientDownloadApi; }
    QString linuxVideoClientVersion() const { return m_linuxVideoClientVersion; }
    QString refreshApi() const { return m_refreshApi; }
    int refreshSecond() const { return m_refreshSecond; }
    QString uploadApi() const { return m_uploadApi; }
    QString validVideoInfoApi() const { return m_validVideoInfoApi; }
    QString videoSpeaker() const { return m_videoSpeaker; }
    QString videoTitle() const { return m_videoTitle; }
    QString removeFileApi() const { return m_removeFileApi; }
    QString getRemovedFileIdListApi() const { return m_getRemovedFileIdListApi; }

private:
    QString m_addVideoApi;
    QString m_getTokenApi;
    QString m_infoAddress;
    QString m_infoSubmitApi;
    QString m_name;
    QString m_pcVideoClientDownloadApi;
    QString m_pcVideoClientVersion;
    QString m_macVideoClientDownloadApi;
    QString m_macVideoClientVersion;
    QString m_linuxVideoClientDownloadApi;
    QString m_linuxVideoClientVersion;
    QString m_refreshApi;
    int m_refreshSecond = 0;
    QString m_uploadApi;
    QString m_validVideoInfoApi;
    QString m_videoSpeaker;
    QString m_videoTitle;
    QString m_removeFileApi;
    QString m_getRemovedFileIdListApi;
};
