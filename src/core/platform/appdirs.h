// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

// Where the program keeps its own files. The portable layout keeps logs, tmp and
// setting.ini beside the executable; an installed copy (program folder not writable)
// keeps them in the per-user application data folder instead. Everything that writes
// such files asks here, so the choice is made in one place.
namespace AppDirs {

// The folder that holds the executable.
QString programFolder();

// The folder for logs, tmp and setting.ini: the program folder when it is writable,
// otherwise QStandardPaths::AppDataLocation. Decided once per process.
QString dataFolder();

QString logsFolder();   // dataFolder() + "/logs"
QString tmpFolder();    // dataFolder() + "/tmp"
QString settingsFile(); // dataFolder() + "/setting.ini"

// Tests point the data folder somewhere of their own; an empty path restores the default.
void setDataFolderOverride(const QString &folder);

} // namespace AppDirs
