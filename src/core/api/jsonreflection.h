// SPDX-License-Identifier: MIT
#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QMetaMethod>
#include <QObject>
#include <QSharedPointer>
#include <QString>

#include <type_traits>

// Fills transfer objects from JSON through their public Q_INVOKABLE set<Key> methods:
// the key is the method name without "set", its first letter lowered. Values are converted
// by the setter's parameter type; a type outside the table throws "unknow type:<type>".
// Strict on purpose: a bool must be a JSON bool, an int a JSON integer, and 64-bit
// numbers, floats and dates must come as JSON strings.
namespace JsonReflection {

// Applies one method to the object when it qualifies and its key is present.
void fillFromJson(QObject *object, const QMetaMethod &method, const QJsonObject &json);
// Applies every method of the object's meta-object, in index order.
void fill(QObject *object, const QJsonObject &json);

bool toBool(const QJsonValue &value);
QString toText(const QJsonValue &value);
int toInt(const QJsonValue &value);
qint64 toLongLong(const QJsonValue &value);
double toDouble(const QJsonValue &value);
QDateTime toDateTime(const QJsonValue &value);

template<typename>
inline constexpr bool UnsupportedPayload = false;

// The payload of a single-object or scalar reply. A transfer object needs a JSON object;
// anything else throws "unknow json type:<class>".
template<typename T>
QSharedPointer<T> payload(const QJsonValue &value)
{
    if constexpr (std::is_base_of_v<QObject, T>) {
        if (!value.isObject())
            throw QString(QStringLiteral("unknow json type:") + QString::fromLatin1(T::staticMetaObject.className()));
        auto object = QSharedPointer<T>::create();
        fill(object.data(), value.toObject());
        return object;
    } else if constexpr (std::is_same_v<T, bool>) {
        return QSharedPointer<T>::create(toBool(value));
    } else if constexpr (std::is_same_v<T, QString>) {
        return QSharedPointer<T>::create(toText(value));
    } else if constexpr (std::is_same_v<T, int>) {
        return QSharedPointer<T>::create(toInt(value));
    } else if constexpr (std::is_same_v<T, qint64>) {
        return QSharedPointer<T>::create(toLongLong(value));
    } else if constexpr (std::is_same_v<T, float> || std::is_same_v<T, double>) {
        return QSharedPointer<T>::create(static_cast<T>(toDouble(value)));
    } else if constexpr (std::is_same_v<T, QDateTime>) {
        return QSharedPointer<T>::create(toDateTime(value));
    } else {
        static_assert(UnsupportedPayload<T>, "no JSON conversion for this payload type");
    }
}

} // namespace JsonReflection
