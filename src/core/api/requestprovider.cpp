// SPDX-License-Identifier: MIT
#include "requestprovider.h"

#include "chunkconnection.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEventLoop>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QThread>
#include <QThreadStorage>
#include <QTimer>

#include <atomic>
#include <memory>

namespace {

std::atomic_bool g_verifyPeer{true};
// Bumped when the TLS policy changes: kept-alive connections were made under the old one.
std::atomic_int g_tlsGeneration{0};
std::atomic_int g_transferTimeoutMs{RequestProvider::DefaultTransferTimeoutMs};

struct ThreadManager
{
    QNetworkAccessManager manager;
    int tlsGeneration = 0;
};

// Deleted by QThreadStorage when its thread ends (for the main thread: with the application).
QThreadStorage<ThreadManager *> g_managers;

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
    default:
        return status > 500 ? QNetworkReply::UnknownServerError : QNetworkReply::UnknownContentError;
    }
}

} // namespace

RequestProvider::RequestProvider(QObject *parent)
    : QObject(parent)
{
}

RequestProvider::~RequestProvider() = default;

void RequestProvider::setPeerVerification(bool verify)
{
    if (g_verifyPeer.exchange(verify) != verify)
        ++g_tlsGeneration;
}

bool RequestProvider::peerVerification()
{
    return g_verifyPeer;
}

void RequestProvider::setTransferTimeout(int milliseconds)
{
    g_transferTimeoutMs = qMax(0, milliseconds);
}

int RequestProvider::transferTimeout()
{
    return g_transferTimeoutMs;
}

QNetworkAccessManager *RequestProvider::threadManager()
{
    if (!g_managers.hasLocalData()) {
        auto *local = new ThreadManager;
        // Redirects are followed here, with a hop limit and the original request's headers dropped.
        local->manager.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
        local->tlsGeneration = g_tlsGeneration;
        g_managers.setLocalData(local);
    }
    ThreadManager *local = g_managers.localData();
    const int generation = g_tlsGeneration;
    if (local->tlsGeneration != generation) {
        // A reused connection would keep the handshake (and its verdict) of the old policy.
        local->manager.clearConnectionCache();
        local->tlsGeneration = generation;
    }
    return &local->manager;
}

void RequestProvider::prepare(QNetworkRequest &request)
{
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setProtocol(QSsl::TlsV1_2OrLater);
    tls.setPeerVerifyMode(g_verifyPeer ? QSslSocket::VerifyPeer : QSslSocket::VerifyNone);
    request.setSslConfiguration(tls);
    request.setTransferTimeout(g_transferTimeoutMs);
}

bool RequestProvider::waitFor(QNetworkReply *reply)
{
    if (reply->isFinished())
        return false;
    // Quit on this reply only: on a thread whose loop is itself nested inside another
    // request's loop, a manager-wide signal would end the wrong wait.
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    bool interrupted = false;
    QThread *thread = QThread::currentThread();
    QTimer poll;
    const QCoreApplication *app = QCoreApplication::instance();
    if (app && thread != app->thread()) {
        // An owner shutting its thread down must not wait out a stalled server.
        if (thread->isInterruptionRequested()) {
            reply->abort();
            return true;
        }
        connect(&poll, &QTimer::timeout, &loop, [&] {
            if (thread->isInterruptionRequested() && !reply->isFinished()) {
                interrupted = true;
                reply->abort();
            }
        });
        poll.start(InterruptionPollMs);
    }
    if (!reply->isFinished())
        loop.exec();
    return interrupted;
}

QSharedPointer<QByteArray> RequestProvider::get(QNetworkRequest &request, int *code)
{
    return send(Verb::Get, request, QByteArray(), code, 0);
}

QSharedPointer<QByteArray> RequestProvider::post(QNetworkRequest &request, const QByteArray &body, int *code)
{
    return send(Verb::Post, request, body, code, 0);
}

QSharedPointer<QByteArray> RequestProvider::postMultipart(QNetworkRequest &request, const QByteArray &data, int *code)
{
    return send(Verb::Multipart, request, data, code, 0);
}

QSharedPointer<QByteArray> RequestProvider::send(Verb verb, QNetworkRequest &request, const QByteArray &body,
                                                 int *code, int hops)
{
    if (verb == Verb::Get) {
        qDebug().noquote() << QStringLiteral("OpenSSL支持情况:")
                + (QSslSocket::supportsSsl() ? QStringLiteral("true") : QStringLiteral("false"));
        qDebug().noquote() << QStringLiteral("QSslSocket=") + QSslSocket::sslLibraryBuildVersionString();
    }
    if (verb == Verb::Multipart) {
        const QUrl url = request.url();
        const ChunkConnection::Reply reply = ChunkConnection::forThread().postMultipart(request, body);
        if (reply.error != 0)
            return failure(url, reply.error, reply.errorText, code);
        if (reply.status >= 400) {
            const QString text = QStringLiteral("Error transferring %1 - server replied: %2")
                                         .arg(url.toString(), QString::fromUtf8(reply.reason));
            return failure(url, httpStatusError(reply.status), text, code);
        }
        return answer(url, reply.status, QString::fromUtf8(reply.location), reply.body,
                      QString::fromUtf8(reply.reason), code, hops);
    }
    prepare(request);
    QNetworkAccessManager *manager = threadManager();

    std::unique_ptr<QHttpMultiPart> multipart;
    QNetworkReply *reply = nullptr;
    switch (verb) {
    case Verb::Get:
        reply = manager->get(request);
        break;
    case Verb::Post:
        reply = manager->post(request, body);
        break;
    case Verb::Multipart: {
        QHttpPart part;
        part.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/octet-stream"));
        part.setHeader(QNetworkRequest::ContentDispositionHeader,
                       QStringLiteral("form-data; name=\"file\"; filename=\"unknow.fs\""));
        part.setBody(body); // implicitly shared: the chunk is not copied here
        multipart = std::make_unique<QHttpMultiPart>(QHttpMultiPart::FormDataType);
        multipart->append(part);
        reply = manager->post(request, multipart.get());
        break;
    }
    }

    const bool interrupted = waitFor(reply);
    QSharedPointer<QByteArray> result = finish(reply, code, hops, interrupted);
    delete reply;
    return result;
}

QSharedPointer<QByteArray> RequestProvider::receiveReply(QNetworkReply *reply, int *code)
{
    return finish(reply, code, 0, false);
}

QSharedPointer<QByteArray> RequestProvider::finish(QNetworkReply *reply, int *code, int hops, bool interrupted)
{
    const QUrl url = reply->request().url();
    if (reply->error() != QNetworkReply::NoError) {
        int error = reply->error();
        QString text = reply->errorString();
        // Qt reports a stall abort as a cancellation; nobody cancelled, the server went quiet.
        if (error == QNetworkReply::OperationCanceledError && !interrupted && g_transferTimeoutMs > 0) {
            error = QNetworkReply::TimeoutError;
            text = QStringLiteral("Transfer timed out");
        }
        return failure(url, error, text, code);
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return answer(url, status, reply->attribute(QNetworkRequest::RedirectionTargetAttribute).toString(),
                  status == 200 ? reply->readAll() : QByteArray(),
                  reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString(), code, hops);
}

QSharedPointer<QByteArray> RequestProvider::failure(const QUrl &url, int error, const QString &text, int *code)
{
    if (code)
        *code = error;
    qWarning().noquote() << url.toString() + QStringLiteral(":") + text;
    return QSharedPointer<QByteArray>::create(text.toUtf8());
}

QSharedPointer<QByteArray> RequestProvider::answer(const QUrl &url, int status, const QString &location,
                                                   const QByteArray &body, const QString &reason, int *code,
                                                   int hops)
{
    int dummy = 0;
    if (!code)
        code = &dummy;
    *code = status;
    if (status == 301 || status == 302) {
        if (hops >= MaxRedirects)
            return failure(url, QNetworkReply::TooManyRedirectsError, QStringLiteral("Too many redirects"), code);
        // A relative Location is relative to the URL that answered, not to nothing.
        QNetworkRequest next(url.resolved(QUrl(location, QUrl::TolerantMode)));
        return send(Verb::Get, next, QByteArray(), code, hops + 1);
    }
    if (status == 200)
        return QSharedPointer<QByteArray>::create(body);
    return QSharedPointer<QByteArray>::create(reason.toUtf8());
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
    case 7: return QStringLiteral("由于与网络断开，连接断开，但系统已启动漫游到另一个接入点。应重新提交该请求，并将在重新建立连接后立即进行处理");
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
    default:
        return QStringLiteral("(") + QString::number(code) + QStringLiteral(")") + fallback;
    }
}
