// SPDX-License-Identifier: MIT
#pragma once

#include <QPair>
#include <QString>
#include <QVector>

// The parameters and headers of one request, in the order they go on the wire.
// Parameter keys may repeat; add appends, set replaces every pair with that key.
class QueryData final
{
public:
    using Pair = QPair<QString, QString>;

    void add(const QString &key, const QString &value);
    void add(const QString &key, int value);
    void add(const QString &key, qint64 value);
    void add(const QString &key, bool value); // "1" or "0"
    // A bare literal would otherwise pick the bool overload.
    void add(const QString &key, const char *value) = delete;

    void set(const QString &key, const QString &value);
    void set(const QString &key, int value);
    void set(const QString &key, qint64 value);
    void set(const QString &key, bool value);
    void set(const QString &key, const char *value) = delete;

    void remove(const QString &key);
    void addHeader(const QString &name, const QString &value);

    const QVector<Pair> &params() const { return m_params; }
    const QVector<Pair> &headers() const { return m_headers; }
    // The value of the first parameter with this key; empty when there is none.
    QString value(const QString &key) const;

    // The reply's "data" is a credential (the token): it is masked in every log line from
    // the logged reply body on.
    void setSecretReply(bool secret) { m_secretReply = secret; }
    bool secretReply() const { return m_secretReply; }

private:
    QVector<Pair> m_params;
    QVector<Pair> m_headers;
    bool m_secretReply = false;
};
