// SPDX-License-Identifier: MIT
#include "core/api/baseclient.h"
#include "core/api/removefileid.h"
#include "core/api/taskcommand.h"
#include "core/api/uploaddto.h"
#include "core/pipeline/actionoutcome.h"
#include "devserver.h"
#include "logcapture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <functional>

// Records the setter calls the reflection makes.
class ProbeDTO final : public QObject
{
    Q_OBJECT

public:
    Q_INVOKABLE void setText(QString value) { calls << QStringLiteral("text=") + value; }
    Q_INVOKABLE void setRatio(double) {}
    // None of these qualify.
    Q_INVOKABLE void setPair(int, int) { calls << QStringLiteral("pair"); }
    Q_INVOKABLE void set(int) { calls << QStringLiteral("set"); }

    QStringList calls;

public Q_SLOTS:
    void setSlot(int) { calls << QStringLiteral("slot"); }

protected:
    Q_INVOKABLE void setHidden(int) { calls << QStringLiteral("hidden"); }
};

namespace {

// "-" for null.
QString text(const QSharedPointer<QString> &value)
{
    return value ? *value : QStringLiteral("-");
}

template<typename T>
QSharedPointer<AjaxDTO<T>> reply(const char *json, int code = 200)
{
    return BaseClient::receiveReply<T>(QSharedPointer<QByteArray>::create(json), &code);
}

QString fillProbe(const char *json)
{
    ProbeDTO probe;
    JsonReflection::fill(&probe, QJsonDocument::fromJson(json).object());
    return probe.calls.join(QLatin1Char(' '));
}

// The last reply body the client logged while call() ran (it logs every 200 body); /test/echo
// answers with no envelope, so what reached the server is read from there.
QString lastReplyBody(const std::function<void()> &call)
{
    const QStringList lines = LogCapture::during(call).filter(QStringLiteral("Thread:"));
    return lines.isEmpty() ? QString() : lines.last().mid(lines.last().indexOf(QLatin1String(" > ")) + 3);
}

} // namespace

class TestBaseClient final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m_server.start(), qPrintable(m_server.errorString())); }

    void receiveReply_envelope_data();
    void receiveReply_envelope();
    void reflection_qualifyingSettersAndStrictTypes();
    void requests_paramsAndHeaders_arriveEncoded();

private:
    DevServer m_server;
    BaseClient m_client;
};

void TestBaseClient::receiveReply_envelope_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("code");
    // success|code|message|data, "-" for a null one.
    QTest::addColumn<QString>("fields");
    // clang-format off
    QTest::newRow("text payload") << QByteArray(R"({"success":true,"data":"abc"})") << 200 << QStringLiteral("1|-|-|abc");
    QTest::newRow("success must be a JSON bool") << QByteArray(R"({"success":"true"})") << 200 << QStringLiteral("0|-|-|-");
    QTest::newRow("numeric code reads empty") << QByteArray(R"({"success":true,"code":200,"message":5})") << 200 << QStringLiteral("1|||-");
    QTest::newRow("code and message") << QByteArray(R"({"code":"E7","message":"坏了"})") << 200 << QStringLiteral("0|E7|坏了|-");
    QTest::newRow("nulls are skipped") << QByteArray(R"({"success":null,"code":null,"data":null})") << 200 << QStringLiteral("0|-|-|-");
    QTest::newRow("number as text payload") << QByteArray(R"({"data":5})") << 200 << QStringLiteral("0|-|-|");
    QTest::newRow("not an object") << QByteArray(R"([{"success":true}])") << 200 << QStringLiteral("0|-|-|-");
    QTest::newRow("HTTP error") << QByteArray("Not Found") << 203 << QStringLiteral("0|203|在服务器上找不到远程内容|-");
    QTest::newRow("JSON under a failure code") << QByteArray(R"({"success":true,"data":"x"})") << 401 << QStringLiteral("0|401|服务器遇到了一个意外情况，因此服务器无法满足该请求|-");
    QTest::newRow("code outside the table") << QByteArray("Too many redirects") << 10 << QStringLiteral("0|10|(10)Too many redirects|-");
    QTest::newRow("no code") << QByteArray("boom") << -1 << QStringLiteral("0||(-1)boom|-");
    // clang-format on
}

void TestBaseClient::receiveReply_envelope()
{
    QFETCH(QByteArray, body);
    QFETCH(int, code);
    const auto envelope = reply<QString>(body.constData(), code);
    QTEST(QStringList({QString::number(envelope->success()), text(envelope->code()), text(envelope->message()),
                       text(envelope->data())})
              .join(QLatin1Char('|')),
          "fields");
}

void TestBaseClient::reflection_qualifyingSettersAndStrictTypes()
{
    // Only public invokable one-argument set<Key> methods, the key case-sensitive.
    QCOMPARE(fillProbe(R"({"text":"t","pair":1,"":1,"set":1,"slot":1,"hidden":1,"Text":"x","other":1})"),
             QStringLiteral("text=t"));
    // A type outside the table fails, but only when its key is there.
    QCOMPARE(ActionOutcome::of([] { fillProbe(R"({"ratio":1.5})"); }).message, QStringLiteral("unknow type:double"));
    QCOMPARE(ActionOutcome::of([] { reply<UploadDTO>(R"({"success":true,"data":5})"); }).message,
             QStringLiteral("unknow json type:UploadDTO"));

    // Strict types: a quoted number is no int, a number no text; elements that are no object are skipped.
    int ok = 200;
    const auto tasks = BaseClient::receiveReplyList<TaskCommand>(
        QSharedPointer<QByteArray>::create(R"({"data":[{"id":5,"type":2,"sign":"1","Id":9,"state":1,"rate":50},)"
                                           R"(5,null,"x",[],{"id":6,"sign":1}]})"),
        &ok);
    QCOMPARE(tasks->data()->size(), 2);
    const QSharedPointer<TaskCommand> task = tasks->data()->at(0);
    QVERIFY(task->id() == 5 && task->taskType() == TaskType::Upload && task->variant() == VariantSign::Original);
    // The run-time fields are the client's own: no server key reaches them.
    QVERIFY(task->taskState() == TaskState::Pending && task->rate() == 0);
    QVERIFY(tasks->data()->at(1)->id() == 6 && tasks->data()->at(1)->sign() == 1);
    const auto notArray = BaseClient::receiveReplyList<RemoveFileId>(
        QSharedPointer<QByteArray>::create(R"({"success":true,"data":{}})"), &ok);
    QVERIFY(notArray->success() && !notArray->data());
    const auto upload = reply<UploadDTO>(R"({"data":{"id":17,"uri":"/v/17"},"sysTime":"1700000000123"})");
    QCOMPARE(upload->data()->id() + upload->data()->uri(), QStringLiteral("/v/17"));
    QCOMPARE(upload->sysTime(), Q_INT64_C(1700000000123));
}

void TestBaseClient::requests_paramsAndHeaders_arriveEncoded()
{
    auto data = QSharedPointer<QueryData>::create();
    data->addHeader(QStringLiteral("token"), QStringLiteral("令牌 %41+b/c="));
    data->add(QStringLiteral("fileName"), QStringLiteral("我的 视频+1&a=b~.mp4"));
    const QString echoUrl = m_server.url(QStringLiteral("/test/echo?x=1"));
    // UTF-8, everything but the unreserved characters escaped, a space as %20 (never "+").
    const QString fileName = QStringLiteral("fileName=%E6%88%91%E7%9A%84%20%E8%A7%86%E9%A2%91%2B1%26a%3Db~.mp4");
    const auto echoOf = [](const std::function<void()> &call) {
        return QJsonDocument::fromJson(lastReplyBody(call).toUtf8());
    };
    const QJsonDocument post = echoOf([&] { m_client.post<QString>(echoUrl, data); });
    QCOMPARE(post[QStringLiteral("body")].toString(), fileName);
    // The server decodes header values once: only an encoded value keeps its "%41".
    QCOMPARE(post[QStringLiteral("headers")][QStringLiteral("token")].toString(), QStringLiteral("令牌 %41+b/c="));

    const QString target = QStringLiteral("/test/echo?x=1&") + fileName;
    QCOMPARE(echoOf([&] { m_client.get<QString>(echoUrl, data); })[QStringLiteral("target")].toString(), target);

    const QByteArray chunk(2 * 1024 * 1024, 'z');
    // A fragment in the endpoint must not swallow the chunk's parameters.
    const QJsonDocument multipart =
        echoOf([&] { m_client.postData<UploadDTO>(echoUrl + QStringLiteral("#f"), data, chunk); });
    QCOMPARE(multipart[QStringLiteral("target")].toString(), target);
    const QJsonValue file = multipart[QStringLiteral("files")][0];
    QCOMPARE(QStringList({file[QStringLiteral("name")].toString(), file[QStringLiteral("filename")].toString(),
                          file[QStringLiteral("contentType")].toString(),
                          QString::number(file[QStringLiteral("size")].toInt())}),
             (QStringList{QStringLiteral("file"), QStringLiteral("unknow.fs"),
                          QStringLiteral("application/octet-stream"), QString::number(chunk.size())}));

    // A megabyte of a body makes a log line of a few kilobytes, not of a megabyte.
    const QString line =
        lastReplyBody([&] { m_client.get<QString>(m_server.url(QStringLiteral("/test/huge?bytes=1048576")), {}); });
    QVERIFY2(!line.isEmpty() && line.size() < 20000, qPrintable(QString::number(line.size())));
}

QTEST_GUILESS_MAIN(TestBaseClient)
#include "tst_baseclient.moc"
