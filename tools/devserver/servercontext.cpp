// SPDX-License-Identifier: MIT
#include "servercontext.h"

#include <chrono>
#include <httplib.h>

namespace devserver {

void Shutdown::request()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requested = true;
    }
    m_changed.notify_all();
}

bool Shutdown::requested() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requested;
}

bool Shutdown::waitFor(int ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return !m_changed.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_requested; });
}

std::string ServerContext::baseUrl(const httplib::Request &request) const
{
    const std::string fallback = scheme + "://" + host + ":" + std::to_string(port);
    if (loopbackOnly)
        return fallback;
    const std::string hostHeader = request.get_header_value("Host");
    if (hostHeader.empty() || hostHeader.size() > 255)
        return fallback;
    for (const char c : hostHeader) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.'
                             || c == '-' || c == ':' || c == '[' || c == ']';
        if (!allowed)
            return fallback;
    }
    return scheme + "://" + hostHeader;
}

} // namespace devserver
