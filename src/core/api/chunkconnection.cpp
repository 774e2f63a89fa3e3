// SPDX-License-Identifier: MIT
#include "core/api/chunkconnection.h"

#include "core/api/requestprovider.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRandomGenerator>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTcpSocket>
#include <QThread>
#include <QThreadStorage>
#include <QTimer>
#include <QUrl>

namespace {

// How long one blocking wait lasts before the stall limit and the interruption are looked at.
constexpr int SliceMs = 100;
// A status line and headers longer than this are not an HTTP response worth waiting for.
constexpr int MaxHeadBytes = 64 * 1024;

// Deleted by QThreadStorage when its thread ends (for the main thread: with the application).
QThreadStorage<ChunkConnection *> g_connections;

bool interruptionRequested()
{
    // Only worker threads are shut down this way; the main thread's owner never asks.
    QThread *thread = QThread::currentThread();
    const QCoreApplication *app = QCoreApplication::instance();
    return app && thread != app->thread() && thread->isInterruptionRequested();
}

// The codes the access manager reports for the same socket failures.
int networkError(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return QNetworkReply::ConnectionRefusedError;
    case QAbstractSocket::RemoteHostClosedError: return QNetworkReply::RemoteHostClosedError;
    case QAbstractSocket::HostNotFoundError: return QNetworkReply::HostNotFoundError;
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError: return QNetworkReply::SslHandshakeFailedError;
    default: return QNetworkReply::UnknownNetworkError;
    }
}

QByteArray hostHeader(const QUrl &url, int defaultPort)
{
    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':'))
        host = '[' + host + ']';
    if (url.port() != -1 && url.port() != defaultPort)
        host += ':' + QByteArray::number(url.port());
    return host;
}

QByteArray makeBoundary()
{
    QByteArray random(24, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(random.data()), random.size() / 4);
    return "nuv-" + random.toHex();
}

} // namespace

QString ChunkConnection::connectionKey(const QUrl &url)
{
    return url.scheme() + QLatin1String("://") + url.authority();
}

struct ChunkConnection::Connection
{
    std::unique_ptr<QAbstractSocket> socket;
    bool tls = false;
    bool verifyPeer = true;
};

ChunkConnection::ChunkConnection() = default;

ChunkConnection::~ChunkConnection() = default;

ChunkConnection &ChunkConnection::forThread()
{
    if (!g_connections.hasLocalData())
        g_connections.setLocalData(new ChunkConnection);
    return *g_connections.localData();
}

void ChunkConnection::setWriteObserver(WriteObserver observer)
{
    m_writeObserver = std::move(observer);
}

ChunkConnection::Reply ChunkConnection::postMultipart(const QNetworkRequest &request, const QByteArray &data,
                                                      const ClientOptions &options, QDeadlineTimer deadline)
{
    Reply reply;
    m_deadline = deadline;
    m_stallMs = options.stallTimeoutMs;
    m_replyLimit = options.maxChunkReplyBytes;
    const QUrl url = request.url();
    const bool tls = url.scheme() == QLatin1String("https");
    if (!tls && url.scheme() != QLatin1String("http")) {
        reply.error = QNetworkReply::ProtocolUnknownError;
        reply.errorText = QStringLiteral("Protocol \"%1\" is unknown").arg(url.scheme());
        return reply;
    }

    const QByteArray boundary = makeBoundary();
    const QByteArray partHead = "--" + boundary
                                + "\r\nContent-Type: application/octet-stream"
                                  "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"unknow.fs\"\r\n\r\n";
    const QByteArray tail = "\r\n--" + boundary + "--\r\n";

    QByteArray target = url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
    if (target.isEmpty())
        target = "/";
    QByteArray head = "POST " + target + " HTTP/1.1\r\nHost: " + hostHeader(url, tls ? 443 : 80) + "\r\n";
    const QList<QByteArray> names = request.rawHeaderList();
    for (const QByteArray &name : names) {
        const QByteArray lower = name.toLower();
        // These describe this message, which is framed here, not by the caller.
        if (lower == "host" || lower == "content-type" || lower == "content-length" || lower == "connection"
            || lower == "transfer-encoding")
            continue;
        head += name + ": " + request.rawHeader(name) + "\r\n";
    }
    head += "Content-Type: multipart/form-data; boundary=" + boundary
            + "\r\nContent-Length: " + QByteArray::number(qint64(partHead.size()) + data.size() + tail.size())
            + "\r\nConnection: keep-alive\r\n\r\n" + partHead;

    for (int attempt = 0;; ++attempt) {
        m_progress.start();
        bool reused = false;
        Connection *connection = connectionFor(url, options.verifyCertificates, &reused, &reply);
        if (!connection)
            return reply;
        bool responseStarted = false;
        const Outcome outcome = sendAndReceive(connection, head, data, tail, &reply, &responseStarted);
        if (outcome == Outcome::Done)
            return reply;
        m_connections.remove(connectionKey(url));
        // A kept-alive connection the server had already closed: nothing of this request was
        // answered, so sending it again on a fresh connection cannot apply it twice.
        if (outcome == Outcome::Failed && reused && !responseStarted && attempt == 0) {
            reply = Reply();
            continue;
        }
        return reply;
    }
}

ChunkConnection::Connection *ChunkConnection::connectionFor(const QUrl &url, bool verify, bool *reused, Reply *reply)
{
    const bool tls = url.scheme() == QLatin1String("https");
    const QString key = connectionKey(url);
    const auto found = m_connections.constFind(key);
    if (found != m_connections.constEnd()) {
        Connection *connection = found->get();
        QAbstractSocket *socket = connection->socket.get();
        // A connection made under another TLS policy keeps that policy's verdict.
        if (socket->state() == QAbstractSocket::ConnectedState && (!tls || connection->verifyPeer == verify)) {
            // An idle connection the server has closed shows it only when looked at.
            if (socket->bytesAvailable() == 0)
                socket->waitForReadyRead(0);
            if (socket->state() == QAbstractSocket::ConnectedState && socket->bytesAvailable() == 0) {
                *reused = true;
                return connection;
            }
        }
        m_connections.remove(key);
    }

    auto connection = std::make_shared<Connection>();
    connection->tls = tls;
    connection->verifyPeer = verify;
    if (tls) {
        auto socket = std::make_unique<QSslSocket>();
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setProtocol(QSsl::TlsV1_2OrLater);
        config.setPeerVerifyMode(verify ? QSslSocket::VerifyPeer : QSslSocket::VerifyNone);
        socket->setSslConfiguration(config);
        connection->socket = std::move(socket);
    } else {
        connection->socket = std::make_unique<QTcpSocket>();
    }
    QAbstractSocket *socket = connection->socket.get();
    const Outcome outcome = [&] {
        if (tls)
            static_cast<QSslSocket *>(socket)->connectToHostEncrypted(url.host(), quint16(url.port(443)));
        else
            socket->connectToHost(url.host(), quint16(url.port(80)));
        return establish(socket, tls);
    }();
    if (outcome != Outcome::Done) {
        fail(reply, outcome, socket);
        return nullptr;
    }
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_connections.insert(key, connection);
    return connection.get();
}

ChunkConnection::Outcome ChunkConnection::establish(QAbstractSocket *socket, bool tls)
{
    // The host lookup and the connect cannot be waited for in slices (a timed-out
    // waitForConnected abandons the attempt), so this one phase runs a local event loop.
    QEventLoop loop;
    bool ready = false;
    Outcome outcome = Outcome::Failed;
    const auto done = [&] {
        ready = true;
        loop.quit();
    };
    if (tls)
        QObject::connect(static_cast<QSslSocket *>(socket), &QSslSocket::encrypted, &loop, done);
    else
        QObject::connect(socket, &QAbstractSocket::connected, &loop, done);
    QObject::connect(socket, &QAbstractSocket::errorOccurred, &loop, &QEventLoop::quit);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (interruptionRequested())
            outcome = Outcome::Interrupted;
        else if (stalled())
            outcome = Outcome::Stalled;
        else if (m_deadline.hasExpired())
            outcome = Outcome::Overtime;
        else
            return;
        loop.quit();
    });
    poll.start(SliceMs);
    if (socket->error() == QAbstractSocket::UnknownSocketError && socket->state() != QAbstractSocket::UnconnectedState)
        loop.exec();
    QObject::disconnect(socket, nullptr, &loop, nullptr);
    if (ready)
        return Outcome::Done;
    if (outcome != Outcome::Failed)
        socket->abort();
    return outcome;
}

bool ChunkConnection::stalled() const
{
    return m_stallMs > 0 && m_progress.elapsed() >= m_stallMs;
}

template<typename Done, typename Step>
ChunkConnection::Outcome ChunkConnection::waitUntil(QAbstractSocket *socket, Done done, Step step)
{
    while (!done()) {
        if (interruptionRequested())
            return Outcome::Interrupted;
        if (m_deadline.hasExpired())
            return Outcome::Overtime;
        int slice = SliceMs;
        if (!m_deadline.isForever())
            slice = int(qBound<qint64>(1, m_deadline.remainingTime(), slice));
        if (m_stallMs > 0) {
            const qint64 left = m_stallMs - m_progress.elapsed();
            if (left <= 0)
                return Outcome::Stalled;
            slice = int(qMin<qint64>(slice, left));
        }
        if (step(slice)) {
            m_progress.restart();
            continue;
        }
        if (socket->state() != QAbstractSocket::ConnectedState
            || socket->error() != QAbstractSocket::SocketTimeoutError)
            return Outcome::Failed;
    }
    return Outcome::Done;
}

ChunkConnection::Outcome ChunkConnection::sendAndReceive(Connection *connection, const QByteArray &head,
                                                         const QByteArray &data, const QByteArray &tail, Reply *reply,
                                                         bool *responseStarted)
{
    QAbstractSocket *socket = connection->socket.get();
    // No multipart body is assembled around the chunk: it goes out from the caller's array.
    socket->write(head);
    socket->write(data);
    socket->write(tail);
    // The socket's buffer goes out in the waits below; what has left it counts as written.
    const qint64 queued = qint64(head.size()) + data.size() + tail.size();
    qint64 told = 0;
    const auto tell = [&] {
        const qint64 written = qBound<qint64>(0, queued - socket->bytesToWrite() - head.size(), data.size());
        if (m_writeObserver && written != told)
            m_writeObserver(written);
        told = written;
    };
    Outcome outcome = waitUntil(
        socket, [socket] { return socket->bytesToWrite() == 0; },
        [socket, &tell](int ms) {
            const bool moved = socket->waitForBytesWritten(ms);
            tell();
            return moved;
        });
    if (outcome == Outcome::Done) {
        bool keepAlive = false;
        outcome = readResponse(socket, reply, responseStarted, &keepAlive);
        if (outcome == Outcome::Done) {
            if (!keepAlive)
                socket->abort();
            return outcome;
        }
    } else if (socket->bytesAvailable() > 0) {
        *responseStarted = true;
    }
    fail(reply, outcome, socket);
    return outcome;
}

ChunkConnection::Outcome ChunkConnection::fill(QAbstractSocket *socket, QByteArray &in)
{
    const Outcome outcome = waitUntil(
        socket, [socket] { return socket->bytesAvailable() > 0; },
        [socket](int ms) { return socket->waitForReadyRead(ms); });
    if (outcome == Outcome::Done)
        in += socket->readAll();
    return outcome;
}

void ChunkConnection::fail(Reply *reply, Outcome outcome, QAbstractSocket *socket) const
{
    switch (outcome) {
    case Outcome::Done: return;
    case Outcome::Stalled:
        reply->error = QNetworkReply::TimeoutError;
        reply->errorText = QStringLiteral("Transfer timed out");
        break;
    case Outcome::Overtime:
        reply->error = QNetworkReply::TimeoutError;
        reply->errorText = QStringLiteral("Request took too long");
        break;
    case Outcome::TooLarge:
        reply->error = QNetworkReply::ProtocolFailure;
        reply->errorText = QStringLiteral("Reply larger than %1 bytes").arg(m_replyLimit);
        break;
    case Outcome::Interrupted:
        reply->error = QNetworkReply::OperationCanceledError;
        reply->errorText = QStringLiteral("Operation canceled");
        reply->interrupted = true;
        break;
    case Outcome::Invalid:
        reply->error = QNetworkReply::ProtocolFailure;
        reply->errorText = QStringLiteral("Invalid HTTP response");
        break;
    case Outcome::Failed:
        reply->error = networkError(socket->error());
        reply->errorText = socket->errorString();
        break;
    }
    socket->abort();
}

ChunkConnection::Outcome ChunkConnection::readResponse(QAbstractSocket *socket, Reply *reply, bool *responseStarted,
                                                       bool *keepAlive)
{
    QByteArray in;
    const auto more = [&] {
        const Outcome outcome = fill(socket, in);
        if (outcome == Outcome::Done)
            *responseStarted = true;
        return outcome;
    };
    // Reads until `in` holds a line end; returns its position or -1 with the outcome set.
    Outcome outcome = Outcome::Done;
    const auto lineEnd = [&](const QByteArray &end) {
        int at;
        while ((at = in.indexOf(end)) < 0) {
            if (in.size() > MaxHeadBytes)
                outcome = Outcome::Invalid;
            else
                outcome = more();
            if (outcome != Outcome::Done)
                return -1;
        }
        return at;
    };

    QHash<QByteArray, QByteArray> headers;
    bool http11 = false;
    int interim = 0;
    do { // interim 1xx answers precede the real one, a few of them at most
        if (interim++ > RequestProvider::MaxInterimResponses)
            return Outcome::Invalid;
        const int end = lineEnd("\r\n\r\n");
        if (end < 0)
            return outcome;
        const QList<QByteArray> lines = in.left(end).split('\n');
        in.remove(0, end + 4);
        const QByteArray statusLine = lines.first().trimmed();
        bool ok = false;
        reply->status = statusLine.mid(9, 3).toInt(&ok);
        if (!statusLine.startsWith("HTTP/1.") || !ok || (statusLine.size() > 12 && statusLine.at(12) != ' '))
            return Outcome::Invalid;
        http11 = !statusLine.startsWith("HTTP/1.0");
        reply->reason = statusLine.mid(13).trimmed();
        headers.clear();
        for (int i = 1; i < lines.size(); ++i) {
            const int colon = lines.at(i).indexOf(':');
            if (colon > 0)
                headers.insert(lines.at(i).left(colon).trimmed().toLower(), lines.at(i).mid(colon + 1).trimmed());
        }
    } while (reply->status >= 100 && reply->status < 200);

    reply->location = headers.value("location");
    const QByteArray connectionHeader = headers.value("connection").toLower();
    *keepAlive = http11 ? !connectionHeader.contains("close") : connectionHeader.contains("keep-alive");

    if (reply->status == 204 || reply->status == 304) {
        // no body by definition
    } else if (headers.value("transfer-encoding").toLower().contains("chunked")) {
        for (;;) {
            const int end = lineEnd("\r\n");
            if (end < 0)
                return outcome;
            bool ok = false;
            const qint64 size = in.left(end).split(';').first().trimmed().toLongLong(&ok, 16);
            in.remove(0, end + 2);
            if (!ok || size < 0)
                return Outcome::Invalid;
            if (size > m_replyLimit - reply->body.size())
                return Outcome::TooLarge;
            if (size == 0) {
                int trailer;
                while ((trailer = lineEnd("\r\n")) != 0) {
                    if (trailer < 0)
                        return outcome;
                    in.remove(0, trailer + 2);
                }
                in.remove(0, 2);
                break;
            }
            while (in.size() < size + 2) {
                if ((outcome = more()) != Outcome::Done)
                    return outcome;
            }
            reply->body += in.left(int(size));
            in.remove(0, int(size) + 2);
        }
    } else if (headers.contains("content-length")) {
        bool ok = false;
        const qint64 length = headers.value("content-length").toLongLong(&ok);
        if (!ok || length < 0)
            return Outcome::Invalid;
        if (length > m_replyLimit)
            return Outcome::TooLarge;
        while (in.size() < length) {
            if ((outcome = more()) != Outcome::Done)
                return outcome;
        }
        reply->body = in.left(int(length));
        in.remove(0, int(length));
    } else {
        // Delimited by the end of the connection.
        while ((outcome = more()) == Outcome::Done) {
            if (in.size() > m_replyLimit)
                return Outcome::TooLarge;
        }
        if (outcome != Outcome::Failed || socket->error() != QAbstractSocket::RemoteHostClosedError)
            return outcome;
        reply->body = in;
        in.clear();
        *keepAlive = false;
    }
    // Bytes nobody asked for would be read as the next request's answer.
    if (!in.isEmpty() || socket->bytesAvailable() > 0)
        *keepAlive = false;
    return Outcome::Done;
}
