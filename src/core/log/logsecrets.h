// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// What the log writer does to every message before it reaches the file, so that a log
// handed to support carries no credentials and one message is always one line:
// registered secrets (the launch command's code, the API token) are masked wherever they
// occur, a password in a URL ("user:password@") is masked, and control characters are
// written as escapes.
namespace LogSecrets {

// Registers a value to mask from now on, with the forms it takes in URLs and JSON. Values
// shorter than MinimumLength are not registered: they hide nothing and masking them would
// blank ordinary text.
constexpr int MinimumLength = 4;
void add(const QString &secret);

// The masked form: a short prefix (at most 4 characters) and "…".
QString mask(const QString &secret);

// The message as the log file gets it.
QString clean(const QString &message);

// Forgets every registered secret (tests).
void clear();

} // namespace LogSecrets
