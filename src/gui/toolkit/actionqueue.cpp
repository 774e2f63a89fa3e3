// SPDX-License-Identifier: MIT
#include "gui/toolkit/actionqueue.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <memory>

ActionQueue::ActionQueue(int limit, QObject *parent)
    : QObject(parent)
    , m_limit(qMax(1, limit))
{
}

ActionQueue &ActionQueue::analyses()
{
    // The application object owns it: it outlives every row.
    static ActionQueue *queue = new ActionQueue(qMax(2, QThread::idealThreadCount()), QCoreApplication::instance());
    return *queue;
}

int ActionQueue::limit() const
{
    return m_limit;
}

void ActionQueue::setLimit(int limit)
{
    m_limit = qMax(1, limit);
    startWaiting();
}

bool ActionQueue::enqueue(QObject *owner, Start start)
{
    Q_ASSERT(QThread::currentThread() == thread());
    const bool now = m_waiting.isEmpty() && m_running < m_limit;
    m_waiting.enqueue(Waiting{owner, std::move(start)});
    startWaiting();
    return now;
}

void ActionQueue::startWaiting()
{
    while (m_running < m_limit && !m_waiting.isEmpty()) {
        const Waiting next = m_waiting.dequeue();
        if (!next.owner)
            continue;
        ++m_running;
        // Called once, from any thread; the place is given back on this object's thread.
        auto done = std::make_shared<std::atomic_bool>(false);
        ActionQueue *queue = this;
        next.start([queue, done] {
            if (!done->exchange(true))
                QMetaObject::invokeMethod(queue, &ActionQueue::release, Qt::QueuedConnection);
        });
    }
}

void ActionQueue::release()
{
    --m_running;
    startWaiting();
}
