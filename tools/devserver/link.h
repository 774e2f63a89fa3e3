// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>

namespace devserver {

class Shutdown;

// A slow, distant link on loopback: the bytes of request bodies come in no faster than the
// link's bandwidth, shared by every connection, and each reply is held back for the round
// trip. Idle time earns no credit, as on a real link. Off when both figures are 0.
class Link final
{
public:
    Link(double mbps, int rttMs, Shutdown &shutdown);
    Link(const Link &) = delete;
    Link &operator=(const Link &) = delete;

    bool active() const;
    // Returns once size more bytes would have crossed the link.
    void carry(size_t size);
    // Before a reply goes out.
    void delayReply();

private:
    using Clock = std::chrono::steady_clock;

    const double m_bytesPerSecond;
    const int m_rttMs;
    Shutdown &m_shutdown;
    std::mutex m_mutex;
    Clock::time_point m_free{};
};

} // namespace devserver
