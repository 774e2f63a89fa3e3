// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>
#include <QString>

// The server's answer to one uploaded chunk: where the file went.
class UploadDTO final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UploadDTO)

public:
    explicit UploadDTO(QObject *parent = nullptr);
    ~UploadDTO() override;

    Q_INVOKABLE void setId(QString value);
    Q_INVOKABLE void setUri(QString value);

    QString id() const { return m_id; }
    QString uri() const { return m_uri; }

private:
    QString m_id;
    QString m_uri;
};
