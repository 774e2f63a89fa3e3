// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QStringList>

class QApplication;

namespace Startup {

// The launch text among the process arguments (element 0 is the executable): with more
// than two elements drop element 0; then element 1 if there is one. So X gives X, A X
// gives X and A B C gives B.
QString launchTextFromArguments(QStringList arguments);

// Ends the process with a message box when the run-time Qt is older than 5.12.3.
void checkQtVersion();

// Deletes old log files (or creates the folder) and writes the start banner.
void prepareLogs(const QStringList &arguments);

void applyStyleSheet(QApplication &app);
void installTranslations(QApplication &app);

void writeStopBanner();

} // namespace Startup
