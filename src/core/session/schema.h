// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QtGlobal>

// A decoded launch command "nuvVideoClient://<settings URL>?uuid=...&type=...".
// Created fresh for every decoding attempt; once accepted it is shared read-only.
class Schema final
{
    Q_DISABLE_COPY_MOVE(Schema)

public:
    static constexpr int Valid = 0;

    Schema();
    ~Schema();

    // Fills the record from text and returns the result code (0 valid, -1 and 1..7 the
    // failures of schemaErrorMessage). The record is filled even when the code is not 0.
    int decode(const QString &text);
    // Registers the value of every "code" parameter in text as a log secret, so the token
    // code never reaches the log. decode() does it before it logs anything; start-up does it
    // for the arguments it logs before any decoding.
    static void protectCode(const QString &text);

    QString server() const { return m_server; }
    QString uuid() const { return m_uuid; }
    QString code() const { return m_code; }
    qint32 type() const { return m_type; }
    qint32 moduleId() const { return m_moduleId; }
    QString moduleName() const { return m_moduleName; }
    QString parentId() const { return m_parentId; }
    QString parentName() const { return m_parentName; }
    qint32 maxUploadNum() const { return m_maxUploadNum; }
    QString extras() const { return m_extras; }

private:
    int validate() const;

    QString m_server;
    QString m_uuid;
    QString m_code;
    qint32 m_type = -1;
    qint32 m_moduleId = -1;
    QString m_moduleName;
    QString m_parentId = QStringLiteral("-1");
    QString m_parentName;
    qint32 m_maxUploadNum = 1;
    QString m_extras;
};

// The user-facing text of a decoding result code; empty for 0 and for unknown codes.
QString schemaErrorMessage(int code);
