// SPDX-License-Identifier: MIT
#pragma once

#include "core/session/clientoptions.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QString>

#include <functional>
#include <memory>

class QAbstractSocket;
class QNetworkRequest;
class QUrl;

// The chunk upload's own HTTP/1.1 client: a multipart POST written straight onto a kept-alive
// socket on the calling thread. Qt's access manager hands an upload body to its HTTP thread in
// 16 KiB pieces, one cross-thread round trip each; for 2 MiB chunks that costs several times
// the CPU of the transfer itself.
//
// One instance per thread (forThread()), destroyed when the thread ends; it keeps one
// connection per scheme, host and port, made under the TLS policy of the call that opened
// it. The limits come with each call, from the caller's options: everything blocks in short
// slices so that a stall (stallTimeoutMs), the request's deadline and a requested thread
// interruption end the wait. A reply larger than maxChunkReplyBytes, or one preceded by more
// than RequestProvider::MaxInterimResponses interim answers, fails unread.
class ChunkConnection final
{
    Q_DISABLE_COPY_MOVE(ChunkConnection)

public:
    struct Reply
    {
        // A QNetworkReply::NetworkError value; 0 when a whole HTTP response arrived.
        int error = 0;
        QString errorText;
        bool interrupted = false;
        int status = 0;
        QByteArray reason;
        QByteArray location;
        QByteArray body;
    };

    // Bytes of the body's data written to the socket so far in the current attempt.
    using WriteObserver = std::function<void(qint64 written)>;

    ChunkConnection();
    ~ChunkConnection();

    static ChunkConnection &forThread();

    // Told as the data of each following request goes out; empty to stop.
    void setWriteObserver(WriteObserver observer);

    // One part "file" (filename "unknow.fs", application/octet-stream) holding data.
    Reply postMultipart(const QNetworkRequest &request, const QByteArray &data, const ClientOptions &options,
                        QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever));

private:
    struct Connection;
    enum class Outcome { Done, Failed, Stalled, Overtime, Interrupted, Invalid, TooLarge };

    Connection *connectionFor(const QUrl &url, bool verifyPeer, bool *reused, Reply *reply);
    Outcome sendAndReceive(Connection *connection, const QByteArray &head, const QByteArray &data,
                           const QByteArray &tail, Reply *reply, bool *responseStarted);
    Outcome readResponse(QAbstractSocket *socket, Reply *reply, bool *responseStarted, bool *keepAlive);
    static QString connectionKey(const QUrl &url);
    Outcome establish(QAbstractSocket *socket, bool tls);
    Outcome fill(QAbstractSocket *socket, QByteArray &in);
    template<typename Done, typename Step>
    Outcome waitUntil(QAbstractSocket *socket, Done done, Step step);
    bool stalled() const;
    void fail(Reply *reply, Outcome outcome, QAbstractSocket *socket) const;

    QHash<QString, std::shared_ptr<Connection>> m_connections;
    // Restarted whenever bytes move: the stall limit counts from the last progress.
    QElapsedTimer m_progress;
    // The whole request's limit, however steadily bytes move.
    QDeadlineTimer m_deadline;
    // The running call's stall limit (0: none) and reply size limit.
    int m_stallMs = 0;
    qint64 m_replyLimit = 0;
    WriteObserver m_writeObserver;
};
