// SPDX-License-Identifier: MIT
#include "core/api/requestprovider.h"
#include "devserver.h"
#include "logcapture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <utility>
#include <vector>

namespace {

// A URL that answers with /test/empty after `hops` redirects.
QString redirectChain(const DevServer &server, int hops)
{
    QString target = server.url(QStringLiteral("/test/empty"));
    for (int i = 0; i < hops; ++i)
        target =
            server.url(QStringLiteral("/test/redirect?to=")) + QString::fromLatin1(QUrl::toPercentEncoding(target));
    return target;
}

} // namespace

class TestRequestProvider final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m_server.start(), qPrintable(m_server.errorString())); }
    void cleanup();

    void get_unresolvableHost_hostNotFoundWithWarning();
    void redirects_followedOnlyWhereSafe_data();
    void redirects_followedOnlyWhereSafe();
    void get_redirectLimit_tenHopsFollowedEleventhFails();
    void get_statuses_codeAndBody_data();
    void get_statuses_codeAndBody();
    void networkErrorMessage_codes_data();
    void networkErrorMessage_codes();
    void get_selfSignedTls_refusedUnlessVerificationOff();
    void get_stalledOrInterrupted_endsInsteadOfHanging();
    void get_hostileReplies_failWithinLimits_data();
    void get_hostileReplies_failWithinLimits();
    void get_nestedInAnotherRequestsLoop_bothComplete();
    void get_concurrentThreads_eachGetsItsOwnReply();

private:
    int codeOf(const QString &url, QByteArray *body = nullptr);

    DevServer m_server;
    RequestProvider m_provider;
};

void TestRequestProvider::cleanup()
{
    m_provider.setOptions(ClientOptions());
}

int TestRequestProvider::codeOf(const QString &url, QByteArray *body)
{
    QNetworkRequest request{QUrl(url)};
    int code = 0;
    const QSharedPointer<QByteArray> reply = m_provider.get(request, &code);
    if (body)
        *body = reply ? *reply : QByteArray("<null>");
    return code;
}

void TestRequestProvider::get_unresolvableHost_hostNotFoundWithWarning()
{
    const QString url = QStringLiteral("http://nuv-no-such-host.invalid/platform/settings");
    QByteArray body;
    int code = 0;
    const QStringList warnings = LogCapture::during([&] { code = codeOf(url, &body); });

    QCOMPARE(code, int(QNetworkReply::HostNotFoundError));
    QVERIFY(!body.isEmpty());
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings.first().startsWith(url + QLatin1Char(':')), qPrintable(warnings.first()));
}

void TestRequestProvider::redirects_followedOnlyWhereSafe_data()
{
    QTest::addColumn<QByteArray>("verb");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("to");
    QTest::addColumn<int>("code");
    // The method the target saw; empty when it must not have been asked at all.
    QTest::addColumn<QString>("method");
    const int refusedPost = QNetworkReply::ProtocolInvalidOperationError;
    const QString echo = QStringLiteral("/test/echo");
    QTest::newRow("POST 302 refused") << QByteArray("POST") << 302 << echo << refusedPost << QString();
    QTest::newRow("POST 303 refused") << QByteArray("POST") << 303 << echo << refusedPost << QString();
    QTest::newRow("POST 307 as it was") << QByteArray("POST") << 307 << echo << 200 << QStringLiteral("POST");
    QTest::newRow("POST 308 as it was") << QByteArray("POST") << 308 << echo << 200 << QStringLiteral("POST");
    QTest::newRow("GET 303") << QByteArray("GET") << 303 << echo << 200 << QStringLiteral("GET");
    QTest::newRow("GET 308") << QByteArray("GET") << 308 << echo << 200 << QStringLiteral("GET");
    QTest::newRow("to file:") << QByteArray("GET") << 302 << QStringLiteral("file:///etc/hostname")
                              << int(QNetworkReply::ProtocolUnknownError) << QString();
    QTest::newRow("to data:") << QByteArray("GET") << 301 << QStringLiteral("data:application/json,{}")
                              << int(QNetworkReply::ProtocolUnknownError) << QString();
}

void TestRequestProvider::redirects_followedOnlyWhereSafe()
{
    QFETCH(QByteArray, verb);
    QFETCH(int, status);
    QFETCH(QString, to);
    QFETCH(QString, method);
    const QString target = to.startsWith(QLatin1Char('/')) ? m_server.url(to) : to;
    QNetworkRequest request{QUrl(m_server.url(QStringLiteral("/test/redirect?status=%1&to=").arg(status))
                                 + QString::fromLatin1(QUrl::toPercentEncoding(target)))};
    request.setRawHeader("token", "secret-token");
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    int code = 0;
    const QByteArray body = verb == "GET" ? *m_provider.get(request, &code) : *m_provider.post(request, "a=1", &code);
    QTEST(code, "code");
    if (method.isEmpty())
        return;
    const QJsonObject echo = QJsonDocument::fromJson(body).object();
    QCOMPARE(echo.value(QStringLiteral("method")).toString(), method);
    // A POST goes on whole; a GET takes none of the first request's headers along.
    const QString token = echo.value(QStringLiteral("headers")).toObject().value(QStringLiteral("token")).toString();
    QCOMPARE(token, method == QLatin1String("POST") ? QStringLiteral("secret-token") : QString());
    QCOMPARE(echo.value(QStringLiteral("body")).toString(),
             method == QLatin1String("POST") ? QStringLiteral("a=1") : QString());
}

void TestRequestProvider::get_redirectLimit_tenHopsFollowedEleventhFails()
{
    QCOMPARE(codeOf(redirectChain(m_server, RequestProvider::MaxRedirects)), 200);
    QByteArray body;
    const int code = codeOf(redirectChain(m_server, RequestProvider::MaxRedirects + 1), &body);
    QCOMPARE(code, int(QNetworkReply::TooManyRedirectsError));
    QCOMPARE(RequestProvider::networkErrorMessage(code, QString::fromUtf8(body)),
             QStringLiteral("(10)Too many redirects"));
}

void TestRequestProvider::get_statuses_codeAndBody_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("200 empty") << QStringLiteral("/test/empty") << 200 << QByteArray();
    QTest::newRow("204 reason phrase") << QStringLiteral("/test/status/204") << 204 << QByteArray("No Content");
    QTest::newRow("307 not followed") << QStringLiteral("/test/status/307") << 307 << QByteArray("Temporary Redirect");
    QTest::newRow("relative 301 followed")
        << QStringLiteral("/test/redirect?status=301&to=%2Ftest%2Fempty") << 200 << QByteArray();
    // Network errors carry the framework's error text ("*": any non-empty text).
    QTest::newRow("404") << QStringLiteral("/test/status/404") << int(QNetworkReply::ContentNotFoundError)
                         << QByteArray("*");
    QTest::newRow("500") << QStringLiteral("/test/status/500") << int(QNetworkReply::InternalServerError)
                         << QByteArray("*");
}

void TestRequestProvider::get_statuses_codeAndBody()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, body);
    QByteArray received;
    QTEST(codeOf(m_server.url(path), &received), "code");
    if (body == "*")
        QVERIFY(!received.isEmpty());
    else
        QCOMPARE(received, body);
}

void TestRequestProvider::networkErrorMessage_codes_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("fallback");
    QTest::addColumn<QString>("message");
    QTest::newRow("roaming ignores fallback")
        << 7 << QStringLiteral("abc")
        << QStringLiteral(
               "由于与网络断开，连接断开，但系统已启动漫游到另一个接入点。应重新提交该请求，并将在重新建立连接后立即进行处理");
    QTest::newRow("HTTP 204 reads as error 204")
        << 204 << QStringLiteral("No Content")
        << QStringLiteral("远程服务器需要身份验证来服务内容，但提供的凭据未被接受");
    QTest::newRow("last entry") << 499 << QString() << QStringLiteral("检测到与服务器响应相关的未知错误");
    QTest::newRow("not in table") << 10 << QStringLiteral("abc") << QStringLiteral("(10)abc");
    QTest::newRow("no code") << -1 << QString() << QStringLiteral("(-1)");
}

void TestRequestProvider::networkErrorMessage_codes()
{
    QFETCH(int, code);
    QFETCH(QString, fallback);
    QTEST(RequestProvider::networkErrorMessage(code, fallback), "message");
}

void TestRequestProvider::get_selfSignedTls_refusedUnlessVerificationOff()
{
    QTemporaryDir dir;
    QString cert;
    QString key;
    QVERIFY(DevServer::makeSelfSignedCertificate(dir.path(), &cert, &key));
    DevServer tls;
    QVERIFY2(tls.start({QStringLiteral("--tls"), cert, key}), qPrintable(tls.errorString()));
    const QString url = tls.url(QStringLiteral("/test/empty"));

    QCOMPARE(codeOf(url), int(QNetworkReply::SslHandshakeFailedError));
    ClientOptions trusting;
    trusting.verifyCertificates = false;
    m_provider.setOptions(trusting);
    QCOMPARE(codeOf(url), 200);
    QCOMPARE(codeOf(tls.url(QStringLiteral("/test/redirect?to="))
                    + QString::fromLatin1(QUrl::toPercentEncoding(m_server.url(QStringLiteral("/test/empty"))))),
             int(QNetworkReply::InsecureRedirectError));
    // Turning verification back on must not ride on the connection kept alive from before.
    m_provider.setOptions(ClientOptions());
    QCOMPARE(codeOf(url), int(QNetworkReply::SslHandshakeFailedError));
}

void TestRequestProvider::get_stalledOrInterrupted_endsInsteadOfHanging()
{
    const QString stalled = m_server.url(QStringLiteral("/test/stall?ms=20000"));
    ClientOptions options;
    options.stallTimeoutMs = 500;
    m_provider.setOptions(options);
    QCOMPARE(codeOf(stalled), int(QNetworkReply::TimeoutError));

    // A thread asked to stop gives up its request (the reporting thread's shutdown relies on it).
    int code = 0;
    std::unique_ptr<QThread> thread(QThread::create([&] {
        QNetworkRequest request{QUrl(stalled)};
        RequestProvider().get(request, &code);
    }));
    thread->start();
    thread->requestInterruption();
    QVERIFY(thread->wait(15000));
    QCOMPARE(code, int(QNetworkReply::OperationCanceledError));
}

void TestRequestProvider::get_hostileReplies_failWithinLimits_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("code");
    const int timeout = QNetworkReply::TimeoutError;
    const int tooLarge = QNetworkReply::ProtocolFailure;
    QTest::newRow("a byte now and then") << QStringLiteral("/test/drip?bytes=100&ms=200") << timeout;
    QTest::newRow("huge Content-Length") << QStringLiteral("/test/huge?bytes=1073741824&announce=1099511627776")
                                         << tooLarge;
    QTest::newRow("huge chunked body") << QStringLiteral("/test/huge?bytes=1073741824&framing=chunked") << tooLarge;
    QTest::newRow("huge body until close") << QStringLiteral("/test/huge?bytes=1073741824&framing=close") << tooLarge;
}

void TestRequestProvider::get_hostileReplies_failWithinLimits()
{
    QFETCH(QString, path);
    ClientOptions options;
    options.stallTimeoutMs = 1000;
    options.requestTimeoutMs = 2000;
    m_provider.setOptions(options);
    QTEST(codeOf(m_server.url(path)), "code");
    if (!path.startsWith(QLatin1String("/test/huge")))
        return;
    // Cut off as it came: the server got rid of a sliver of the body, not of all of it.
    qint64 sent = -1;
    QTRY_VERIFY((sent = m_server.bytesStreamed()) >= 0);
    QVERIFY2(sent < 64 * 1024 * 1024, qPrintable(QString::number(sent)));
}

void TestRequestProvider::get_nestedInAnotherRequestsLoop_bothComplete()
{
    // A second request started from inside the first one's event loop, on the same thread and
    // the same per-thread manager: each wait must end on its own reply.
    int innerCode = 0;
    QTimer::singleShot(100, this, [&] { innerCode = codeOf(m_server.url(QStringLiteral("/test/empty"))); });
    QCOMPARE(codeOf(m_server.url(QStringLiteral("/test/stall?ms=1500"))), 200);
    QCOMPARE(innerCode, 200);
}

void TestRequestProvider::get_concurrentThreads_eachGetsItsOwnReply()
{
    constexpr int Threads = 4;
    constexpr int Requests = 5;
    QVector<QStringList> seen(Threads);
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back(QThread::create([this, t, &seen] {
            RequestProvider provider;
            for (int i = 0; i < Requests; ++i) {
                QNetworkRequest request{QUrl(m_server.url(QStringLiteral("/test/echo?tag=t%1r%2").arg(t).arg(i)))};
                int code = 0;
                const QJsonObject echo = QJsonDocument::fromJson(*provider.get(request, &code)).object();
                seen[t].append(echo.value(QStringLiteral("query")).toObject().value(QStringLiteral("tag")).toString());
            }
        }));
        threads.back()->start();
    }
    for (int t = 0; t < Threads; ++t) {
        QVERIFY(threads[t]->wait(60000));
        for (int i = 0; i < Requests; ++i)
            QCOMPARE(seen[t].value(i), QStringLiteral("t%1r%2").arg(t).arg(i));
    }
}

QTEST_GUILESS_MAIN(TestRequestProvider)
#include "tst_requestprovider.moc"
