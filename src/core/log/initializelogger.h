// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QtGlobal>

// The process-wide message handler: every qDebug/qInfo/qWarning/qCritical/qFatal of any
// thread becomes one line of the daily log file in AppDirs::logsFolder().
void initializeLogger(QtMsgType type, const QMessageLogContext &context, const QString &message);
