// SPDX-License-Identifier: MIT
#pragma once

#include <chrono>
#include <cstddef>

namespace devserver {

class Shutdown;

// A slow, distant link on loopback: a request body comes in no faster than the link's
// bandwidth, and each reply is held back for the round trip. Off when both figures are 0.
class Link final
{
public:
    using Clock = std::chrono::steady_clock;
    // One body's schedule: its bytes are due at fixed times from its first byte on, so a
    // sleep that overran is made up by the next one rather than lost.
    struct Transfer
    {
        Clock::time_point start{};
        double bytes = 0;
    };

    Link(double mbps, int rttMs, Shutdown &shutdown);
    Link(const Link &) = delete;
    Link &operator=(const Link &) = delete;

    bool active() const;
    // Returns once size more bytes of the transfer would have crossed the link.
    void carry(Transfer &transfer, size_t size);
    // Before a reply goes out.
    void delayReply();

private:
    const double m_bytesPerSecond;
    const int m_rttMs;
    Shutdown &m_shutdown;
};

} // namespace devserver
