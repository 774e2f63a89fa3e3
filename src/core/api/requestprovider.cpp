// SPDX-License-Identifier: MIT
#include "core/api/requestprovider.h"

#include "core/api/chunkconnection.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QThread>
#include <QThreadStorage>
#include <QTimer>

#include <memory>

namespace {

// One access manager per TLS policy: the access manager's connection cache is keyed by
// host and port only, so a connection kept alive under one policy would carry the other's
// requests with the old handshake's verdict.
struct ThreadManagers
{
    std::unique_ptr<QNetworkAccessManager> verifying;
    std::unique_ptr<QNetworkAccessManager> trusting;
};

// Deleted by QThreadStorage when its thread ends (for the main thread: with the application).
QThreadStorage<ThreadManagers *> g_managers;

// How often a waiting request looks whether its thread was asked to stop.
constexpr int InterruptionPollMs = 100;

// The access manager's reading of an HTTP error status, so both transports report alike.
int httpStatusError(int status)
{
    switch (status) {
    case 400: return QNetworkReply::ProtocolInvalidOperationError;
    case 401: return QNetworkReply::AuthenticationRequiredError;
    case 403: return QNetworkReply::ContentAccessDenied;
    case 404: return QNetworkReply::ContentNotFoundError;
    case 405: return QNetworkReply::ContentOperationNotPermittedError;
    case 407: return QNetworkReply::ProxyAuthenticationRequiredError;
    case 409: return QNetworkReply::ContentConflictError;
    case 410: return QNetworkReply::ContentGoneError;
    case 418: return QNetworkReply::ProtocolInvalidOperationError;
    case 500: return QNetworkReply::InternalServerError;
    case 501: return QNetworkReply::OperationNotImplementedError;
    case 503: return QNetworkReply::ServiceUnavailableError;
    default: return status > 500 ? QNetworkReply::UnknownServerError : QNetworkReply::UnknownContentError;
    }
}

bool isRedirect(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool sameOrigin(const QUrl &a, const QUrl &b)
{
    return a.scheme() == b.scheme() && a.host() == b.host() && a.port(-1) == b.port(-1);
}

// A Location can be a long data: URL; the log needs only its start.
QString shown(const QUrl &url)
{
    constexpr int MaxShown = 200;
    const QString text = url.toString();
    return text.size() > MaxShown ? text.left(MaxShown) + QStringLiteral("...") : text;
}

} // namespace

RequestProvider::RequestProvider(QObject *parent)
    : QObject(parent)
{
}

RequestProvider::~RequestProvider() = default;

void RequestProvider::setOptions(const ClientOptions &options)
{
    QMutexLocker locker(&m_mutex);
    m_options = options;
}

ClientOptions RequestProvider::options() const
{
    QMutexLocker locker(&m_mutex);
    return m_options;
}

qint64 RequestProvider::Call::replyLimit() const
{
    return verb == Verb::Multipart ? options.maxChunkReplyBytes : options.maxReplyBytes;
}

QNetworkAccessManager *RequestProvider::threadManager(bool verifyPeer)
{
    if (!g_managers.hasLocalData())
        g_managers.setLocalData(new ThreadManagers);
    ThreadManagers *local = g_managers.localData();
    std::unique_ptr<QNetworkAccessManager> &manager = verifyPeer ? local->verifying : local->trusting;
    if (!manager) {
        manager = std::make_unique<QNetworkAccessManager>();
        // Redirects are followed here, with a hop limit and the original request's headers dropped.
        manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    }
    return manager.get();
}

void RequestProvider::prepare(QNetworkRequest &request, const ClientOptions &options)
{
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    tls.setPeerVerifyMode(options.verifyCertificates ? QSslSocket::VerifyPeer : QSslSocket::VerifyNone);
    request.setSslConfiguration(tls);
    request.setTransferTimeout(options.stallTimeoutMs);
}

RequestProvider::WaitEnd RequestProvider::waitFor(QNetworkReply *reply, const Call &call)
{
    WaitEnd end = WaitEnd::Finished;
    if (reply->isFinished())
        return end;
    const auto stop = [&](WaitEnd why) {
        if (end == WaitEnd::Finished && !reply->isFinished()) {
            end = why;
            reply->abort();
        }
    };
    // Quit on this reply only: on a thread whose loop is itself nested inside another
    // request's loop, a manager-wide signal would end the wrong wait.
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // The announced size is judged before any of the body is read, the real one as it grows.
    const qint64 limit = call.replyLimit();
    connect(reply, &QNetworkReply::metaDataChanged, &loop, [&] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > limit)
            stop(WaitEnd::TooLarge);
    });
    // Qt's network thread reads ahead only as far as this buffer allows, so an endless body
    // piles up neither here nor in queued events; twice the limit lets going past it show.
    reply->setReadBufferSize(2 * limit);
    connect(reply, &QNetworkReply::readyRead, &loop, [&] {
        if (reply->bytesAvailable() > limit)
            stop(WaitEnd::TooLarge);
    });
    QTimer overtime;
    overtime.setSingleShot(true);
    connect(&overtime, &QTimer::timeout, &loop, [&] { stop(WaitEnd::Overtime); });
    if (!call.deadline.isForever())
        overtime.start(int(qMax<qint64>(0, call.deadline.remainingTime())));

    QThread *thread = QThread::currentThread();
    QTimer poll;
    const QCoreApplication *app = QCoreApplication::instance();
    if (app && thread != app->thread()) {
        // An owner shutting its thread down must not wait out a stalled server.
        if (thread->isInterruptionRequested()) {
            stop(WaitEnd::Interrupted);
            return end;
        }
        connect(&poll, &QTimer::timeout, &loop, [&] {
            if (thread->isInterruptionRequested())
                stop(WaitEnd::Interrupted);
        });
        poll.start(InterruptionPollMs);
    }
    if (!reply->isFinished())
        loop.exec();
    if (end == WaitEnd::Finished && reply->bytesAvailable() > limit)
        end = WaitEnd::TooLarge;
    return end;
}

QSharedPointer<QByteArray> RequestProvider::get(QNetworkRequest &request, int *code)
{
    return start(Verb::Get, request, QByteArray(), code);
}

QSharedPointer<QByteArray> RequestProvider::post(QNetworkRequest &request, const QByteArray &body, int *code)
{
    return start(Verb::Post, request, body, code);
}

QSharedPointer<QByteArray> RequestProvider::postMultipart(QNetworkRequest &request, const QByteArray &data, int *code)
{
    return start(Verb::Multipart, request, data, code);
}

QSharedPointer<QByteArray> RequestProvider::start(Verb verb, QNetworkRequest &request, const QByteArray &body,
                                                  int *code)
{
    Call call;
    call.verb = verb;
    call.body = body; // implicitly shared: the chunk is not copied here
    call.options = options();
    const int limit = verb == Verb::Multipart ? call.options.chunkRequestTimeoutMs : call.options.requestTimeoutMs;
    call.deadline = limit > 0 ? QDeadlineTimer(limit) : QDeadlineTimer(QDeadlineTimer::Forever);
    return send(request, call, code);
}

QSharedPointer<QByteArray> RequestProvider::send(QNetworkRequest &request, const Call &call, int *code)
{
    if (call.verb == Verb::Get) {
        qDebug().noquote() << QStringLiteral("OpenSSL支持情况:")
                                  + (QSslSocket::supportsSsl() ? QStringLiteral("true") : QStringLiteral("false"));
        qDebug().noquote() << QStringLiteral("QSslSocket=") + QSslSocket::sslLibraryBuildVersionString();
    }
    if (call.verb == Verb::Multipart) {
        const QUrl url = request.url();
        const ChunkConnection::Reply reply =
            ChunkConnection::forThread().postMultipart(request, call.body, call.options, call.deadline);
        if (reply.error != 0)
            return failure(url, reply.error, reply.errorText, code);
        if (reply.status >= 400) {
            const QString text = QStringLiteral("Error transferring %1 - server replied: %2")
                                     .arg(url.toString(), QString::fromUtf8(reply.reason));
            return failure(url, httpStatusError(reply.status), text, code);
        }
        return answer(request, call, reply.status, QString::fromUtf8(reply.location), reply.body,
                      QString::fromUtf8(reply.reason), code);
    }
    prepare(request, call.options);
    QNetworkAccessManager *manager = threadManager(call.options.verifyCertificates);
    QNetworkReply *reply = call.verb == Verb::Get ? manager->get(request) : manager->post(request, call.body);
    const WaitEnd end = waitFor(reply, call);
    QSharedPointer<QByteArray> result = receiveReply(reply, call, end, code);
    delete reply;
    return result;
}

QSharedPointer<QByteArray> RequestProvider::receiveReply(QNetworkReply *reply, const Call &call, WaitEnd end, int *code)
{
    const QUrl url = reply->request().url();
    switch (end) {
    case WaitEnd::Overtime:
        return failure(url, QNetworkReply::TimeoutError, QStringLiteral("Request took too long"), code);
    case WaitEnd::TooLarge:
        return failure(url, QNetworkReply::ProtocolFailure,
                       QStringLiteral("Reply larger than %1 bytes").arg(call.replyLimit()), code);
    case WaitEnd::Interrupted:
    case WaitEnd::Finished: break;
    }
    if (reply->error() != QNetworkReply::NoError) {
        int error = reply->error();
        QString text = reply->errorString();
        // Qt reports a stall abort as a cancellation; nobody cancelled, the server went quiet.
        if (error == QNetworkReply::OperationCanceledError && end != WaitEnd::Interrupted
            && call.options.stallTimeoutMs > 0) {
            error = QNetworkReply::TimeoutError;
            text = QStringLiteral("Transfer timed out");
        }
        return failure(url, error, text, code);
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return answer(reply->request(), call, status,
                  reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toString(),
                  status == 200 ? reply->readAll() : QByteArray(),
                  reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString(), code);
}

QSharedPointer<QByteArray> RequestProvider::failure(const QUrl &url, int error, const QString &text, int *code)
{
    if (code)
        *code = error;
    qWarning().noquote() << url.toString() + QStringLiteral(":") + text;
    return QSharedPointer<QByteArray>::create(text.toUtf8());
}

QSharedPointer<QByteArray> RequestProvider::answer(const QNetworkRequest &request, const Call &call, int status,
                                                   const QString &location, const QByteArray &body,
                                                   const QString &reason, int *code)
{
    int dummy = 0;
    if (!code)
        code = &dummy;
    *code = status;
    const QUrl url = request.url();
    // A redirect without a target is just a status.
    if (isRedirect(status) && !location.isEmpty()) {
        // Only 307 and 308 promise the same method and body; following anything else with a
        // GET would take the answer to a request the server never saw for this one's.
        if (call.verb != Verb::Get && status != 307 && status != 308)
            return failure(url, QNetworkReply::ProtocolInvalidOperationError,
                           QStringLiteral("Redirect (%1) of a POST refused").arg(status), code);
        if (call.hops >= MaxRedirects)
            return failure(url, QNetworkReply::TooManyRedirectsError, QStringLiteral("Too many redirects"), code);
        // A relative Location is relative to the URL that answered, not to nothing.
        const QUrl target = url.resolved(QUrl(location, QUrl::TolerantMode));
        const QString scheme = target.scheme();
        if ((scheme != QLatin1String("http") && scheme != QLatin1String("https")) || target.host().isEmpty())
            return failure(url, QNetworkReply::ProtocolUnknownError,
                           QStringLiteral("Redirect to %1 refused: only http(s) is followed").arg(shown(target)), code);
        if (url.scheme() == QLatin1String("https") && scheme == QLatin1String("http"))
            return failure(url, QNetworkReply::InsecureRedirectError,
                           QStringLiteral("Redirect from https to http refused: %1").arg(shown(target)), code);

        QNetworkRequest next(target);
        if (call.verb != Verb::Get) {
            // The body keeps its type; the other headers (the token) go only where they came from.
            next.setHeader(QNetworkRequest::ContentTypeHeader, request.header(QNetworkRequest::ContentTypeHeader));
            if (sameOrigin(url, target)) {
                for (const QByteArray &name : request.rawHeaderList())
                    next.setRawHeader(name, request.rawHeader(name));
            }
        }
        Call hop = call;
        ++hop.hops;
        return send(next, hop, code);
    }
    if (status == 200)
        return QSharedPointer<QByteArray>::create(body);
    return QSharedPointer<QByteArray>::create(reason.toUtf8());
}

NetworkFault RequestProvider::faultOf(int code)
{
    switch (code) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::HostNotFoundError: return NetworkFault::NotConnected;
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError: return NetworkFault::Broken;
    default: return NetworkFault::None;
    }
}

QString RequestProvider::networkErrorMessage(int code, const QString &fallback)
{
    switch (code) {
    case 1: return QStringLiteral("远程服务器拒绝了连接（服务器不接受请求）");
    case 2: return QStringLiteral("远程服务器在接收并处理整个答复之前提前关闭了连接");
    case 3: return QStringLiteral("找不到远程主机名（主机名无效），请检查服务器和网络状态");
    case 4: return QStringLiteral("远程服务器的连接已超时，请检查服务器和网络状态");
    case 5: return QStringLiteral("连接已取消");
    case 6: return QStringLiteral("SSL/TLS握手失败，无法建立加密的通道");
    case 7:
        return QStringLiteral(
            "由于与网络断开，连接断开，但系统已启动漫游到另一个接入点。应重新提交该请求，并将在重新建立连接后立即进行处理");
    case 8: return QStringLiteral("由于与网络断开或未能启动网络，连接被断开");
    case 9: return QStringLiteral("由于平台策略的原因，当前不允许使用后台请求");
    case 99: return QStringLiteral("检测到一个未知的与网络相关的错误");
    case 101: return QStringLiteral("与代理服务器的连接被拒绝（代理服务器不接受请求）");
    case 102: return QStringLiteral("代理服务器在接收并处理整个答复之前提前关闭了连接");
    case 103: return QStringLiteral("找不到代理主机名（代理主机名无效）");
    case 104: return QStringLiteral("与代理的连接超时或代理未及时回复所发送的请求");
    case 105: return QStringLiteral("代理要求进行身份验证才能履行该请求，但不接受所提供的任何凭据");
    case 199: return QStringLiteral("检测到一个未知的与代理相关的错误");
    case 201: return QStringLiteral("对远程内容的访问被拒绝");
    case 202: return QStringLiteral("不允许对远程内容上请求的操作");
    case 203: return QStringLiteral("在服务器上找不到远程内容");
    case 204: return QStringLiteral("远程服务器需要身份验证来服务内容，但提供的凭据未被接受");
    case 205: return QStringLiteral("需要再次发送请求，但失败，因为无法第二次读取上载数据");
    case 206: return QStringLiteral("由于与资源的当前状态发生冲突，该请求无法完成");
    case 207: return QStringLiteral("所请求的资源在服务器上不再可用");
    case 299: return QStringLiteral("检测到与远程内容相关的未知错误");
    case 301: return QStringLiteral("网络访问API无法响应该请求，因为该协议未知");
    case 302: return QStringLiteral("所请求的操作对此协议无效");
    case 399: return QStringLiteral("检测到协议故障（分析错误、无效或意外响应等）");
    case 401: return QStringLiteral("服务器遇到了一个意外情况，因此服务器无法满足该请求");
    case 402: return QStringLiteral("该服务器不支持满足该请求所需的功能");
    case 403: return QStringLiteral("服务器此时无法处理该请求，请检查服务器和网络状态");
    case 499: return QStringLiteral("检测到与服务器响应相关的未知错误");
    default: return QStringLiteral("(") + QString::number(code) + QStringLiteral(")") + fallback;
    }
}
