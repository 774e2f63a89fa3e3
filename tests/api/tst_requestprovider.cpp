// SPDX-License-Identifier: MIT
#include "core/api/requestprovider.h"
#include "devserver.h"
#include "logcapture.h"
#include "testsupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

QByteArray g_token;

// The three ways a request goes: the access manager's GET and form POST, the chunk connection.
enum Transport { Get = 1, Post = 2, Chunk = 4 };

int send(RequestProvider &provider, Transport transport, const QString &url, QByteArray *body = nullptr,
         const QByteArray &data = QByteArray(1024, 'c'))
{
    QNetworkRequest request{QUrl(url)};
    request.setRawHeader("token", g_token);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/x-www-form-urlencoded"));
    int code = 0;
    const QSharedPointer<QByteArray> reply = transport == Get    ? provider.get(request, &code)
                                             : transport == Post ? provider.post(request, "a=1", &code)
                                                                 : provider.postMultipart(request, data, &code);
    if (body)
        *body = *reply;
    return code;
}

bool succeeded(const QByteArray &body)
{
    return QJsonDocument::fromJson(body).object().value(QStringLiteral("success")).toBool();
}

QString encoded(const QString &url)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(url));
}

} // namespace

class TestRequestProvider final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup() { m_provider.setOptions(ClientOptions()); }

    void replies_sameOnEveryTransport_data();
    void replies_sameOnEveryTransport();
    void selfSignedTls_refusedUnlessVerificationOff();
    void waits_endOnTheirOwnReplyOrInterruption();
    void chunks_keptAliveConnection_reusedAndResentOnlyWhenUnanswered();

private:
    DevServer m_server;
    RequestProvider m_provider;
};

void TestRequestProvider::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    QByteArray reply;
    QCOMPARE(send(m_provider, Get, m_server.url(QStringLiteral("/api/token?code=")) + m_server.code(), &reply), 200);
    g_token = QJsonDocument::fromJson(reply).object().value(QStringLiteral("data")).toString().toUtf8();
    QVERIFY(!g_token.isEmpty());
}

void TestRequestProvider::replies_sameOnEveryTransport_data()
{
    QTest::addColumn<int>("transports");
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("code");
    // The body handed back; "*" for a failure: any text, and one warning naming the URL; "echo"
    // for /test/echo's account of the request that reached it; "ok" for a success envelope.
    QTest::addColumn<QByteArray>("body");
    // A URL that answers with /test/empty after `hops` redirects.
    const auto chain = [this](int hops) {
        QString target = m_server.url(QStringLiteral("/test/empty"));
        for (int i = 0; i < hops; ++i)
            target = m_server.url(QStringLiteral("/test/redirect?to=")) + encoded(target);
        return target;
    };
    const auto row = [this](const char *name, int transports, const QString &path, int code, const QByteArray &body) {
        QTest::newRow(name) << transports << (path.startsWith(QLatin1Char('/')) ? m_server.url(path) : path) << code
                            << body;
    };
    const auto redirect = [this](int status) -> QString {
        return QStringLiteral("/test/redirect?status=%1&to=").arg(status)
               + encoded(m_server.url(QStringLiteral("/test/echo")));
    };
    const int all = Get | Post | Chunk;
    const int tooLarge = QNetworkReply::ProtocolFailure;
    const QString huge = QStringLiteral("/test/huge?bytes=1073741824");
    const QString framed = QStringLiteral("/test/huge?bytes=150000&framing=");
    row("204 reason phrase", all, QStringLiteral("/test/status/204"), 204, "No Content");
    row("307 without Location", all, QStringLiteral("/test/status/307"), 307, "Temporary Redirect");
    row("relative 301 followed", Get, QStringLiteral("/test/redirect?status=301&to=%2Ftest%2Fempty"), 200, "");
    row("10 hops followed", Get, chain(RequestProvider::MaxRedirects), 200, "");
    row("11 hops", Get, chain(RequestProvider::MaxRedirects + 1), QNetworkReply::TooManyRedirectsError, "*");
    // Only 307 and 308 promise the same method and body; a GET takes no header along.
    row("POST 302 refused", Post | Chunk, redirect(302), QNetworkReply::ProtocolInvalidOperationError, "*");
    row("POST 303 refused", Post, redirect(303), QNetworkReply::ProtocolInvalidOperationError, "*");
    row("POST 307 as it was", Post | Chunk, redirect(307), 200, "echo");
    row("POST 308 as it was", Post | Chunk, redirect(308), 200, "echo");
    // Another origin (host name) gets the body but not the token.
    row("POST 307 elsewhere", Post | Chunk,
        redirect(307).replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost")), 200, "echo elsewhere");
    row("GET 303 bare", Get, redirect(303), 200, "echo");
    row("to file:", Get | Chunk, QStringLiteral("/test/redirect?status=307&to=file%3A%2F%2F%2Fetc%2Fhostname"),
        QNetworkReply::ProtocolUnknownError, "*");
    row("404", all, QStringLiteral("/test/status/404"), QNetworkReply::ContentNotFoundError, "*");
    row("500", all, QStringLiteral("/test/status/500"), QNetworkReply::InternalServerError, "*");
    row("stalled", all, QStringLiteral("/test/stall?ms=20000"), QNetworkReply::TimeoutError, "*");
    row("a byte now and then", all, QStringLiteral("/test/drip?bytes=100&ms=200"), QNetworkReply::TimeoutError, "*");
    row("4 interim answers", Chunk, QStringLiteral("/test/continue?count=4&ms=10"), 200, "ok");
    row("5 interim answers", Chunk, QStringLiteral("/test/continue?count=5&ms=10"), tooLarge, "*");
    row("chunked body", Get | Chunk, framed + QStringLiteral("chunked"), 200, QByteArray(150000, 'x'));
    row("body until close", Get | Chunk, framed + QStringLiteral("close"), 200, QByteArray(150000, 'x'));
    row("huge Content-Length", Get | Chunk, huge, tooLarge, "*");
    row("huge chunked body", Get | Chunk, huge + QStringLiteral("&framing=chunked"), tooLarge, "*");
    row("huge body until close", Get | Chunk, huge + QStringLiteral("&framing=close"), tooLarge, "*");
    row("refused", all, QStringLiteral("http://127.0.0.1:1/x"), QNetworkReply::ConnectionRefusedError, "*");
    row("no such host", Get | Chunk, QStringLiteral("http://nuv-no-such-host.invalid/x"),
        QNetworkReply::HostNotFoundError, "*");
}

void TestRequestProvider::replies_sameOnEveryTransport()
{
    QFETCH(int, transports);
    QFETCH(QString, url);
    QFETCH(int, code);
    QFETCH(QByteArray, body);
    ClientOptions options;
    options.stallTimeoutMs = 1000;
    options.requestTimeoutMs = options.chunkRequestTimeoutMs = 2000;
    options.maxChunkReplyBytes = 1024 * 1024;
    m_provider.setOptions(options);
    for (const Transport transport : {Get, Post, Chunk}) {
        if (!(transports & transport))
            continue;
        QByteArray received;
        int got = 0;
        const QStringList warnings = LogCapture::during([&] { got = send(m_provider, transport, url, &received); });
        const QString seen = QStringLiteral("transport %1: %2 %3 %4")
                                 .arg(transport)
                                 .arg(got)
                                 .arg(QString::fromUtf8(received.left(300)), warnings.join(QLatin1Char('\n')));
        const bool failed = body == "*";
        bool sound = got == code && warnings.size() == int(failed)
                     && (!failed || warnings.first().startsWith(url.section(QLatin1Char('?'), 0, 0)));
        if (body.startsWith("echo")) {
            const QJsonDocument echo = QJsonDocument::fromJson(received);
            const QString token = transport == Get || body != "echo" ? QString() : QString::fromLatin1(g_token);
            sound =
                sound && echo[QStringLiteral("method")] == QLatin1String(transport == Get ? "GET" : "POST")
                && echo[QStringLiteral("headers")][QStringLiteral("token")].toString() == token
                && echo[QStringLiteral("body")].toString() == QLatin1String(transport == Post ? "a=1" : "")
                && echo[QStringLiteral("files")][0][QStringLiteral("size")].toInt() == (transport == Chunk ? 1024 : 0);
        } else {
            sound = sound && (failed ? !received.isEmpty() : body == "ok" ? succeeded(received) : received == body);
        }
        QVERIFY2(sound, qPrintable(seen));
        if (!url.contains(QLatin1String("/test/huge")))
            continue;
        // Cut off as it came: the server got rid of a sliver of the body, not of all of it.
        qint64 sent = -1;
        QTRY_VERIFY((sent = m_server.bytesStreamed()) >= 0);
        QVERIFY2(sent < (transport == Chunk ? 16 : 64) * 1024 * 1024, qPrintable(QString::number(sent)));
    }
}

void TestRequestProvider::selfSignedTls_refusedUnlessVerificationOff()
{
    QTemporaryDir dir;
    QString cert;
    QString key;
    QVERIFY(DevServer::makeSelfSignedCertificate(dir.path(), &cert, &key));
    DevServer tls;
    QVERIFY2(tls.start({QStringLiteral("--tls"), cert, key}), qPrintable(tls.errorString()));
    const QString url = tls.url(QStringLiteral("/test/echo"));
    const QByteArray data = randomBytes(3 * 1024 * 1024);
    ClientOptions trusting;
    trusting.verifyCertificates = false;
    for (const Transport transport : {Get, Chunk}) {
        m_provider.setOptions(ClientOptions());
        QCOMPARE(send(m_provider, transport, url), int(QNetworkReply::SslHandshakeFailedError));
        m_provider.setOptions(trusting);
        QByteArray body;
        QCOMPARE(send(m_provider, transport, url, &body, data), 200);
        QCOMPARE(QJsonDocument::fromJson(body)[QStringLiteral("files")][0][QStringLiteral("size")].toInt(),
                 transport == Chunk ? data.size() : 0);
        // Turning verification back on must not ride on the connection kept alive from before.
        m_provider.setOptions(ClientOptions());
        QCOMPARE(send(m_provider, transport, url), int(QNetworkReply::SslHandshakeFailedError));
    }
    m_provider.setOptions(trusting);
    QCOMPARE(send(m_provider, Get,
                  tls.url(QStringLiteral("/test/redirect?to=")) + encoded(m_server.url(QStringLiteral("/test/empty")))),
             int(QNetworkReply::InsecureRedirectError));
}

void TestRequestProvider::waits_endOnTheirOwnReplyOrInterruption()
{
    // A thread asked to stop gives up its request (the reporting thread's shutdown relies on it).
    for (const Transport transport : {Get, Chunk}) {
        int code = 0;
        std::unique_ptr<QThread> thread(QThread::create([&] {
            RequestProvider provider;
            code = send(provider, transport, m_server.url(QStringLiteral("/test/stall?ms=20000")));
        }));
        thread->start();
        thread->requestInterruption();
        QVERIFY(thread->wait(30000));
        QCOMPARE(code, int(QNetworkReply::OperationCanceledError));
    }
    // A second request started from inside the first one's event loop, on the same thread and
    // the same per-thread manager: each wait must end on its own reply.
    int innerCode = 0;
    QTimer::singleShot(100, this,
                       [&] { innerCode = send(m_provider, Get, m_server.url(QStringLiteral("/test/empty"))); });
    QCOMPARE(send(m_provider, Get, m_server.url(QStringLiteral("/test/stall?ms=1500"))), 200);
    QCOMPARE(innerCode, 200);
}

void TestRequestProvider::chunks_keptAliveConnection_reusedAndResentOnlyWhenUnanswered()
{
    const auto uploadUrl = [this](const char *name, int total, int pos, bool end) {
        const QString query = QStringLiteral("/api/upload?uuid=%1&name=%2&total=%3&pos=%4&end=%5");
        return m_server.url(query.arg(m_server.uuid(), QLatin1String(name)).arg(total).arg(pos).arg(int(end)));
    };
    constexpr int ChunkSize = 1024 * 1024;
    const QByteArray file = randomBytes(3 * ChunkSize + 4000);
    QVERIFY(m_server.resetJournal());
    for (int i = 0; i * ChunkSize < file.size(); ++i) {
        // The third chunk's connection ends as the chunk arrives, unanswered.
        if (i == 2)
            QVERIFY(m_server.configure(QJsonDocument::fromJson(R"({"reset":["upload:1"]})").object()));
        QByteArray body;
        const QString url = uploadUrl("keep.bin", file.size(), i * ChunkSize, (i + 1) * ChunkSize >= file.size());
        QCOMPARE(send(m_provider, Chunk, url, &body, file.mid(i * ChunkSize, ChunkSize)), 200);
        QVERIFY2(succeeded(body), body.constData());
    }
    // One kept-alive connection until the reset, then the chunk again on a new one.
    QStringList ports;
    for (const QJsonValue &request : m_server.requestsTo(QStringLiteral("/api/upload")))
        ports.append(QString::number(request[QStringLiteral("port")].toInt()));
    QVERIFY2(ports.size() == 5 && ports.count(ports.first()) == 3 && ports.count(ports.last()) == 2,
             qPrintable(ports.join(QLatin1Char(' '))));
    const QJsonObject upload = m_server.journalEntry("uploads", "name", QStringLiteral("keep.bin"));
    // Each chunk reached the server exactly once.
    QCOMPARE(upload.value(QStringLiteral("chunks")).toArray().size(), 4);
    QCOMPARE(upload.value(QStringLiteral("sha256")).toString(), sha256Of(file));

    // Dropped after response bytes had arrived: not sent again.
    const QString url = uploadUrl("again.bin", 1024, 0, true);
    QVERIFY(m_server.configure(QJsonDocument::fromJson(R"({"drop":["upload:1"]})").object()));
    QCOMPARE(send(m_provider, Chunk, url), int(QNetworkReply::RemoteHostClosedError));
    ClientOptions options;
    options.stallTimeoutMs = 500;
    m_provider.setOptions(options);
    QVERIFY(m_server.configure(QJsonDocument::fromJson(R"({"stall":{"upload":{"ms":3000,"count":1}}})").object()));
    QCOMPARE(send(m_provider, Chunk, url), int(QNetworkReply::TimeoutError));
    // The late answer to the abandoned request must not be taken for the next one's.
    QByteArray body;
    QCOMPARE(send(m_provider, Chunk, url, &body), 200);
    QVERIFY2(succeeded(body), body.constData());
}

QTEST_GUILESS_MAIN(TestRequestProvider)
#include "tst_requestprovider.moc"