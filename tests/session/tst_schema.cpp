// SPDX-License-Identifier: MIT
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
    void decode_resultCodesAndFields_data();
    void decode_resultCodesAndFields();
    void settings_file_readOrRewrittenNetworkKept_data();
    void settings_file_readOrRewrittenNetworkKept();
};

void TestSchema::decode_resultCodesAndFields_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("code");
    // server|uuid|code|type|moduleId|moduleName|parentId|parentName|maxUploadNum|extras; empty: not compared.
    QTest::addColumn<QString>("fields");
    const QString command = QStringLiteral("nuvVideoClient://https://p/s");
    const QString ok = command + QStringLiteral("?uuid=a&type=0&moduleId=0");
    // clang-format off
    QTest::newRow("defaults, prefix in capitals") << QStringLiteral("NUVVIDEOCLIENT://http://p/s?uuid=a&type=0&moduleId=0&parentId=") << 0 << QStringLiteral("http://p/s?uuid=a&type=0&moduleId=0&parentId=|a||0|0||-1||1|");
    QTest::newRow("every field, ? separates too") << command + QStringLiteral("?uuid=u&type=1?moduleId=2&moduleName=%E8%A7%86%E9%A2%91&parentId=77&parentName=a%20b&extras=a=b&code=x%20y&maxUploadNum=-1") << 0
        << QStringLiteral("https://p/s?uuid=u&type=1?moduleId=2&moduleName=%E8%A7%86%E9%A2%91&parentId=77&parentName=a%20b&extras=a=b&code=x%20y&maxUploadNum=-1|u|x%20y|1|2|视频|77|a b|-1|a");
    QTest::newRow("blank before prefix") << QLatin1Char(' ') + ok << -1 << QString();
    QTest::newRow("prefix alone") << QStringLiteral("nuvVideoClient://") << 1 << QString();
    QTest::newRow("HTTP in capitals") << QStringLiteral("nuvVideoClient://HTTP://p/s?uuid=a&type=0&moduleId=0") << 2 << QString();
    QTest::newRow("keys are case-sensitive") << command + QStringLiteral("?UUID=a&type=0&moduleId=0") << 3 << QString();
    QTest::newRow("no type") << command + QStringLiteral("?uuid=a&moduleId=0") << 4 << QString();
    QTest::newRow("type not a number") << command + QStringLiteral("?uuid=a&type=abc&moduleId=0") << 0 << QString();
    // 4294967297 would wrap to 1, a valid type.
    QTest::newRow("type beyond 32 bits") << command + QStringLiteral("?uuid=a&type=4294967297&moduleId=0") << 4 << QString();
    QTest::newRow("no moduleId") << command + QStringLiteral("?uuid=a&type=1") << 5 << QString();
    QTest::newRow("negative moduleId") << command + QStringLiteral("?uuid=a&type=1&moduleId=-3") << 5 << QString();
    QTest::newRow("maxUploadNum 0") << ok + QStringLiteral("&maxUploadNum=0") << 7 << QString();
    QTest::newRow("maxUploadNum -2") << ok + QStringLiteral("&maxUploadNum=-2") << 7 << QString();
    QTest::newRow("fragment is no parameter") << ok + QStringLiteral("#&uuid=") << 0 << QString();
    QTest::newRow("later duplicate wins") << ok + QStringLiteral("&uuid=") << 3 << QString();
    // clang-format on
}

void TestSchema::decode_resultCodesAndFields()
{
    QFETCH(QString, text);
    QFETCH(QString, fields);
    Schema schema;
    QTEST(schema.decode(text), "code");
    const QString seen = QStringList({schema.server(), schema.uuid(), schema.code(), QString::number(schema.type()),
                                      QString::number(schema.moduleId()), schema.moduleName(), schema.parentId(),
                                      schema.parentName(), QString::number(schema.maxUploadNum()), schema.extras()})
                             .join(QLatin1Char('|'));
    QVERIFY2(fields.isEmpty() || seen == fields, qPrintable(seen));
}

void TestSchema::settings_file_readOrRewrittenNetworkKept_data()
{
    // The file's content (null: no file); a file with an empty value is rewritten at each load.
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("schoolId");
    // verifyCertificates|stallTimeoutMs|chunkRequestTimeoutMs
    QTest::addColumn<QString>("network");
    const ClientOptions defaults;
    const QString kept = QStringLiteral("|%1|%2").arg(defaults.stallTimeoutMs).arg(defaults.chunkRequestTimeoutMs);
    const QByteArray bad("[General]\ndomain=https://x\nschoolId=\n[network]\n");
    // clang-format off
    QTest::newRow("good file, longer limits") << QByteArray("[General]\r\ndomain=https://school.example\r\nschoolId=学校7\r\n[url]\r\nget=https://g\r\n[network]\r\nstallLimitSeconds=90\r\nchunkLimitSeconds=1800\r\n") << QStringLiteral("学校7") << QStringLiteral("1|90000|1800000");
    QTest::newRow("missing") << QByteArray() << QString() << QLatin1Char('1') + kept;
    QTest::newRow("empty") << QByteArray("") << QString() << QLatin1Char('1') + kept;
    QTest::newRow("certificate opt-out") << bad + "verifyCertificates=false\n" << QString() << QLatin1Char('0') + kept;
    QTest::newRow("blank values") << bad + "verifyCertificates=\nstallLimitSeconds=\n" << QString() << QLatin1Char('1') + kept;
    // The file never turns a limit off, nor makes it overflow the timers.
    QTest::newRow("limits off or absurd") << bad + "stallLimitSeconds=0\nchunkLimitSeconds=9999999999\n" << QString() << QLatin1Char('1') + kept;
    // clang-format on
}

void TestSchema::settings_file_readOrRewrittenNetworkKept()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, schoolId);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("setting.ini")));
    QVERIFY(content.isNull() || (file.open(QIODevice::WriteOnly) && file.write(content) == content.size()));
    file.close();
    StartupSettings::resetToDefaults();
    const QString defaultDomain = StartupSettings::domain();
    // As the administrator wrote it, then as a rewrite left it.
    for (int load = 0; load < 2; ++load) {
        StartupSettings::resetToDefaults();
        const ClientOptions options = StartupSettings::loadOptions(dir.path());
        QTEST(QStringLiteral("%1|%2|%3")
                  .arg(options.verifyCertificates)
                  .arg(options.stallTimeoutMs)
                  .arg(options.chunkRequestTimeoutMs),
              "network");
        QCOMPARE(StartupSettings::schoolId(), schoolId);
    }
    if (!schoolId.isEmpty()) {
        QCOMPARE(StartupSettings::domain() + StartupSettings::urlGet(),
                 QStringLiteral("https://school.examplehttps://g"));
        // A good file is left as it is.
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
        return;
    }
    // Nothing was read, and the file holds the current values, empty ones too: it is
    // rewritten again at the next start.
    QCOMPARE(StartupSettings::domain(), defaultDomain);
    QSettings written(file.fileName(), QSettings::IniFormat);
    QCOMPARE(written.value(QStringLiteral("domain")).toString(), defaultDomain);
    for (const char *key : {"schoolId", "url/get", "url/post"})
        QVERIFY2(written.contains(QString::fromLatin1(key)), key);
    QVERIFY(!StartupSettings::isGood(file.fileName()));
}

QTEST_GUILESS_MAIN(TestSchema)
#include "tst_schema.moc"