// SPDX-License-Identifier: MIT
#pragma once

#include <QVector>
#include <QtGlobal>

#include <functional>

// Speed and time left of a transfer, from a running count of the bytes it has sent. The
// speed is taken over the last few seconds: a burst or a short pause moves the time left
// gradually instead of making it jump, and a line that stalls slows the speed down even
// while no new count arrives.
class TransferRate final
{
public:
    // Milliseconds of a steady clock.
    using Clock = std::function<qint64()>;
    static constexpr qint64 WindowMs = 5000;
    // Less history than this gives no speed: the first moments of a connection say little.
    static constexpr qint64 MinimumSpanMs = 1000;

    explicit TransferRate(Clock clock = {});

    // Starts over at a count of 0, now.
    void restart();
    // The count of bytes sent since restart(); it never goes down.
    void record(qint64 sent);
    qint64 elapsedMs() const;
    // Over the window; -1 while unknown.
    double bytesPerSecond() const;
    // What `remainingBytes` take at that speed, rounded up; -1 while unknown.
    int secondsLeft(qint64 remainingBytes) const;

private:
    struct Sample
    {
        qint64 ms;
        qint64 sent;
    };

    Clock m_clock;
    qint64 m_startMs = 0;
    // Oldest first; the first is the last one at or before the window's start.
    QVector<Sample> m_samples;
};
