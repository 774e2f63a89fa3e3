// SPDX-License-Identifier: MIT
#include "core/log/logsecrets.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

#include <algorithm>

namespace {

QMutex &lock()
{
    static QMutex mutex;
    return mutex;
}

// Longest first, so a secret that contains another is masked whole.
QStringList &secrets()
{
    static QStringList list;
    return list;
}

QString jsonEscaped(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(2, array.size() - 4));
}

void insert(const QString &form)
{
    QStringList &list = secrets();
    if (form.size() < LogSecrets::MinimumLength || list.contains(form))
        return;
    list.append(form);
    std::stable_sort(list.begin(), list.end(), [](const QString &a, const QString &b) { return a.size() > b.size(); });
}

// Anything a viewer might take for the end of a line or a terminal for a command: C0, DEL,
// C1 and the Unicode line and paragraph separators.
bool isControl(ushort u)
{
    return u < 0x20 || (u >= 0x7f && u <= 0x9f) || u == 0x2028 || u == 0x2029;
}

QString escapedControls(const QString &text)
{
    // Most lines have nothing to escape, and some (the status reports' file lists) are long.
    const auto first = std::find_if(text.cbegin(), text.cend(), [](QChar c) { return isControl(c.unicode()); });
    if (first == text.cend())
        return text;
    QString out;
    out.reserve(text.size() + 16);
    out.append(text.constData(), int(first - text.cbegin()));
    for (auto it = first; it != text.cend(); ++it) {
        const QChar c = *it;
        const ushort u = c.unicode();
        if (u == '\r')
            out += QStringLiteral("\\r");
        else if (u == '\n')
            out += QStringLiteral("\\n");
        else if (u == '\t')
            out += QStringLiteral("\\t");
        else if (isControl(u))
            out += QStringLiteral("\\x%1").arg(u, u > 0xff ? 4 : 2, 16, QLatin1Char('0'));
        else
            out += c;
    }
    return out;
}

} // namespace

namespace LogSecrets {

void add(const QString &secret)
{
    if (secret.size() < MinimumLength)
        return;
    const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(secret));
    QMutexLocker locker(&lock());
    insert(secret);
    insert(encoded);
    // How a URL prints the encoded value back (it decodes what needs no escaping).
    insert(QUrl(QStringLiteral("http://h/?") + encoded).query(QUrl::PrettyDecoded));
    insert(jsonEscaped(secret));
}

QString mask(const QString &secret)
{
    return secret.left(std::min(4, int(secret.size()) / 3)) + QStringLiteral("…");
}

QString clean(const QString &message)
{
    QString text = message;
    {
        QMutexLocker locker(&lock());
        for (const QString &secret : qAsConst(secrets()))
            text.replace(secret, mask(secret));
    }
    static const QRegularExpression password(QStringLiteral("(://[^/?#@\\s:]*):[^/?#@\\s]*@"));
    if (text.contains(QLatin1Char('@')))
        text.replace(password, QStringLiteral("\\1:…@"));
    return escapedControls(text);
}

void clear()
{
    QMutexLocker locker(&lock());
    secrets().clear();
}

} // namespace LogSecrets
