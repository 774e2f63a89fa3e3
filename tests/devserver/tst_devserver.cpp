// SPDX-License-Identifier: MIT
// What nuv-devserver enforces on the wire, its command line, TLS and exit, in raw HTTP/1.1:
// the rules no client test can see and an integrator relies on.
#include "devserver.h"
#include "testsupport.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSslSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {

// Everything one connection was answered, from the first status line.
struct Reply
{
    QByteArray raw;
    QJsonObject json() const { return QJsonDocument::fromJson(raw.mid(raw.indexOf("\r\n\r\n") + 4)).object(); }
    QString text(const char *key) const { return json().value(QLatin1String(key)).toString(); }
    QJsonValue data() const { return json().value(QLatin1String("data")); }
};

QByteArray multipart(const QByteArray &chunk, const QByteArray &part = "file")
{
    return "--nuvB7f3a\r\nContent-Disposition: form-data; name=\"" + part
           + "\"; filename=\"unknow.fs\"\r\nContent-Type: application/octet-stream\r\n\r\n" + chunk
           + "\r\n--nuvB7f3a--\r\n";
}

// Requests in the platform's wire format: form bodies, the percent-encoded "token" header,
// chunks in a multipart "file" part.
struct Client
{
    const DevServer &server;
    QString token;

    static QByteArray request(const QByteArray &target, const QByteArray &token, const QByteArray &body = {},
                              const QByteArray &type = "multipart/form-data; boundary=nuvB7f3a", bool last = true)
    {
        const bool post = !body.isNull();
        QByteArray head = (post ? "POST " : "GET ") + target + " HTTP/1.1\r\nHost: 127.0.0.1";
        if (!token.isEmpty())
            head += "\r\ntoken: " + token;
        if (last)
            head += "\r\nConnection: close";
        if (post)
            head += "\r\nContent-Type: " + type + "\r\nContent-Length: " + QByteArray::number(body.size());
        return head + "\r\n\r\n" + body;
    }
    // Sends a request, and the next one on the same connection once the answer is complete (every
    // answer that is followed is an envelope or an HTML page); reads until the server closes it.
    Reply send(const QByteArray &request, QByteArray next = {}) const
    {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(server.port()));
        socket.write(request);
        Reply reply;
        while (socket.waitForReadyRead(20000)) {
            reply.raw += socket.readAll();
            if (!next.isEmpty() && (reply.raw.endsWith('}') || reply.raw.endsWith("</html>")))
                socket.write(std::exchange(next, QByteArray()));
        }
        reply.raw += socket.readAll();
        return reply;
    }
    Reply get(const QString &target) const { return send(request(target.toUtf8(), QUrl::toPercentEncoding(token))); }
    Reply upload(const QString &name, qint64 total, qint64 pos, bool end, const QByteArray &chunk) const
    {
        return send(request("/api/upload?uuid=s&name=" + QUrl::toPercentEncoding(name)
                                + "&total=" + QByteArray::number(total) + "&pos=" + QByteArray::number(pos)
                                + "&end=" + (end ? "1" : "0"),
                            QUrl::toPercentEncoding(token), multipart(chunk)));
    }
    QString fetchToken() const { return get(QStringLiteral("/api/token?code=") + server.code()).data().toString(); }
};

} // namespace

class TestDevServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();
    void request_checked_answeredOnAConnectionThatStaysUsable_data();
    void request_checked_answeredOnAConnectionThatStaysUsable();
    void upload_chunks_gapRefusedResentInPlaceAndEndNeedsWholeFile();
    void commandLine_flagsApplied_badOnesExitWithTwo();
    void tls_selfSignedCertificate_httpsServed();

private:
    DevServer m_server;
    Client m_client{m_server, {}};
    QString m_token;
    // A finished and an unfinished upload; uploads outlive a journal reset.
    QJsonObject m_finished;
    QJsonObject m_partial;
    QString m_finishedPath;
};

void TestDevServer::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    m_client.token = m_token = m_client.fetchToken();
    const QByteArray file = randomBytes(1000);
    m_finished = m_client.upload(QStringLiteral("reg.mp4"), 1000, 0, true, file).data().toObject();
    m_partial = m_client.upload(QStringLiteral("part.mp4"), 10, 0, false, "12345").data().toObject();
    m_finishedPath = m_server.journalValues("uploads", "path").value(0);
    QVERIFY2(QFileInfo::exists(m_finishedPath), qPrintable(m_finishedPath));
    QVERIFY(m_server.resetJournal());
    // A reset leaves every list empty, and an upload usable.
    for (const QJsonValue &list : m_server.journal())
        QVERIFY(list.toArray().isEmpty());
    QVERIFY(m_client.get(m_finished.value(QStringLiteral("uri")).toString()).raw.endsWith(file));
}

void TestDevServer::init()
{
    // The faults a test sets are for one request each.
    QVERIFY(m_server.resetJournal());
}

void TestDevServer::request_checked_answeredOnAConnectionThatStaysUsable_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QJsonObject>("config");
    // What the answer holds: the refusal's code and message, or the fault it met.
    QTest::addColumn<QString>("answer");
    const QByteArray token = QUrl::toPercentEncoding(m_token);
    const auto json = [](const QJsonObject &object) {
        return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
    };
    // A sound request with one parameter changed ("key=value", %F and %P standing for the
    // finished and the unfinished upload, %I for the finished one's id) or left out ("-key").
    const auto form = [&](const char *path, const char *change = "", const QByteArray &sent = {}) {
        QString sound = QStringLiteral("uuid=") + m_server.uuid();
        if (qstrcmp(path, "/api/check") == 0)
            sound += QStringLiteral("&name=演示 a.mp4&suffix=.mp4&size=1048576&duration=12&videoCodec=h264&mp4Format=1&"
                                    "nuvVideo=0&rate=25&width=640&height=360&audioCodec=aac");
        else if (qstrcmp(path, "/api/addVideo") == 0)
            sound += QStringLiteral("&filename=a.mp4&Type=1&moduleId=7&parentId=12&extras=demo&data=[%F,null,null]&"
                                    "form={\"name\":\"a.mp4\"}");
        const QString changed = QString::fromUtf8(change);
        QByteArray body = "";
        for (const QString &pair : sound.split(QLatin1Char('&'))) {
            const QString key = pair.section(QLatin1Char('='), 0, 0);
            QString value =
                (changed.section(QLatin1Char('='), 0, 0) == key ? changed : pair).section(QLatin1Char('='), 1);
            value.replace(QStringLiteral("%F"), json(m_finished)).replace(QStringLiteral("%P"), json(m_partial));
            value.replace(QStringLiteral("%I"), m_finished.value(QStringLiteral("id")).toString());
            if (changed != QLatin1Char('-') + key)
                body += (body.isEmpty() ? "" : "&") + key.toUtf8() + '=' + QUrl::toPercentEncoding(value);
        }
        return Client::request(path, sent.isNull() ? token : sent, body, "application/x-www-form-urlencoded", false);
    };
    // A chunk that happens to hold request lines: if a refused chunk's body were left on the
    // kept-alive connection, the server would answer those lines as requests of their own. It is
    // larger than any read-ahead buffer, so the lines really stay on the connection.
    const auto chunk = [&](const char *query, const QByteArray &part = "file", const QByteArray &sent = {}) {
        const QByteArray lines = QByteArray("GET /platform/settings HTTP/1.1\r\nHost: x\r\n\r\n").repeated(2000);
        return Client::request(QByteArray("/api/upload?uuid=u&") + query, sent.isNull() ? token : sent,
                               multipart(lines, part), "multipart/form-data; boundary=nuvB7f3a", false);
    };
    const auto row = [](const char *tag, const QByteArray &request, int code, const char *text,
                        const QJsonObject &config = {}) {
        const QString answer = code ? QStringLiteral("\"code\":\"%1\",\"message\":\"").arg(code) : QString();
        QTest::newRow(tag) << request << config << answer + QString::fromUtf8(text);
    };
    row("empty code", Client::request("/api/token?code=", {}, {}, {}, false), 401, "授权码无效或已过期");
    row("no token", form("/api/removed", "", ""), 401, "令牌无效");
    row("unknown token", form("/api/removed", "", "abc%2B%2F%3D"), 401, "令牌无效");
    row("issued token with a suffix", form("/api/removed", "", token + 'x'), 401, "令牌无效");
    row("other session's uuid", form("/api/check", "uuid=other"), 400, "uuid 与当前会话不符");
    row("size not a number", form("/api/check", "size=12a"), 400, "参数 size 应为十进制整数");
    row("bool written as text", form("/api/check", "mp4Format=true"), 400, "参数 mp4Format 应为 0 或 1");
    row("missing audioCodec", form("/api/check", "-audioCodec"), 400, "缺少参数: audioCodec");
    row("only the NR slot registers", form("/api/addVideo", "data=[null,null,%F]"), 0, "\"data\":\"ok\"");
    row("unknown id",
        form("/api/addVideo", "data=[{\"uri\":\"/files/x/a\",\"id\":\"00000000000000000000000000000000\"},null,null]"),
        400, "data[0] 的 id 不是已完成的上传");
    row("unfinished upload", form("/api/addVideo", "data=[%P,null,null]"), 400, "data[0] 的 id 不是已完成的上传");
    row("uri of another file", form("/api/addVideo", "data=[{\"uri\":\"/files/x\",\"id\":\"%I\"},null,null]"), 400,
        "data[0] 的 uri 与上传");
    row("data not JSON", form("/api/addVideo", "data=[{\"uri\":"), 400, "data 不是合法的 JSON");
    row("two slots", form("/api/addVideo", "data=[%F,null]"), 400, "data 应为 3 个元素");
    row("all slots null", form("/api/addVideo", "data=[null,null,null]"), 400, "data 至少需要");
    row("slot not an object", form("/api/addVideo", "data=[\"%I\",null,null]"), 400, "data[0] 应为 null 或");
    row("form not JSON", form("/api/addVideo", "form={\"name\":\"a\"b\"}"), 400, "form 不是合法的 JSON");
    row("form an array", form("/api/addVideo", "form=[1]"), 400, "form 应为 JSON 对象");
    row("chunk runs past total", chunk("name=a&total=10&pos=0&end=1"), 400, "分片超出文件总长度");
    row("pos beyond bytes received", chunk("name=b&total=1000000&pos=50&end=0"), 400, "续传位置与已接收长度不符");
    row("pos beyond total", chunk("name=c&total=100&pos=101&end=1"), 400, "分片位置超出文件总长度");
    row("pos not a number", chunk("name=d&total=1000000&pos=abc&end=0"), 400, "参数 pos 应为非负整数");
    row("negative total", chunk("name=e&total=-1&pos=0&end=0"), 400, "参数 total 应为非负整数");
    row("end not 0 or 1", chunk("name=f&total=1000000&pos=0&end=true"), 400, "参数 end 应为 0 或 1");
    row("no name", chunk("total=1000000&pos=0&end=1"), 400, "缺少参数: name");
    const char *good = "name=a&total=1000000&pos=0&end=1";
    row("no file part", chunk(good, "other"), 400, "缺少 multipart 文件部分");
    row("chunk without token", chunk(good, "file", "bad"), 401, "令牌无效");
    row("rejectChunks fault", chunk(good), 503, "分片暂不可用", {{QStringLiteral("rejectChunks"), 1}});
    row("fail fault", chunk(good), 0, "HTTP/1.1 500", {{QStringLiteral("fail"), QStringLiteral("upload:500:1")}});
    row("invalidJson fault", chunk(good), 0, "</html>", {{QStringLiteral("invalidJson"), QStringLiteral("upload:1")}});
}

void TestDevServer::request_checked_answeredOnAConnectionThatStaysUsable()
{
    QFETCH(QByteArray, request);
    QFETCH(QJsonObject, config);
    QFETCH(QString, answer);
    QVERIFY(m_server.configure(config));
    // Its answer, then the next request on the same connection answered as a request.
    const QByteArray replies = m_client.send(request, Client::request("/platform/settings", {})).raw;
    QVERIFY2(QString::fromUtf8(replies).contains(answer) && replies.count("HTTP/1.1 ") == 2 && replies.endsWith("}")
                 && replies.contains("\"getTokenApi\""),
             replies.left(2000).constData());
    QCOMPARE(m_server.journalList("registrations").size(), answer.contains(QStringLiteral("\"data\":\"ok\"")) ? 1 : 0);
    for (const QJsonValue &upload : m_server.journalList("uploads"))
        QVERIFY(!upload[QStringLiteral("finished")].toBool() && !upload[QStringLiteral("received")].toInt());
}

void TestDevServer::upload_chunks_gapRefusedResentInPlaceAndEndNeedsWholeFile()
{
    const QByteArray file = randomBytes(2500);
    const auto chunk = [&](qint64 pos, bool end, const QByteArray &bytes) {
        return m_client.upload(QStringLiteral("三段 1.mp4"), file.size(), pos, end, bytes);
    };
    // A gap is refused; a range sent again (its answer lost) overwrites in place, and the
    // digest is of the bytes as they end up.
    QList<Reply> accepted{chunk(0, false, file.left(1000)), chunk(1000, false, QByteArray(1000, '\0'))};
    QVERIFY(chunk(2100, false, file.mid(2100, 100)).text("message").startsWith(QStringLiteral("续传位置")));
    accepted << chunk(1000, false, file.mid(1000, 1000));
    // An end before the last byte is refused; its bytes stay for the chunk that completes the file.
    const Reply early = chunk(2000, true, file.mid(2000, 300));
    QVERIFY2(early.text("code") == QStringLiteral("400")
                 && early.text("message").startsWith(QStringLiteral("文件不完整")),
             early.raw.constData());
    accepted << chunk(2300, true, file.mid(2300));

    const QString id = accepted.first().data()[QStringLiteral("id")].toString();
    QVERIFY2(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(id).hasMatch(), qPrintable(id));
    const QString uri = QStringLiteral("/files/%1/%E4%B8%89%E6%AE%B5%201.mp4").arg(id);
    for (const Reply &reply : qAsConst(accepted))
        QCOMPARE(reply.data().toObject(), (QJsonObject{{QStringLiteral("id"), id}, {QStringLiteral("uri"), uri}}));
    const QJsonObject upload = m_server.journalEntry("uploads", "id", id);
    QCOMPARE(upload.value(QStringLiteral("finished")).toBool(), true);
    QCOMPARE(upload.value(QStringLiteral("received")).toInt(), file.size());
    QCOMPARE(upload.value(QStringLiteral("sha256")).toString(), sha256Of(file));
    QStringList chunks;
    for (const QJsonValue &entry : upload.value(QStringLiteral("chunks")).toArray())
        chunks << QString::number(entry[QStringLiteral("pos")].toInt())
                      + (entry[QStringLiteral("end")].toBool() ? QStringLiteral("e") : QString())
                      + (entry[QStringLiteral("accepted")].toBool() ? QString() : QStringLiteral("!"));
    QCOMPARE(chunks.join(QLatin1Char(' ')), QStringLiteral("0 1000 2100! 1000 2000e! 2300e"));
    QVERIFY(m_client.get(uri).raw.endsWith("\r\n\r\n" + file));
}

void TestDevServer::commandLine_flagsApplied_badOnesExitWithTwo()
{
    DevServer server;
    const QString flags =
        QStringLiteral("--code c-2 --uuid u-2 --refresh-second 30 --fail token:503:1 --reject-chunks 1");
    QVERIFY2(server.start(flags.split(QLatin1Char(' '))), qPrintable(server.errorString()));
    QVERIFY2(server.launchCommand().contains(QStringLiteral("?uuid=u-2&code=c-2&")),
             qPrintable(server.launchCommand()));
    QVERIFY((Client{server, {}}.get(QStringLiteral("/api/token?code=c-2")).raw.startsWith("HTTP/1.1 503")));
    const Client client{server, Client{server, {}}.fetchToken()};
    QCOMPARE(client.get(QStringLiteral("/platform/settings")).data()[QStringLiteral("refreshSecond")].toInt(), 30);
    QCOMPARE(client.upload(QStringLiteral("x"), 1, 0, true, "x").text("code"), QStringLiteral("503"));

    for (const char *line : {"--fail nowhere:500", "--fail token", "--stall token:x", "--plan hd", "--code a&b",
                             "--random-faults 1.5", "--port", "--frobnicate"}) {
        QProcess process;
        process.start(qEnvironmentVariable("NUV_BIN_DIR") + QStringLiteral("/nuv-devserver"),
                      QString::fromLatin1(line).split(QLatin1Char(' ')));
        QVERIFY2(process.waitForFinished(10000) && process.exitCode() == 2 && !process.readAllStandardError().isEmpty(),
                 line);
    }
}

void TestDevServer::tls_selfSignedCertificate_httpsServed()
{
    QTemporaryDir dir;
    QString cert, key;
    QVERIFY(DevServer::makeSelfSignedCertificate(dir.path(), &cert, &key));
    DevServer server;
    QVERIFY2(server.start({QStringLiteral("--tls"), cert, key}), qPrintable(server.errorString()));
    QVERIFY(server.launchCommand().startsWith(QStringLiteral("nuvVideoClient://https://127.0.0.1:")));
    QSslSocket verifying;
    verifying.connectToHostEncrypted(QStringLiteral("127.0.0.1"), quint16(server.port()));
    QVERIFY(!verifying.waitForEncrypted(10000) && !verifying.sslHandshakeErrors().isEmpty());
    // The helper's own requests trust any certificate.
    QVERIFY(!server.config().isEmpty());
}

void TestDevServer::cleanupTestCase()
{
    // A stop removes the default uploads folder.
    m_server.stop();
    QVERIFY2(!QFileInfo::exists(m_finishedPath), qPrintable(m_finishedPath));
}

QTEST_GUILESS_MAIN(TestDevServer)
#include "tst_devserver.moc"
