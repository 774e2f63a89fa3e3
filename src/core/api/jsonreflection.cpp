// SPDX-License-Identifier: MIT
#include "core/api/jsonreflection.h"

#include <QByteArray>
#include <QGenericArgument>

namespace JsonReflection {

namespace {

const QString DateTimeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");

bool qualifies(const QMetaMethod &method)
{
    const QByteArray name = method.name();
    return method.parameterCount() <= 1 && name.size() > 3 && name.startsWith("set")
           && method.methodType() == QMetaMethod::Method && method.access() == QMetaMethod::Public;
}

QString keyOf(const QByteArray &name)
{
    const QString rest = QString::fromLatin1(name.mid(3));
    return rest.left(1).toLower() + rest.mid(1);
}

template<typename V>
void invoke(QObject *object, const QMetaMethod &method, const QByteArray &type, V value)
{
    method.invoke(object, Qt::DirectConnection, QGenericArgument(type.constData(), &value));
}

// The shared-pointer, raw-pointer and value forms of one type: null gives a null pointer or
// the default value; raw pointers pass ownership to the setter.
template<typename V, typename Convert>
bool tryFamily(QObject *object, const QMetaMethod &method, const QByteArray &type, const QByteArray &name,
               const QJsonValue &value, Convert convert)
{
    if (type == "QSharedPointer<" + name + ">") {
        invoke(object, method, type, value.isNull() ? QSharedPointer<V>() : QSharedPointer<V>::create(convert(value)));
        return true;
    }
    if (type == name + "*") {
        invoke(object, method, type, value.isNull() ? static_cast<V *>(nullptr) : new V(convert(value)));
        return true;
    }
    if (type == name) {
        invoke(object, method, type, value.isNull() ? V() : convert(value));
        return true;
    }
    return false;
}

} // namespace

bool toBool(const QJsonValue &value)
{
    return value.toBool(false);
}

QString toText(const QJsonValue &value)
{
    return value.toString();
}

int toInt(const QJsonValue &value)
{
    return value.toInt(0);
}

qint64 toLongLong(const QJsonValue &value)
{
    return value.toString().toLongLong(nullptr, 10);
}

double toDouble(const QJsonValue &value)
{
    return value.toString().toDouble();
}

QDateTime toDateTime(const QJsonValue &value)
{
    return QDateTime::fromString(value.toString(), DateTimeFormat);
}

void fillFromJson(QObject *object, const QMetaMethod &method, const QJsonObject &json)
{
    if (!object || !qualifies(method))
        return;
    const auto found = json.constFind(keyOf(method.name()));
    if (found == json.constEnd())
        return;
    const QJsonValue value = found.value();
    if (method.parameterCount() == 0) {
        method.invoke(object, Qt::DirectConnection);
        return;
    }
    const QByteArray type = method.parameterTypes().constFirst();
    if (tryFamily<QString>(object, method, type, "QString", value, toText)
        || tryFamily<int>(object, method, type, "int", value, toInt)
        || tryFamily<qlonglong>(object, method, type, "qlonglong", value, toLongLong)
        || tryFamily<qlonglong>(object, method, type, "qint64", value, toLongLong)
        || tryFamily<bool>(object, method, type, "bool", value, toBool)
        || tryFamily<QDateTime>(object, method, type, "QDateTime", value, toDateTime))
        return;
    throw QString(QStringLiteral("unknow type:") + QString::fromLatin1(type));
}

void fill(QObject *object, const QJsonObject &json)
{
    const QMetaObject *meta = object->metaObject();
    for (int index = 0; index < meta->methodCount(); ++index)
        fillFromJson(object, meta->method(index), json);
}

} // namespace JsonReflection
