// SPDX-License-Identifier: MIT
#pragma once

#include <QMetaObject>
#include <QString>
#include <QtGlobal>

#include <functional>

class QObject;

// What the pages need of the application object's single-instance records. The
// application object lives in the executable's library, which links this one, so the
// pages reach it through this interface instead of naming it.
class InstanceRecords
{
public:
    InstanceRecords() = default;
    virtual ~InstanceRecords() = default;
    Q_DISABLE_COPY_MOVE(InstanceRecords)

    // The idle record: the one instance waiting without a session.
    virtual void setFree() = 0;
    virtual qint64 getFreePid() = 0;
    virtual void clearFree() = 0;

    // The record of the session uuid `key`: the instance working on that session.
    virtual void setRunningPid(const QString &key) = 0;
    virtual qint64 getRunningPid(const QString &key) = 0;
    virtual void clearRunning() = 0;
    virtual bool isRunning() const = 0;

    // Calls `handler` (in `context`'s thread, while context lives) for every launch command
    // the system hands to this running process (reveiveArgsMsg).
    virtual QMetaObject::Connection connectReveiveArgsMsg(QObject *context,
                                                          std::function<void(const QString &)> handler) = 0;
};
