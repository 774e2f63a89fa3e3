// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPair>
#include <QString>

// One finished request as the tests look at it.
struct HttpResult
{
    bool finished = false;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0;
    QByteArray body;
    QString location;
    qint64 elapsedMs = 0;

    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    bool isJson() const;
};

// Raw requests in the platform's wire format (form bodies, percent-encoded "token" header,
// a multipart "file" part), with one manager so connections are reused as a client would.
class HttpProbe final
{
public:
    HttpProbe() = default;
    Q_DISABLE_COPY_MOVE(HttpProbe)

    void setToken(const QString &token) { m_token = token; }
    void setVerifyPeer(bool verify) { m_verifyPeer = verify; }

    HttpResult get(const QString &url);
    HttpResult postForm(const QString &url, const QList<QPair<QString, QString>> &params);
    HttpResult postChunk(const QString &url, const QByteArray &chunk, const QString &partName = QStringLiteral("file"));
    // A chunk request to the upload endpoint with the given query values.
    HttpResult uploadChunk(const QString &base, const QString &name, qint64 total, qint64 pos, bool end,
                           const QByteArray &chunk);

private:
    QNetworkRequest request(const QString &url) const;
    HttpResult wait(QNetworkReply *reply);

    QNetworkAccessManager m_manager;
    QString m_token;
    bool m_verifyPeer = true;
};

QByteArray formText(const QList<QPair<QString, QString>> &params);
