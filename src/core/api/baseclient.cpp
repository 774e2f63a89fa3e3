// SPDX-License-Identifier: MIT
#include "core/api/baseclient.h"

#include "core/log/logsecrets.h"

#include <QDateTime>
#include <QDebug>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QNetworkRequest>
#include <QThread>
#include <QUrl>
#include <QUrlQuery>

namespace {

QString threadTag()
{
    return QStringLiteral("Thread:0x%1 > ").arg(reinterpret_cast<quintptr>(QThread::currentThreadId()), 0, 16);
}

// A reply is logged whole up to this many bytes; the log is for reading, not for keeping data.
constexpr int MaxLoggedBodyBytes = 16 * 1024;

QString loggedBody(const QByteArray &body)
{
    if (body.size() <= MaxLoggedBodyBytes)
        return QString::fromUtf8(body);
    return QString::fromUtf8(body.left(MaxLoggedBodyBytes)) + QStringLiteral("...(%1 bytes)").arg(body.size());
}

void applyHeaders(QNetworkRequest &request, const QueryData *data)
{
    if (!data)
        return;
    for (const QueryData::Pair &header : data->headers())
        request.setRawHeader(header.first.toLatin1(), BaseClient::percentEncoded(header.second));
}

} // namespace

BaseClient::BaseClient() = default;

BaseClient::~BaseClient() = default;

void BaseClient::setOptions(const ClientOptions &options)
{
    m_provider.setOptions(options);
}

QByteArray BaseClient::percentEncoded(const QString &value)
{
    return QUrl::toPercentEncoding(value);
}

QString BaseClient::formText(const QueryData *data)
{
    QString text;
    if (!data)
        return text;
    for (const QueryData::Pair &param : data->params()) {
        if (!text.isEmpty())
            text += QLatin1Char('&');
        text += param.first + QLatin1Char('=') + QString::fromLatin1(percentEncoded(param.second));
    }
    return text;
}

QSharedPointer<QByteArray> BaseClient::sendGet(const QString &url, const QueryData *data, const Query *query, int *code)
{
    QUrl target(url, QUrl::TolerantMode);
    QUrlQuery items(target.query(QUrl::FullyEncoded));
    // Values go in already encoded: QUrlQuery would leave a "+" as is, which servers read as a space.
    if (data) {
        for (const QueryData::Pair &param : data->params())
            items.addQueryItem(param.first, QString::fromLatin1(percentEncoded(param.second)));
    }
    if (query) {
        items.addQueryItem(QStringLiteral("pageIndex"), QString::number(query->pageIndex()));
        items.addQueryItem(QStringLiteral("pageSize"), QString::number(query->pageSize()));
        items.addQueryItem(QStringLiteral("pageCount"), QString::number(query->pageCount()));
    }
    target.setQuery(items);
    qDebug().noquote() << target.toString();

    QNetworkRequest request(target);
    applyHeaders(request, data);
    return m_provider.get(request, code);
}

QSharedPointer<QByteArray> BaseClient::sendPost(const QString &url, const QueryData *data, const Query *query,
                                                int *code, bool list)
{
    QString body = formText(data);
    if (query) {
        if (!body.isEmpty())
            body += QLatin1Char('&');
        body += QStringLiteral("pageIndex=%1&pageSize=%2&pageCount=%3")
                    .arg(query->pageIndex())
                    .arg(query->pageSize())
                    .arg(query->pageCount());
    }
    if (list)
        qDebug().noquote() << url + QLatin1Char('?') + body;
    else
        qWarning().noquote() << threadTag() + url + QLatin1Char('?') + body;

    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    applyHeaders(request, data);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    return m_provider.post(request, body.toUtf8(), code);
}

QSharedPointer<QByteArray> BaseClient::sendData(const QString &url, const QueryData *data, const QByteArray &fileData,
                                                int *code)
{
    const QString form = formText(data);
    // Appended after a fragment, the parameters would never reach the server.
    QString target = url.left(url.indexOf(QLatin1Char('#')));
    if (!form.isEmpty())
        target += (target.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?')) + form;
    qDebug().noquote() << target;

    QNetworkRequest request(QUrl(target, QUrl::TolerantMode));
    applyHeaders(request, data);
    logStamp(QStringLiteral("postData"));
    return m_provider.postMultipart(request, fileData, code);
}

void BaseClient::logStamp(const QString &label)
{
    const QDateTime now = QDateTime::currentDateTime();
    qWarning().noquote() << label + QLatin1Char(' ') + now.toString(QStringLiteral("yyyy-MM-dd")) + QLatin1Char(' ')
                                + now.toString(QStringLiteral("hh:mm:ss.zzz"));
}

QJsonValue BaseClient::readEnvelope(AjaxEnvelope &reply, const QSharedPointer<QByteArray> &body, const int *code,
                                    bool secretData)
{
    if (!body) {
        reply.setCode(QStringLiteral("19999"));
        reply.setMessage(QStringLiteral("error"));
        return QJsonValue(QJsonValue::Undefined);
    }
    if (!code || *code != 200) {
        const bool known = code && *code != -1;
        reply.setCode(known ? QString::number(*code) : QString());
        reply.setMessage(RequestProvider::networkErrorMessage(known ? *code : -1, QString::fromUtf8(*body)));
        if (code)
            reply.setNetworkFault(RequestProvider::faultOf(*code));
        return QJsonValue(QJsonValue::Undefined);
    }

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(*body, &error);
    if (secretData && document.isObject())
        LogSecrets::add(document.object().value(QStringLiteral("data")).toString());
    qWarning().noquote() << threadTag() + loggedBody(*body);
    if (error.error != QJsonParseError::NoError) {
        reply.setMessage(QStringLiteral("json error:") + error.errorString());
        return QJsonValue(QJsonValue::Undefined);
    }
    if (!document.isObject())
        return QJsonValue(QJsonValue::Undefined);

    const QJsonObject object = document.object();
    auto present = [&object](const QString &key) {
        const auto found = object.constFind(key);
        return found != object.constEnd() && !found.value().isNull();
    };
    if (present(QStringLiteral("success")))
        reply.setSuccess(JsonReflection::toBool(object.value(QStringLiteral("success"))));
    if (present(QStringLiteral("code")))
        reply.setCode(JsonReflection::toText(object.value(QStringLiteral("code"))));
    if (present(QStringLiteral("message")))
        reply.setMessage(JsonReflection::toText(object.value(QStringLiteral("message"))));
    if (present(QStringLiteral("query")) && object.value(QStringLiteral("query")).isObject()) {
        const QJsonObject paging = object.value(QStringLiteral("query")).toObject();
        auto query = QSharedPointer<Query>::create();
        if (paging.contains(QStringLiteral("pageSize")))
            query->setPageSize(JsonReflection::toInt(paging.value(QStringLiteral("pageSize"))));
        if (paging.contains(QStringLiteral("pageIndex")))
            query->setPageIndex(JsonReflection::toInt(paging.value(QStringLiteral("pageIndex"))));
        if (paging.contains(QStringLiteral("pageCount")))
            query->setPageCount(JsonReflection::toInt(paging.value(QStringLiteral("pageCount"))));
        if (paging.contains(QStringLiteral("recordCount")))
            query->setRecordCount(JsonReflection::toInt(paging.value(QStringLiteral("recordCount"))));
        reply.setQuery(query);
    }
    if (present(QStringLiteral("sysTime")))
        reply.setSysTime(object.value(QStringLiteral("sysTime")).toVariant().toString().toLongLong(nullptr, 10));
    if (present(QStringLiteral("sysTimeTip")))
        reply.setSysTimeTip(JsonReflection::toText(object.value(QStringLiteral("sysTimeTip"))));

    if (present(QStringLiteral("data")))
        return object.value(QStringLiteral("data"));
    return QJsonValue(QJsonValue::Undefined);
}
