// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// Where the program keeps its own files. The portable layout keeps logs, tmp and
// setting.ini beside the executable; an installed copy keeps them in the per-user
// application data folder instead. Everything that writes such files asks here, so the
// choice is made in one place.
namespace AppDirs {

// The folder that holds the executable.
QString programFolder();

// The folder for logs, tmp and setting.ini: the program folder when the copy is portable,
// otherwise QStandardPaths::AppDataLocation. Decided once per process.
QString dataFolder();

// A copy is portable only in a folder its user owns and can write, never under a system
// prefix (/usr, /usr/local, /opt), not even when root runs it.
bool isPortable(const QString &programFolder);

QString logsFolder();   // dataFolder() + "/logs"
QString tmpFolder();    // dataFolder() + "/tmp"
QString settingsFile(); // dataFolder() + "/setting.ini"

// Tests point the data folder somewhere of their own; an empty path restores the default.
void setDataFolderOverride(const QString &folder);

} // namespace AppDirs
