// SPDX-License-Identifier: MIT
#include "core/session/schema.h"

#include "core/log/logsecrets.h"

#include <QDebug>
#include <QRegularExpression>
#include <QUrl>

namespace {
const QString Prefix = QStringLiteral("nuvVideoClient://");

QStringList parameterPieces(const QString &text)
{
    static const QRegularExpression separators(QStringLiteral("(&|\\?)"));
    return text.split(separators);
}

QString percentDecoded(const QString &value)
{
    return value.isEmpty() ? value : QUrl::fromPercentEncoding(value.toUtf8());
}

// A word that is no number reads as 0; a number beyond 32 bits reads as -1, so that it is
// refused like a negative one rather than taken for 0.
qint32 idValue(const QString &value)
{
    static const QRegularExpression number(QStringLiteral("^\\s*[+-]?[0-9]+\\s*$"));
    bool ok = false;
    const qint32 parsed = value.toInt(&ok);
    return ok || !number.match(value).hasMatch() ? parsed : -1;
}
} // namespace

Schema::Schema()
{
    qDebug("Schema::Schema()");
}

Schema::~Schema()
{
    qDebug("Schema::~Schema()");
}

int Schema::decode(const QString &text)
{
    if (!text.startsWith(Prefix, Qt::CaseInsensitive))
        return -1;

    m_server = text.mid(Prefix.size());
    protectCode(m_server);

    // A fragment is no part of the query: nothing after "#" is a parameter.
    const QStringList pieces = parameterPieces(m_server.left(m_server.indexOf(QLatin1Char('#'))));
    for (const QString &piece : pieces) {
        qInfo().noquote() << piece;
        const QStringList parts = piece.split(QLatin1Char('='));
        if (parts.size() < 2)
            continue;
        const QString &key = parts.at(0);
        const QString &value = parts.at(1);
        if (key == QLatin1String("uuid"))
            m_uuid = value;
        else if (key == QLatin1String("code"))
            m_code = value;
        else if (key == QLatin1String("extras"))
            m_extras = value;
        else if (key == QLatin1String("type"))
            m_type = idValue(value);
        else if (key == QLatin1String("moduleId"))
            m_moduleId = idValue(value);
        else if (key == QLatin1String("maxUploadNum"))
            m_maxUploadNum = value.toInt();
        else if (key == QLatin1String("moduleName"))
            m_moduleName = percentDecoded(value);
        else if (key == QLatin1String("parentName"))
            m_parentName = percentDecoded(value);
        else if (key == QLatin1String("parentId"))
            m_parentId = value.isEmpty() ? QStringLiteral("-1") : value;
    }
    return validate();
}

void Schema::protectCode(const QString &text)
{
    for (const QString &piece : parameterPieces(text)) {
        const QStringList parts = piece.split(QLatin1Char('='));
        if (parts.size() >= 2 && parts.at(0) == QLatin1String("code"))
            LogSecrets::add(parts.at(1));
    }
}

int Schema::validate() const
{
    if (m_server.isEmpty())
        return 1;
    if (!m_server.startsWith(QLatin1String("http")))
        return 2;
    if (m_uuid.isEmpty())
        return 3;
    if (m_type < 0)
        return 4;
    if (m_moduleId < 0)
        return 5;
    if (m_parentId.isEmpty())
        return 6;
    if (m_maxUploadNum == 0 || m_maxUploadNum < -1)
        return 7;
    return Valid;
}

QString schemaErrorMessage(int code)
{
    switch (code) {
    case -1: return QStringLiteral("指令格式不正确");
    case 1: return QStringLiteral("服务器地址未定义");
    case 2: return QStringLiteral("服务器地址格式有误");
    case 3: return QStringLiteral("uuid格式有误");
    case 4: return QStringLiteral("未定义type类型");
    case 5: return QStringLiteral("未定义moduleId");
    case 6: return QStringLiteral("未定义parentId");
    case 7: return QStringLiteral("可上传数量为0");
    default: return QString();
    }
}
