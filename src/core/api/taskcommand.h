// SPDX-License-Identifier: MIT
#pragma once

#include "core/api/taskenums.h"
#include "core/api/uploadcheckpoint.h"

#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>

// One processing task of a file as the server issued it (filled by reflection), plus its
// run-time state. The run-time fields are written by the pipeline's worker thread while the
// task row reads them on the user-interface thread, hence the atomics and the lock; their
// setters are deliberately not invokable, so no server key can reach them.
class TaskCommand final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskCommand)

public:
    explicit TaskCommand(QObject *parent = nullptr);
    ~TaskCommand() override;

Q_SIGNALS:
    // Emitted by the pipeline after it changed the run-time fields.
    void dataUpdate();

public:
    Q_INVOKABLE void setId(int value);
    Q_INVOKABLE void setMac(QString value);
    Q_INVOKABLE void setSign(int value);
    Q_INVOKABLE void setTitle(QString value);
    Q_INVOKABLE void setType(int value);

    int id() const { return m_id; }
    QString mac() const { return m_mac; }
    int sign() const { return m_sign; }
    QString title() const { return m_title; }
    int type() const { return m_type; }
    TaskType taskType() const { return static_cast<TaskType>(m_type); }
    VariantSign variant() const { return static_cast<VariantSign>(m_sign); }

    int state() const { return m_state; }
    void setState(int value) { m_state = value; }
    TaskState taskState() const { return static_cast<TaskState>(m_state.load()); }
    void setTaskState(TaskState value) { m_state = static_cast<int>(value); }
    int runCount() const { return m_runCount; }
    void setRunCount(int value) { m_runCount = value; }
    // Returns the new count.
    int incrementRunCount() { return ++m_runCount; }
    int rate() const { return m_rate; }
    void setRate(int value) { m_rate = value; }
    int remaining() const { return m_remaining; }
    void setRemaining(int value) { m_remaining = value; }

    QString uploadId() const;
    void setUploadId(const QString &value);
    QString uploadUri() const;
    void setUploadUri(const QString &value);
    // An upload's last accepted chunk, kept for the next run of this task.
    UploadCheckpoint checkpoint() const;
    void setCheckpoint(const UploadCheckpoint &value);
    // Since when (milliseconds since the epoch) the task waits for the server to answer at
    // all; 0 while it does not.
    qint64 networkWaitSince() const { return m_networkWaitSince; }
    void setNetworkWaitSince(qint64 value) { m_networkWaitSince = value; }

private:
    int m_id = 0;
    QString m_mac;
    int m_sign = 0;
    QString m_title;
    int m_type = 0;

    std::atomic_int m_state{0};
    std::atomic_int m_runCount{0};
    std::atomic_int m_rate{0};
    std::atomic_int m_remaining{0};
    std::atomic<qint64> m_networkWaitSince{0};
    mutable QMutex m_uploadMutex;
    QString m_uploadId;
    QString m_uploadUri;
    UploadCheckpoint m_checkpoint;
};
