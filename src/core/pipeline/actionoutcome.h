// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <functional>

// How a piece of work ended, as every front end tells it: (0, empty) done, (0, text) stopped
// by the user, (non-zero, text) failed. of() is the one place that maps what work throws:
// a QString, a const char* or a std::exception gives -1 with its text; an ActionStopSignal
// its own code and text; anything else (999, "fatal error"). Nothing thrown leaves of().
struct ActionOutcome
{
    int code = 0;
    QString message;

    bool ok() const { return code == 0 && message.isEmpty(); }
    bool stopped() const { return code == 0 && !message.isEmpty(); }
    bool failed() const { return code != 0; }

    // Runs work (nothing for an empty function) on the calling thread.
    static ActionOutcome of(const std::function<void()> &work);
};
