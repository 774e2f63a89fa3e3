// SPDX-License-Identifier: MIT
#include "core/log/logfilewriter.h"
#include "core/log/logfolder.h"
#include "core/log/logsecrets.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <atomic>

namespace {

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(file.readAll());
    QStringList lines = text.split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QMessageLogContext contextAt(const char *file, int line)
{
    return QMessageLogContext(file, line, "function", "default");
}

} // namespace

class TestLog : public QObject
{
    Q_OBJECT

private slots:
    void formatLine_eachLevel_matchesLayout_data();
    void formatLine_eachLevel_matchesLayout();
    void write_lines_endWithCrLfInDailyFile();
    void write_message_oneLineWithoutCredentials_data();
    void write_message_oneLineWithoutCredentials();
    void write_dayChanges_startsFileOfNewDate();
    void write_rotationBoundary_rotatesOnlyFullFile();
    void write_rotation_takesNextFreeNameAndKeepsMessage();
    void write_twoThreads_neverInterleave();
    void write_eightThreadsAcrossRotation_loseNothing();
    void prepareLogFolder_oldFilesPrunedSubfolderKept();
};

void TestLog::formatLine_eachLevel_matchesLayout_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("expected");
    const QString head = QStringLiteral("2026-03-07 09:05:01 ");
    const QString tail = QStringLiteral(" File:(src/x.cpp) Line:(42) 你好 text");
    QTest::newRow("debug") << int(QtDebugMsg) << head + QStringLiteral("Debug:") + tail;
    QTest::newRow("info has two blanks") << int(QtInfoMsg) << head + tail;
    QTest::newRow("warning") << int(QtWarningMsg) << head + QStringLiteral("Warning:") + tail;
    QTest::newRow("critical") << int(QtCriticalMsg) << head + QStringLiteral("Critical:") + tail;
    QTest::newRow("fatal") << int(QtFatalMsg) << head + QStringLiteral("Fatal:") + tail;
}

void TestLog::formatLine_eachLevel_matchesLayout()
{
    QFETCH(int, type);
    QFETCH(QString, expected);
    const QDateTime time(QDate(2026, 3, 7), QTime(9, 5, 1));
    QCOMPARE(LogFileWriter::formatLine(time, QtMsgType(type), "src/x.cpp", 42, QStringLiteral("你好 text")), expected);
    // A call site without a recorded place still gives the fixed layout.
    QVERIFY(LogFileWriter::formatLine(time, QtMsgType(type), nullptr, 7, QString())
                .contains(QStringLiteral("File:() Line:(0) ")));
}

void TestLog::write_lines_endWithCrLfInDailyFile()
{
    QTemporaryDir dir;
    const QDateTime time(QDate(2026, 3, 7), QTime(23, 59, 58));
    LogFileWriter writer(dir.path(), [&] { return time; });
    writer.write(QtInfoMsg, contextAt("a.cpp", 1), QStringLiteral("first"));
    writer.write(QtWarningMsg, contextAt("b.cpp", 2), QStringLiteral("second"));

    QFile file(dir.filePath(QStringLiteral("2026-03-07.log")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(file.readAll()),
             QStringLiteral("2026-03-07 23:59:58  File:(a.cpp) Line:(1) first\r\n"
                            "2026-03-07 23:59:58 Warning: File:(b.cpp) Line:(2) second\r\n"));
}

void TestLog::write_message_oneLineWithoutCredentials_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("written");
    QTest::newRow("forged line") << QStringLiteral("uuid=a\r\n2026-03-07 09:05:01  File:() Line:(0) forged")
                                 << QStringLiteral("uuid=a\\r\\n2026-03-07 09:05:01  File:() Line:(0) forged");
    QTest::newRow("other controls") << QStringLiteral("a\tb\x1b[2Jc\x7f\u0085d\u2028")
                                    << QStringLiteral("a\\tb\\x1b[2Jc\\x7f\\x85d\\x2028");
    QTest::newRow("password in a URL") << QStringLiteral("GET https://user:pa:ss@host:8/p?q=a@b")
                                       << QStringLiteral("GET https://user:…@host:8/p?q=a@b");
    QTest::newRow("user without password")
        << QStringLiteral("http://user@host/") << QStringLiteral("http://user@host/");
    QTest::newRow("code in a URL") << QStringLiteral("http://h/s?uuid=u&code=c0de+S3cret/x&type=1")
                                   << QStringLiteral("http://h/s?uuid=u&code=c0de…&type=1");
    QTest::newRow("code percent-encoded")
        << QStringLiteral("http://h/token?code=c0de%2BS3cret%2Fx") << QStringLiteral("http://h/token?code=c0de…");
    QTest::newRow("token in a reply") << QStringLiteral("{\"data\":\"tok/en-0123456789\"}")
                                      << QStringLiteral("{\"data\":\"tok/…\"}");
    QTest::newRow("short values stay") << QStringLiteral("code=abc") << QStringLiteral("code=abc");
}

void TestLog::write_message_oneLineWithoutCredentials()
{
    QFETCH(QString, message);
    QFETCH(QString, written);
    LogSecrets::clear();
    LogSecrets::add(QStringLiteral("c0de+S3cret/x"));
    LogSecrets::add(QStringLiteral("tok/en-0123456789"));
    LogSecrets::add(QStringLiteral("abc"));
    QTemporaryDir dir;
    const QDateTime time(QDate(2026, 3, 7), QTime(9, 5, 1));
    LogFileWriter writer(dir.path(), [&] { return time; });
    // A real call site: the source file is named relative to the source tree.
    writer.write(QtInfoMsg, contextAt(__FILE__, 7), message);
    LogSecrets::clear();
    const QStringList lines = readLines(dir.filePath(QStringLiteral("2026-03-07.log")));
    QCOMPARE(lines,
             QStringList{QStringLiteral("2026-03-07 09:05:01  File:(tests/log/tst_log.cpp) Line:(7) ") + written});
}

void TestLog::write_dayChanges_startsFileOfNewDate()
{
    QTemporaryDir dir;
    QDateTime time(QDate(2026, 3, 7), QTime(23, 59, 59));
    LogFileWriter writer(dir.path(), [&] { return time; });
    writer.write(QtInfoMsg, contextAt("a.cpp", 1), QStringLiteral("before midnight"));
    time = QDateTime(QDate(2026, 3, 8), QTime(0, 0, 0));
    writer.write(QtInfoMsg, contextAt("a.cpp", 1), QStringLiteral("after midnight"));

    QCOMPARE(readLines(dir.filePath(QStringLiteral("2026-03-07.log"))).size(), 1);
    const QStringList next = readLines(dir.filePath(QStringLiteral("2026-03-08.log")));
    QCOMPARE(next.size(), 1);
    QVERIFY(next.first().endsWith(QStringLiteral("after midnight")));
}

void TestLog::write_rotationBoundary_rotatesOnlyFullFile()
{
    QTemporaryDir dir;
    const QDateTime time(QDate(2026, 3, 7), QTime(12, 0));
    LogFileWriter writer(dir.path(), [&] { return time; });
    const QString daily = dir.filePath(QStringLiteral("2026-03-07.log"));

    // One byte below the limit: the line is appended, nothing rotates.
    QVERIFY(QFile(daily).open(QIODevice::WriteOnly));
    QVERIFY(QFile::resize(daily, LogFileWriter::RotationSize - 1));
    writer.write(QtInfoMsg, contextAt("a.cpp", 1), QStringLiteral("appended"));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("2026-03-07_1.log"))));
    QVERIFY(QFileInfo(daily).size() > LogFileWriter::RotationSize);

    // At or above the limit: the file is copied away and the daily file starts again.
    QVERIFY(QFile::resize(daily, LogFileWriter::RotationSize));
    writer.write(QtInfoMsg, contextAt("a.cpp", 1), QStringLiteral("rotates"));
    QCOMPARE(QFileInfo(dir.filePath(QStringLiteral("2026-03-07_1.log"))).size(), LogFileWriter::RotationSize);
    const QStringList lines = readLines(daily);
    QCOMPARE(lines.size(), 1);
    QVERIFY(lines.first().endsWith(QStringLiteral("rotates")));
}

void TestLog::write_rotation_takesNextFreeNameAndKeepsMessage()
{
    QTemporaryDir dir;
    const QDateTime time(QDate(2026, 3, 7), QTime(12, 0));
    LogFileWriter writer(dir.path(), [&] { return time; });
    for (const char *name : {"2026-03-07_1.log", "2026-03-07_2.log"}) {
        QFile existing(dir.filePath(QString::fromLatin1(name)));
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.write("old");
    }
    const QString daily = dir.filePath(QStringLiteral("2026-03-07.log"));
    QVERIFY(QFile(daily).open(QIODevice::WriteOnly));
    QVERIFY(QFile::resize(daily, LogFileWriter::RotationSize + 10));

    writer.write(QtWarningMsg, contextAt("a.cpp", 9), QStringLiteral("trigger"));
    writer.write(QtInfoMsg, contextAt("a.cpp", 10), QStringLiteral("next"));

    QCOMPARE(QFileInfo(dir.filePath(QStringLiteral("2026-03-07_3.log"))).size(), LogFileWriter::RotationSize + 10);
    QCOMPARE(QFileInfo(dir.filePath(QStringLiteral("2026-03-07_2.log"))).size(), qint64(3));
    const QStringList lines = readLines(daily);
    QCOMPARE(lines.size(), 2);
    QVERIFY(lines.at(0).endsWith(QStringLiteral("Warning: File:(a.cpp) Line:(9) trigger")));
    QVERIFY(lines.at(1).endsWith(QStringLiteral("next")));
}

void TestLog::write_twoThreads_neverInterleave()
{
    QTemporaryDir dir;
    const QDateTime time(QDate(2026, 3, 7), QTime(12, 0));
    LogFileWriter writer(dir.path(), [&] { return time; });
    const int perThread = 2000;
    const QString payloadA(300, QLatin1Char('a'));
    const QString payloadB(300, QLatin1Char('b'));
    std::atomic_bool go{false};
    auto run = [&](const QString &payload) {
        while (!go) {}
        for (int i = 0; i < perThread; ++i)
            writer.write(QtDebugMsg, contextAt("t.cpp", i), payload);
    };
    QThread *a = QThread::create(run, payloadA);
    QThread *b = QThread::create(run, payloadB);
    a->start();
    b->start();
    go = true;
    QVERIFY(a->wait(60000));
    QVERIFY(b->wait(60000));
    delete a;
    delete b;

    const QStringList lines = readLines(dir.filePath(QStringLiteral("2026-03-07.log")));
    QCOMPARE(lines.size(), 2 * perThread);
    for (const QString &line : lines)
        QVERIFY2(line.endsWith(payloadA) || line.endsWith(payloadB), qPrintable(line.left(80)));
}

void TestLog::write_eightThreadsAcrossRotation_loseNothing()
{
    // 8 x 20,000 lines of about 100 bytes pass the 10 MiB limit, so rotations happen while
    // other threads write: every line must land whole in exactly one file.
    QTemporaryDir dir;
    const QDateTime time(QDate(2026, 3, 7), QTime(12, 0));
    LogFileWriter writer(dir.path(), [&] { return time; });
    constexpr int Threads = 8;
    constexpr int PerThread = 20000;
    std::atomic_bool go{false};
    QList<QThread *> workers;
    for (int t = 0; t < Threads; ++t) {
        workers.append(QThread::create([&, t] {
            while (!go) {}
            const QString tag = QStringLiteral("thread-%1-").arg(t) + QString(40, QLatin1Char('x'));
            for (int i = 0; i < PerThread; ++i)
                writer.write(QtInfoMsg, contextAt("s.cpp", t), tag + QString::number(i));
        }));
        workers.last()->start();
    }
    go = true;
    for (QThread *worker : qAsConst(workers)) {
        QVERIFY(worker->wait(300000));
        delete worker;
    }

    const QStringList files = QDir(dir.path()).entryList({QStringLiteral("2026-03-07*.log")}, QDir::Files);
    QVERIFY2(files.size() >= 2, "the run should have rotated at least once");
    QVector<int> next(Threads, 0);
    int total = 0;
    // Rotated copies hold older lines than the daily file; within a file each thread's
    // lines keep their order.
    QStringList ordered = files;
    ordered.removeAll(QStringLiteral("2026-03-07.log"));
    std::sort(ordered.begin(), ordered.end(), [](const QString &a, const QString &b) {
        return a.section(QLatin1Char('_'), 1).section(QLatin1Char('.'), 0, 0).toInt()
               < b.section(QLatin1Char('_'), 1).section(QLatin1Char('.'), 0, 0).toInt();
    });
    ordered.append(QStringLiteral("2026-03-07.log"));
    static const QRegularExpression whole(
        QStringLiteral("^2026-03-07 12:00:00  File:\\(s\\.cpp\\) Line:\\((\\d)\\) thread-(\\d)-x{40}(\\d+)$"));
    for (const QString &name : qAsConst(ordered)) {
        QVERIFY(QFileInfo(dir.filePath(name)).size() <= LogFileWriter::RotationSize + 200);
        for (const QString &line : readLines(dir.filePath(name))) {
            const QRegularExpressionMatch match = whole.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line.left(120)));
            const int t = match.captured(2).toInt();
            QCOMPARE(match.captured(1).toInt(), t);
            QCOMPARE(match.captured(3).toInt(), next[t]);
            ++next[t];
            ++total;
        }
    }
    QCOMPARE(total, Threads * PerThread);
}

void TestLog::prepareLogFolder_oldFilesPrunedSubfolderKept()
{
    QTemporaryDir dir;
    // A missing folder is made, parents and all.
    const QString logs = dir.filePath(QStringLiteral("a/b/logs"));
    prepareLogFolder(logs);
    QVERIFY(QFileInfo(logs).isDir());
    QVERIFY(QDir().mkpath(logs + QStringLiteral("/archive")));
    QFile file(logs + QStringLiteral("/2026-01-01.log"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QFile inner(logs + QStringLiteral("/archive/keep.log"));
    QVERIFY(inner.open(QIODevice::WriteOnly));
    inner.close();

    // The files were created just now, so "now" moves instead of the creation time.
    const QDateTime now = QDateTime::currentDateTime();
    prepareLogFolder(logs, now.addDays(29));
    QVERIFY(file.exists());
    prepareLogFolder(logs, now.addDays(31));
    QVERIFY(!file.exists());
    QVERIFY(QFileInfo(logs + QStringLiteral("/archive")).isDir());
    QVERIFY(inner.exists());
}

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
