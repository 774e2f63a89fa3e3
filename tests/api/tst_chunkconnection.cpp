// SPDX-License-Identifier: MIT
#include "core/api/requestprovider.h"
#include "devserver.h"
#include "logcapture.h"
#include "testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <atomic>
#include <memory>

namespace {

// A TCP relay in front of the devserver, on a thread of its own (the client blocks the test's
// thread): it counts the connections the client opens and can cut them all, as a server
// closing idle connections does.
class Relay final : public QObject
{
    Q_OBJECT

public:
    explicit Relay(quint16 upstream)
        : m_upstream(upstream)
        , m_server(new QTcpServer(this))
    {
        connect(m_server, &QTcpServer::newConnection, this, &Relay::accept);
    }

    void listen()
    {
        m_server->listen(QHostAddress::LocalHost, 0);
        port = m_server->serverPort();
    }
    void dropAll()
    {
        for (const QPointer<QTcpSocket> &client : qAsConst(m_clients)) {
            if (client)
                client->abort();
        }
    }

    // The next request's first bytes end its connection unanswered: the server closed the
    // idle connection just as the request went out.
    void dropOnNextRequest() { m_dropNext = true; }

    std::atomic_int accepted{0};
    std::atomic<quint16> port{0};

private:
    void accept()
    {
        while (QTcpSocket *client = m_server->nextPendingConnection()) {
            ++accepted;
            m_clients.append(client);
            auto *upstream = new QTcpSocket(client);
            upstream->connectToHost(QHostAddress::LocalHost, m_upstream);
            connect(client, &QTcpSocket::readyRead, upstream, [this, client, upstream] {
                if (m_dropNext) {
                    m_dropNext = false;
                    client->abort();
                    return;
                }
                upstream->write(client->readAll());
            });
            connect(upstream, &QTcpSocket::readyRead, client,
                    [client, upstream] { client->write(upstream->readAll()); });
            connect(upstream, &QTcpSocket::disconnected, client, &QTcpSocket::disconnectFromHost);
            connect(client, &QTcpSocket::disconnected, client, [client, upstream] {
                upstream->abort();
                client->deleteLater();
            });
        }
    }

    quint16 m_upstream;
    QTcpServer *m_server;
    QList<QPointer<QTcpSocket>> m_clients;
    bool m_dropNext = false;
};

} // namespace

class TestChunkConnection final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void postMultipart_consecutiveChunks_oneConnectionIntactFile();
    void postMultipart_serverClosedIdleConnection_resentOnceOnNewConnection();
    void postMultipart_serverFaults_mappedLikeAccessManager();
    void postMultipart_statuses_codeAndBody_data();
    void postMultipart_statuses_codeAndBody();
    void postMultipart_selfSignedTls_refusedUnlessVerificationOff();
    void postMultipart_interrupted_canceled();

private:
    QString uploadUrl(const QString &base, const QString &name, qint64 total, qint64 pos, bool end) const;
    int post(const QString &url, const QByteArray &data, QByteArray *body = nullptr);

    DevServer m_server;
    RequestProvider m_provider;
    QByteArray m_token;
    QThread m_relayThread;
    Relay *m_relay = nullptr;
};

void TestChunkConnection::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    QNetworkRequest request{QUrl(m_server.url(QStringLiteral("/api/token?code=")) + m_server.code())};
    int code = 0;
    const QSharedPointer<QByteArray> reply = m_provider.get(request, &code);
    QCOMPARE(code, 200);
    m_token = QJsonDocument::fromJson(*reply).object().value(QStringLiteral("data")).toString().toUtf8();
    QVERIFY(!m_token.isEmpty());
    m_relayThread.start();
}

void TestChunkConnection::init()
{
    // A fresh relay (and port) per test: no kept-alive connection leaks from one test to the next.
    m_relay = new Relay(quint16(m_server.port()));
    m_relay->moveToThread(&m_relayThread);
    QMetaObject::invokeMethod(m_relay, &Relay::listen, Qt::BlockingQueuedConnection);
    QVERIFY(m_relay->port != 0);
}

void TestChunkConnection::cleanup()
{
    QMetaObject::invokeMethod(m_relay, &QObject::deleteLater);
    m_relay = nullptr;
    m_provider.setOptions(ClientOptions());
    m_server.configure({{QStringLiteral("drop"), QJsonValue()},
                        {QStringLiteral("stall"), QJsonValue()},
                        {QStringLiteral("redirect"), QJsonValue()}});
}

void TestChunkConnection::cleanupTestCase()
{
    m_relayThread.quit();
    m_relayThread.wait();
}

QString TestChunkConnection::uploadUrl(const QString &base, const QString &name, qint64 total, qint64 pos,
                                       bool end) const
{
    return base
           + QStringLiteral("/api/upload?uuid=%1&name=%2&total=%3&pos=%4&end=%5")
                 .arg(m_server.uuid(), name)
                 .arg(total)
                 .arg(pos)
                 .arg(end ? 1 : 0);
}

int TestChunkConnection::post(const QString &url, const QByteArray &data, QByteArray *body)
{
    QNetworkRequest request{QUrl(url)};
    request.setRawHeader("token", m_token);
    int code = 0;
    const QSharedPointer<QByteArray> reply = m_provider.postMultipart(request, data, &code);
    if (body)
        *body = *reply;
    return code;
}

void TestChunkConnection::postMultipart_consecutiveChunks_oneConnectionIntactFile()
{
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(m_relay->port);
    constexpr int Chunk = 2 * 1024 * 1024;
    const QByteArray file = randomBytes(4 * Chunk + 4000);
    for (int pos = 0; pos < file.size(); pos += Chunk) {
        const QByteArray chunk = file.mid(pos, Chunk);
        QByteArray body;
        const bool end = pos + chunk.size() == file.size();
        QCOMPARE(post(uploadUrl(base, QStringLiteral("keep.bin"), file.size(), pos, end), chunk, &body), 200);
        QVERIFY2(QJsonDocument::fromJson(body).object().value(QStringLiteral("success")).toBool(), body.constData());
    }
    QCOMPARE(m_relay->accepted.load(), 1);

    const QJsonObject upload = m_server.journalEntry("uploads", "name", QStringLiteral("keep.bin"));
    QVERIFY(upload.value(QStringLiteral("finished")).toBool());
    QCOMPARE(upload.value(QStringLiteral("sha256")).toString(), sha256Of(file));
}

void TestChunkConnection::postMultipart_serverClosedIdleConnection_resentOnceOnNewConnection()
{
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(m_relay->port);
    const QByteArray file = randomBytes(3 * 65536);
    for (int i = 0; i < 3; ++i) {
        // Closed while idle (noticed before sending), then closed as the request arrives.
        if (i == 1)
            QMetaObject::invokeMethod(m_relay, &Relay::dropAll, Qt::BlockingQueuedConnection);
        else if (i == 2)
            QMetaObject::invokeMethod(m_relay, &Relay::dropOnNextRequest, Qt::BlockingQueuedConnection);
        QCOMPARE(post(uploadUrl(base, QStringLiteral("idle.bin"), file.size(), i * 65536, i == 2),
                      file.mid(i * 65536, 65536)),
                 200);
        QCOMPARE(m_relay->accepted.load(), i + 1);
    }
    const QJsonObject upload = m_server.journalEntry("uploads", "name", QStringLiteral("idle.bin"));
    // Each chunk reached the server exactly once.
    QCOMPARE(upload.value(QStringLiteral("chunks")).toArray().size(), 3);
    QCOMPARE(upload.value(QStringLiteral("sha256")).toString(), sha256Of(file));
}

void TestChunkConnection::postMultipart_serverFaults_mappedLikeAccessManager()
{
    const QString base = m_server.baseUrl();
    const QByteArray chunk = randomBytes(256 * 1024);
    const QString url = uploadUrl(base, QStringLiteral("faults.bin"), chunk.size(), 0, true);

    // Warm the connection so the dropped request runs on a kept-alive one: response bytes had
    // arrived, so it must not be sent again.
    QCOMPARE(post(url, chunk), 200);
    QVERIFY(m_server.configure({{QStringLiteral("drop"), QJsonArray{QStringLiteral("upload:1")}}}));
    QByteArray body;
    int dropped = 0;
    const QStringList warnings = LogCapture::during([&] { dropped = post(url, chunk, &body); });
    QCOMPARE(dropped, int(QNetworkReply::RemoteHostClosedError));
    QVERIFY(!body.isEmpty());
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings.first().startsWith(url + QLatin1Char(':')), qPrintable(warnings.first()));

    ClientOptions options;
    options.stallTimeoutMs = 500;
    m_provider.setOptions(options);
    QVERIFY(m_server.configure({{QStringLiteral("stall"),
                                 QJsonObject{{QStringLiteral("upload"), QJsonObject{{QStringLiteral("ms"), 3000},
                                                                                    {QStringLiteral("count"), 1}}}}}}));
    QCOMPARE(post(url, chunk), int(QNetworkReply::TimeoutError));
    // The late answer to the abandoned request must not be taken for the next one's.
    QCOMPARE(post(url, chunk, &body), 200);
    QVERIFY(QJsonDocument::fromJson(body).object().value(QStringLiteral("success")).toBool());

    // A redirect that would turn the chunk into a bodiless GET is a refused attempt; 307 is
    // followed with the chunk.
    for (const int status : {302, 307}) {
        QVERIFY(
            m_server.configure({{QStringLiteral("redirect"),
                                 QJsonObject{{QStringLiteral("upload"), QJsonObject{{QStringLiteral("status"), status},
                                                                                    {QStringLiteral("count"), 1}}}}}}));
        QVERIFY(m_server.resetJournal());
        QCOMPARE(post(url, chunk), status == 302 ? int(QNetworkReply::ProtocolInvalidOperationError) : 200);
        const QJsonArray requests = m_server.journalList("requests");
        QCOMPARE(requests.size(), status == 302 ? 1 : 2);
    }
    const QJsonObject upload = m_server.journalEntry("uploads", "name", QStringLiteral("faults.bin"));
    QCOMPARE(upload.value(QStringLiteral("sha256")).toString(), sha256Of(chunk));
}

void TestChunkConnection::postMultipart_statuses_codeAndBody_data()
{
    QTest::addColumn<QString>("url");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("404") << QStringLiteral("/test/status/404") << int(QNetworkReply::ContentNotFoundError)
                         << QByteArray("*");
    QTest::newRow("500") << QStringLiteral("/test/status/500") << int(QNetworkReply::InternalServerError)
                         << QByteArray("*");
    QTest::newRow("204 reason phrase") << QStringLiteral("/test/status/204") << 204 << QByteArray("No Content");
    QTest::newRow("307 not followed") << QStringLiteral("/test/status/307") << 307 << QByteArray("Temporary Redirect");
    QTest::newRow("redirect 302") << QStringLiteral("/test/redirect?status=302&to=/test/echo")
                                  << int(QNetworkReply::ProtocolInvalidOperationError) << QByteArray("*");
    QTest::newRow("redirect to file:") << QStringLiteral("/test/redirect?status=307&to=file:///etc/hostname")
                                       << int(QNetworkReply::ProtocolUnknownError) << QByteArray("*");
    QTest::newRow("a byte now and then") << QStringLiteral("/test/drip?bytes=100&ms=200")
                                         << int(QNetworkReply::TimeoutError) << QByteArray("*");
    QTest::newRow("interim answers") << QStringLiteral("/test/continue?count=10&ms=10")
                                     << int(QNetworkReply::ProtocolFailure) << QByteArray("*");
    QTest::newRow("big Content-Length") << QStringLiteral("/test/huge?bytes=67108864")
                                        << int(QNetworkReply::ProtocolFailure) << QByteArray("*");
    QTest::newRow("big chunked body") << QStringLiteral("/test/huge?bytes=67108864&framing=chunked")
                                      << int(QNetworkReply::ProtocolFailure) << QByteArray("*");
    QTest::newRow("big body until close") << QStringLiteral("/test/huge?bytes=67108864&framing=close")
                                          << int(QNetworkReply::ProtocolFailure) << QByteArray("*");
    QTest::newRow("refused") << QStringLiteral("http://127.0.0.1:1/api/upload")
                             << int(QNetworkReply::ConnectionRefusedError) << QByteArray("*");
    QTest::newRow("no such host") << QStringLiteral("http://nuv-no-such-host.invalid/api/upload")
                                  << int(QNetworkReply::HostNotFoundError) << QByteArray("*");
}

void TestChunkConnection::postMultipart_statuses_codeAndBody()
{
    QFETCH(QString, url);
    QFETCH(QByteArray, body);
    if (url.startsWith(QLatin1Char('/')))
        url = m_server.url(url);
    ClientOptions options;
    options.stallTimeoutMs = 1000;
    options.chunkRequestTimeoutMs = 2000;
    m_provider.setOptions(options);
    QByteArray received;
    QTEST(post(url, randomBytes(1024), &received), "code");
    if (body == "*")
        QVERIFY(!received.isEmpty());
    else
        QCOMPARE(received, body);
    if (!url.contains(QLatin1String("/test/huge")))
        return;
    // Cut off as it came: the server got rid of a sliver of the body, not of all of it.
    qint64 sent = -1;
    QTRY_VERIFY((sent = m_server.bytesStreamed()) >= 0);
    QVERIFY2(sent < 16 * 1024 * 1024, qPrintable(QString::number(sent)));
}

void TestChunkConnection::postMultipart_selfSignedTls_refusedUnlessVerificationOff()
{
    QTemporaryDir dir;
    QString cert;
    QString key;
    QVERIFY(DevServer::makeSelfSignedCertificate(dir.path(), &cert, &key));
    DevServer tls;
    QVERIFY2(tls.start({QStringLiteral("--tls"), cert, key}), qPrintable(tls.errorString()));
    const QString url = tls.url(QStringLiteral("/test/echo"));
    const QByteArray chunk = randomBytes(3 * 1024 * 1024);

    QCOMPARE(post(url, chunk), int(QNetworkReply::SslHandshakeFailedError));
    ClientOptions trusting;
    trusting.verifyCertificates = false;
    m_provider.setOptions(trusting);
    for (int i = 0; i < 2; ++i) {
        QByteArray body;
        QCOMPARE(post(url, chunk, &body), 200);
        const QJsonObject file =
            QJsonDocument::fromJson(body).object().value(QStringLiteral("files")).toArray().at(0).toObject();
        QCOMPARE(file.value(QStringLiteral("size")).toInt(), chunk.size());
    }
    // The connection kept alive under the old policy must not carry the new one's requests.
    m_provider.setOptions(ClientOptions());
    QCOMPARE(post(url, chunk), int(QNetworkReply::SslHandshakeFailedError));
}

void TestChunkConnection::postMultipart_interrupted_canceled()
{
    int code = 0;
    const QString url = m_server.url(QStringLiteral("/test/stall?ms=20000"));
    std::unique_ptr<QThread> thread(QThread::create([&] {
        QNetworkRequest request{QUrl(url)};
        RequestProvider().postMultipart(request, QByteArray(1024, 'x'), &code);
    }));
    thread->start();
    thread->requestInterruption();
    QVERIFY(thread->wait(15000));
    QCOMPARE(code, int(QNetworkReply::OperationCanceledError));
}

QTEST_GUILESS_MAIN(TestChunkConnection)
#include "tst_chunkconnection.moc"
