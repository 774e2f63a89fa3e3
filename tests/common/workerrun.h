// SPDX-License-Identifier: MIT
#pragma once

#include "core/pipeline/actionoutcome.h"

#include <QtGlobal>

#include <functional>
#include <memory>

class QThread;

// Runs work on a thread of its own, as a task row's background action does, while the
// test's thread keeps delivering the queued reports; the work's end is an ActionOutcome.
class WorkerRun final
{
    Q_DISABLE_COPY_MOVE(WorkerRun)

public:
    explicit WorkerRun(std::function<void()> work);
    // Waits for the work: a test that fails early must not leave a running thread behind.
    ~WorkerRun();

    // Processes events until the work has ended; false on timeout.
    bool wait(int timeoutMs = 120000);
    bool finished() const;
    // How the work ended; a failure while it still runs.
    ActionOutcome outcome() const;

private:
    std::unique_ptr<QThread> m_thread;
    std::shared_ptr<ActionOutcome> m_outcome;
};
