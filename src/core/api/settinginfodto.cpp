// SPDX-License-Identifier: MIT
#include "core/api/settinginfodto.h"

#include <utility>

SettingInfoDTO::SettingInfoDTO(QObject *parent)
    : QObject(parent)
{
}

SettingInfoDTO::~SettingInfoDTO() = default;

void SettingInfoDTO::setAddVideoApi(QString value)
{
    m_addVideoApi = std::move(value);
}

void SettingInfoDTO::setGetTokenApi(QString value)
{
    m_getTokenApi = std::move(value);
}

void SettingInfoDTO::setInfoAddress(QString value)
{
    m_infoAddress = std::move(value);
}

void SettingInfoDTO::setInfoSubmitApi(QString value)
{
    m_infoSubmitApi = std::move(value);
}

void SettingInfoDTO::setName(QString value)
{
    m_name = std::move(value);
}

void SettingInfoDTO::setPcVideoClientDownloadApi(QString value)
{
    m_pcVideoClientDownloadApi = std::move(value);
}

void SettingInfoDTO::setPcVideoClientVersion(QString value)
{
    m_pcVideoClientVersion = std::move(value);
}

void SettingInfoDTO::setRefreshApi(QString value)
{
    m_refreshApi = std::move(value);
}

void SettingInfoDTO::setRefreshSecond(int value)
{
    m_refreshSecond = value;
}

void SettingInfoDTO::setUploadApi(QString value)
{
    m_uploadApi = std::move(value);
}

void SettingInfoDTO::setValidVideoInfoApi(QString value)
{
    m_validVideoInfoApi = std::move(value);
}

void SettingInfoDTO::setVideoSpeaker(QString value)
{
    m_videoSpeaker = std::move(value);
}

void SettingInfoDTO::setVideoTitle(QString value)
{
    m_videoTitle = std::move(value);
}

void SettingInfoDTO::setMacVideoClientDownloadApi(QString value)
{
    m_macVideoClientDownloadApi = std::move(value);
}

void SettingInfoDTO::setMacVideoClientVersion(QString value)
{
    m_macVideoClientVersion = std::move(value);
}

void SettingInfoDTO::setLinuxVideoClientDownloadApi(QString value)
{
    m_linuxVideoClientDownloadApi = std::move(value);
}

void SettingInfoDTO::setLinuxVideoClientVersion(QString value)
{
    m_linuxVideoClientVersion = std::move(value);
}

void SettingInfoDTO::setGetRemovedFileIdListApi(QString value)
{
    m_getRemovedFileIdListApi = std::move(value);
}

void SettingInfoDTO::setRemoveFileApi(QString value)
{
    m_removeFileApi = std::move(value);
}
