// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
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
// between http(s) URLs, never from https to http, and never turn a POST into a GET.
//
// The chunk upload (postMultipart) bypasses the access manager: see ChunkConnection.
//
// Every thread gets its own QNetworkAccessManager, made on first use and destroyed when the
// thread ends, so consecutive chunk requests of one upload reuse a kept-alive connection
// while threads never share a manager.
class RequestProvider final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RequestProvider)

public:
    static constexpr int MaxRedirects = 10;
    static constexpr int DefaultTransferTimeoutMs = 30000;
    // Whole-request limits, redirects included: a reply that drips a byte now and then
    // never trips the stall limit.
    static constexpr int DefaultRequestTimeoutMs = 120000;
    static constexpr int DefaultChunkRequestTimeoutMs = 300000;
    // Replies (JSON envelopes; the answer to one chunk) larger than this fail unread.
    static constexpr qint64 MaxReplyBytes = 4 * 1024 * 1024;
    static constexpr qint64 MaxChunkReplyBytes = 64 * 1024;
    // Interim (1xx) responses tolerated before the real one.
    static constexpr int MaxInterimResponses = 4;

    explicit RequestProvider(QObject *parent = nullptr);
    ~RequestProvider() override;

    // These set the request's TLS configuration and stall limit before sending.
    QSharedPointer<QByteArray> get(QNetworkRequest &request, int *code);
    QSharedPointer<QByteArray> post(QNetworkRequest &request, const QByteArray &body, int *code);
    // One multipart part "file" (filename "unknow.fs") holding data; data is shared, not copied.
    QSharedPointer<QByteArray> postMultipart(QNetworkRequest &request, const QByteArray &data, int *code);

    // The user-facing text of a result code; unknown codes read "(<code>)<fallback>".
    static QString networkErrorMessage(int code, const QString &fallback);

    // Process-wide: verify server certificates against the system's trust store (default).
    // Turning it off is meant only for a platform with a self-signed certificate.
    static void setPeerVerification(bool verify);
    static bool peerVerification();

    // Process-wide: a request that makes no progress for this long is aborted and reported
    // as a timeout (code 4). 0 disables the limit.
    static void setTransferTimeout(int milliseconds);
    static int transferTimeout();

    // Process-wide: the overall limits of a JSON request and of one chunk upload, reported
    // as a timeout (code 4). 0 disables the limit.
    static void setRequestTimeout(int milliseconds);
    static int requestTimeout();
    static void setChunkRequestTimeout(int milliseconds);
    static int chunkRequestTimeout();

private:
    enum class Verb { Get, Post, Multipart };
    enum class WaitEnd { Finished, Interrupted, Overtime, TooLarge };
    // What a redirect needs to send the request again.
    struct Call
    {
        Verb verb = Verb::Get;
        QByteArray body;
        QDeadlineTimer deadline;
        int hops = 0;
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
    static void prepare(QNetworkRequest &request);
    static QNetworkAccessManager *threadManager();
    static WaitEnd waitFor(QNetworkReply *reply, const Call &call);
};
