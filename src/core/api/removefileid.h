// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>

// One upload the server wants removed, matched against the pipelines' ids.
class RemoveFileId final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RemoveFileId)

public:
    explicit RemoveFileId(QObject *parent = nullptr);
    ~RemoveFileId() override;

    Q_INVOKABLE void setRemoveTaskId(QString value);

    QString removeTaskId() const { return m_removeTaskId; }

private:
    QString m_removeTaskId;
};
