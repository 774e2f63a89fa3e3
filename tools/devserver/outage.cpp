// SPDX-License-Identifier: MIT
#include "outage.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace devserver {

namespace {

bool parseCount(const std::string &text, int64_t low, int64_t high, int64_t &value)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 12)
        return false;
    value = std::stoll(text);
    return value >= low && value <= high;
}

bool parseMode(const std::string &text, Outage::Mode &mode)
{
    if (text == "cut")
        mode = Outage::Mode::Cut;
    else if (text == "refuse")
        mode = Outage::Mode::Refuse;
    else
        return false;
    return true;
}

int portOf(const sockaddr_storage &address)
{
    if (address.ss_family == AF_INET)
        return ntohs(reinterpret_cast<const sockaddr_in &>(address).sin_port);
    if (address.ss_family == AF_INET6)
        return ntohs(reinterpret_cast<const sockaddr_in6 &>(address).sin6_port);
    return -1;
}

} // namespace

bool Outage::parseFlag(const std::string &text, Plan &plan, std::string &error)
{
    Plan parsed;
    parsed.afterChunks = 1;
    const size_t first = text.find(':');
    const size_t second = first == std::string::npos ? first : text.find(':', first + 1);
    const std::string ms = text.substr(0, first);
    const std::string mode = first == std::string::npos ? "cut" : text.substr(first + 1, second - first - 1);
    const std::string after = second == std::string::npos ? "1" : text.substr(second + 1);
    if (!parseCount(ms, 0, MaxMs, parsed.ms) || !parseMode(mode, parsed.mode)
        || !parseCount(after, 0, 1000000000, parsed.afterChunks)) {
        error = "--outage is MS[:cut|refuse[:AFTER_CHUNKS]], MS up to " + std::to_string(MaxMs) + ": " + text;
        return false;
    }
    plan = parsed;
    return true;
}

bool Outage::parseJson(const Json &value, Plan &plan, std::string &error)
{
    if (value.is_null()) {
        plan = Plan();
        return true;
    }
    if (value.is_string())
        return parseFlag(value.get<std::string>(), plan, error);
    Plan parsed;
    const auto count = [&](const char *key, int64_t high, int64_t &out) {
        if (!value.contains(key))
            return true;
        const Json &item = value.at(key);
        if (!item.is_number_integer() || item.get<int64_t>() < 0 || item.get<int64_t>() > high)
            return false;
        out = item.get<int64_t>();
        return true;
    };
    const bool modeOk =
        !value.contains("mode")
        || (value.at("mode").is_string() && parseMode(value.at("mode").get<std::string>(), parsed.mode));
    if (!value.is_object() || !value.contains("ms") || !count("ms", MaxMs, parsed.ms)
        || !count("afterChunks", 1000000000, parsed.afterChunks) || !modeOk) {
        error = "outage is {\"ms\": 0.." + std::to_string(MaxMs)
                + ", \"mode\": \"cut\"|\"refuse\", \"afterChunks\": N}, a flag text or null";
        return false;
    }
    for (const auto &item : value.items()) {
        if (item.key() != "ms" && item.key() != "mode" && item.key() != "afterChunks") {
            error = "outage has no key \"" + item.key() + "\"";
            return false;
        }
    }
    plan = parsed;
    return true;
}

void Outage::setRefuseHandler(std::function<void(int)> handler)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_onRefuse = std::move(handler);
}

void Outage::arm(const Plan &plan, int requesterPort)
{
    bool refuse = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_plan = plan;
        m_chunksSeen = 0;
        m_armed = plan.ms > 0;
        if (plan.ms == 0)
            m_until = Clock::time_point{};
        else if (plan.afterChunks == 0)
            refuse = beginLocked(Clock::now());
    }
    if (refuse && m_onRefuse)
        m_onRefuse(requesterPort);
}

bool Outage::activeLocked(Clock::time_point now) const
{
    return now < m_until;
}

bool Outage::beginLocked(Clock::time_point now)
{
    m_armed = false;
    m_mode = m_plan.mode;
    m_until = now + std::chrono::milliseconds(m_plan.ms);
    return m_mode == Mode::Refuse;
}

bool Outage::onRequest(bool chunkUpload)
{
    bool refuse = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const Clock::time_point now = Clock::now();
        if (activeLocked(now))
            return true;
        if (!m_armed || !chunkUpload || ++m_chunksSeen < m_plan.afterChunks)
            return false;
        refuse = beginLocked(now);
    }
    if (refuse && m_onRefuse)
        m_onRefuse(-1);
    return true;
}

int64_t Outage::remainingMs() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const Clock::time_point now = Clock::now();
    if (!activeLocked(now))
        return 0;
    return std::chrono::duration_cast<std::chrono::milliseconds>(m_until - now).count() + 1;
}

bool Outage::refusing() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mode == Mode::Refuse && activeLocked(Clock::now());
}

Json Outage::toJson() const
{
    const int64_t remaining = remainingMs();
    std::lock_guard<std::mutex> lock(m_mutex);
    Json json{{"remainingMs", remaining}, {"mode", m_mode == Mode::Cut ? "cut" : "refuse"}};
    if (m_armed)
        json["planned"] = Json{{"ms", m_plan.ms},
                               {"mode", m_plan.mode == Mode::Cut ? "cut" : "refuse"},
                               {"afterChunks", m_plan.afterChunks - m_chunksSeen}};
    return json;
}

void cutConnections(int localPort, int exceptRemotePort)
{
    DIR *folder = ::opendir("/proc/self/fd");
    if (!folder)
        return;
    while (const dirent *entry = ::readdir(folder)) {
        const int fd = std::atoi(entry->d_name);
        sockaddr_storage local{};
        sockaddr_storage remote{};
        socklen_t localSize = sizeof local;
        socklen_t remoteSize = sizeof remote;
        if (fd > 2 && fd != ::dirfd(folder) && ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &localSize) == 0
            && ::getpeername(fd, reinterpret_cast<sockaddr *>(&remote), &remoteSize) == 0 && portOf(local) == localPort
            && portOf(remote) != exceptRemotePort)
            ::shutdown(fd, SHUT_RDWR);
    }
    ::closedir(folder);
}

} // namespace devserver
