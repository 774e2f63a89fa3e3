// SPDX-License-Identifier: MIT
#include "sessionstate.h"

#include <algorithm>

namespace devserver {

namespace {

const char *const TranscodeTemplate =
    "{ffmpegPath} -y -i \"{source}\" -vf scale=-2:240 -c:v libx264 -preset ultrafast -crf 32 -c:a aac -b:a 64k "
    "-movflags +faststart \"{target}\"";

Json task(int id, int type, int sign, const char *title, const char *mac)
{
    return Json{{"id", id}, {"type", type}, {"sign", sign}, {"title", title}, {"mac", mac}};
}

} // namespace

SessionState::SessionState(const Options &options)
    : m_code(options.code)
    , m_uuid(options.uuid.empty() ? randomHex(16) : options.uuid)
    , m_maxUploadNum(options.maxUploadNum)
    , m_plan(options.plan)
    , m_refreshSecond(options.refreshSecond)
    , m_clientVersion(options.clientVersion)
    , m_clientDownload(options.clientDownload)
{
}

bool SessionState::isConfigKey(const std::string &key)
{
    return key == "plan" || key == "refreshSecond" || key == "settings" || key == "settingsNoData"
           || key == "clientVersion" || key == "clientDownload" || key == "tokenData";
}

bool SessionState::apply(const Json &config, std::string &error, bool dryRun)
{
    const auto check = [&](const char *key, bool (Json::*isType)() const noexcept, const char *what) {
        if (config.contains(key) && !(config.at(key).*isType)()) {
            error = std::string(key) + " must be " + what;
            return false;
        }
        return true;
    };
    if (config.contains("plan") && config.at("plan").is_array()) {
        for (const Json &item : config.at("plan")) {
            if (!item.is_object()) {
                error = "a plan list holds task objects";
                return false;
            }
        }
    } else if (!check("plan", &Json::is_string, "a string or a list of task objects")) {
        return false;
    }
    if (!check("refreshSecond", &Json::is_number_integer, "an integer")
        || !check("settings", &Json::is_object, "an object") || !check("settingsNoData", &Json::is_boolean, "a boolean")
        || !check("clientVersion", &Json::is_string, "a string")
        || !check("clientDownload", &Json::is_string, "a string"))
        return false;
    if (config.contains("plan") && config.at("plan").is_string()) {
        const std::string plan = config.at("plan").get<std::string>();
        if (plan != "original" && plan != "nr" && plan != "empty") {
            error = "plan must be original, nr or empty";
            return false;
        }
    }
    if (dryRun)
        return true;

    std::lock_guard<std::mutex> lock(m_mutex);
    if (config.contains("plan"))
        m_plan = config.at("plan");
    if (config.contains("tokenData"))
        m_tokenData = config.at("tokenData");
    if (config.contains("refreshSecond"))
        m_refreshSecond = config.at("refreshSecond").get<int>();
    if (config.contains("settings"))
        m_settingsOverride = config.at("settings");
    if (config.contains("settingsNoData"))
        m_settingsNoData = config.at("settingsNoData").get<bool>();
    if (config.contains("clientVersion"))
        m_clientVersion = config.at("clientVersion").get<std::string>();
    if (config.contains("clientDownload"))
        m_clientDownload = config.at("clientDownload").get<std::string>();
    return true;
}

Json SessionState::toJson() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return Json{{"code", m_code},
                {"uuid", m_uuid},
                {"maxUploadNum", m_maxUploadNum},
                {"plan", m_plan},
                {"refreshSecond", m_refreshSecond},
                {"settings", m_settingsOverride},
                {"settingsNoData", m_settingsNoData},
                {"clientVersion", m_clientVersion},
                {"clientDownload", m_clientDownload},
                {"tokenData", m_tokenData},
                {"pendingRemovals", m_removed}};
}

Json SessionState::settingsReply(const std::string &base) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Json reply = envelope(true, "200", "操作成功");
    if (m_settingsNoData)
        return reply;
    Json data{{"addVideoApi", base + "/api/addVideo"},
              {"getTokenApi", base + "/api/token"},
              {"infoAddress", ""},
              {"infoSubmitApi", ""},
              {"name", "nuv-devserver"},
              {"pcVideoClientDownloadApi", ""},
              {"pcVideoClientVersion", ""},
              {"macVideoClientDownloadApi", ""},
              {"macVideoClientVersion", ""},
              {"linuxVideoClientDownloadApi", m_clientDownload},
              {"linuxVideoClientVersion", m_clientVersion},
              {"refreshApi", base + "/api/refresh"},
              {"refreshSecond", m_refreshSecond},
              {"uploadApi", base + "/api/upload"},
              {"validVideoInfoApi", base + "/api/check"},
              {"videoSpeaker", ""},
              {"videoTitle", ""},
              {"removeFileApi", base + "/api/removeFile"},
              {"getRemovedFileIdListApi", base + "/api/removed"}};
    // A merge patch: a null in the override removes the key, which is how a test leaves one out.
    data.merge_patch(m_settingsOverride);
    reply["data"] = data;
    return reply;
}

Json SessionState::taskList() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_plan.is_array())
        return m_plan;
    if (m_plan == "nr")
        return Json::array({task(1, 1, 1, "转码标清", TranscodeTemplate), task(2, 2, 0, "上传原视频", ""),
                            task(3, 2, 1, "上传标清视频", "")});
    if (m_plan == "empty")
        return Json::array();
    return Json::array({task(1, 2, 0, "上传原视频", "")});
}

std::string SessionState::issueToken()
{
    const std::string token = randomToken();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_tokens.insert(token);
    return token;
}

Json SessionState::tokenData(const std::string &token) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_tokenData.is_null() ? Json(token) : m_tokenData;
}

bool SessionState::isTokenValid(const std::string &token) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !token.empty() && m_tokens.count(token) > 0;
}

void SessionState::markRemoved(const std::string &id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (std::find(m_removed.begin(), m_removed.end(), id) == m_removed.end())
        m_removed.push_back(id);
}

std::vector<std::string> SessionState::takeRemoved()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> taken;
    taken.swap(m_removed);
    return taken;
}

} // namespace devserver
