// SPDX-License-Identifier: MIT
// The command-line client's own parts: argument parsing and the progress lines.
#include "cli/cliarguments.h"
#include "cli/progressprinter.h"

#include <QtTest>

class TestCliParts final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parse_arguments_modeFilesAndErrors_data();
    void parse_arguments_modeFilesAndErrors();
    void update_plainOutput_linesThinnedToStepsAndSeconds();
    void update_terminal_rewritesOneLineInPlace();
};

void TestCliParts::parse_arguments_modeFilesAndErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("noProbe");

    const int upload = int(CliArguments::Mode::Upload);
    const int invalid = int(CliArguments::Mode::Invalid);
    QTest::newRow("upload") << QStringList{QStringLiteral("cmd"), QStringLiteral("a.mp4"), QStringLiteral("b.mkv")}
                            << upload << QStringList{QStringLiteral("a.mp4"), QStringLiteral("b.mkv")} << false;
    QTest::newRow("no probe after the files")
        << QStringList{QStringLiteral("cmd"), QStringLiteral("a.mp4"), QStringLiteral("--no-probe")} << upload
        << QStringList{QStringLiteral("a.mp4")} << true;
    QTest::newRow("a file named like an option")
        << QStringList{QStringLiteral("cmd"), QStringLiteral("--"), QStringLiteral("--help.mp4")} << upload
        << QStringList{QStringLiteral("--help.mp4")} << false;
    QTest::newRow("help wins") << QStringList{QStringLiteral("cmd"), QStringLiteral("-h")}
                               << int(CliArguments::Mode::Help) << QStringList() << false;
    QTest::newRow("probe") << QStringList{QStringLiteral("--probe"), QStringLiteral("a.mp4")}
                           << int(CliArguments::Mode::Probe) << QStringList{QStringLiteral("a.mp4")} << false;
    QTest::newRow("probe of two files") << QStringList{QStringLiteral("--probe"), QStringLiteral("a"),
                                                       QStringLiteral("b")}
                                        << invalid << QStringList() << false;
    QTest::newRow("no file") << QStringList{QStringLiteral("cmd")} << invalid << QStringList() << false;
    QTest::newRow("unknown option") << QStringList{QStringLiteral("--fast"), QStringLiteral("cmd"), QStringLiteral("a")}
                                    << invalid << QStringList() << false;
}

void TestCliParts::parse_arguments_modeFilesAndErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, mode);
    QFETCH(QStringList, files);
    QFETCH(bool, noProbe);
    const CliArguments parsed = CliArguments::parse(QStringList{QStringLiteral("nuvupload-cli")} + arguments);
    QCOMPARE(int(parsed.mode), mode);
    QCOMPARE(parsed.error.isEmpty(), mode != int(CliArguments::Mode::Invalid));
    if (mode == int(CliArguments::Mode::Invalid))
        return;
    QCOMPARE(parsed.files, files);
    QCOMPARE(parsed.noProbe, noProbe);
    if (mode == int(CliArguments::Mode::Upload))
        QCOMPARE(parsed.launchCommand, QStringLiteral("cmd"));
}

void TestCliParts::update_plainOutput_linesThinnedToStepsAndSeconds()
{
    QStringList lines;
    qint64 now = 0;
    ProgressPrinter printer([&lines](const QString &text) { lines.append(text); }, false, [&now] { return now; });
    ProgressPrinter::Progress progress{QStringLiteral("a.mp4"), 1, 1, {}};
    progress.task.title = QStringLiteral("上传原视频");
    progress.task.taskIndex = 1;
    progress.task.taskCount = 2;

    const auto at = [&](qint64 ms, int percent) {
        now = ms;
        progress.task.rate = percent;
        progress.task.bytesDone = qint64(percent) * 10000000;
        printer.update(progress);
    };
    at(0, 0);      // a new task: always a line
    at(2000, 3);   // under 5 %: nothing
    at(2500, 10);  // 10 % after 2.5 s: a line
    at(2600, 20);  // 10 % more but after 0.1 s: nothing
    at(4000, 100); // the last step always shows
    at(5000, 100); // unchanged: nothing
    progress.task.title = QStringLiteral("登记视频");
    progress.task.taskIndex = 2;
    progress.task.bytesDone = -1;
    at(5100, 0); // a new task: a line

    QCOMPARE(lines, (QStringList{QStringLiteral("[1/1] a.mp4  上传原视频 (1/2)  0%  -- MB/s  -- left\n"),
                                 QStringLiteral("[1/1] a.mp4  上传原视频 (1/2)  10%  40.0 MB/s  -- left\n"),
                                 QStringLiteral("[1/1] a.mp4  上传原视频 (1/2)  100%  250.0 MB/s  -- left\n"),
                                 QStringLiteral("[1/1] a.mp4  登记视频 (2/2)  0%  -- MB/s  -- left\n")}));
}

void TestCliParts::update_terminal_rewritesOneLineInPlace()
{
    QString screen;
    qint64 now = 0;
    ProgressPrinter printer([&screen](const QString &text) { screen += text; }, true, [&now] { return now; });
    ProgressPrinter::Progress progress{QStringLiteral("a.mp4"), 1, 1, {}};
    progress.task.title = QStringLiteral("转码标清");
    progress.task.taskIndex = 1;
    progress.task.taskCount = 1;
    progress.task.remaining = 3725;
    printer.update(progress);
    now = 50;
    progress.task.rate = 1;
    printer.update(progress); // within the redraw interval: not drawn
    now = 200;
    progress.task.rate = 2;
    printer.update(progress);
    printer.println(QStringLiteral("a.mp4: 上传完成"));

    QCOMPARE(screen, QStringLiteral("\r[1/1] a.mp4  转码标清 (1/1)  0%  -- MB/s  1:02:05 left\x1b[K"
                                    "\r[1/1] a.mp4  转码标清 (1/1)  2%  -- MB/s  1:02:05 left\x1b[K"
                                    "\na.mp4: 上传完成\n"));
}

QTEST_GUILESS_MAIN(TestCliParts)
#include "tst_cliparts.moc"
