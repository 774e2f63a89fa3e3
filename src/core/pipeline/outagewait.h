// SPDX-License-Identifier: MIT
#pragma once

#include "core/session/clientoptions.h"

#include <QElapsedTimer>
#include <QtGlobal>

#include <functional>

// The wait for a server that gives no answer: pauses growing from outageFirstPauseMs to
// outageMaxPauseMs until the outage has lasted outageLimitSeconds. One per request being
// tried; an answer of any kind ends the outage (reset).
class OutageWait final
{
public:
    // Runs after each slice of a pause, on the waiting thread: it may throw to end the wait
    // (a stop), and keeps a clock on screen going.
    using Slice = std::function<void()>;
    static constexpr int SliceMs = 100;

    explicit OutageWait(const ClientOptions &options);

    // After a try that got no answer: waits the next pause, events flowing, and returns true;
    // false without waiting once the limit has passed.
    bool pause(const Slice &afterSlice);
    void reset();
    bool waiting() const { return m_timer.isValid(); }
    // When the outage began, in milliseconds since the epoch; 0 when there is none.
    qint64 since() const { return m_sinceMs; }

private:
    const qint64 m_limitMs;
    const int m_firstPauseMs;
    const int m_maxPauseMs;
    QElapsedTimer m_timer;
    qint64 m_sinceMs = 0;
    int m_nextPauseMs = 0;
};
