// SPDX-License-Identifier: MIT
#pragma once

#include "core/api/ajaxdto.h"
#include "core/api/jsonreflection.h"
#include "core/api/query.h"
#include "core/api/querydata.h"
#include "core/api/requestprovider.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonValue>
#include <QSharedPointer>
#include <QString>
#include <QVector>

// The typed JSON client: builds a request from QueryData, sends it synchronously on the
// calling thread and returns the reply envelope. Transport, HTTP and JSON failures come back
// as failed envelopes; the only throws are the reflection's type errors ("unknow type:",
// "unknow json type:"). Any thread may call it concurrently; its limits and TLS policy are
// the options of its coordinator (Manager::setOptions), taken by each request as it starts.
class BaseClient final
{
    Q_DISABLE_COPY_MOVE(BaseClient)

public:
    BaseClient();
    ~BaseClient();

    void setOptions(const ClientOptions &options);

    // GET; parameters become URL query items.
    template<typename T>
    QSharedPointer<AjaxDTO<T>> get(const QString &url, const QSharedPointer<QueryData> &data,
                                   const QSharedPointer<Query> &query = {})
    {
        int code = 0;
        const QSharedPointer<QByteArray> body = sendGet(url, data.data(), query.data(), &code);
        return receiveReply<T>(body, &code, data && data->secretReply());
    }

    // POST with a form-encoded body.
    template<typename T>
    QSharedPointer<AjaxDTO<T>> post(const QString &url, const QSharedPointer<QueryData> &data,
                                    const QSharedPointer<Query> &query = {})
    {
        int code = 0;
        const QSharedPointer<QByteArray> body = sendPost(url, data.data(), query.data(), &code, false);
        return receiveReply<T>(body, &code);
    }

    template<typename E>
    QSharedPointer<AjaxListDTO<E>> postList(const QString &url, const QSharedPointer<QueryData> &data,
                                            const QSharedPointer<Query> &query = {})
    {
        int code = 0;
        const QSharedPointer<QByteArray> body = sendPost(url, data.data(), query.data(), &code, true);
        return receiveReplyList<E>(body, &code);
    }

    // POST multipart with fileData as the one part; parameters go into the URL query.
    template<typename T>
    QSharedPointer<AjaxDTO<T>> postData(const QString &url, const QSharedPointer<QueryData> &data,
                                        const QByteArray &fileData)
    {
        int code = 0;
        const QSharedPointer<QByteArray> body = sendData(url, data.data(), fileData, &code);
        QSharedPointer<AjaxDTO<T>> reply = receiveReply<T>(body, &code);
        logStamp(QStringLiteral("receiveReply"));
        return reply;
    }

    template<typename T>
    static QSharedPointer<AjaxDTO<T>> receiveReply(const QSharedPointer<QByteArray> &body, const int *code,
                                                   bool secretData = false)
    {
        auto reply = QSharedPointer<AjaxDTO<T>>::create();
        const QJsonValue data = readEnvelope(*reply, body, code, secretData);
        if (!data.isUndefined() && !data.isNull())
            reply->setData(JsonReflection::payload<T>(data));
        return reply;
    }

    // Array elements that are not JSON objects are skipped; a "data" that is no array
    // leaves the payload null.
    template<typename E>
    static QSharedPointer<AjaxListDTO<E>> receiveReplyList(const QSharedPointer<QByteArray> &body, const int *code)
    {
        auto reply = QSharedPointer<AjaxListDTO<E>>::create();
        const QJsonValue data = readEnvelope(*reply, body, code);
        if (data.isArray()) {
            auto list = QSharedPointer<QVector<QSharedPointer<E>>>::create();
            const QJsonArray array = data.toArray();
            for (const QJsonValue element : array) {
                if (!element.isObject())
                    continue;
                auto item = QSharedPointer<E>::create();
                JsonReflection::fill(item.data(), element.toObject());
                list->append(item);
            }
            reply->setData(list);
        }
        return reply;
    }

    // "key=value&..." with values as UTF-8, percent-encoded except RFC 3986 unreserved
    // characters (a space is %20, never "+").
    static QString formText(const QueryData *data);
    static QByteArray percentEncoded(const QString &value);

private:
    QSharedPointer<QByteArray> sendGet(const QString &url, const QueryData *data, const Query *query, int *code);
    QSharedPointer<QByteArray> sendPost(const QString &url, const QueryData *data, const Query *query, int *code,
                                        bool list);
    QSharedPointer<QByteArray> sendData(const QString &url, const QueryData *data, const QByteArray &fileData,
                                        int *code);

    // Fills every field but the payload and returns the "data" value to build it from:
    // undefined when the reply failed, was no object, or carried no non-null "data".
    static QJsonValue readEnvelope(AjaxEnvelope &reply, const QSharedPointer<QByteArray> &body, const int *code,
                                   bool secretData = false);
    static void logStamp(const QString &label);

    RequestProvider m_provider;
};
