// SPDX-License-Identifier: MIT
// Whole uploads in the window: rows analyse generated videos with the real ffmpeg, the
// list's scheduler runs them against a real nuv-devserver, one at a time.
#include "core/pipeline/uploadmanager.h"
#include "core/platform/signalwatcher.h"
#include "core/session/manager.h"
#include "devserver.h"
#include "gui/pages/frmapp.h"
#include "gui/pages/itemtaskwidget.h"
#include "gui/toolkit/actionbehavior.h"
#include "guitest.h"
#include "testsupport.h"
#include "testvideos.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <memory>

using GuiTest::ModalDriver;

namespace {

constexpr int FlowTimeoutMs = 20000;
constexpr int UploadTimeoutMs = 60000;

} // namespace

class TestRowsUpload final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void upload_threeFiles_runOneAtATimeInOrder();
    void scheduler_uploadOnAnotherRow_pausesRunningRowAndWrapsToTop();
    void pause_thenUpload_resumesUnfinishedTask();
    void close_duringTranscode_stopsFfmpegThenReportsExit_data();
    void close_duringTranscode_stopsFfmpegThenReportsExit();

private:
    bool openLoaded();
    ItemTaskWidget *row(int index) const;
    QPushButton *button(int index, const char *name) const;
    QStringList videos(const QStringList &names, const TestVideoOptions &options);

    QTemporaryDir m_data;
    QTemporaryDir m_files;
    DevServer m_server;
    ClientOptions m_options;
    std::unique_ptr<FrmApp> m_window;
};

void TestRowsUpload::initTestCase()
{
    QVERIFY(m_data.isValid());
    QVERIFY(m_files.isValid());
    QVERIFY(GuiTest::applyStyleSheet());
    m_options.dataFolder = m_data.path();
    m_options.stallTimeoutMs = 15000;
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
}

void TestRowsUpload::init()
{
    QVERIFY(m_server.configure(QJsonObject{{QStringLiteral("stall"), QJsonValue::Null},
                                           {QStringLiteral("plan"), QStringLiteral("original")}}));
    QVERIFY(m_server.resetJournal());
}

void TestRowsUpload::cleanup()
{
    m_window.reset();
    ActionBehavior::appClosing = false;
}

bool TestRowsUpload::openLoaded()
{
    m_window = std::make_unique<FrmApp>(nullptr, m_server.launchCommand(), nullptr);
    m_window->manager()->setOptions(m_options);
    m_window->show();
    const auto *stack = m_window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    const QWidget *frmAdd = m_window->findChild<QWidget *>(QStringLiteral("frmAdd"));
    return QTest::qWaitFor([&] { return stack->currentWidget() == frmAdd; }, FlowTimeoutMs);
}

ItemTaskWidget *TestRowsUpload::row(int index) const
{
    auto *list = m_window->findChild<QListWidget *>(QStringLiteral("listTask"));
    return qobject_cast<ItemTaskWidget *>(list->itemWidget(list->item(index)));
}

QPushButton *TestRowsUpload::button(int index, const char *name) const
{
    return row(index)->findChild<QPushButton *>(QString::fromLatin1(name));
}

QStringList TestRowsUpload::videos(const QStringList &names, const TestVideoOptions &options)
{
    QStringList paths;
    double seconds = options.seconds;
    for (const QString &name : names) {
        TestVideoOptions each = options;
        // Different lengths give different bytes, so every upload is told apart by its hash.
        each.seconds = seconds;
        seconds += 0.2;
        const QString path = m_files.filePath(name);
        if (!QFile::exists(path) && !TestVideos::make(path, each))
            return {};
        paths << path;
    }
    return paths;
}

void TestRowsUpload::upload_threeFiles_runOneAtATimeInOrder()
{
    const QStringList files = videos({QStringLiteral("a.mp4"), QStringLiteral("b.mp4"), QStringLiteral("c.mp4")}, {});
    QCOMPARE(files.size(), 3);
    QVERIFY(openLoaded());
    FrmApp *window = m_window.get();
    window->onAddFilesMsg(files);

    for (int i = 0; i < 3; ++i)
        QTRY_COMPARE_WITH_TIMEOUT(row(i)->status(), ItemTaskWidgetStatus::Completed, UploadTimeoutMs);
    for (int i = 0; i < 3; ++i) {
        // The last task's update shows completion a moment before the run's end locks the row.
        QTRY_VERIFY(!button(i, "btnDelete")->isEnabled());
        QVERIFY(button(i, "btnUpload")->isHidden());
        QVERIFY(button(i, "btnPause")->isHidden());
        QVERIFY(row(i)->findChild<QWidget *>(QStringLiteral("wdgComplete"))->isVisible());
    }
    QCOMPARE(m_server.registeredNames(),
             (QStringList{QStringLiteral("a.mp4"), QStringLiteral("b.mp4"), QStringLiteral("c.mp4")}));

    // Each file arrived whole, and no upload began before the previous one had ended.
    const QJsonArray uploads = m_server.journalList("uploads");
    QCOMPARE(uploads.size(), 3);
    double previousEnd = 0;
    for (int i = 0; i < 3; ++i) {
        const QJsonObject upload = uploads.at(i).toObject();
        QCOMPARE(upload.value(QStringLiteral("name")).toString(), QFileInfo(files.at(i)).fileName());
        QVERIFY(upload.value(QStringLiteral("finished")).toBool());
        QCOMPARE(upload.value(QStringLiteral("sha256")).toString(), sha256Of(files.at(i)));
        const QJsonArray chunks = upload.value(QStringLiteral("chunks")).toArray();
        QVERIFY(!chunks.isEmpty());
        QVERIFY(chunks.first().toObject().value(QStringLiteral("time")).toDouble() >= previousEnd);
        previousEnd = chunks.last().toObject().value(QStringLiteral("time")).toDouble();
    }
    QVERIFY(window->manager()->startPermit());
}

void TestRowsUpload::scheduler_uploadOnAnotherRow_pausesRunningRowAndWrapsToTop()
{
    // Three chunks each, every chunk held back a little: long enough to step in.
    TestVideoOptions big;
    big.container = QStringLiteral("matroska");
    big.videoCodec = QStringLiteral("rawvideo");
    big.width = 320;
    big.height = 240;
    big.seconds = 5;
    const QStringList files = videos({QStringLiteral("A.mkv"), QStringLiteral("B.mkv"), QStringLiteral("C.mkv")}, big);
    QCOMPARE(files.size(), 3);
    QVERIFY(QFileInfo(files.first()).size() > 2 * 2097152);
    QVERIFY(m_server.configure(QJsonObject{{QStringLiteral("stall"), QJsonObject{{QStringLiteral("upload"), 300}}}}));
    QVERIFY(openLoaded());
    FrmApp *window = m_window.get();
    window->onAddFilesMsg(files);

    // The scheduler starts the top row once the rows are analysed.
    QTRY_COMPARE_WITH_TIMEOUT(row(0)->status(), ItemTaskWidgetStatus::Uploading, FlowTimeoutMs);
    QTRY_COMPARE_WITH_TIMEOUT(row(1)->status(), ItemTaskWidgetStatus::Waiting, FlowTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(row(0)->uploadManager()->progress().rate > 0, FlowTimeoutMs);
    QVERIFY(!button(1, "btnUpload")->isHidden());
    QTest::mouseClick(button(1, "btnUpload"), Qt::LeftButton);

    // B stops A and runs. Once A's run has ended (its stop message shows), A still shows
    // where it stopped, as its task's last update did.
    const QLabel *progress = row(0)->findChild<QLabel *>(QStringLiteral("lblProgress"));
    QTRY_COMPARE_WITH_TIMEOUT(progress->toolTip(), QStringLiteral("任务已经停止上传"), FlowTimeoutMs);
    QCOMPARE(row(0)->status(), ItemTaskWidgetStatus::Paused);
    QCOMPARE(progress->text(), QStringLiteral("暂停上传 %1%").arg(row(0)->uploadManager()->progress().overall));
    QVERIFY(!button(0, "btnUpload")->isHidden());
    QTRY_COMPARE_WITH_TIMEOUT(row(1)->status(), ItemTaskWidgetStatus::Uploading, FlowTimeoutMs);
    // C has not started: it waits, or on a slow machine is still being analysed.
    QVERIFY(row(2)->status() == ItemTaskWidgetStatus::Waiting || row(2)->status() == ItemTaskWidgetStatus::Analysing);

    // B's end passes the start to the row below it, C; C's end wraps to A, which resumes.
    for (int i = 0; i < 3; ++i)
        QTRY_COMPARE_WITH_TIMEOUT(row(i)->status(), ItemTaskWidgetStatus::Completed, UploadTimeoutMs);
    QCOMPARE(m_server.registeredNames(),
             (QStringList{QStringLiteral("B.mkv"), QStringLiteral("C.mkv"), QStringLiteral("A.mkv")}));
    for (const QJsonValue &upload : m_server.journalList("uploads")) {
        const QJsonObject entry = upload.toObject();
        if (!entry.value(QStringLiteral("finished")).toBool())
            continue; // A's interrupted first attempt
        QCOMPARE(entry.value(QStringLiteral("sha256")).toString(),
                 sha256Of(m_files.filePath(entry.value(QStringLiteral("name")).toString())));
    }
}

void TestRowsUpload::pause_thenUpload_resumesUnfinishedTask()
{
    TestVideoOptions big;
    big.container = QStringLiteral("matroska");
    big.videoCodec = QStringLiteral("rawvideo");
    big.width = 320;
    big.height = 240;
    big.seconds = 5;
    const QStringList files = videos({QStringLiteral("P.mkv")}, big);
    QCOMPARE(files.size(), 1);
    QVERIFY(m_server.configure(QJsonObject{{QStringLiteral("stall"), QJsonObject{{QStringLiteral("upload"), 300}}}}));
    QVERIFY(openLoaded());
    FrmApp *window = m_window.get();
    window->onAddFilesMsg(files);

    QTRY_COMPARE_WITH_TIMEOUT(row(0)->status(), ItemTaskWidgetStatus::Uploading, FlowTimeoutMs);
    QTRY_VERIFY(!button(0, "btnPause")->isHidden());
    QSignalSpy completions(window->manager().data(), &Manager::taskCompleteSignal);
    QTest::mouseClick(button(0, "btnPause"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(row(0)->status(), ItemTaskWidgetStatus::Paused, FlowTimeoutMs);
    QTRY_VERIFY(!button(0, "btnUpload")->isHidden());
    QVERIFY(button(0, "btnPause")->isHidden());
    QVERIFY(button(0, "btnDelete")->isEnabled());
    // The run's end and the pause each ask for a scheduling pass; neither starts the
    // paused row again.
    QTRY_COMPARE(completions.count(), 2);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(row(0)->status(), ItemTaskWidgetStatus::Paused);
    QVERIFY(!row(0)->uploadManager()->isRunning());
    QVERIFY(m_server.registeredNames().isEmpty());

    QTest::mouseClick(button(0, "btnUpload"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(row(0)->status(), ItemTaskWidgetStatus::Completed, UploadTimeoutMs);
    QCOMPARE(m_server.registeredNames(), QStringList{QStringLiteral("P.mkv")});
}

void TestRowsUpload::close_duringTranscode_stopsFfmpegThenReportsExit_data()
{
    QTest::addColumn<bool>("signalled");
    QTest::newRow("确认") << false;
    QTest::newRow("SIGTERM") << true;
}

void TestRowsUpload::close_duringTranscode_stopsFfmpegThenReportsExit()
{
    QFETCH(bool, signalled);
    // Wide and long: ffmpeg works for many seconds on the upscaled picture.
    TestVideoOptions wide;
    wide.seconds = 60;
    wide.width = 3000;
    wide.extraArguments = QStringList{QStringLiteral("-preset"), QStringLiteral("ultrafast")};
    const QStringList files = videos({QStringLiteral("wide.mp4")}, wide);
    QVERIFY(m_server.configure(QJsonObject{{QStringLiteral("plan"), QStringLiteral("nr")}}));
    QVERIFY(openLoaded());
    FrmApp *window = m_window.get();
    const QString variants = m_options.tmpFolder() + QLatin1Char('/');
    QList<int> exits;
    bool leftBehind = true;
    window->setExitFunction([&](int code) {
        exits << code;
        leftBehind = window->isVisible() || TestVideos::processRunningWith(variants);
    });
    window->onAddFilesMsg(files);
    QTRY_VERIFY_WITH_TIMEOUT(TestVideos::processRunningWith(variants), UploadTimeoutMs);

    QStringList questions;
    if (signalled) {
        // As the program runs: the signal reaches the window in the event loop, which ends
        // once the window has stopped (the timer only guards against a hang).
        SignalWatcher watcher;
        connect(&watcher, &SignalWatcher::terminationRequested, window, &FrmApp::onTerminationRequested);
        QTimer guard;
        connect(&guard, &QTimer::timeout, qApp, &QCoreApplication::quit);
        guard.start(FlowTimeoutMs);
        ::raise(SIGTERM);
        QCOMPARE(QCoreApplication::exec(), 0);
        leftBehind = window->isVisible() || TestVideos::processRunningWith(variants);
        QVERIFY(m_server.reportedStatuses().contains(QStringLiteral("21")));
        QVERIFY(exits.isEmpty());
    } else {
        {
            ModalDriver driver(GuiTest::answer(QStringLiteral("btnCancel"), &questions));
            QVERIFY(!window->close());
            QCOMPARE(driver.seen(), 1);
        }
        QCOMPARE(questions, QStringList{QStringLiteral("有任务还未执行完成,确认退出上传工具吗?")});
        QVERIFY(window->isVisible());
        QVERIFY(exits.isEmpty());
        QVERIFY(!ActionBehavior::appClosing);
        QVERIFY(!m_server.reportedStatuses().contains(QStringLiteral("21")));

        ModalDriver driver(GuiTest::answer(QStringLiteral("btnOk"), &questions));
        QVERIFY(window->close());
        QCOMPARE(driver.seen(), 1);
        QCOMPARE(exits, QList<int>{0});
        // The final report was at the server before the process would have ended.
        QVERIFY(m_server.reportedStatuses().contains(QStringLiteral("21")));
    }
    QVERIFY(ActionBehavior::appClosing);
    // Hidden, and ffmpeg ended, before the process would have gone.
    QVERIFY(!leftBehind);
}

QTEST_MAIN(TestRowsUpload)
#include "tst_rowsupload.moc"
