// SPDX-License-Identifier: MIT
#pragma once

#include <QDateTime>
#include <QMutex>
#include <QString>
#include <QtGlobal>

#include <functional>

// Appends one line per message to the daily file <folder>/yyyy-MM-dd.log and rotates a
// full file to yyyy-MM-dd_N.log. Stateless across messages: the file is opened and closed
// for every line, so a new day or a rotation needs no timer or cached handle.
class LogFileWriter final
{
    Q_DISABLE_COPY_MOVE(LogFileWriter)

public:
    static constexpr qint64 RotationSize = 10485760; // 10 MiB

    using Clock = std::function<QDateTime()>;

    explicit LogFileWriter(const QString &folder, Clock clock = {});

    // The message goes in as LogSecrets::clean leaves it: one line, no credentials.
    void write(QtMsgType type, const QMessageLogContext &context, const QString &message);

    // The whole line without its CR LF, as it goes into the file.
    static QString formatLine(const QDateTime &time, QtMsgType type, const char *file, int line,
                              const QString &message);
    static QString levelWord(QtMsgType type);

    QString dailyFilePath(const QDate &date) const;

private:
    void rotate(const QString &dailyPath, const QDate &date);

    QString m_folder;
    Clock m_clock;
    QMutex m_mutex; // not recursive: the writer never logs through itself
};
