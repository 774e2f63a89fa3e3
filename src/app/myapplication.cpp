// SPDX-License-Identifier: MIT
#include "app/myapplication.h"

#include "core/platform/processhelpers.h"
#include "core/session/schema.h"

#include <QDataStream>
#include <QDebug>
#include <QFileOpenEvent>
#include <QProcess>

namespace {

const QString IdleKey = QStringLiteral("idleState");
// The session record uses 10; the idle record had no limit, which could spin for ever on
// a holder that cannot be ended.
constexpr int CreateRetries = 10;

QByteArray serialisedPid()
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << qint64(QCoreApplication::applicationPid());
    return bytes;
}

} // namespace

MyApplication::MyApplication(int &argc, char **argv)
    : QApplication(argc, argv)
    , m_relaunchProgram(applicationFilePath())
{
}

MyApplication *MyApplication::instance()
{
    return qobject_cast<MyApplication *>(QCoreApplication::instance());
}

bool MyApplication::createRecord(QSharedMemory &memory, const QString &key)
{
    memory.setKey(key);
    const QByteArray bytes = serialisedPid();
    int retries = 0;
    while (!memory.create(bytes.size(), QSharedMemory::ReadWrite)) {
        if (memory.error() != QSharedMemory::AlreadyExists || retries >= CreateRetries)
            return false;
        ++retries;
        // A segment whose holder was killed lingers until someone attaches and detaches.
        memory.attach(QSharedMemory::ReadOnly);
        memory.detach();
        qDebug().noquote() << memory.errorString() << memory.error() << QStringLiteral("pid:")
                           << QCoreApplication::applicationPid() << QStringLiteral("create failed!");
    }
    memory.lock();
    memcpy(memory.data(), bytes.constData(), size_t(bytes.size()));
    memory.unlock();
    return true;
}

qint64 MyApplication::readRecord(QSharedMemory &memory)
{
    const bool attachedHere = !memory.isAttached();
    if (attachedHere && !memory.attach(QSharedMemory::ReadOnly))
        return -1;
    qint64 pid = -1;
    if (memory.size() >= int(sizeof(qint64))) {
        memory.lock();
        QDataStream stream(QByteArray(static_cast<const char *>(memory.constData()), int(sizeof(qint64))));
        memory.unlock();
        stream >> pid;
    }
    if (attachedHere)
        memory.detach();
    return isProcessAlive(pid) ? pid : -1;
}

void MyApplication::setFree()
{
    qDebug("MyApplication::setFree");
    createRecord(m_idleMemory, IdleKey);
}

qint64 MyApplication::getFreePid()
{
    qDebug("MyApplication::getFreePid");
    m_idleMemory.setKey(IdleKey);
    return readRecord(m_idleMemory);
}

void MyApplication::clearFree()
{
    qDebug("MyApplication::clearFree");
    m_idleMemory.setKey(IdleKey);
    if (m_idleMemory.isAttached())
        m_idleMemory.detach();
    if (m_idleMemory.attach(QSharedMemory::ReadOnly))
        m_idleMemory.detach();
}

void MyApplication::setRunningPid(const QString &key)
{
    qDebug("MyApplication::setRunningPid");
    if (!createRecord(m_runningMemory, key)) {
        // Another live process holds the record without a visible window. Nothing is
        // written through a read-only attachment; this process still works on the
        // session, so it must not stay the idle one a newer start would end.
        qWarning().noquote() << QStringLiteral("MyApplication::setRunningPid: record not created for") << key;
    }
    clearFree();
    m_running = true;
}

qint64 MyApplication::getRunningPid(const QString &key)
{
    qDebug("MyApplication::getRunningPid");
    // Reading another session's record must not detach the one this process holds.
    if (m_runningMemory.isAttached() && m_runningMemory.key() != key) {
        QSharedMemory other(key);
        return readRecord(other);
    }
    m_runningMemory.setKey(key);
    return readRecord(m_runningMemory);
}

void MyApplication::clearRunning()
{
    if (m_runningMemory.isAttached())
        m_runningMemory.detach();
    if (!m_runningMemory.key().isEmpty() && m_runningMemory.attach(QSharedMemory::ReadOnly))
        m_runningMemory.detach();
    m_running = false;
}

QMetaObject::Connection MyApplication::connectReveiveArgsMsg(QObject *context,
                                                             std::function<void(const QString &)> handler)
{
    return connect(this, &MyApplication::reveiveArgsMsg, context, std::move(handler));
}

bool MyApplication::event(QEvent *event)
{
    if (event->type() == QEvent::FileOpen) {
        const QUrl url = static_cast<QFileOpenEvent *>(event)->url();
        if (!url.isEmpty()) {
            m_args = url.toString();
            m_args.replace(QStringLiteral("https//"), QStringLiteral("https://"));
            m_args.replace(QStringLiteral("http//"), QStringLiteral("http://"));
            Schema::protectCode(m_args);
            if (!m_running) {
                qDebug("MyApplication::reveiveArgsMsg");
                emit reveiveArgsMsg(m_args);
            } else {
                // A new instance of ourselves takes the command, as one argument and
                // without a shell, so nothing in the URL can run as a command.
                qDebug().noquote() << QStringLiteral("MyApplication::event:") << m_relaunchProgram << m_args;
                QProcess::startDetached(m_relaunchProgram, {m_args});
            }
        }
    }
    return QApplication::event(event);
}
