// SPDX-License-Identifier: MIT
#include "core/api/querydata.h"

#include <algorithm>

void QueryData::add(const QString &key, const QString &value)
{
    m_params.append(Pair(key, value));
}

void QueryData::add(const QString &key, int value)
{
    add(key, QString::number(value));
}

void QueryData::add(const QString &key, qint64 value)
{
    add(key, QString::number(value));
}

void QueryData::add(const QString &key, bool value)
{
    add(key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void QueryData::set(const QString &key, const QString &value)
{
    remove(key);
    add(key, value);
}

void QueryData::set(const QString &key, int value)
{
    set(key, QString::number(value));
}

void QueryData::set(const QString &key, qint64 value)
{
    set(key, QString::number(value));
}

void QueryData::set(const QString &key, bool value)
{
    set(key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void QueryData::remove(const QString &key)
{
    m_params.erase(
        std::remove_if(m_params.begin(), m_params.end(), [&key](const Pair &pair) { return pair.first == key; }),
        m_params.end());
}

void QueryData::addHeader(const QString &name, const QString &value)
{
    m_headers.append(Pair(name, value));
}

QString QueryData::value(const QString &key) const
{
    for (const Pair &pair : m_params) {
        if (pair.first == key)
            return pair.second;
    }
    return QString();
}
