// SPDX-License-Identifier: MIT
#pragma once

#include "options.h"
#include "wire.h"

#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace devserver {

// The one upload session this server plays: its launch values, the run-time configuration
// that /admin/config changes, the issued tokens and the ids marked for removal.
class SessionState final
{
public:
    explicit SessionState(const Options &options);
    SessionState(const SessionState &) = delete;
    SessionState &operator=(const SessionState &) = delete;

    const std::string &code() const { return m_code; }
    const std::string &uuid() const { return m_uuid; }
    int maxUploadNum() const { return m_maxUploadNum; }

    static bool isConfigKey(const std::string &key);
    // Changes the keys present in config; with dryRun only validates.
    bool apply(const Json &config, std::string &error, bool dryRun);
    Json toJson() const;

    // The settings envelope for a server reachable at base ("http://127.0.0.1:PORT").
    Json settingsReply(const std::string &base) const;
    Json taskList() const;

    std::string issueToken();
    // The token reply's data: the token, unless a test asked for something else there.
    Json tokenData(const std::string &token) const;
    bool isTokenValid(const std::string &token) const;

    void markRemoved(const std::string &id);
    // Every marked id once; the list is empty afterwards.
    std::vector<std::string> takeRemoved();

private:
    mutable std::mutex m_mutex;
    const std::string m_code;
    const std::string m_uuid;
    const int m_maxUploadNum;
    Json m_plan; // a plan's name, or the task list itself
    Json m_tokenData;
    int m_refreshSecond;
    Json m_settingsOverride = Json::object();
    bool m_settingsNoData = false;
    std::string m_clientVersion;
    std::string m_clientDownload;
    std::set<std::string> m_tokens;
    std::vector<std::string> m_removed;
};

} // namespace devserver
