// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// Where the program keeps its own files. The portable layout keeps logs, tmp and
// setting.ini beside the executable; an installed copy keeps them in the per-user
// application data folder instead. The choice is made here once; start-up reads setting.ini
// from that folder and hands the folder on in the session's options (ClientOptions), which
// is where everything after start-up takes it from.
namespace AppDirs {

// The folder that holds the executable.
QString programFolder();

// The folder for logs, tmp and setting.ini: the program folder when the copy is portable,
// otherwise QStandardPaths::AppDataLocation. Decided once per process.
QString dataFolder();

// A copy is portable only in a folder its user owns and can write, never under a system
// prefix (/usr, /usr/local, /opt), not even when root runs it.
bool isPortable(const QString &programFolder);

// dataFolder() + "/logs": the log writer's folder, fixed before the options are read.
QString logsFolder();

} // namespace AppDirs
