// SPDX-License-Identifier: MIT
#include "core/log/logfilewriter.h"

#include "core/log/logsecrets.h"

#include <QFile>
#include <QMutexLocker>

LogFileWriter::LogFileWriter(const QString &folder, Clock clock)
    : m_folder(folder)
    , m_clock(clock ? std::move(clock) : Clock([] { return QDateTime::currentDateTime(); }))
{
}

QString LogFileWriter::levelWord(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return QStringLiteral("Debug:");
    case QtWarningMsg: return QStringLiteral("Warning:");
    case QtCriticalMsg: return QStringLiteral("Critical:");
    case QtFatalMsg: return QStringLiteral("Fatal:");
    case QtInfoMsg: break;
    }
    return QString();
}

QString LogFileWriter::formatLine(const QDateTime &time, QtMsgType type, const char *file, int line,
                                  const QString &message)
{
    const QString place =
        QStringLiteral("File:(%1) Line:(%2)").arg(file ? QString::fromUtf8(file) : QString()).arg(file ? line : 0);
    return QStringLiteral("%1 %2 %3 %4")
        .arg(time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")), levelWord(type), place, message);
}

QString LogFileWriter::dailyFilePath(const QDate &date) const
{
    return m_folder + QLatin1Char('/') + date.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".log");
}

void LogFileWriter::write(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    QMutexLocker locker(&m_mutex);

    const QDateTime now = m_clock();
    const QString text = formatLine(now, type, context.file, context.line, LogSecrets::clean(message));
    const QByteArray line = (text + QStringLiteral("\r\n")).toUtf8();
    const QString path = dailyFilePath(now.date());

    QFile file(path);
    if (!file.open(QIODevice::Append))
        return;
    if (file.size() >= RotationSize) {
        file.close();
        rotate(path, now.date());
        // The message that found the file full starts the emptied file, so nothing is lost.
        if (!file.open(QIODevice::Append))
            return;
    }
    file.write(line);
    file.close();
}

void LogFileWriter::rotate(const QString &dailyPath, const QDate &date)
{
    const QString stem = m_folder + QLatin1Char('/') + date.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char('_');
    int n = 1;
    while (QFile::exists(stem + QString::number(n) + QStringLiteral(".log")))
        ++n;
    // A failed copy is not reported; the daily file is emptied all the same.
    QFile::copy(dailyPath, stem + QString::number(n) + QStringLiteral(".log"));
    QFile::resize(dailyPath, 0);
}
