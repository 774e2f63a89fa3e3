// SPDX-License-Identifier: MIT
#include "logcapture.h"

#include <QMutex>

namespace {
// Guards the active capture and its list: workers log while the test reads.
QMutex g_mutex;
LogCapture *g_active = nullptr;
} // namespace

LogCapture::LogCapture(QtMsgType type)
    : m_type(type)
{
    QMutexLocker locker(&g_mutex);
    m_outer = g_active;
    g_active = this;
    m_previous = qInstallMessageHandler(&LogCapture::handle);
}

LogCapture::~LogCapture()
{
    QMutexLocker locker(&g_mutex);
    qInstallMessageHandler(m_previous);
    g_active = m_outer;
}

QStringList LogCapture::messages(const QString &start) const
{
    QMutexLocker locker(&g_mutex);
    QStringList found;
    for (const QString &message : m_messages) {
        if (message.startsWith(start))
            found.append(message);
    }
    return found;
}

QStringList LogCapture::during(const std::function<void()> &work, QtMsgType type)
{
    LogCapture capture(type);
    work();
    return capture.messages();
}

void LogCapture::handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    QtMessageHandler forward = nullptr;
    {
        QMutexLocker locker(&g_mutex);
        // The innermost capture of this type keeps it; what none keeps goes on past them all.
        for (LogCapture *capture = g_active; capture; capture = capture->m_outer) {
            if (capture->m_type == type) {
                capture->m_messages.append(message);
                return;
            }
            forward = capture->m_previous;
        }
    }
    if (forward)
        forward(type, context, message);
}
