// SPDX-License-Identifier: MIT
#include "core/pipeline/transferrate.h"

#include <QElapsedTimer>

#include <cmath>
#include <limits>
#include <memory>

namespace {

// Counts closer together than this share one sample, so a fast line keeps the list short.
constexpr qint64 SampleSpacingMs = 100;

} // namespace

TransferRate::TransferRate(Clock clock)
    : m_clock(std::move(clock))
{
    if (!m_clock) {
        auto timer = std::make_shared<QElapsedTimer>();
        timer->start();
        m_clock = [timer] { return timer->elapsed(); };
    }
    restart();
}

void TransferRate::restart()
{
    m_startMs = m_clock();
    m_samples = {{m_startMs, 0}};
}

void TransferRate::record(qint64 sent)
{
    const qint64 now = m_clock();
    if (now - m_samples.last().ms < SampleSpacingMs && m_samples.size() > 1)
        m_samples.last().sent = sent;
    else
        m_samples.append({now, sent});
    int stale = 0;
    while (stale + 1 < m_samples.size() && m_samples.at(stale + 1).ms <= now - WindowMs)
        ++stale;
    m_samples.remove(0, stale);
}

qint64 TransferRate::elapsedMs() const
{
    return m_clock() - m_startMs;
}

double TransferRate::bytesPerSecond() const
{
    const qint64 now = m_clock();
    // The newest sample at or before the window's start; an older base only after a stall,
    // whose quiet time then counts against the speed.
    Sample base = m_samples.first();
    for (const Sample &sample : m_samples) {
        if (sample.ms > now - WindowMs)
            break;
        base = sample;
    }
    const qint64 span = now - base.ms;
    if (span < MinimumSpanMs)
        return -1;
    return double(m_samples.last().sent - base.sent) * 1000.0 / double(span);
}

int TransferRate::secondsLeft(qint64 remainingBytes) const
{
    if (remainingBytes <= 0)
        return 0;
    const double speed = bytesPerSecond();
    if (speed <= 0)
        return -1;
    const double seconds = std::ceil(double(remainingBytes) / speed);
    return seconds < double(std::numeric_limits<int>::max()) ? int(seconds) : -1;
}
