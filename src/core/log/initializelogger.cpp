// SPDX-License-Identifier: MIT
#include "core/log/initializelogger.h"

#include "core/log/logfilewriter.h"
#include "core/platform/appdirs.h"

void initializeLogger(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    // Created on first use, after start-up has settled the data folder.
    static LogFileWriter writer(AppDirs::logsFolder());
    writer.write(type, context, message);
}
