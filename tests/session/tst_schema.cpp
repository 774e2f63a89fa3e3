// SPDX-License-Identifier: MIT
#include "core/platform/appdirs.h"
#include "core/session/schema.h"
#include "core/session/startupsettings.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class TestSchema : public QObject
{
    Q_OBJECT

private slots:
    void decode_resultCodes_data();
    void decode_resultCodes();
    void decode_fields_data();
    void decode_fields();
    void decode_serverKeepsQuery();
    void errorMessage_eachCode();
    void settings_goodFile_isRead();
    void settings_badFile_isRewritten_data();
    void settings_badFile_isRewritten();
    void settings_networkGroup_readAndKeptOnRewrite_data();
    void settings_networkGroup_readAndKeptOnRewrite();
};

namespace {
const QString Server = QStringLiteral("https://platform.test/settings");
}

void TestSchema::decode_resultCodes_data()
{
    // clang-format off
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("code");
    const QString ok = QStringLiteral("?uuid=a&type=0&moduleId=0");
    QTest::newRow("valid") << QStringLiteral("nuvVideoClient://") + Server + ok << 0;
    QTest::newRow("prefix in capitals") << QStringLiteral("NUVVIDEOCLIENT://") + Server + ok << 0;
    QTest::newRow("http passes") << QStringLiteral("nuvVideoClient://http://p/s") + ok << 0;
    QTest::newRow("blank before prefix") << QStringLiteral(" nuvVideoClient://") + Server + ok << -1;
    QTest::newRow("other scheme") << QStringLiteral("https://platform.test") + ok << -1;
    QTest::newRow("empty text") << QString() << -1;
    QTest::newRow("prefix alone") << QStringLiteral("nuvVideoClient://") << 1;
    QTest::newRow("ftp server") << QStringLiteral("nuvVideoClient://ftp://p/s") + ok << 2;
    QTest::newRow("HTTP in capitals") << QStringLiteral("nuvVideoClient://HTTP://p/s") + ok << 2;
    QTest::newRow("no uuid") << QStringLiteral("nuvVideoClient://") + Server + QStringLiteral("?type=0&moduleId=0") << 3;
    QTest::newRow("empty uuid") << QStringLiteral("nuvVideoClient://") + Server + QStringLiteral("?uuid=&type=0&moduleId=0") << 3;
    QTest::newRow("keys are case-sensitive") << QStringLiteral("nuvVideoClient://") + Server + QStringLiteral("?UUID=a&type=0&moduleId=0") << 3;
    QTest::newRow("no type") << QStringLiteral("nuvVideoClient://") + Server + QStringLiteral("?uuid=a&moduleId=0") << 4;
    QTest::newRow("type not a number") << QStringLiteral("nuvVideoClient://") + Server + QStringLiteral("?uuid=a&type=abc&moduleId=0") << 0;
    QTest::newRow("no moduleId") << QStringLiteral("nuvVideoClient://") + Server + QStringLiteral("?uuid=a&type=1") << 5;
    QTest::newRow("negative moduleId") << QStringLiteral("nuvVideoClient://") + Server + QStringLiteral("?uuid=a&type=1&moduleId=-3") << 5;
    QTest::newRow("maxUploadNum 0") << QStringLiteral("nuvVideoClient://") + Server + ok + QStringLiteral("&maxUploadNum=0") << 7;
    QTest::newRow("maxUploadNum -1") << QStringLiteral("nuvVideoClient://") + Server + ok + QStringLiteral("&maxUploadNum=-1") << 0;
    QTest::newRow("maxUploadNum -2") << QStringLiteral("nuvVideoClient://") + Server + ok + QStringLiteral("&maxUploadNum=-2") << 7;
    QTest::newRow("maxUploadNum text") << QStringLiteral("nuvVideoClient://") + Server + ok + QStringLiteral("&maxUploadNum=x") << 7;
    QTest::newRow("type beyond 32 bits") << QStringLiteral("nuvVideoClient://") + Server + QStringLiteral("?uuid=a&type=4294967297&moduleId=0") << 4;
    QTest::newRow("moduleId beyond 32 bits") << QStringLiteral("nuvVideoClient://") + Server + QStringLiteral("?uuid=a&type=0&moduleId=-4294967297") << 5;
    QTest::newRow("fragment is no parameter") << QStringLiteral("nuvVideoClient://") + Server + ok + QStringLiteral("#&uuid=") << 0;
    QTest::newRow("later duplicate wins") << QStringLiteral("nuvVideoClient://") + Server + ok + QStringLiteral("&uuid=") << 3;
    // clang-format on
}

void TestSchema::decode_resultCodes()
{
    QFETCH(QString, text);
    QFETCH(int, code);
    Schema schema;
    QCOMPARE(schema.decode(text), code);
}

void TestSchema::decode_fields_data()
{
    // clang-format off
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::newRow("defaults: one file allowed") << QString() << QStringLiteral("maxUploadNum") << QStringLiteral("1");
    QTest::newRow("defaults: parentId") << QString() << QStringLiteral("parentId") << QStringLiteral("-1");
    QTest::newRow("empty parentId") << QStringLiteral("&parentId=") << QStringLiteral("parentId") << QStringLiteral("-1");
    QTest::newRow("parentId") << QStringLiteral("&parentId=77") << QStringLiteral("parentId") << QStringLiteral("77");
    QTest::newRow("moduleName decoded") << QStringLiteral("&moduleName=%E8%A7%86%E9%A2%91") << QStringLiteral("moduleName") << QStringLiteral("视频");
    QTest::newRow("parentName decoded") << QStringLiteral("&parentName=a%20b") << QStringLiteral("parentName") << QStringLiteral("a b");
    QTest::newRow("extras after second = dropped") << QStringLiteral("&extras=a=b") << QStringLiteral("extras") << QStringLiteral("a");
    QTest::newRow("code kept raw") << QStringLiteral("&code=x%20y") << QStringLiteral("code") << QStringLiteral("x%20y");
    QTest::newRow("maxUploadNum") << QStringLiteral("&maxUploadNum=-1") << QStringLiteral("maxUploadNum") << QStringLiteral("-1");
    QTest::newRow("duplicate key keeps later") << QStringLiteral("&type=3&type=9") << QStringLiteral("type") << QStringLiteral("9");
    QTest::newRow("question marks also separate") << QStringLiteral("?moduleId=5") << QStringLiteral("moduleId") << QStringLiteral("5");
    // clang-format on
}

void TestSchema::decode_fields()
{
    QFETCH(QString, query);
    QFETCH(QString, field);
    QFETCH(QString, value);
    Schema schema;
    QCOMPARE(schema.decode(QStringLiteral("nuvVideoClient://") + Server + QStringLiteral("?uuid=u&type=1&moduleId=2")
                           + query),
             0);
    const QHash<QString, QString> fields = {
        {QStringLiteral("maxUploadNum"), QString::number(schema.maxUploadNum())},
        {QStringLiteral("parentId"), schema.parentId()},
        {QStringLiteral("moduleName"), schema.moduleName()},
        {QStringLiteral("parentName"), schema.parentName()},
        {QStringLiteral("extras"), schema.extras()},
        {QStringLiteral("code"), schema.code()},
        {QStringLiteral("type"), QString::number(schema.type())},
        {QStringLiteral("moduleId"), QString::number(schema.moduleId())},
    };
    QCOMPARE(fields.value(field), value);
}

void TestSchema::decode_serverKeepsQuery()
{
    Schema schema;
    const QString server =
        QStringLiteral("https://p.test:8443/api/settings?uuid=u1&code=c&type=2&moduleId=3&maxUploadNum=4");
    QCOMPARE(schema.decode(QStringLiteral("nuvVideoClient://") + server), 0);
    QCOMPARE(schema.server(), server);
    QCOMPARE(schema.uuid(), QStringLiteral("u1"));
    QCOMPARE(schema.code(), QStringLiteral("c"));
    QCOMPARE(schema.maxUploadNum(), 4);

    // A rejected prefix changes nothing.
    Schema rejected;
    QCOMPARE(rejected.decode(QStringLiteral("x") + server), -1);
    QVERIFY(rejected.server().isEmpty());
}

void TestSchema::errorMessage_eachCode()
{
    QCOMPARE(schemaErrorMessage(0), QString());
    QCOMPARE(schemaErrorMessage(-1), QStringLiteral("指令格式不正确"));
    QCOMPARE(schemaErrorMessage(1), QStringLiteral("服务器地址未定义"));
    QCOMPARE(schemaErrorMessage(2), QStringLiteral("服务器地址格式有误"));
    QCOMPARE(schemaErrorMessage(3), QStringLiteral("uuid格式有误"));
    QCOMPARE(schemaErrorMessage(4), QStringLiteral("未定义type类型"));
    QCOMPARE(schemaErrorMessage(5), QStringLiteral("未定义moduleId"));
    QCOMPARE(schemaErrorMessage(6), QStringLiteral("未定义parentId"));
    QCOMPARE(schemaErrorMessage(7), QStringLiteral("可上传数量为0"));
}

void TestSchema::settings_goodFile_isRead()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("setting.ini"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(
        "[General]\r\ndomain=https://school.example\r\nschoolId=学校7\r\n\r\n[url]\r\nget=https://g\r\npost=https://p\r\n");
    file.close();

    StartupSettings::resetToDefaults();
    StartupSettings::load(path);
    QCOMPARE(StartupSettings::domain(), QStringLiteral("https://school.example"));
    QCOMPARE(StartupSettings::schoolId(), QStringLiteral("学校7"));
    QCOMPARE(StartupSettings::urlGet(), QStringLiteral("https://g"));
    QCOMPARE(StartupSettings::urlPost(), QStringLiteral("https://p"));
    // A good file is left as it is.
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("get=https://g\r\n"));
}

void TestSchema::settings_badFile_isRewritten_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("exists");
    QTest::newRow("missing") << QByteArray() << false;
    QTest::newRow("empty") << QByteArray() << true;
    QTest::newRow("empty value") << QByteArray("[General]\ndomain=https://x\nschoolId=\n[url]\nget=a\npost=b\n")
                                 << true;
}

void TestSchema::settings_badFile_isRewritten()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("setting.ini"));
    if (exists) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    StartupSettings::resetToDefaults();
    const QString defaultDomain = StartupSettings::domain();
    StartupSettings::load(path);

    // Nothing was read, and the file now holds the current values.
    QCOMPARE(StartupSettings::domain(), defaultDomain);
    QVERIFY(StartupSettings::schoolId().isEmpty());
    QSettings written(path, QSettings::IniFormat);
    QCOMPARE(written.value(QStringLiteral("domain")).toString(), defaultDomain);
    QVERIFY(written.contains(QStringLiteral("schoolId")));
    QVERIFY(written.contains(QStringLiteral("url/get")));
    QVERIFY(written.contains(QStringLiteral("url/post")));
    // Written with empty values, the file fails the check again at the next start.
    QVERIFY(!StartupSettings::isGood(path));
}

void TestSchema::settings_networkGroup_readAndKeptOnRewrite_data()
{
    QTest::addColumn<QByteArray>("network");
    QTest::addColumn<bool>("verify");
    QTest::addColumn<int>("stallMs");
    QTest::addColumn<int>("chunkMs");
    const ClientOptions defaults;
    QTest::newRow("certificate opt-out") << QByteArray("verifyCertificates=false\n") << false << defaults.stallTimeoutMs
                                         << defaults.chunkRequestTimeoutMs;
    QTest::newRow("longer limits") << QByteArray("stallLimitSeconds=90\nchunkLimitSeconds=1800\n") << true << 90000
                                   << 1800000;
    QTest::newRow("blank values") << QByteArray("verifyCertificates=\nstallLimitSeconds=\n") << true
                                  << defaults.stallTimeoutMs << defaults.chunkRequestTimeoutMs;
    // The file never turns a limit off, nor makes it overflow the timers.
    QTest::newRow("limits off or absurd") << QByteArray("stallLimitSeconds=0\nchunkLimitSeconds=9999999999\n") << true
                                          << defaults.stallTimeoutMs << defaults.chunkRequestTimeoutMs;
}

void TestSchema::settings_networkGroup_readAndKeptOnRewrite()
{
    QFETCH(QByteArray, network);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("setting.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    // The empty schoolId fails the check, so the file is rewritten at each load.
    file.write("[General]\ndomain=https://x\nschoolId=\n[network]\n" + network);
    file.close();
    // As the administrator wrote it, then as the rewrite left it.
    for (int load = 0; load < 2; ++load) {
        StartupSettings::resetToDefaults();
        const ClientOptions options = StartupSettings::loadOptions(dir.path());
        QTEST(options.verifyCertificates, "verify");
        QTEST(options.stallTimeoutMs, "stallMs");
        QTEST(options.chunkRequestTimeoutMs, "chunkMs");
    }
}

QTEST_GUILESS_MAIN(TestSchema)
#include "tst_schema.moc"
