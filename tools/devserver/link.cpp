// SPDX-License-Identifier: MIT
#include "link.h"

#include "servercontext.h"

namespace devserver {

Link::Link(double mbps, int rttMs, Shutdown &shutdown)
    : m_bytesPerSecond(mbps * 1000 * 1000 / 8)
    , m_rttMs(rttMs)
    , m_shutdown(shutdown)
{
}

bool Link::active() const
{
    return m_bytesPerSecond > 0 || m_rttMs > 0;
}

void Link::carry(size_t size)
{
    if (m_bytesPerSecond <= 0 || size == 0)
        return;
    Clock::time_point until;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const Clock::time_point now = Clock::now();
        if (m_free < now)
            m_free = now;
        m_free += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(size / m_bytesPerSecond));
        until = m_free;
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    // Waits under a millisecond add up in the link's schedule and are slept off together.
    if (wait > 0)
        m_shutdown.waitFor(int(wait));
}

void Link::delayReply()
{
    if (m_rttMs > 0)
        m_shutdown.waitFor(m_rttMs);
}

} // namespace devserver
