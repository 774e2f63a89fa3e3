// SPDX-License-Identifier: MIT
#include "core/pipeline/outagewait.h"

#include <QDateTime>
#include <QDebug>
#include <QEventLoop>
#include <QTimer>

OutageWait::OutageWait(const ClientOptions &options)
    : m_limitMs(qint64(options.outageLimitSeconds) * 1000)
    , m_firstPauseMs(qMax(1, options.outageFirstPauseMs))
    , m_maxPauseMs(qMax(m_firstPauseMs, options.outageMaxPauseMs))
{
}

bool OutageWait::pause(const Slice &afterSlice)
{
    if (!m_timer.isValid()) {
        m_timer.start();
        m_sinceMs = QDateTime::currentMSecsSinceEpoch();
        m_nextPauseMs = m_firstPauseMs;
        qWarning().noquote() << QStringLiteral("网络中断，等待重连 (at most %1 s)").arg(m_limitMs / 1000);
    }
    const qint64 left = m_limitMs - m_timer.elapsed();
    if (left <= 0) {
        qWarning().noquote() << QStringLiteral("网络中断超过 %1 s，放弃").arg(m_limitMs / 1000);
        return false;
    }
    const qint64 pauseMs = qMin<qint64>(m_nextPauseMs, left);
    m_nextPauseMs = qMin(m_nextPauseMs * 2, m_maxPauseMs);
    for (qint64 waited = 0; waited < pauseMs; waited += SliceMs) {
        QEventLoop loop;
        QTimer::singleShot(int(qMin<qint64>(SliceMs, pauseMs - waited)), &loop, &QEventLoop::quit);
        loop.exec();
        if (afterSlice)
            afterSlice();
    }
    return true;
}

void OutageWait::reset()
{
    if (m_timer.isValid())
        qWarning().noquote() << QStringLiteral("网络已恢复 (waited %1 ms)").arg(m_timer.elapsed());
    m_timer.invalidate();
    m_sinceMs = 0;
}
