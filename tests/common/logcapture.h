// SPDX-License-Identifier: MIT
#pragma once

#include <QStringList>
#include <QtGlobal>

#include <functional>

// Keeps the messages of one type logged while it lives, from any thread, instead of printing
// them; other types go on to the handler it replaced, which comes back when it ends.
class LogCapture final
{
public:
    explicit LogCapture(QtMsgType type = QtWarningMsg);
    ~LogCapture();
    Q_DISABLE_COPY_MOVE(LogCapture)

    // The messages kept so far that start with `start`, in order.
    QStringList messages(const QString &start = QString()) const;
    // The messages of type that work logged.
    static QStringList during(const std::function<void()> &work, QtMsgType type = QtWarningMsg);

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message);

    QtMsgType m_type;
    QtMessageHandler m_previous = nullptr;
    LogCapture *m_outer = nullptr;
    QStringList m_messages;
};
