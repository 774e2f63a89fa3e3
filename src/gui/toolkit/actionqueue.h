// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QPointer>
#include <QQueue>

#include <functional>

// Lets at most limit() background actions of one kind run at once; the others wait, first
// come first served. Each row's analysis starts ffmpeg on a thread of its own, and a few
// hundred files dropped at once would otherwise start them all together.
//
// Lives on the user-interface thread. When its turn comes, an action's start function is
// called with a release function, which the work calls once it ends, on whatever thread and
// however it ends; the next waiting action starts then. An owner that is gone by its turn is
// skipped.
class ActionQueue final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ActionQueue)

public:
    using Release = std::function<void()>;
    using Start = std::function<void(const Release &release)>;

    explicit ActionQueue(int limit, QObject *parent = nullptr);

    // The queue of the rows' analyses: as many at once as the machine has cores, at least 2.
    static ActionQueue &analyses();

    int limit() const;
    void setLimit(int limit);

    // Starts at once when a place is free (true), else when one comes free (false).
    bool enqueue(QObject *owner, Start start);

private:
    void release();
    void startWaiting();

    struct Waiting
    {
        QPointer<QObject> owner;
        Start start;
    };
    int m_limit;
    int m_running = 0;
    QQueue<Waiting> m_waiting;
};
