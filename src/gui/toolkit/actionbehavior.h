// SPDX-License-Identifier: MIT
#pragma once

#include "gui/toolkit/functionmetatype.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>

class QThread;

// Runs one user action off the user-interface thread. The work runs on a thread of its
// own; whatever it throws becomes an outcome (code, message; see ActionOutcome) that comes
// back on the calling thread: the error handler for a failure, then the done callback always.
// A runner with a parent returns from run() at once and deletes itself after its
// callbacks; one without a parent waits in a local event loop and belongs to its creator.
class ActionBehavior final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ActionBehavior)

public:
    using Outcome = std::function<void(int, const QString &)>;

    explicit ActionBehavior(QObject *parent = nullptr);
    ~ActionBehavior() override;

    void run(std::function<void()> work);
    void run(std::function<void()> work, Outcome done);

    // Runs on the calling thread before the work; if it throws, the work never starts and
    // the callbacks run inside run().
    void setBefore(std::function<void()> before);
    void setErrorHandler(Outcome handler);
    // For actions whose done callback shows the outcome itself.
    void clearErrorHandler();
    void setWait(bool wait);

    // Shows the "提示" message box; every new runner starts with a copy of it.
    static Outcome defaultErrorHandler;
    // Set when the main window starts to close: from then on no callback runs.
    static std::atomic_bool appClosing;

signals:
    void callblack(std::function<void(void)> fun);

public slots:
    void callblackHandler(std::function<void(void)> fun);

private:
    void start();
    void runStage(const std::function<void()> &stage);
    void complete();
    void deliver();

    int m_code = 0;
    QString m_message;
    Outcome m_onError;
    Outcome m_onDone;
    std::function<void()> m_before;
    std::function<void()> m_work;
    bool m_wait = false;
    QThread *m_thread = nullptr;
};
