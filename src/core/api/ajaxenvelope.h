// SPDX-License-Identifier: MIT
#pragma once

#include "core/api/networkfault.h"
#include "core/api/query.h"

#include <QSharedPointer>
#include <QString>

// The parts of a reply envelope that do not depend on the payload type. Every layer's
// failure (network, HTTP status, malformed JSON) is folded into one of these, so a caller
// tests success() and shows message().
class AjaxEnvelope
{
    Q_DISABLE_COPY_MOVE(AjaxEnvelope)

public:
    AjaxEnvelope();
    virtual ~AjaxEnvelope();

    bool success() const { return m_success; }
    QSharedPointer<QString> message() const { return m_message; }
    QSharedPointer<QString> code() const { return m_code; }
    qint64 sysTime() const { return m_sysTime; }
    QSharedPointer<QString> sysTimeTip() const { return m_sysTimeTip; }
    QSharedPointer<Query> query() const { return m_query; }
    // Set when the server gave no answer at all (RequestProvider::faultOf).
    NetworkFault networkFault() const { return m_networkFault; }

    void setSuccess(bool value) { m_success = value; }
    void setMessage(const QString &value) { m_message = QSharedPointer<QString>::create(value); }
    void setCode(const QString &value) { m_code = QSharedPointer<QString>::create(value); }
    void setSysTime(qint64 value) { m_sysTime = value; }
    void setSysTimeTip(const QString &value) { m_sysTimeTip = QSharedPointer<QString>::create(value); }
    void setQuery(const QSharedPointer<Query> &value) { m_query = value; }
    void setNetworkFault(NetworkFault value) { m_networkFault = value; }

    // "(code)" when there is a code, then "(message)" when there is a message: the tail of
    // the failure texts shown to the user.
    QString errorText() const;
    // One line for the log.
    QString describe() const;

private:
    bool m_success = false;
    QSharedPointer<QString> m_message;
    QSharedPointer<QString> m_code;
    qint64 m_sysTime = 0;
    QSharedPointer<QString> m_sysTimeTip;
    QSharedPointer<Query> m_query;
    NetworkFault m_networkFault = NetworkFault::None;
};
