// SPDX-License-Identifier: MIT
// Whole uploads in the window: rows analyse generated videos with the real ffmpeg, the
// list's scheduler runs them against a real nuv-devserver, one at a time.
#include "core/pipeline/uploadmanager.h"
#include "core/platform/signalwatcher.h"
#include "gui/pages/frmlist.h"
#include "gui/toolkit/actionbehavior.h"
#include "guitest.h"
#include "testsupport.h"

#include <csignal>

using GuiTest::child;
using GuiTest::names;
using Status = ItemTaskWidgetStatus;

class TestRowsUpload final : public QObject
{
    Q_OBJECT
    GuiTest::Window w;

private slots:
    void initTestCase() { QVERIFY2(w.setUp(), qPrintable(w.server.errorString())); }
    void init()
    {
        QVERIFY(w.reset(
            {{QStringLiteral("stall"), QJsonValue::Null}, {QStringLiteral("plan"), QStringLiteral("original")}}));
    }
    void cleanup()
    {
        w.window.reset();
        ActionBehavior::appClosing = false;
    }

    void upload_threeFiles_runOneAtATimeInOrder()
    {
        const QStringList files = w.videos(names("a.mp4 b.mp4 c.mp4"));
        QCOMPARE(files.size(), 3);
        // Each upload is held long enough for a scheduling pass to wait on a row meanwhile.
        QVERIFY(w.server.configure({{QStringLiteral("stall"), QJsonObject{{QStringLiteral("upload"), 2500}}}}));
        QVERIFY(w.openLoaded());
        w.window->onAddFilesMsg(files);
        GUITEST_ROW_REACHES(w, 0, Status::Uploading);
        GUITEST_ROW_REACHES(w, 1, Status::Waiting);
        GUITEST_ROW_REACHES(w, 2, Status::Waiting);
        QVERIFY2(w.row(0)->status() == Status::Uploading, "a ended before c was analysed");

        // A pass waits for c, put back into analysis, while a ends. a's end must not be lost
        // to the busy scheduler: b comes before c.
        w.row(2)->sendMessage(Status::Analysing, QStringLiteral("正在分析任务..."), 0);
        const QObject *first = w.row(0);
        ItemTaskWidget *last = w.row(2);
        connect(
            w.window->manager().data(), &Manager::taskCompleteSignal, last,
            [first, last](const QObject *row) {
                if (row == first)
                    last->sendMessage(Status::Waiting, QStringLiteral("等待上传"), 0);
            },
            Qt::QueuedConnection);
        static_cast<FrmList *>(w.page("frmList"))->onCompleteMsg(nullptr);

        for (int i = 0; i < 3; ++i)
            GUITEST_ROW_REACHES(w, i, Status::Completed);
        for (int i = 0; i < 3; ++i) {
            // The last task's update shows completion a moment before the run's end locks the row.
            QTRY_VERIFY(!w.button(i, "btnDelete")->isEnabled());
            QVERIFY(w.button(i, "btnUpload")->isHidden() && w.button(i, "btnPause")->isHidden());
            QVERIFY(child(w.row(i), "wdgComplete")->isVisible());
        }
        QCOMPARE(w.server.registeredNames(), names("a.mp4 b.mp4 c.mp4"));
        // Each file arrived whole, and no upload began before the previous one had ended.
        const QJsonArray uploads = w.server.journalList("uploads");
        QCOMPARE(uploads.size(), 3);
        double previousEnd = 0;
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(uploads[i][QStringLiteral("name")].toString(), QFileInfo(files.at(i)).fileName());
            QCOMPARE(uploads[i][QStringLiteral("sha256")].toString(), sha256Of(files.at(i)));
            const QJsonArray chunks = uploads[i][QStringLiteral("chunks")].toArray();
            QVERIFY(chunks.first()[QStringLiteral("time")].toDouble() >= previousEnd);
            previousEnd = chunks.last()[QStringLiteral("time")].toDouble();
        }
        QVERIFY(w.window->manager()->startPermit());
    }

    void scheduler_uploadOnAnotherRow_pausesRunningRowAndWrapsToTop()
    {
        // Three chunks each, every chunk held back a little: long enough to step in.
        TestVideoOptions big;
        big.container = QStringLiteral("matroska");
        big.videoCodec = QStringLiteral("rawvideo");
        big.width = 320;
        big.height = 240;
        big.seconds = 5;
        const QStringList files = w.videos(names("A.mkv B.mkv C.mkv"), big);
        QVERIFY(w.server.configure({{QStringLiteral("stall"), QJsonObject{{QStringLiteral("upload"), 300}}}}));
        QCOMPARE(files.size(), 3);
        QVERIFY(QFileInfo(files.first()).size() > 2 * 2097152);
        QVERIFY(w.openLoaded());
        w.window->onAddFilesMsg(files);

        // The scheduler starts the top row once the rows are analysed.
        const auto moving = [](const ItemTaskWidget &row) { return row.uploadManager()->progress().rate > 0; };
        GUITEST_ROW_REACHES(w, 1, Status::Waiting);
        GUITEST_ROW_REACHES(w, 0, Status::Uploading, 20000, moving);
        QTest::mouseClick(w.button(1, "btnUpload"), Qt::LeftButton);

        // B stops A and runs. Once A's run has ended (its stop message shows), A still shows
        // where it stopped, as its task's last update did.
        const auto *progress = child<QLabel>(w.row(0), "lblProgress");
        GUITEST_ROW_REACHES(w, 0, Status::Paused, 20000, [progress](const ItemTaskWidget &) {
            return progress->toolTip() == QStringLiteral("任务已经停止上传");
        });
        QCOMPARE(progress->text(), QStringLiteral("暂停上传 %1%").arg(w.row(0)->uploadManager()->progress().overall));
        QVERIFY(!w.button(0, "btnUpload")->isHidden());
        GUITEST_ROW_REACHES(w, 1, Status::Uploading);
        // C has not started: it waits, or on a slow machine is still being analysed.
        QVERIFY(w.row(2)->status() == Status::Waiting || w.row(2)->status() == Status::Analysing);

        // B's pause passes the start to the row below it, C; C's end wraps to A, which resumes
        // where it stopped, and A's end passes it on to B, which does the same.
        GUITEST_ROW_REACHES(w, 1, Status::Uploading, 20000, moving);
        QTest::mouseClick(w.button(1, "btnPause"), Qt::LeftButton);
        GUITEST_ROW_REACHES(w, 1, Status::Paused);
        QTRY_VERIFY(!w.button(1, "btnUpload")->isHidden() && w.button(1, "btnPause")->isHidden());
        QVERIFY(w.button(1, "btnDelete")->isEnabled());
        for (int i = 0; i < 3; ++i)
            GUITEST_ROW_REACHES(w, i, Status::Completed);
        QCOMPARE(w.server.registeredNames(), names("C.mkv A.mkv B.mkv"));
        for (const QJsonValue &upload : w.server.journalList("uploads")) {
            if (upload[QStringLiteral("finished")].toBool()) // else an interrupted attempt
                QCOMPARE(upload[QStringLiteral("sha256")].toString(),
                         sha256Of(w.files.filePath(upload[QStringLiteral("name")].toString())));
        }
    }

    void close_duringTranscode_stopsFfmpegThenReportsExit_data()
    {
        QTest::addColumn<bool>("signalled");
        QTest::newRow("确认") << false;
        QTest::newRow("SIGTERM") << true;
    }

    void close_duringTranscode_stopsFfmpegThenReportsExit()
    {
        QFETCH(bool, signalled);
        // Wide and long: ffmpeg works for many seconds on the upscaled picture.
        TestVideoOptions wide;
        wide.seconds = 60;
        wide.width = 3000;
        wide.extraArguments = QStringList{QStringLiteral("-preset"), QStringLiteral("ultrafast")};
        const QStringList files = w.videos(names("wide.mp4"), wide);
        QVERIFY(w.server.configure({{QStringLiteral("plan"), QStringLiteral("nr")}}));
        QVERIFY(w.openLoaded());
        FrmApp *window = w.window.get();
        const QString variants = w.options.tmpFolder() + QLatin1Char('/');
        QList<int> exits;
        bool leftBehind = true;
        const auto gone = [&] { leftBehind = window->isVisible() || TestVideos::processRunningWith(variants); };
        window->setExitFunction([&](int code) {
            exits << code;
            gone();
        });
        window->onAddFilesMsg(files);
        QTRY_VERIFY_WITH_TIMEOUT(TestVideos::processRunningWith(variants) || w.row(0)->status() == Status::Failed,
                                 60000);
        QVERIFY2(w.row(0)->status() != Status::Failed, qPrintable(child<QLabel>(w.row(0), "lblError")->toolTip()));

        if (signalled) {
            // As the program runs: the signal reaches the window in the event loop, which ends
            // once the window has stopped (the timer only guards against a hang).
            SignalWatcher watcher;
            connect(&watcher, &SignalWatcher::terminationRequested, window, &FrmApp::onTerminationRequested);
            QTimer::singleShot(20000, qApp, &QCoreApplication::quit);
            ::raise(SIGTERM);
            QCOMPARE(QCoreApplication::exec(), 0);
            gone();
            QVERIFY(exits.isEmpty());
        } else {
            QStringList questions;
            GuiTest::ModalDriver driver(GuiTest::answer(QStringLiteral("btnCancel"), &questions),
                                        GuiTest::answer(QStringLiteral("btnOk"), &questions));
            const QString question = QStringLiteral("有任务还未执行完成,确认退出上传工具吗?");
            QVERIFY(!window->close());
            QCOMPARE(questions, QStringList{question});
            QVERIFY(window->isVisible() && exits.isEmpty() && !ActionBehavior::appClosing);
            QVERIFY(!w.server.reportedStatuses().contains(QStringLiteral("21")));
            QVERIFY(window->close());
            QCOMPARE(questions, (QStringList{question, question}));
            QCOMPARE(exits, QList<int>{0});
        }
        // The final report was at the server, the window hidden and ffmpeg ended, before the
        // process would have gone.
        QVERIFY(w.server.reportedStatuses().contains(QStringLiteral("21")));
        QVERIFY(ActionBehavior::appClosing);
        QVERIFY(!leftBehind);
    }
};

QTEST_MAIN(TestRowsUpload)
#include "tst_rowsupload.moc"
