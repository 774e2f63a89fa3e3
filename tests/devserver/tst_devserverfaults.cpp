// SPDX-License-Identifier: MIT
#include "tst_devserver.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QJsonArray>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

namespace {

QJsonObject fault(const char *kind, const QJsonValue &value)
{
    return QJsonObject{{QString::fromLatin1(kind), value}};
}

QString serverProgram()
{
    return qEnvironmentVariable("NUV_BIN_DIR") + QStringLiteral("/nuv-devserver");
}

} // namespace

void TestDevServer::faults_rejectChunks_countThenAccepted()
{
    QVERIFY(m_server.configure(fault("rejectChunks", 2)));
    QString id;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        const HttpResult reply = m_probe.uploadChunk(base(), QStringLiteral("rejected.mp4"), 4, 0, true, "abcd");
        QCOMPARE(reply.status, 200);
        const QJsonObject envelope = reply.json();
        QCOMPARE(envelope.value(QStringLiteral("success")).toBool(), attempt == 3);
        if (attempt < 3) {
            QCOMPARE(envelope.value(QStringLiteral("code")).toString(), QStringLiteral("503"));
            QCOMPARE(envelope.value(QStringLiteral("message")).toString(), QStringLiteral("分片暂不可用"));
        } else {
            id = envelope.value(QStringLiteral("data")).toObject().value(QStringLiteral("id")).toString();
        }
    }
    const QJsonArray chunks = m_server.journalEntry("uploads", "id", id).value(QStringLiteral("chunks")).toArray();
    QCOMPARE(chunks.size(), 3);
    QCOMPARE(chunks.at(0).toObject().value(QStringLiteral("accepted")).toBool(), false);
    QCOMPARE(chunks.at(1).toObject().value(QStringLiteral("reason")).toString(), QStringLiteral("rejectChunks"));
    QCOMPARE(chunks.at(2).toObject().value(QStringLiteral("accepted")).toBool(), true);
}

void TestDevServer::faults_fail_answersStatusCountTimes()
{
    QVERIFY(m_server.configure(
        fault("fail", QJsonObject{{QStringLiteral("settings"),
                                   QJsonObject{{QStringLiteral("status"), 500}, {QStringLiteral("count"), 2}}},
                                  {QStringLiteral("token"), 404}})));
    const QString settings = base() + QStringLiteral("/platform/settings");
    QCOMPARE(m_probe.get(settings).status, 500);
    QCOMPARE(m_probe.get(settings).status, 500);
    QCOMPARE(m_probe.get(settings).status, 200);
    // Without a count the fault stays.
    for (int i = 0; i < 3; ++i) {
        const HttpResult token = m_probe.get(base() + QStringLiteral("/api/token?code=devcode"));
        QCOMPARE(token.status, 404);
        QCOMPARE(token.error, QNetworkReply::ContentNotFoundError);
    }
}

void TestDevServer::faults_drop_givesNetworkError()
{
    QVERIFY(m_server.configure(fault("drop", QJsonArray{QStringLiteral("token:1"), QStringLiteral("upload:1")})));
    const HttpResult dropped = m_probe.get(base() + QStringLiteral("/api/token?code=devcode"));
    QVERIFY(dropped.finished);
    QCOMPARE(dropped.error, QNetworkReply::RemoteHostClosedError);
    QCOMPARE(m_probe.get(base() + QStringLiteral("/api/token?code=devcode"))
                 .json()
                 .value(QStringLiteral("success"))
                 .toBool(),
             true);

    const HttpResult droppedChunk = m_probe.uploadChunk(base(), QStringLiteral("drop.mp4"), 4, 0, true, "abcd");
    QCOMPARE(droppedChunk.error, QNetworkReply::RemoteHostClosedError);
    const HttpResult retried = m_probe.uploadChunk(base(), QStringLiteral("drop.mp4"), 4, 0, true, "abcd");
    QCOMPARE(retried.json().value(QStringLiteral("success")).toBool(), true);
}

void TestDevServer::faults_stall_delaysReply()
{
    QVERIFY(m_server.configure(
        fault("stall", QJsonObject{{QStringLiteral("refresh"),
                                    QJsonObject{{QStringLiteral("ms"), 400}, {QStringLiteral("count"), 1}}}})));
    const QString url = base() + QStringLiteral("/api/refresh");
    const HttpResult stalled = m_probe.postForm(url, {{QStringLiteral("uuid"), m_server.uuid()}});
    QCOMPARE(stalled.json().value(QStringLiteral("data")).toString(), QStringLiteral("ok"));
    QVERIFY2(stalled.elapsedMs >= 390, qPrintable(QString::number(stalled.elapsedMs)));
    QCOMPARE(m_server.config().value(QStringLiteral("stall")).toObject().size(), 0);
}

void TestDevServer::faults_redirect_aliasAnswers()
{
    QVERIFY(m_server.configure(fault("redirect", QJsonArray{QStringLiteral("check:1"), QStringLiteral("settings")})));
    const QString check = base() + QStringLiteral("/api/check");
    const HttpResult redirected = m_probe.postForm(check, checkParams(m_server.uuid()));
    QCOMPARE(redirected.status, 302);
    QCOMPARE(redirected.location, base() + QStringLiteral("/r/api/check"));
    const HttpResult followed = m_probe.postForm(redirected.location, checkParams(m_server.uuid()));
    QCOMPARE(followed.json().value(QStringLiteral("data")).toArray().size(), 1);
    QCOMPARE(m_probe.postForm(check, checkParams(m_server.uuid())).status, 200);

    // Every settings request is redirected, the query kept; the alias itself is never faulted.
    const HttpResult settings = m_probe.get(base() + QStringLiteral("/platform/settings?uuid=u&code=c"));
    QCOMPARE(settings.status, 302);
    QCOMPARE(settings.location, base() + QStringLiteral("/r/platform/settings?uuid=u&code=c"));
    QCOMPARE(m_probe.get(settings.location).json().value(QStringLiteral("success")).toBool(), true);
}

void TestDevServer::faults_invalidJson_bodyNotJson()
{
    QVERIFY(m_server.configure(fault("invalidJson", QStringLiteral("addVideo:1"))));
    const HttpResult reply = m_probe.postForm(base() + QStringLiteral("/api/addVideo"), {});
    QCOMPARE(reply.status, 200);
    QVERIFY(!reply.body.isEmpty());
    QVERIFY(!reply.isJson());
    QVERIFY(m_probe.postForm(base() + QStringLiteral("/api/addVideo"), {}).isJson());
}

void TestDevServer::upload_refusedChunk_bodyNeverParsedAsRequests_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<bool>("validToken");
    QTest::addColumn<QJsonObject>("config");
    const QByteArray good = "uuid=u&name=smuggle.mp4&total=1000&pos=0&end=1";
    QTest::newRow("token refused") << good << false << QJsonObject();
    QTest::newRow("bad parameter") << QByteArray("uuid=u&name=smuggle.mp4&total=1000&pos=x&end=1") << true
                                   << QJsonObject();
    QTest::newRow("chunk past total") << QByteArray("uuid=u&name=smuggle.mp4&total=10&pos=0&end=1") << true
                                      << QJsonObject();
    QTest::newRow("rejectChunks fault") << good << true << fault("rejectChunks", 1);
    QTest::newRow("fail fault") << good << true << fault("fail", QStringLiteral("upload:500:1"));
    QTest::newRow("invalidJson fault") << good << true << fault("invalidJson", QStringLiteral("upload:1"));
}

void TestDevServer::upload_refusedChunk_bodyNeverParsedAsRequests()
{
    QFETCH(QByteArray, query);
    QFETCH(bool, validToken);
    QFETCH(QJsonObject, config);
    QVERIFY(m_server.configure(config));
    // A chunk that happens to hold request lines: if a refused chunk's body were left on the
    // kept-alive connection, the server would answer those lines as requests of their own. It is
    // larger than any read-ahead buffer, so the lines really stay on the connection.
    const QByteArray smuggled = QByteArray("GET /platform/settings HTTP/1.1\r\nHost: x\r\n\r\n").repeated(2000);
    const QByteArray body = "--XX\r\nContent-Disposition: form-data; name=\"file\"; filename=\"unknow.fs\"\r\n"
                            "Content-Type: application/octet-stream\r\n\r\n"
                            + smuggled + "\r\n--XX--\r\n";
    const QByteArray token = validToken ? QUrl::toPercentEncoding(m_token) : QByteArray("bad");
    const QByteArray upload = "POST /api/upload?" + query + " HTTP/1.1\r\nHost: 127.0.0.1\r\ntoken: " + token
                              + "\r\nContent-Type: multipart/form-data; boundary=XX\r\nContent-Length: "
                              + QByteArray::number(body.size()) + "\r\n\r\n" + body;

    QTcpSocket socket;
    QByteArray replies;
    connect(&socket, &QTcpSocket::readyRead, this, [&] { replies += socket.readAll(); });
    QSignalSpy closed(&socket, &QTcpSocket::disconnected);
    socket.connectToHost(QHostAddress::LocalHost, quint16(m_server.port()));
    QVERIFY(socket.waitForConnected(5000));
    socket.write(upload);
    // Every reply here is an envelope or an HTML page; the next request goes once it is complete.
    QTRY_VERIFY(replies.endsWith('}') || replies.endsWith("</html>"));
    socket.write("GET /platform/settings HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QVERIFY(closed.wait(10000));
    replies += socket.readAll();
    QCOMPARE(replies.count("HTTP/1.1 "), 2);
    QVERIFY(replies.contains("\"getTokenApi\""));
}

void TestDevServer::commandLine_flags_applied()
{
    DevServer server;
    QVERIFY2(server.start({QStringLiteral("--code"), QStringLiteral("c-2"), QStringLiteral("--uuid"),
                           QStringLiteral("u-2"), QStringLiteral("--plan"), QStringLiteral("nr"),
                           QStringLiteral("--max-upload-num"), QStringLiteral("-1"), QStringLiteral("--refresh-second"),
                           QStringLiteral("30"), QStringLiteral("--fail"), QStringLiteral("token:503:1"),
                           QStringLiteral("--reject-chunks"), QStringLiteral("1")}),
             qPrintable(server.errorString()));
    QCOMPARE(server.code(), QStringLiteral("c-2"));
    QCOMPARE(server.uuid(), QStringLiteral("u-2"));
    QVERIFY(server.launchCommand().contains(QStringLiteral("&maxUploadNum=-1&")));

    HttpProbe probe;
    QCOMPARE(probe.get(server.url(QStringLiteral("/api/token?code=c-2"))).status, 503);
    probe.setToken(fetchToken(probe, server));
    QCOMPARE(probe.get(server.url(QStringLiteral("/platform/settings")))
                 .json()
                 .value(QStringLiteral("data"))
                 .toObject()
                 .value(QStringLiteral("refreshSecond"))
                 .toInt(),
             30);
    QCOMPARE(probe.postForm(server.url(QStringLiteral("/api/check")), checkParams(QStringLiteral("u-2")))
                 .json()
                 .value(QStringLiteral("data"))
                 .toArray()
                 .size(),
             3);
    QCOMPARE(probe.uploadChunk(server.baseUrl(), QStringLiteral("x"), 1, 0, true, "x")
                 .json()
                 .value(QStringLiteral("code"))
                 .toString(),
             QStringLiteral("503"));
}

void TestDevServer::commandLine_badArguments_exitCode2()
{
    const QList<QStringList> badArguments{{QStringLiteral("--fail"), QStringLiteral("nowhere:500")},
                                          {QStringLiteral("--fail"), QStringLiteral("token")},
                                          {QStringLiteral("--stall"), QStringLiteral("token:x")},
                                          {QStringLiteral("--plan"), QStringLiteral("hd")},
                                          {QStringLiteral("--code"), QStringLiteral("a&b")},
                                          {QStringLiteral("--random-faults"), QStringLiteral("1.5")},
                                          {QStringLiteral("--port")},
                                          {QStringLiteral("--frobnicate")}};
    for (const QStringList &arguments : badArguments) {
        QProcess process;
        process.start(serverProgram(), arguments);
        QVERIFY(process.waitForFinished(10000));
        QVERIFY2(process.exitCode() == 2, qPrintable(arguments.join(QLatin1Char(' '))));
        QVERIFY(!process.readAllStandardError().isEmpty());
    }
    QProcess help;
    help.start(serverProgram(), {QStringLiteral("--help")});
    QVERIFY(help.waitForFinished(10000));
    QCOMPARE(help.exitCode(), 0);
    QVERIFY(help.readAllStandardOutput().startsWith("usage: nuv-devserver"));
}

void TestDevServer::removed_markedIds_returnedOnce()
{
    QVERIFY(m_server.markRemoved(QStringLiteral("p-1")));
    QVERIFY(m_server.markRemoved(QStringLiteral("p-2")));
    const QString url = base() + QStringLiteral("/api/removed");
    const QJsonArray first = m_probe.postForm(url, {{QStringLiteral("uuid"), m_server.uuid()}})
                                 .json()
                                 .value(QStringLiteral("data"))
                                 .toArray();
    QCOMPARE(first.size(), 2);
    QCOMPARE(first.at(0).toObject().value(QStringLiteral("removeTaskId")).toString(), QStringLiteral("p-1"));
    QCOMPARE(first.at(1).toObject().value(QStringLiteral("removeTaskId")).toString(), QStringLiteral("p-2"));
    const QJsonObject second = m_probe.postForm(url, {{QStringLiteral("uuid"), m_server.uuid()}}).json();
    QCOMPARE(second.value(QStringLiteral("success")).toBool(), true);
    QCOMPARE(second.value(QStringLiteral("data")).toArray().size(), 0);

    const QJsonObject removal =
        m_probe
            .postForm(base() + QStringLiteral("/api/removeFile"),
                      {{QStringLiteral("fileId"), QStringLiteral("p-1")}, {QStringLiteral("uuid"), m_server.uuid()}})
            .json();
    QCOMPARE(removal.value(QStringLiteral("data")).toString(), QStringLiteral("ok"));
    const QJsonArray removals = m_server.journalList("removals");
    QCOMPARE(removals.size(), 1);
    QCOMPARE(removals.at(0).toObject().value(QStringLiteral("fileId")).toString(), QStringLiteral("p-1"));
}

void TestDevServer::journal_reset_keepsUploadsUsable()
{
    QString id, uri;
    const QByteArray file = randomBytes(3000);
    uploadWhole(QStringLiteral("kept.mp4"), file, &id, &uri);
    QJsonObject journal = m_server.journal();
    QCOMPARE(journal.value(QStringLiteral("uploads")).toArray().size(), 1);
    const QJsonObject request = journal.value(QStringLiteral("requests")).toArray().last().toObject();
    QCOMPARE(request.value(QStringLiteral("path")).toString(), QStringLiteral("/api/upload"));
    QCOMPARE(request.value(QStringLiteral("query")).toObject().value(QStringLiteral("name")).toString(),
             QStringLiteral("kept.mp4"));
    // Header values are journalled as decoded by the HTTP library.
    QCOMPARE(request.value(QStringLiteral("headers")).toObject().value(QStringLiteral("token")).toString(), m_token);

    QVERIFY(m_server.resetJournal());
    journal = m_server.journal();
    for (const char *list : {"requests", "reports", "registrations", "uploads", "removals", "tokens"})
        QVERIFY2(journal.value(QString::fromLatin1(list)).toArray().isEmpty(), list);
    QVERIFY(m_probe.get(base() + uri).body == file);
    const QJsonObject registered =
        m_probe
            .postForm(
                base() + QStringLiteral("/api/addVideo"),
                {{QStringLiteral("uuid"), m_server.uuid()},
                 {QStringLiteral("filename"), QStringLiteral("kept.mp4")},
                 {QStringLiteral("Type"), QStringLiteral("1")},
                 {QStringLiteral("moduleId"), QStringLiteral("7")},
                 {QStringLiteral("parentId"), QStringLiteral("12")},
                 {QStringLiteral("extras"), QStringLiteral("demo")},
                 {QStringLiteral("data"), QStringLiteral("[{\"uri\":\"%1\",\"id\":\"%2\"},null,null]").arg(uri, id)},
                 {QStringLiteral("form"), QStringLiteral("{}")}})
            .json();
    QCOMPARE(registered.value(QStringLiteral("success")).toBool(), true);
}

void TestDevServer::testEndpoints_behave()
{
    QCOMPARE(m_probe.get(base() + QStringLiteral("/test/status/404")).status, 404);
    QCOMPARE(m_probe.get(base() + QStringLiteral("/test/status/204")).status, 204);
    const HttpResult empty = m_probe.get(base() + QStringLiteral("/test/empty"));
    QCOMPARE(empty.status, 200);
    QVERIFY(empty.body.isEmpty());
    const HttpResult html = m_probe.get(base() + QStringLiteral("/test/html"));
    QCOMPARE(html.status, 200);
    QVERIFY(!html.isJson());
    const HttpResult redirect = m_probe.get(base() + QStringLiteral("/test/redirect?to=%2Ftest%2Fempty&status=301"));
    QCOMPARE(redirect.status, 301);
    QCOMPARE(redirect.location, base() + QStringLiteral("/test/empty"));
    QCOMPARE(m_probe.get(base() + QStringLiteral("/test/stall?ms=50")).body, QByteArray("{}"));

    m_probe.setToken(QStringLiteral("a b/令"));
    const QJsonObject echo =
        m_probe.postForm(base() + QStringLiteral("/test/echo?q=1&q=2"), {{QStringLiteral("k"), QStringLiteral("v w")}})
            .json();
    QCOMPARE(echo.value(QStringLiteral("method")).toString(), QStringLiteral("POST"));
    QCOMPARE(echo.value(QStringLiteral("path")).toString(), QStringLiteral("/test/echo"));
    QCOMPARE(echo.value(QStringLiteral("queryList")).toArray().size(), 2);
    QCOMPARE(echo.value(QStringLiteral("form")).toObject().value(QStringLiteral("k")).toString(),
             QStringLiteral("v w"));
    QCOMPARE(echo.value(QStringLiteral("body")).toString(), QStringLiteral("k=v%20w"));
    QCOMPARE(echo.value(QStringLiteral("headers")).toObject().value(QStringLiteral("token")).toString(),
             QStringLiteral("a b/令"));
}

void TestDevServer::tls_selfSignedCertificate_httpsWorks()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString cert;
    QString key;
    QVERIFY(DevServer::makeSelfSignedCertificate(dir.path(), &cert, &key));

    DevServer server;
    QVERIFY2(server.start({QStringLiteral("--tls"), cert, key}), qPrintable(server.errorString()));
    QVERIFY(server.baseUrl().startsWith(QStringLiteral("https://127.0.0.1:")));
    QVERIFY(server.launchCommand().startsWith(QStringLiteral("nuvVideoClient://https://127.0.0.1:")));

    HttpProbe verifying;
    QCOMPARE(verifying.get(server.url(QStringLiteral("/platform/settings"))).error,
             QNetworkReply::SslHandshakeFailedError);
    HttpProbe probe;
    probe.setVerifyPeer(false);
    const QJsonObject settings = probe.get(server.url(QStringLiteral("/platform/settings"))).json();
    QCOMPARE(settings.value(QStringLiteral("data")).toObject().value(QStringLiteral("uploadApi")).toString(),
             server.url(QStringLiteral("/api/upload")));
    QVERIFY(!server.journal().isEmpty());
}

void TestDevServer::shutdown_sigterm_removesDefaultDataFolder()
{
    QTemporaryDir kept;
    QVERIFY(kept.isValid());
    for (const bool ownFolder : {false, true}) {
        DevServer server;
        QVERIFY(server.start(ownFolder ? QStringList{QStringLiteral("--data"), kept.path()} : QStringList{}));
        {
            HttpProbe probe;
            probe.setToken(fetchToken(probe, server));
            QCOMPARE(probe.uploadChunk(server.baseUrl(), QStringLiteral("gone.mp4"), 3, 0, true, "abc")
                         .json()
                         .value(QStringLiteral("success"))
                         .toBool(),
                     true);
        }
        const QString path = server.journal()
                                 .value(QStringLiteral("uploads"))
                                 .toArray()
                                 .at(0)
                                 .toObject()
                                 .value(QStringLiteral("path"))
                                 .toString();
        QVERIFY(QFileInfo::exists(path));
        server.stop();
        QCOMPARE(QFileInfo::exists(path), ownFolder);
    }
}
