// SPDX-License-Identifier: MIT
#pragma once

#include "gui/pages/instancerecords.h"

#include <QApplication>
#include <QSharedMemory>

// The application object. It keeps two machine-wide records in named shared memory so
// that instances find each other: "idleState" names the one instance waiting without a
// session (always the newest), and a record per session uuid names the instance working
// on that session.
class MyApplication final : public QApplication, public InstanceRecords
{
    Q_OBJECT

public:
    MyApplication(int &argc, char **argv);

    void setFree() override;
    qint64 getFreePid() override;
    void clearFree() override;

    void setRunningPid(const QString &key) override;
    qint64 getRunningPid(const QString &key) override;
    void clearRunning() override;
    bool isRunning() const override { return m_running; }

    QMetaObject::Connection connectReveiveArgsMsg(QObject *context,
                                                  std::function<void(const QString &)> handler) override;

    // The program a URL handed to a busy instance is relaunched with (tests point it elsewhere).
    void setRelaunchProgram(const QString &program) { m_relaunchProgram = program; }

    bool event(QEvent *event) override;

    static MyApplication *instance();

signals:
    void reveiveArgsMsg(const QString &args);

private:
    bool createRecord(QSharedMemory &memory, const QString &key);
    static qint64 readRecord(QSharedMemory &memory);

    QString m_args;
    QSharedMemory m_runningMemory;
    QSharedMemory m_idleMemory;
    bool m_running = false;
    QString m_relaunchProgram;
};
