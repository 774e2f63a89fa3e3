// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// Thrown by work that the user stopped. The background action runner reports it as
// (code, message) without calling its error handler, so a stop is told apart from a
// failure by type. Deliberately not derived from std::exception.
struct ActionStopSignal
{
    explicit ActionStopSignal(const QString &stopMessage)
        : message(stopMessage)
    {
    }

    int code = 0;
    QString message;
};
