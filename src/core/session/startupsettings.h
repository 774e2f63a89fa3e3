// SPDX-License-Identifier: MIT
#pragma once

#include "core/session/clientoptions.h"

#include <QString>

// setting.ini: "domain" and "schoolId" at top level, "get" and "post" in group "url".
// A good file is read; a missing, empty, unreadable file or one with an empty value is
// silently rewritten with the current values.
namespace StartupSettings {

QString domain();
QString schoolId();
QString urlGet();
QString urlPost();

// The session's options with the keys of the group "network" (ClientOptions tells which).
// The group is read even from a file that fails the check, and kept when the file is
// rewritten, so the rewrite never turns certificate verification back on behind the
// administrator's back.
ClientOptions clientOptions();

// The file check: exists, not empty, readable, and no "key=" line with an empty value.
bool isGood(const QString &path);
// Writes the four current values as the file; write failures are ignored.
void writeCurrent(const QString &path);
// Reads the four values from a good file into the process-wide values.
void read(const QString &path);
// What start-up calls: check, then read or rewrite.
void load(const QString &path);
// load() of the data folder's setting.ini, then clientOptions() for that folder.
ClientOptions loadOptions(const QString &dataFolder);

// Puts the four values and the network group back to their defaults (tests).
void resetToDefaults();

} // namespace StartupSettings
