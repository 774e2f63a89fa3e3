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

void Link::carry(Transfer &transfer, size_t size)
{
    if (m_bytesPerSecond <= 0 || size == 0)
        return;
    if (transfer.bytes == 0)
        transfer.start = Clock::now();
    transfer.bytes += double(size);
    const Clock::time_point due =
        transfer.start
        + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(transfer.bytes / m_bytesPerSecond));
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now()).count();
    // Waits under a millisecond add up and are slept off together.
    if (wait > 0)
        m_shutdown.waitFor(int(wait));
}

void Link::delayReply()
{
    if (m_rttMs > 0)
        m_shutdown.waitFor(m_rttMs);
}

} // namespace devserver
