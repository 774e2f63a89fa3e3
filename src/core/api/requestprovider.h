// SPDX-License-Identifier: MIT
#pragma once

#include "core/api/networkfault.h"
#include "core/session/clientoptions.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QMutex>
#include <QObject>
#include <QSharedPointer>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;
class QNetworkRequest;
class QUrl;

// Synchronous HTTP on the calling thread: each call runs a local event loop until its reply
// has finished and hands back the body with a result code (a QNetworkReply::NetworkError
// value, or the HTTP status when the network layer saw no error; 200 is the only success).
// Nothing throws and no body is ever null.
//
// Every reply is untrusted: a request has an overall time limit besides the stall limit, a
// reply larger than its limit fails without being read on, and redirects are followed only
// between http(s) URLs, never from https to http, and never turn a POST into a GET. The
// limits and the TLS policy are this instance's options (its coordinator's).
//
// The chunk upload (postMultipart) bypasses the access manager: see ChunkConnection.
//
// Every thread gets its own QNetworkAccessManager per TLS policy, made on first use and
// destroyed when the thread ends, so consecutive requests reuse a kept-alive connection while
// threads never share a manager, and a connection made under one policy never carries a
// request of the other.
class RequestProvider final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RequestProvider)

public:
    static constexpr int MaxRedirects = 10;
    // Interim (1xx) responses tolerated before the real one.
    static constexpr int MaxInterimResponses = 4;

    explicit RequestProvider(QObject *parent = nullptr);
    ~RequestProvider() override;

    // Taken by the requests that start afterwards.
    void setOptions(const ClientOptions &options);
    ClientOptions options() const;

    // These set the request's TLS configuration and stall limit before sending.
    QSharedPointer<QByteArray> get(QNetworkRequest &request, int *code);
    QSharedPointer<QByteArray> post(QNetworkRequest &request, const QByteArray &body, int *code);
    // One multipart part "file" (filename "unknow.fs") holding data; data is shared, not copied.
    QSharedPointer<QByteArray> postMultipart(QNetworkRequest &request, const QByteArray &data, int *code);

    // What a result code says about the network. Both transports report a failed connect,
    // a broken connection and a stall with the same codes; HTTP statuses are 100 and above.
    static NetworkFault faultOf(int code);

    // The user-facing text of a result code; unknown codes read "(<code>)<fallback>".
    static QString networkErrorMessage(int code, const QString &fallback);

private:
    enum class Verb { Get, Post, Multipart };
    enum class WaitEnd { Finished, Interrupted, Overtime, TooLarge };
    // What a redirect needs to send the request again.
    struct Call
    {
        Verb verb = Verb::Get;
        QByteArray body;
        // As they were when the request started.
        ClientOptions options;
        QDeadlineTimer deadline;
        int hops = 0;
        qint64 replyLimit() const;
    };

    QSharedPointer<QByteArray> start(Verb verb, QNetworkRequest &request, const QByteArray &body, int *code);
    QSharedPointer<QByteArray> send(QNetworkRequest &request, const Call &call, int *code);
    // The common tail of the senders, for a finished reply.
    QSharedPointer<QByteArray> receiveReply(QNetworkReply *reply, const Call &call, WaitEnd end, int *code);
    // Redirects followed, the body for 200, the reason phrase for any other status.
    QSharedPointer<QByteArray> answer(const QNetworkRequest &request, const Call &call, int status,
                                      const QString &location, const QByteArray &body, const QString &reason,
                                      int *code);
    static QSharedPointer<QByteArray> failure(const QUrl &url, int error, const QString &text, int *code);
    static void prepare(QNetworkRequest &request, const ClientOptions &options);
    static QNetworkAccessManager *threadManager(bool verifyPeer);
    static WaitEnd waitFor(QNetworkReply *reply, const Call &call);

    mutable QMutex m_mutex;
    ClientOptions m_options;
};
