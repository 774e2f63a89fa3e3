// SPDX-License-Identifier: MIT
#include "httpprobe.h"

#include <QElapsedTimer>
#include <QHttpMultiPart>
#include <QJsonParseError>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QUrl>

namespace {
constexpr int ReplyTimeoutMs = 20000;
}

bool HttpResult::isJson() const
{
    QJsonParseError error;
    QJsonDocument::fromJson(body, &error);
    return error.error == QJsonParseError::NoError;
}

QByteArray formText(const QList<QPair<QString, QString>> &params)
{
    QByteArray text;
    for (const auto &param : params) {
        if (!text.isEmpty())
            text += '&';
        text += QUrl::toPercentEncoding(param.first) + '=' + QUrl::toPercentEncoding(param.second);
    }
    return text;
}

QNetworkRequest HttpProbe::request(const QString &url) const
{
    QNetworkRequest request{QUrl(url)};
    if (!m_token.isEmpty())
        request.setRawHeader("token", QUrl::toPercentEncoding(m_token));
    if (!m_verifyPeer) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        request.setSslConfiguration(tls);
    }
    return request;
}

HttpResult HttpProbe::get(const QString &url)
{
    return wait(m_manager.get(request(url)));
}

HttpResult HttpProbe::postForm(const QString &url, const QList<QPair<QString, QString>> &params)
{
    QNetworkRequest form = request(url);
    form.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    return wait(m_manager.post(form, formText(params)));
}

HttpResult HttpProbe::postChunk(const QString &url, const QByteArray &chunk, const QString &partName)
{
    auto *multiPart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    QHttpPart part;
    part.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/octet-stream"));
    part.setHeader(QNetworkRequest::ContentDispositionHeader,
                   QStringLiteral("form-data; name=\"%1\"; filename=\"unknow.fs\"").arg(partName));
    part.setBody(chunk);
    multiPart->append(part);
    QNetworkReply *reply = m_manager.post(request(url), multiPart);
    multiPart->setParent(reply);
    return wait(reply);
}

HttpResult HttpProbe::uploadChunk(const QString &base, const QString &name, qint64 total, qint64 pos, bool end,
                                  const QByteArray &chunk)
{
    const QList<QPair<QString, QString>> query{
        {QStringLiteral("uuid"), QStringLiteral("session")},
        {QStringLiteral("name"), name},
        {QStringLiteral("total"), QString::number(total)},
        {QStringLiteral("pos"), QString::number(pos)},
        {QStringLiteral("end"), end ? QStringLiteral("1") : QStringLiteral("0")}};
    return postChunk(base + QStringLiteral("/api/upload?") + QString::fromLatin1(formText(query)), chunk);
}

HttpResult HttpProbe::wait(QNetworkReply *reply)
{
    QElapsedTimer clock;
    clock.start();
    if (!reply->isFinished()) {
        QSignalSpy finished(reply, &QNetworkReply::finished);
        finished.wait(ReplyTimeoutMs);
    }
    HttpResult result;
    result.finished = reply->isFinished();
    result.elapsedMs = clock.elapsed();
    result.error = reply->error();
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.location = QString::fromLatin1(reply->rawHeader("Location"));
    result.body = reply->readAll();
    if (!result.finished)
        reply->abort();
    reply->deleteLater();
    return result;
}
