// SPDX-License-Identifier: MIT
#include "core/api/baseclient.h"
#include "core/api/removefileid.h"
#include "core/api/settinginfodto.h"
#include "core/api/taskcommand.h"
#include "core/api/uploaddto.h"
#include "core/pipeline/actionoutcome.h"
#include "devserver.h"
#include "logcapture.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaMethod>
#include <QVariantMap>
#include <QtTest>

#include <memory>

// Records every setter call the reflection makes: key -> value ("<null>" for a null pointer).
class ProbeDTO final : public QObject
{
    Q_OBJECT

public:
    Q_INVOKABLE void setText(QString value) { m_calls.insert(QStringLiteral("text"), value); }
    Q_INVOKABLE void setSharedText(QSharedPointer<QString> value)
    {
        record(QStringLiteral("sharedText"), value.data());
    }
    Q_INVOKABLE void setNumber(int value) { m_calls.insert(QStringLiteral("number"), value); }
    Q_INVOKABLE void setBig(qint64 value) { m_calls.insert(QStringLiteral("big"), value); }
    Q_INVOKABLE void setRawBig(qlonglong *value)
    {
        std::unique_ptr<qlonglong> owned(value);
        record(QStringLiteral("rawBig"), owned.get());
    }
    Q_INVOKABLE void setFlag(bool value) { m_calls.insert(QStringLiteral("flag"), value); }
    Q_INVOKABLE void setWhen(QSharedPointer<QDateTime> value) { record(QStringLiteral("when"), value.data()); }

    // None of these qualify.
    void setPlain(int value) { m_calls.insert(QStringLiteral("plain"), value); }
    Q_INVOKABLE void setPair(int a, int b) { m_calls.insert(QStringLiteral("pair"), a + b); }
    Q_INVOKABLE void set(int value) { m_calls.insert(QStringLiteral("set"), value); }

    QVariantMap calls() const { return m_calls; }

public Q_SLOTS:
    void setSlot(int value) { m_calls.insert(QStringLiteral("slot"), value); }

protected:
    Q_INVOKABLE void setHidden(int value) { m_calls.insert(QStringLiteral("hidden"), value); }

private:
    template<typename V>
    void record(const QString &key, const V *value)
    {
        m_calls.insert(key, value ? QVariant::fromValue(*value) : QVariant(QStringLiteral("<null>")));
    }

    QVariantMap m_calls;
};

class OddDTO final : public QObject
{
    Q_OBJECT

public:
    Q_INVOKABLE void setRatio(double value) { m_ratio = value; }

private:
    double m_ratio = 0;
};

namespace {

const QString Null = QStringLiteral("<null>");

QString text(const QSharedPointer<QString> &value)
{
    return value ? *value : Null;
}

template<typename T>
QSharedPointer<AjaxDTO<T>> reply(const char *json, int code = 200)
{
    return BaseClient::receiveReply<T>(QSharedPointer<QByteArray>::create(json), &code);
}

QVariantMap fillProbe(const char *json)
{
    ProbeDTO probe;
    JsonReflection::fill(&probe, QJsonDocument::fromJson(json).object());
    return probe.calls();
}

// The last line the client logged for a reply while call() ran; it logs every 200 body.
template<typename Call>
QString lastReplyLine(Call call)
{
    LogCapture log;
    call();
    const QStringList lines = log.messages(QStringLiteral("Thread:"));
    return lines.value(lines.size() - 1);
}

// /test/echo answers with no envelope, so it is read from the log.
template<typename Call>
QJsonObject echoOf(Call call)
{
    const QString last = lastReplyLine(call);
    return QJsonDocument::fromJson(last.mid(last.indexOf(QLatin1String(" > {")) + 3).toUtf8()).object();
}

} // namespace

class TestBaseClient final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m_server.start(), qPrintable(m_server.errorString())); }

    void receiveReply_envelope_data();
    void receiveReply_envelope();
    void receiveReply_pagingTimeAndScalars_strictTypes();
    void receiveReplyList_mixedElements_objectsOnly();
    void fillFromJson_conversionTableAndNullRules();
    void fillFromJson_typeErrors_throw();
    void transferObjects_fromServerJson();
    void settingInfoDTO_setterOrder_asTheServerTableGivesIt();
    void formText_values_percentEncodedWithSpaceAsPercent20();
    void requests_paramsAndHeaders_arriveEncoded();
    void get_htmlAndHttpErrors_failedEnvelopes();

private:
    DevServer m_server;
    BaseClient m_client;
};

void TestBaseClient::receiveReply_envelope_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("success");
    QTest::addColumn<QString>("codeText");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("data");
    QTest::newRow("text payload") << QByteArray(R"({"success":true,"data":"abc"})") << 200 << true << Null << Null
                                  << QStringLiteral("abc");
    QTest::newRow("success must be a JSON bool")
        << QByteArray(R"({"success":"true"})") << 200 << false << Null << Null << Null;
    QTest::newRow("numeric code reads empty")
        << QByteArray(R"({"success":true,"code":200,"message":5})") << 200 << true << QString() << QString() << Null;
    QTest::newRow("code and message") << QByteArray(R"({"code":"E7","message":"坏了"})") << 200 << false
                                      << QStringLiteral("E7") << QStringLiteral("坏了") << Null;
    QTest::newRow("nulls are skipped") << QByteArray(R"({"success":null,"code":null,"data":null})") << 200 << false
                                       << Null << Null << Null;
    QTest::newRow("number as text payload") << QByteArray(R"({"data":5})") << 200 << false << Null << Null << QString();
    QTest::newRow("not an object") << QByteArray(R"([{"success":true}])") << 200 << false << Null << Null << Null;
    QTest::newRow("HTTP error") << QByteArray("Not Found") << 203 << false << QStringLiteral("203")
                                << QStringLiteral("在服务器上找不到远程内容") << Null;
    QTest::newRow("JSON under a failure code")
        << QByteArray(R"({"success":true,"data":"x"})") << 401 << false << QStringLiteral("401")
        << QStringLiteral("服务器遇到了一个意外情况，因此服务器无法满足该请求") << Null;
    QTest::newRow("code outside the table") << QByteArray("Too many redirects") << 10 << false << QStringLiteral("10")
                                            << QStringLiteral("(10)Too many redirects") << Null;
    QTest::newRow("no code") << QByteArray("boom") << -1 << false << QString() << QStringLiteral("(-1)boom") << Null;
}

void TestBaseClient::receiveReply_envelope()
{
    QFETCH(QByteArray, body);
    QFETCH(int, code);
    const auto envelope = reply<QString>(body.constData(), code);
    QTEST(envelope->success(), "success");
    QTEST(text(envelope->code()), "codeText");
    QTEST(text(envelope->message()), "message");
    QTEST(text(envelope->data()), "data");

    const auto noBody = BaseClient::receiveReply<QString>({}, &code);
    QCOMPARE(noBody->errorText(), QStringLiteral("(19999)(error)"));
    QCOMPARE(text(BaseClient::receiveReply<QString>(QSharedPointer<QByteArray>::create(body), nullptr)->code()),
             QString());
}

void TestBaseClient::receiveReply_pagingTimeAndScalars_strictTypes()
{
    const auto paged = reply<QString>(R"({"query":{"pageSize":20,"recordCount":4000000000,"pageCount":1.5},)"
                                      R"("sysTime":"1700000000123","sysTimeTip":"now"})");
    QCOMPARE(paged->query()->pageSize(), 20);
    QCOMPARE(paged->query()->pageIndex(), 0);
    QCOMPARE(paged->query()->pageCount(), 0);   // not integral
    QCOMPARE(paged->query()->recordCount(), 0); // read as 32 bits
    QCOMPARE(paged->sysTime(), Q_INT64_C(1700000000123));
    QCOMPARE(text(paged->sysTimeTip()), QStringLiteral("now"));
    QCOMPARE(reply<QString>(R"({"sysTime":1000000000000})")->sysTime(), Q_INT64_C(1000000000000));
    QCOMPARE(reply<QString>(R"({"sysTime":1.5})")->sysTime(), 0);

    QCOMPARE(*reply<bool>(R"({"data":true})")->data(), true);
    QCOMPARE(*reply<bool>(R"({"data":"true"})")->data(), false);
    QCOMPARE(*reply<int>(R"({"data":42})")->data(), 42);
    QCOMPARE(*reply<int>(R"({"data":4.5})")->data(), 0);
    QCOMPARE(*reply<qint64>(R"({"data":"9007199254740993"})")->data(), Q_INT64_C(9007199254740993));
    QCOMPARE(*reply<qint64>(R"({"data":12})")->data(), 0);
    QCOMPARE(*reply<double>(R"({"data":"2.5"})")->data(), 2.5);
    QCOMPARE(*reply<QDateTime>(R"({"data":"2024-02-29 23:59:58"})")->data(),
             QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58)));
}

void TestBaseClient::receiveReplyList_mixedElements_objectsOnly()
{
    int ok = 200;
    const auto list = BaseClient::receiveReplyList<RemoveFileId>(
        QSharedPointer<QByteArray>::create(R"({"data":[{"removeTaskId":"a"},5,null,"x",[],{"removeTaskId":"b"}]})"),
        &ok);
    QCOMPARE(list->data()->size(), 2);
    QCOMPARE(list->data()->at(1)->removeTaskId(), QStringLiteral("b"));
    const auto notArray = BaseClient::receiveReplyList<RemoveFileId>(
        QSharedPointer<QByteArray>::create(R"({"success":true,"data":{}})"), &ok);
    QVERIFY(notArray->success());
    QVERIFY(!notArray->data());
}

void TestBaseClient::fillFromJson_conversionTableAndNullRules()
{
    const QVariantMap values =
        fillProbe(R"({"text":"t","sharedText":"s","number":7,"big":"123456789012",)"
                  R"("rawBig":"-5","flag":true,"when":"2023-01-02 03:04:05",)"
                  R"("plain":1,"pair":1,"":1,"set":1,"slot":1,"hidden":1,"Text":"x","other":1})");
    const QVariantMap expected{{QStringLiteral("text"), QStringLiteral("t")},
                               {QStringLiteral("sharedText"), QStringLiteral("s")},
                               {QStringLiteral("number"), 7},
                               {QStringLiteral("big"), Q_INT64_C(123456789012)},
                               {QStringLiteral("rawBig"), Q_INT64_C(-5)},
                               {QStringLiteral("flag"), true},
                               {QStringLiteral("when"), QDateTime(QDate(2023, 1, 2), QTime(3, 4, 5))}};
    QCOMPARE(values, expected); // and nothing that does not qualify was called

    // Wrong JSON types give the empty value, never a coerced one.
    const QVariantMap strict = fillProbe(R"({"text":5,"number":"7","big":12,"flag":"true","when":7})");
    QCOMPARE(strict.value(QStringLiteral("text")).toString(), QString());
    QCOMPARE(strict.value(QStringLiteral("number")).toInt(), 0);
    QCOMPARE(strict.value(QStringLiteral("big")).toLongLong(), 0);
    QCOMPARE(strict.value(QStringLiteral("flag")).toBool(), false);
    QVERIFY(!strict.value(QStringLiteral("when")).toDateTime().isValid());

    // Null: pointers arrive null, values empty; absent keys call nothing.
    const QVariantMap nulls = fillProbe(R"({"text":null,"sharedText":null,"number":null,"rawBig":null})");
    QCOMPARE(nulls, (QVariantMap{{QStringLiteral("text"), QString()},
                                 {QStringLiteral("sharedText"), Null},
                                 {QStringLiteral("number"), 0},
                                 {QStringLiteral("rawBig"), Null}}));
}

void TestBaseClient::fillFromJson_typeErrors_throw()
{
    OddDTO odd;
    QCOMPARE(ActionOutcome::of([&] {
                 JsonReflection::fill(&odd, QJsonDocument::fromJson(R"({"ratio":1.5})").object());
             }).message,
             QStringLiteral("unknow type:double"));
    // The type is only looked at when the key is there.
    QVERIFY(ActionOutcome::of([&] { JsonReflection::fill(&odd, QJsonObject{{QStringLiteral("x"), 1}}); }).ok());
    QCOMPARE(ActionOutcome::of([] { reply<UploadDTO>(R"({"success":true,"data":5})"); }).message,
             QStringLiteral("unknow json type:UploadDTO"));
}

void TestBaseClient::transferObjects_fromServerJson()
{
    QCOMPARE(reply<SettingInfoDTO>(R"({"data":{"refreshSecond":"30"}})")->data()->refreshSecond(), 0);
    QCOMPARE(reply<SettingInfoDTO>(R"({"data":{"refreshSecond":30}})")->data()->refreshSecond(), 30);
    QCOMPARE(reply<SettingInfoDTO>(R"({"data":{}})")->data()->refreshSecond(), 0);

    int ok = 200;
    const auto tasks = BaseClient::receiveReplyList<TaskCommand>(
        QSharedPointer<QByteArray>::create(R"({"data":[{"id":5,"type":2,"sign":"1","Id":9,"state":1,"rate":50}]})"),
        &ok);
    const QSharedPointer<TaskCommand> task = tasks->data()->at(0);
    QCOMPARE(task->id(), 5);
    QCOMPARE(task->taskType(), TaskType::Upload);
    QCOMPARE(task->variant(), VariantSign::Original);
    QVERIFY(task->mac().isEmpty() && task->title().isEmpty());
    // The run-time fields are the client's own: no server key reaches them.
    QCOMPARE(task->taskState(), TaskState::Pending);
    QCOMPARE(task->rate(), 0);

    const auto upload = reply<UploadDTO>(R"({"data":{"id":17,"uri":"/v/17"}})");
    QVERIFY(upload->data()->id().isEmpty());
    QCOMPARE(upload->data()->uri(), QStringLiteral("/v/17"));
}

void TestBaseClient::settingInfoDTO_setterOrder_asTheServerTableGivesIt()
{
    const QString expected = QStringLiteral(
        "setAddVideoApi setGetTokenApi setInfoAddress setInfoSubmitApi setName setPcVideoClientDownloadApi "
        "setPcVideoClientVersion setRefreshApi setRefreshSecond setUploadApi setValidVideoInfoApi setVideoSpeaker "
        "setVideoTitle setMacVideoClientDownloadApi setMacVideoClientVersion setLinuxVideoClientDownloadApi "
        "setLinuxVideoClientVersion setGetRemovedFileIdListApi setRemoveFileApi");
    QStringList actual;
    const QMetaObject &meta = SettingInfoDTO::staticMetaObject;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i)
        actual.append(QString::fromLatin1(meta.method(i).name()));
    QCOMPARE(actual.join(QLatin1Char(' ')), expected);
}

void TestBaseClient::formText_values_percentEncodedWithSpaceAsPercent20()
{
    QueryData data;
    data.add(QStringLiteral("name"), QStringLiteral("a b+c&d=e"));
    data.add(QStringLiteral("title"), QStringLiteral("视频"));
    data.add(QStringLiteral("safe"), QStringLiteral("A-z_0.9~"));
    data.add(QStringLiteral("size"), Q_INT64_C(5000000000));
    data.add(QStringLiteral("end"), true);
    data.add(QStringLiteral("end"), false);
    QCOMPARE(
        BaseClient::formText(&data),
        QStringLiteral("name=a%20b%2Bc%26d%3De&title=%E8%A7%86%E9%A2%91&safe=A-z_0.9~&size=5000000000&end=1&end=0"));
    data.set(QStringLiteral("end"), 7);
    data.remove(QStringLiteral("safe"));
    QCOMPARE(BaseClient::formText(&data),
             QStringLiteral("name=a%20b%2Bc%26d%3De&title=%E8%A7%86%E9%A2%91&size=5000000000&end=7"));
}

void TestBaseClient::requests_paramsAndHeaders_arriveEncoded()
{
    auto data = QSharedPointer<QueryData>::create();
    data->addHeader(QStringLiteral("token"), QStringLiteral("令牌 %41+b/c="));
    data->add(QStringLiteral("fileName"), QStringLiteral("我的 视频+1.mp4"));
    auto paging = QSharedPointer<Query>::create();
    paging->setPageIndex(2);
    const QString echoUrl = m_server.url(QStringLiteral("/test/echo?x=1"));

    const QJsonObject post = echoOf([&] { m_client.post<QString>(echoUrl, data, paging); });
    QCOMPARE(
        post.value(QStringLiteral("body")).toString(),
        QStringLiteral("fileName=%E6%88%91%E7%9A%84%20%E8%A7%86%E9%A2%91%2B1.mp4&pageIndex=2&pageSize=0&pageCount=0"));
    // The server decodes header values once: only an encoded value keeps its "%41".
    const QJsonObject headers = post.value(QStringLiteral("headers")).toObject();
    QCOMPARE(headers.value(QStringLiteral("token")).toString(), QStringLiteral("令牌 %41+b/c="));
    QVERIFY(headers.value(QStringLiteral("Content-Type"))
                .toString()
                .startsWith(QLatin1String("application/x-www-form-urlencoded")));

    const QJsonObject get = echoOf([&] { m_client.get<QString>(echoUrl, data); });
    QCOMPARE(get.value(QStringLiteral("target")).toString(),
             QStringLiteral("/test/echo?x=1&fileName=%E6%88%91%E7%9A%84%20%E8%A7%86%E9%A2%91%2B1.mp4"));

    const QByteArray chunk(2 * 1024 * 1024, 'z');
    // A fragment in the endpoint must not swallow the chunk's parameters.
    const QJsonObject multipart =
        echoOf([&] { m_client.postData<UploadDTO>(echoUrl + QStringLiteral("#f"), data, chunk); });
    QCOMPARE(multipart.value(QStringLiteral("target")).toString(), get.value(QStringLiteral("target")).toString());
    const QJsonObject file = multipart.value(QStringLiteral("files")).toArray().at(0).toObject();
    QCOMPARE(file.value(QStringLiteral("name")).toString(), QStringLiteral("file"));
    QCOMPARE(file.value(QStringLiteral("filename")).toString(), QStringLiteral("unknow.fs"));
    QCOMPARE(file.value(QStringLiteral("contentType")).toString(), QStringLiteral("application/octet-stream"));
    QCOMPARE(file.value(QStringLiteral("size")).toInt(), chunk.size());
}

void TestBaseClient::get_htmlAndHttpErrors_failedEnvelopes()
{
    const auto html = m_client.get<QString>(m_server.url(QStringLiteral("/test/html")), {});
    QVERIFY(!html->success() && !html->code());
    QVERIFY2(text(html->message()).startsWith(QLatin1String("json error:")), qPrintable(text(html->message())));
    // A megabyte of a body makes a log line of a few kilobytes, not of a megabyte.
    const QString line =
        lastReplyLine([&] { m_client.get<QString>(m_server.url(QStringLiteral("/test/huge?bytes=1048576")), {}); });
    QVERIFY(!line.isEmpty() && line.size() < 20000);

    const auto missing = m_client.post<QString>(m_server.url(QStringLiteral("/test/status/404")), {});
    QCOMPARE(missing->errorText(), QStringLiteral("(203)(在服务器上找不到远程内容)"));
    const auto refused = m_client.get<SettingInfoDTO>(QStringLiteral("http://127.0.0.1:1/platform/settings"), {});
    QCOMPARE(refused->errorText(), QStringLiteral("(1)(远程服务器拒绝了连接（服务器不接受请求）)"));
}

QTEST_GUILESS_MAIN(TestBaseClient)
#include "tst_baseclient.moc"
