// SPDX-License-Identifier: MIT
#include "tst_devserver.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QTest>

using Params = QList<QPair<QString, QString>>;

QString TestDevServer::fetchToken(HttpProbe &probe, DevServer &server)
{
    const HttpResult reply = probe.get(server.url(QStringLiteral("/api/token?code=")) + server.code());
    return reply.json().value(QStringLiteral("data")).toString();
}

void TestDevServer::initTestCase()
{
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    m_token = fetchToken(m_probe, m_server);
    QVERIFY(!m_token.isEmpty());
    m_probe.setToken(m_token);
}

void TestDevServer::init()
{
    QVERIFY(m_server.resetJournal());
    const QJsonObject defaults{{QStringLiteral("plan"), QStringLiteral("original")},
                               {QStringLiteral("settings"), QJsonObject()},
                               {QStringLiteral("settingsNoData"), false},
                               {QStringLiteral("fail"), QJsonObject()},
                               {QStringLiteral("drop"), QJsonObject()},
                               {QStringLiteral("stall"), QJsonObject()},
                               {QStringLiteral("redirect"), QJsonObject()},
                               {QStringLiteral("invalidJson"), QJsonObject()},
                               {QStringLiteral("rejectChunks"), 0},
                               {QStringLiteral("randomFaults"), 0}};
    QVERIFY(m_server.configure(defaults));
    m_probe.setToken(m_token);
}

Params TestDevServer::checkParams(const QString &uuid) const
{
    return {{QStringLiteral("uuid"), uuid},
            {QStringLiteral("name"), QStringLiteral("演示 a.mp4")},
            {QStringLiteral("suffix"), QStringLiteral(".mp4")},
            {QStringLiteral("size"), QStringLiteral("1048576")},
            {QStringLiteral("duration"), QStringLiteral("12")},
            {QStringLiteral("videoCodec"), QStringLiteral("h264")},
            {QStringLiteral("mp4Format"), QStringLiteral("1")},
            {QStringLiteral("nuvVideo"), QStringLiteral("0")},
            {QStringLiteral("rate"), QStringLiteral("25")},
            {QStringLiteral("width"), QStringLiteral("640")},
            {QStringLiteral("height"), QStringLiteral("360")},
            {QStringLiteral("audioCodec"), QStringLiteral("aac")}};
}

void TestDevServer::uploadWhole(const QString &name, const QByteArray &data, QString *id, QString *uri)
{
    const HttpResult reply = m_probe.uploadChunk(base(), name, data.size(), 0, true, data);
    const QJsonObject dto = reply.json().value(QStringLiteral("data")).toObject();
    *id = dto.value(QStringLiteral("id")).toString();
    *uri = dto.value(QStringLiteral("uri")).toString();
}

void TestDevServer::launchLine_defaults_parsedByHelper()
{
    QVERIFY(m_server.port() > 0);
    QCOMPARE(m_server.code(), QStringLiteral("devcode"));
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(m_server.uuid()).hasMatch());
    QCOMPARE(m_server.launchCommand(),
             QStringLiteral("nuvVideoClient://%1/platform/settings?uuid=%2&code=devcode&type=1&moduleId=7"
                            "&moduleName=%E8%A7%86%E9%A2%91&parentId=12&parentName=%E6%BC%94%E7%A4%BA"
                            "&maxUploadNum=8&extras=demo")
                 .arg(base(), m_server.uuid()));
}

void TestDevServer::settings_defaults_allUrlsOnSameServer()
{
    // The launch command's server part is the settings URL, query included.
    const HttpResult reply = m_probe.get(m_server.launchCommand().mid(17));
    const QJsonObject envelope = reply.json();
    QCOMPARE(envelope.value(QStringLiteral("success")).toBool(), true);
    QVERIFY(QRegularExpression(QStringLiteral("^\\d{13,}$"))
                .match(envelope.value(QStringLiteral("sysTime")).toString())
                .hasMatch());
    const QJsonObject data = envelope.value(QStringLiteral("data")).toObject();
    QCOMPARE(data.size(), 19);
    const QList<QPair<QString, QString>> urls{
        {QStringLiteral("getTokenApi"), QStringLiteral("/api/token")},
        {QStringLiteral("validVideoInfoApi"), QStringLiteral("/api/check")},
        {QStringLiteral("uploadApi"), QStringLiteral("/api/upload")},
        {QStringLiteral("refreshApi"), QStringLiteral("/api/refresh")},
        {QStringLiteral("addVideoApi"), QStringLiteral("/api/addVideo")},
        {QStringLiteral("getRemovedFileIdListApi"), QStringLiteral("/api/removed")},
        {QStringLiteral("removeFileApi"), QStringLiteral("/api/removeFile")}};
    for (const auto &url : urls)
        QCOMPARE(data.value(url.first).toString(), base() + url.second);
    QVERIFY(data.value(QStringLiteral("refreshSecond")).isDouble());
    QCOMPARE(data.value(QStringLiteral("refreshSecond")).toInt(), 8);
}

void TestDevServer::settings_config_overrideAndNoData()
{
    const QString settingsUrl = base() + QStringLiteral("/platform/settings");
    QVERIFY(m_server.configure(QJsonObject{
        {QStringLiteral("clientVersion"), QStringLiteral("2.0.1")},
        {QStringLiteral("settings"), QJsonObject{{QStringLiteral("uploadApi"), QStringLiteral("ftp://127.0.0.1/up")},
                                                 {QStringLiteral("refreshSecond"), QJsonValue::Null}}}}));
    QJsonObject data = m_probe.get(settingsUrl).json().value(QStringLiteral("data")).toObject();
    QCOMPARE(data.value(QStringLiteral("uploadApi")).toString(), QStringLiteral("ftp://127.0.0.1/up"));
    QVERIFY(!data.contains(QStringLiteral("refreshSecond")));
    QCOMPARE(data.value(QStringLiteral("linuxVideoClientVersion")).toString(), QStringLiteral("2.0.1"));

    QVERIFY(m_server.configure(QJsonObject{{QStringLiteral("settingsNoData"), true}}));
    QJsonObject envelope = m_probe.get(settingsUrl).json();
    QCOMPARE(envelope.value(QStringLiteral("success")).toBool(), true);
    QVERIFY(!envelope.contains(QStringLiteral("data")));

    // A bad configuration is refused as a whole and changes nothing.
    QVERIFY(!m_server.configure(QJsonObject{{QStringLiteral("settingsNoData"), false}, {QStringLiteral("bogus"), 1}}));
    QVERIFY(!m_server.configure(
        QJsonObject{{QStringLiteral("settingsNoData"), false}, {QStringLiteral("plan"), QStringLiteral("hd")}}));
    QVERIFY(!m_server.configure(
        QJsonObject{{QStringLiteral("settingsNoData"), false}, {QStringLiteral("randomFaults"), 2}}));
    QVERIFY(!m_server.configure(QJsonObject{{QStringLiteral("settingsNoData"), false},
                                            {QStringLiteral("fail"), QJsonObject{{QStringLiteral("nowhere"), 500}}}}));
    QCOMPARE(m_server.config().value(QStringLiteral("settingsNoData")).toBool(), true);
}

void TestDevServer::token_codes_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<bool>("success");
    QTest::addColumn<QString>("message");
    QTest::newRow("known code") << QStringLiteral("?code=devcode") << true << QString();
    QTest::newRow("unknown code") << QStringLiteral("?code=devcode2") << false << QStringLiteral("授权码无效或已过期");
    QTest::newRow("empty code") << QStringLiteral("?code=") << false << QStringLiteral("授权码无效或已过期");
    QTest::newRow("no code") << QString() << false << QStringLiteral("授权码无效或已过期");
}

void TestDevServer::token_codes()
{
    QFETCH(QString, query);
    QFETCH(bool, success);
    QFETCH(QString, message);
    const QJsonObject envelope = m_probe.get(base() + QStringLiteral("/api/token") + query).json();
    QCOMPARE(envelope.value(QStringLiteral("success")).toBool(), success);
    if (success) {
        QVERIFY(!envelope.value(QStringLiteral("data")).toString().isEmpty());
        QVERIFY(envelope.value(QStringLiteral("data")).toString() != m_token);
    } else {
        QCOMPARE(envelope.value(QStringLiteral("code")).toString(), QStringLiteral("401"));
        QCOMPARE(envelope.value(QStringLiteral("message")).toString(), message);
        QVERIFY(!envelope.contains(QStringLiteral("data")));
    }
}

void TestDevServer::apiCall_tokenHeader_checked_data()
{
    QTest::addColumn<QString>("token");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("issued token, percent-encoded") << QStringLiteral("<issued>") << true;
    QTest::newRow("no token") << QString() << false;
    QTest::newRow("unknown token") << QStringLiteral("abc+/=") << false;
    QTest::newRow("issued token with a suffix") << QStringLiteral("<issued>x") << false;
}

void TestDevServer::apiCall_tokenHeader_checked()
{
    QFETCH(QString, token);
    QFETCH(bool, accepted);
    m_probe.setToken(token.replace(QStringLiteral("<issued>"), m_token));
    const QJsonObject envelope =
        m_probe.postForm(base() + QStringLiteral("/api/removed"), {{QStringLiteral("uuid"), m_server.uuid()}}).json();
    QCOMPARE(envelope.value(QStringLiteral("success")).toBool(), accepted);
    if (!accepted) {
        QCOMPARE(envelope.value(QStringLiteral("code")).toString(), QStringLiteral("401"));
        QCOMPARE(envelope.value(QStringLiteral("message")).toString(), QStringLiteral("令牌无效"));
    }
}

void TestDevServer::check_plans_data()
{
    QTest::addColumn<QString>("plan");
    QTest::addColumn<QString>("types");
    QTest::addColumn<QString>("signs");
    QTest::addColumn<QString>("titles");
    QTest::newRow("original") << QStringLiteral("original") << QStringLiteral("2") << QStringLiteral("0")
                              << QStringLiteral("上传原视频");
    QTest::newRow("nr") << QStringLiteral("nr") << QStringLiteral("1,2,2") << QStringLiteral("1,0,1")
                        << QStringLiteral("转码标清,上传原视频,上传标清视频");
    QTest::newRow("empty") << QStringLiteral("empty") << QString() << QString() << QString();
}

void TestDevServer::check_plans()
{
    QFETCH(QString, plan);
    QFETCH(QString, types);
    QFETCH(QString, signs);
    QFETCH(QString, titles);
    QVERIFY(m_server.configure(QJsonObject{{QStringLiteral("plan"), plan}}));
    const QJsonObject envelope =
        m_probe.postForm(base() + QStringLiteral("/api/check"), checkParams(m_server.uuid())).json();
    QCOMPARE(envelope.value(QStringLiteral("success")).toBool(), true);
    const QJsonArray tasks = envelope.value(QStringLiteral("data")).toArray();
    QStringList gotTypes, gotSigns, gotTitles;
    for (int i = 0; i < tasks.size(); ++i) {
        const QJsonObject task = tasks.at(i).toObject();
        QCOMPARE(task.value(QStringLiteral("id")).toInt(), i + 1);
        gotTypes << QString::number(task.value(QStringLiteral("type")).toInt());
        gotSigns << QString::number(task.value(QStringLiteral("sign")).toInt());
        gotTitles << task.value(QStringLiteral("title")).toString();
    }
    QCOMPARE(gotTypes.join(QLatin1Char(',')), types);
    QCOMPARE(gotSigns.join(QLatin1Char(',')), signs);
    QCOMPARE(gotTitles.join(QLatin1Char(',')), titles);
    if (plan == QLatin1String("nr")) {
        const QString mac = tasks.at(0).toObject().value(QStringLiteral("mac")).toString();
        QVERIFY(mac.startsWith(QStringLiteral("{ffmpegPath} -y -i \"{source}\" -vf scale=-2:240")));
        QVERIFY(mac.endsWith(QStringLiteral("-movflags +faststart \"{target}\"")));
    }
}

void TestDevServer::check_badRequest_refused_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("message");
    QTest::newRow("other session's uuid")
        << QStringLiteral("uuid") << QStringLiteral("other") << QStringLiteral("uuid 与当前会话不符");
    QTest::newRow("size not a number") << QStringLiteral("size") << QStringLiteral("12a")
                                       << QStringLiteral("参数 size 应为十进制整数");
    QTest::newRow("bool written as text")
        << QStringLiteral("mp4Format") << QStringLiteral("true") << QStringLiteral("参数 mp4Format 应为 0 或 1");
    QTest::newRow("missing audioCodec") << QStringLiteral("audioCodec") << QString()
                                        << QStringLiteral("缺少参数: audioCodec");
}

void TestDevServer::check_badRequest_refused()
{
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QString, message);
    Params params;
    for (const auto &param : checkParams(m_server.uuid())) {
        if (param.first != key)
            params << param;
        else if (!value.isNull())
            params << qMakePair(key, value);
    }
    const QJsonObject envelope = m_probe.postForm(base() + QStringLiteral("/api/check"), params).json();
    QCOMPARE(envelope.value(QStringLiteral("success")).toBool(), false);
    QCOMPARE(envelope.value(QStringLiteral("code")).toString(), QStringLiteral("400"));
    QCOMPARE(envelope.value(QStringLiteral("message")).toString(), message);
}

void TestDevServer::refresh_report_keepsRawAndParsedList()
{
    const QString list =
        QStringLiteral("[{\"uuid\":\"p1\",\"status\":9,\"finishRate\":40,\"fileName\":\"演示.mp4\",\"fileSize\":5}]");
    const QString url = base() + QStringLiteral("/api/refresh");
    const auto report = [&](const QString &listText) {
        return m_probe.postForm(url, {{QStringLiteral("uuid"), m_server.uuid()},
                                      {QStringLiteral("status"), QStringLiteral("9")},
                                      {QStringLiteral("finishRate"), QStringLiteral("40")},
                                      {QStringLiteral("fileName"), QStringLiteral("演示 a&b.mp4")},
                                      {QStringLiteral("fileSize"), QStringLiteral("5")},
                                      {QStringLiteral("list"), listText}});
    };
    QCOMPARE(report(list).json().value(QStringLiteral("data")).toString(), QStringLiteral("ok"));
    QCOMPARE(report(QString()).json().value(QStringLiteral("data")).toString(), QStringLiteral("ok"));

    const QJsonArray reports = m_server.journalList("reports");
    QCOMPARE(reports.size(), 2);
    const QJsonObject first = reports.at(0).toObject();
    QCOMPARE(first.value(QStringLiteral("fileName")).toString(), QStringLiteral("演示 a&b.mp4"));
    QCOMPARE(first.value(QStringLiteral("list")).toString(), list);
    const QJsonObject entry = first.value(QStringLiteral("listJson")).toArray().at(0).toObject();
    QCOMPARE(entry.value(QStringLiteral("uuid")).toString(), QStringLiteral("p1"));
    QCOMPARE(entry.value(QStringLiteral("fileName")).toString(), QStringLiteral("演示.mp4"));
    QVERIFY(reports.at(1).toObject().value(QStringLiteral("listJson")).isNull());
}

void TestDevServer::upload_threeChunksWithRetry_sha256Matches()
{
    const int chunkSize = 2 * 1024 * 1024;
    const QByteArray file = randomBytes(2 * chunkSize + chunkSize / 2);
    const QString name = QStringLiteral("三段 1.mp4");
    const qint64 total = file.size();

    HttpResult first = m_probe.uploadChunk(base(), name, total, 0, false, file.left(chunkSize));
    // A garbled attempt at the second range, then its retry, which must replace those bytes.
    HttpResult garbled = m_probe.uploadChunk(base(), name, total, chunkSize, false, QByteArray(chunkSize, '\0'));
    HttpResult retry = m_probe.uploadChunk(base(), name, total, chunkSize, false, file.mid(chunkSize, chunkSize));
    HttpResult last = m_probe.uploadChunk(base(), name, total, 2 * chunkSize, true, file.mid(2 * chunkSize));

    QString id;
    for (const HttpResult &reply : {first, garbled, retry, last}) {
        QCOMPARE(reply.json().value(QStringLiteral("success")).toBool(), true);
        const QJsonObject dto = reply.json().value(QStringLiteral("data")).toObject();
        if (id.isEmpty())
            id = dto.value(QStringLiteral("id")).toString();
        QCOMPARE(dto.value(QStringLiteral("id")).toString(), id);
        QCOMPARE(dto.value(QStringLiteral("uri")).toString(),
                 QStringLiteral("/files/%1/%E4%B8%89%E6%AE%B5%201.mp4").arg(id));
    }
    QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(id).hasMatch());

    const QJsonObject upload = m_server.journalEntry("uploads", "id", id);
    QCOMPARE(upload.value(QStringLiteral("finished")).toBool(), true);
    QCOMPARE(upload.value(QStringLiteral("received")).toDouble(), double(total));
    QCOMPARE(upload.value(QStringLiteral("sha256")).toString(), sha256Of(file));
    const QJsonArray chunks = upload.value(QStringLiteral("chunks")).toArray();
    QCOMPARE(chunks.size(), 4);
    QCOMPARE(chunks.at(1).toObject().value(QStringLiteral("pos")).toInt(), chunkSize);
    QCOMPARE(chunks.at(3).toObject().value(QStringLiteral("end")).toBool(), true);

    const HttpResult served = m_probe.get(base() + QStringLiteral("/files/%1/%E4%B8%89%E6%AE%B5%201.mp4").arg(id));
    QCOMPARE(served.status, 200);
    QVERIFY(served.body == file);
}

void TestDevServer::upload_badChunk_refused_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("part");
    QTest::addColumn<QString>("message");
    QTest::newRow("chunk runs past total") << QStringLiteral("name=a&total=10&pos=0&end=1") << 11
                                           << QStringLiteral("file") << QStringLiteral("分片超出文件总长度");
    QTest::newRow("pos beyond bytes received") << QStringLiteral("name=b&total=100&pos=50&end=0") << 10
                                               << QStringLiteral("file") << QStringLiteral("分片位置超出已接收长度");
    QTest::newRow("pos beyond total") << QStringLiteral("name=c&total=100&pos=101&end=1") << 0 << QStringLiteral("file")
                                      << QStringLiteral("分片位置超出文件总长度");
    QTest::newRow("pos not a number") << QStringLiteral("name=d&total=100&pos=abc&end=0") << 10
                                      << QStringLiteral("file") << QStringLiteral("参数 pos 应为非负整数");
    QTest::newRow("negative total") << QStringLiteral("name=e&total=-1&pos=0&end=0") << 10 << QStringLiteral("file")
                                    << QStringLiteral("参数 total 应为非负整数");
    QTest::newRow("end not 0 or 1") << QStringLiteral("name=f&total=10&pos=0&end=true") << 10 << QStringLiteral("file")
                                    << QStringLiteral("参数 end 应为 0 或 1");
    QTest::newRow("no name") << QStringLiteral("total=10&pos=0&end=1") << 10 << QStringLiteral("file")
                             << QStringLiteral("缺少参数: name");
    QTest::newRow("no file part") << QStringLiteral("name=g&total=10&pos=0&end=1") << 10 << QStringLiteral("other")
                                  << QStringLiteral("缺少 multipart 文件部分");
}

void TestDevServer::upload_badChunk_refused()
{
    QFETCH(QString, query);
    QFETCH(int, size);
    QFETCH(QString, part);
    QFETCH(QString, message);
    const HttpResult reply =
        m_probe.postChunk(base() + QStringLiteral("/api/upload?uuid=s&") + query, QByteArray(size, 'x'), part);
    QCOMPARE(reply.status, 200);
    QCOMPARE(reply.json().value(QStringLiteral("success")).toBool(), false);
    QCOMPARE(reply.json().value(QStringLiteral("code")).toString(), QStringLiteral("400"));
    QVERIFY2(reply.json().value(QStringLiteral("message")).toString().startsWith(message),
             qPrintable(reply.json().value(QStringLiteral("message")).toString()));
    // The refused body was read off the connection: the next request on it is answered normally.
    QCOMPARE(
        m_probe.get(base() + QStringLiteral("/platform/settings")).json().value(QStringLiteral("success")).toBool(),
        true);
    for (const QJsonValue &upload : m_server.journalList("uploads")) {
        QCOMPARE(upload.toObject().value(QStringLiteral("finished")).toBool(), false);
        QCOMPARE(upload.toObject()
                     .value(QStringLiteral("chunks"))
                     .toArray()
                     .at(0)
                     .toObject()
                     .value(QStringLiteral("accepted"))
                     .toBool(),
                 false);
    }
}

void TestDevServer::upload_endWithShortFile_refusedButKept()
{
    const QByteArray file = randomBytes(100);
    const HttpResult shortEnd = m_probe.uploadChunk(base(), QStringLiteral("short.mp4"), 100, 0, true, file.left(60));
    QCOMPARE(shortEnd.json().value(QStringLiteral("success")).toBool(), false);
    QCOMPARE(shortEnd.json().value(QStringLiteral("code")).toString(), QStringLiteral("400"));
    QVERIFY(shortEnd.json().value(QStringLiteral("message")).toString().startsWith(QStringLiteral("文件不完整")));

    // The 60 bytes were kept; the rest completes the upload.
    const HttpResult rest = m_probe.uploadChunk(base(), QStringLiteral("short.mp4"), 100, 60, true, file.mid(60));
    QCOMPARE(rest.json().value(QStringLiteral("success")).toBool(), true);
    const QJsonObject upload = m_server.journalEntry(
        "uploads", "id", rest.json().value(QStringLiteral("data")).toObject().value(QStringLiteral("id")).toString());
    QCOMPARE(upload.value(QStringLiteral("finished")).toBool(), true);
    QCOMPARE(upload.value(QStringLiteral("sha256")).toString(), sha256Of(file));
}

void TestDevServer::addVideo_validation_data()
{
    QTest::addColumn<QString>("data");
    QTest::addColumn<QString>("form");
    QTest::addColumn<QString>("message");
    const QString form = QStringLiteral("{\"name\":\"a.mp4\",\"size\":\"100\"}");
    const QString good = QStringLiteral("{\"uri\":\"%URI%\",\"id\":\"%ID%\"}");
    QTest::newRow("first slot filled") << QStringLiteral("[%1,null,null]").arg(good) << form << QString();
    QTest::newRow("only the NR slot") << QStringLiteral("[null,null,%1]").arg(good) << form << QString();
    QTest::newRow("unknown id") << QStringLiteral(
        "[{\"uri\":\"/files/x/a\",\"id\":\"00000000000000000000000000000000\"},null,null]")
                                << form << QStringLiteral("data[0] 的 id 不是已完成的上传");
    QTest::newRow("unfinished upload") << QStringLiteral("[{\"uri\":\"%PURI%\",\"id\":\"%PID%\"},null,null]") << form
                                       << QStringLiteral("data[0] 的 id 不是已完成的上传");
    QTest::newRow("uri of another file") << QStringLiteral("[{\"uri\":\"/files/x\",\"id\":\"%ID%\"},null,null]") << form
                                         << QStringLiteral("data[0] 的 uri 与上传");
    QTest::newRow("data not JSON") << QStringLiteral("[{\"uri\":") << form << QStringLiteral("data 不是合法的 JSON");
    QTest::newRow("two slots") << QStringLiteral("[%1,null]").arg(good) << form << QStringLiteral("data 应为 3 个元素");
    QTest::newRow("all slots null") << QStringLiteral("[null,null,null]") << form << QStringLiteral("data 至少需要");
    QTest::newRow("slot not an object") << QStringLiteral("[\"%ID%\",null,null]") << form
                                        << QStringLiteral("data[0] 应为 null 或");
    QTest::newRow("form not JSON") << QStringLiteral("[%1,null,null]").arg(good)
                                   << QStringLiteral("{\"name\":\"a\"b\"}") << QStringLiteral("form 不是合法的 JSON");
    QTest::newRow("form an array") << QStringLiteral("[%1,null,null]").arg(good) << QStringLiteral("[1]")
                                   << QStringLiteral("form 应为 JSON 对象");
}

void TestDevServer::addVideo_validation()
{
    QFETCH(QString, data);
    QFETCH(QString, form);
    QFETCH(QString, message);
    QString id, uri;
    uploadWhole(QStringLiteral("reg.mp4"), randomBytes(1000), &id, &uri);
    QVERIFY(!id.isEmpty());
    const HttpResult partial = m_probe.uploadChunk(base(), QStringLiteral("part.mp4"), 10, 0, false, "12345");
    const QJsonObject partialDto = partial.json().value(QStringLiteral("data")).toObject();
    data.replace(QStringLiteral("%ID%"), id).replace(QStringLiteral("%URI%"), uri);
    data.replace(QStringLiteral("%PID%"), partialDto.value(QStringLiteral("id")).toString());
    data.replace(QStringLiteral("%PURI%"), partialDto.value(QStringLiteral("uri")).toString());

    const Params params{{QStringLiteral("uuid"), m_server.uuid()},
                        {QStringLiteral("filename"), QStringLiteral("a.mp4")},
                        {QStringLiteral("Type"), QStringLiteral("1")},
                        {QStringLiteral("moduleId"), QStringLiteral("7")},
                        {QStringLiteral("parentId"), QStringLiteral("12")},
                        {QStringLiteral("extras"), QStringLiteral("demo")},
                        {QStringLiteral("data"), data},
                        {QStringLiteral("form"), form}};
    const QJsonObject envelope = m_probe.postForm(base() + QStringLiteral("/api/addVideo"), params).json();
    const QJsonArray registrations = m_server.journalList("registrations");
    if (message.isEmpty()) {
        QCOMPARE(envelope.value(QStringLiteral("success")).toBool(), true);
        QCOMPARE(envelope.value(QStringLiteral("data")).toString(), QStringLiteral("ok"));
        QCOMPARE(registrations.size(), 1);
        const QJsonObject registration = registrations.at(0).toObject();
        QCOMPARE(registration.value(QStringLiteral("data")).toString(), data);
        QCOMPARE(registration.value(QStringLiteral("formJson")).toObject().value(QStringLiteral("name")).toString(),
                 QStringLiteral("a.mp4"));
        QCOMPARE(registration.value(QStringLiteral("dataJson")).toArray().size(), 3);
    } else {
        QCOMPARE(envelope.value(QStringLiteral("success")).toBool(), false);
        QCOMPARE(envelope.value(QStringLiteral("code")).toString(), QStringLiteral("400"));
        QVERIFY2(envelope.value(QStringLiteral("message")).toString().startsWith(message),
                 qPrintable(envelope.value(QStringLiteral("message")).toString()));
        QCOMPARE(registrations.size(), 0);
    }
}

QTEST_GUILESS_MAIN(TestDevServer)
