// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QTemporaryDir>

// A private copy of a built program in a folder of its own, so its program folder (logs,
// tmp, setting.ini) is the test's.
struct ProgramCopy
{
    QTemporaryDir dir;
    QString program;

    // Copies $NUV_BIN_DIR/name into dir; false when that failed.
    bool install(const QString &name);
    // Today's log file of the copy; empty while there is none.
    QString logText() const;
};
