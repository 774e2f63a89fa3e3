// SPDX-License-Identifier: MIT
#include "workerrun.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

WorkerRun::WorkerRun(std::function<void()> work)
    : m_outcome(std::make_shared<ActionOutcome>())
{
    std::shared_ptr<ActionOutcome> outcome = m_outcome;
    m_thread.reset(QThread::create([outcome, work] { *outcome = ActionOutcome::of(work); }));
    m_thread->start();
}

WorkerRun::~WorkerRun()
{
    m_thread->wait();
}

bool WorkerRun::wait(int timeoutMs)
{
    if (!m_thread->isFinished()) {
        QEventLoop loop;
        QObject::connect(m_thread.get(), &QThread::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        if (!m_thread->isFinished())
            loop.exec();
    }
    // finished() comes just before the thread is done; the rest is a matter of moments.
    if (!m_thread->isFinished() || !m_thread->wait(10000))
        return false;
    // Reports the worker emitted are queued to this thread: deliver them too.
    QCoreApplication::processEvents();
    return true;
}

bool WorkerRun::finished() const
{
    return m_thread->isFinished();
}

ActionOutcome WorkerRun::outcome() const
{
    return finished() ? *m_outcome : ActionOutcome{-1, QStringLiteral("<still running>")};
}
