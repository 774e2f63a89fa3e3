// SPDX-License-Identifier: MIT
#pragma once

#include <QDateTime>
#include <QString>

// Makes sure the log folder exists. A missing folder is created (with its parents) and
// nothing is pruned; in an existing folder every regular file created before
// now - retentionDays is deleted. Sub-folders are never touched. Failures are silent.
void prepareLogFolder(const QString &folder, const QDateTime &now = QDateTime::currentDateTime(),
                      int retentionDays = 30);
