// SPDX-License-Identifier: MIT
#pragma once

#include "wire.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace devserver {

// A network outage on purpose: for a while no request on any endpoint gets an answer. "cut"
// closes every connection as its request arrives (kept-alive ones included); "refuse" also
// closes the listener, so new connections are refused, and opens it again on the same port
// afterwards. The admin and test routes stay reachable during a cut, not during a refusal.
//
// Planned as MS[:MODE[:AFTER]] (command line) or {"ms", "mode", "afterChunks"} (config): the
// outage begins with the AFTER-th chunk upload from now (that request is the first one cut),
// or at once when AFTER is 0. The command line's default AFTER is 1.
class Outage final
{
public:
    enum class Mode { Cut, Refuse };
    struct Plan
    {
        int64_t ms = 0;
        Mode mode = Mode::Cut;
        int64_t afterChunks = 0;
    };
    static constexpr int64_t MaxMs = 3600 * 1000;

    Outage() = default;
    Outage(const Outage &) = delete;
    Outage &operator=(const Outage &) = delete;

    static bool parseFlag(const std::string &text, Plan &plan, std::string &error);
    static bool parseJson(const Json &value, Plan &plan, std::string &error);

    // Called, outside the lock, when a refusing outage begins: close the listener and every
    // connection but the one from exceptRemotePort (-1: all).
    void setRefuseHandler(std::function<void(int exceptRemotePort)> handler);
    // Replaces any plan; an outage under way goes on. A plan of 0 ms ends one under way.
    // requesterPort: the remote port of the request that armed it, kept connected.
    void arm(const Plan &plan, int requesterPort);
    // Looks at a request before routing: true when it is to be cut.
    bool onRequest(bool chunkUpload);
    // Milliseconds the outage under way still lasts; 0 when none.
    int64_t remainingMs() const;
    bool refusing() const;
    Json toJson() const;

private:
    using Clock = std::chrono::steady_clock;
    bool activeLocked(Clock::time_point now) const;
    // Starts the planned outage; true when it refuses.
    bool beginLocked(Clock::time_point now);

    std::function<void(int)> m_onRefuse;
    mutable std::mutex m_mutex;
    Plan m_plan;
    bool m_armed = false;
    int64_t m_chunksSeen = 0;
    Mode m_mode = Mode::Cut;
    Clock::time_point m_until{};
};

// Shuts down every connection to localPort except the one from exceptRemotePort (-1: none).
void cutConnections(int localPort, int exceptRemotePort);

} // namespace devserver
