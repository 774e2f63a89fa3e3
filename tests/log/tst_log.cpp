// SPDX-License-Identifier: MIT
#include "core/log/logfilewriter.h"
#include "core/log/logfolder.h"
#include "core/log/logsecrets.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>
#include <vector>

namespace {

QStringList readLines(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

QMessageLogContext at(const char *file, int line)
{
    return QMessageLogContext(file, line, "function", "default");
}

} // namespace

class TestLog : public QObject
{
    Q_OBJECT

private slots:
    void write_message_oneLineWithoutCredentials_data();
    void write_message_oneLineWithoutCredentials();
    void write_fullFile_rotatesToNextFreeNameThenNewDay();
    void write_eightThreadsAcrossRotation_loseNothing();
    void prepareLogFolder_oldFilesPrunedSubfolderKept();
};

void TestLog::write_message_oneLineWithoutCredentials_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("written");
    const auto row = [](const char *tag, const char *message, const char *written) {
        QTest::newRow(tag) << QString::fromUtf8(message) << QString::fromUtf8(written);
    };
    row("forged line", "uuid=a\r\n2026-03-07 09:05:01  File:() Line:(0) forged",
        "uuid=a\\r\\n2026-03-07 09:05:01  File:() Line:(0) forged");
    row("other controls", "a\tb\x1b[2Jc\x7f\u0085d\u2028", "a\\tb\\x1b[2Jc\\x7f\\x85d\\x2028");
    row("password in a URL", "GET https://user:pa:ss@host:8/p?q=a@b", "GET https://user:…@host:8/p?q=a@b");
    row("user without password", "http://user@host/", "http://user@host/");
    row("code in a URL", "http://h/s?uuid=u&code=c0de+S3cret/x&type=1", "http://h/s?uuid=u&code=c0de…&type=1");
    row("code percent-encoded", "http://h/token?code=c0de%2BS3cret%2Fx", "http://h/token?code=c0de…");
    row("token in a reply", "{\"data\":\"tok/en-0123456789\"}", "{\"data\":\"tok/…\"}");
    row("escaped in a reply", "{\"data\":\"qu\\\"ote-token\"}", "{\"data\":\"qu\\\"…\"}");
    row("short secret", "key=s3cr3t-8", "key=s3…");
    row("short values stay", "code=abc", "code=abc");
}

void TestLog::write_message_oneLineWithoutCredentials()
{
    QFETCH(QString, message);
    QFETCH(QString, written);
    LogSecrets::clear();
    for (const char *secret : {"c0de+S3cret/x", "tok/en-0123456789", "qu\"ote-token", "s3cr3t-8", "abc"})
        LogSecrets::add(QString::fromLatin1(secret));
    QTemporaryDir dir;
    LogFileWriter writer(dir.path(), [] { return QDateTime(QDate(2026, 3, 7), QTime(9, 5, 1)); });
    // A real call site: the source file is named relative to the source tree.
    writer.write(QtInfoMsg, at(__FILE__, 7), message);
    LogSecrets::clear();
    QCOMPARE(readLines(dir.filePath(QStringLiteral("2026-03-07.log"))),
             QStringList{QStringLiteral("2026-03-07 09:05:01  File:(tests/log/tst_log.cpp) Line:(7) ") + written});
}

void TestLog::write_fullFile_rotatesToNextFreeNameThenNewDay()
{
    QTemporaryDir dir;
    QDateTime time(QDate(2026, 3, 7), QTime(23, 59, 58));
    LogFileWriter writer(dir.path(), [&] { return time; });
    const QString daily = dir.filePath(QStringLiteral("2026-03-07.log"));
    const auto rotated = [&](int n) { return QFileInfo(dir.filePath(QStringLiteral("2026-03-07_%1.log").arg(n))); };

    // One byte below the limit: the line is appended, nothing rotates.
    QVERIFY(QFile(daily).open(QIODevice::WriteOnly) && QFile::resize(daily, LogFileWriter::RotationSize - 1));
    writer.write(QtInfoMsg, at("a.cpp", 1), QStringLiteral("appended"));
    QVERIFY(!rotated(1).exists() && QFileInfo(daily).size() > LogFileWriter::RotationSize);

    // Full: copied away under the first free number; the message that found it full and the
    // next ones start the emptied file, one CR LF line each with the level word after the time.
    for (const int n : {1, 2})
        QVERIFY(QFile(rotated(n).filePath()).open(QIODevice::WriteOnly));
    QVERIFY(QFile::resize(daily, LogFileWriter::RotationSize));
    for (const QtMsgType type : {QtWarningMsg, QtDebugMsg, QtCriticalMsg, QtFatalMsg})
        writer.write(type, at("a.cpp", int(type)), QStringLiteral("你好"));
    // A call site without a recorded place still gives the fixed layout.
    writer.write(QtInfoMsg, at(nullptr, 7), QStringLiteral("nowhere"));
    QCOMPARE(rotated(3).size(), LogFileWriter::RotationSize);
    QCOMPARE(rotated(2).size(), qint64(0));
    QCOMPARE(readLines(daily), (QStringList{QStringLiteral("2026-03-07 23:59:58 Warning: File:(a.cpp) Line:(1) 你好"),
                                            QStringLiteral("2026-03-07 23:59:58 Debug: File:(a.cpp) Line:(0) 你好"),
                                            QStringLiteral("2026-03-07 23:59:58 Critical: File:(a.cpp) Line:(2) 你好"),
                                            QStringLiteral("2026-03-07 23:59:58 Fatal: File:(a.cpp) Line:(3) 你好"),
                                            QStringLiteral("2026-03-07 23:59:58  File:() Line:(0) nowhere")}));

    time = QDateTime(QDate(2026, 3, 8), QTime(0, 0, 0));
    writer.write(QtInfoMsg, at("a.cpp", 9), QStringLiteral("after midnight"));
    QCOMPARE(readLines(dir.filePath(QStringLiteral("2026-03-08.log"))),
             QStringList{QStringLiteral("2026-03-08 00:00:00  File:(a.cpp) Line:(9) after midnight")});
}

void TestLog::write_eightThreadsAcrossRotation_loseNothing()
{
    // 8 x 20,000 lines of about 100 bytes pass the 10 MiB limit, so rotations happen while
    // other threads write: every line must land whole in exactly one file.
    QTemporaryDir dir;
    LogFileWriter writer(dir.path(), [] { return QDateTime(QDate(2026, 3, 7), QTime(12, 0)); });
    constexpr int Threads = 8, PerThread = 20000;
    std::atomic_bool go{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t)
        workers.emplace_back([&, t] {
            while (!go) {}
            const QString tag = QStringLiteral("thread-%1-").arg(t) + QString(40, QLatin1Char('x'));
            for (int i = 0; i < PerThread; ++i)
                writer.write(QtInfoMsg, at("s.cpp", t), tag + QString::number(i));
        });
    go = true;
    for (std::thread &worker : workers)
        worker.join();

    // Rotated copies hold older lines than the daily file, lower numbers older ones; within
    // a file each thread's lines keep their order.
    QStringList files = QDir(dir.path()).entryList({QStringLiteral("2026-03-07_*.log")}, QDir::Files);
    QVERIFY2(!files.isEmpty(), "the run should have rotated at least once");
    for (int n = 1; n <= files.size(); ++n)
        files[n - 1] = QStringLiteral("2026-03-07_%1.log").arg(n);
    static const QRegularExpression whole(
        QStringLiteral("^2026-03-07 12:00:00  File:\\(s\\.cpp\\) Line:\\((\\d)\\) thread-\\1-x{40}(\\d+)$"));
    QVector<int> next(Threads, 0);
    for (const QString &name : files << QStringLiteral("2026-03-07.log")) {
        QVERIFY(QFileInfo(dir.filePath(name)).size() <= LogFileWriter::RotationSize + 200);
        for (const QString &line : readLines(dir.filePath(name))) {
            const QRegularExpressionMatch match = whole.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line.left(120)));
            QCOMPARE(match.captured(2).toInt(), next[match.captured(1).toInt()]++);
        }
    }
    QCOMPARE(next, QVector<int>(Threads, PerThread));
}

void TestLog::prepareLogFolder_oldFilesPrunedSubfolderKept()
{
    QTemporaryDir dir;
    // A missing folder is made, parents and all.
    const QString logs = dir.filePath(QStringLiteral("a/b/logs"));
    prepareLogFolder(logs);
    QFile file(logs + QStringLiteral("/2026-01-01.log"));
    QFile inner(logs + QStringLiteral("/archive/keep.log"));
    QVERIFY(QDir(logs).mkdir(QStringLiteral("archive")) && file.open(QIODevice::WriteOnly)
            && inner.open(QIODevice::WriteOnly));
    // The files were created just now, so "now" moves instead of the creation time.
    const QDateTime now = QDateTime::currentDateTime();
    prepareLogFolder(logs, now.addDays(29));
    QVERIFY(file.exists());
    prepareLogFolder(logs, now.addDays(31));
    QVERIFY(!file.exists() && inner.exists());
}

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
