// SPDX-License-Identifier: MIT
// Task rows that fail, are deleted or are removed by the server, the copy-log action, and
// the row's size text; against a real nuv-devserver and the real ffmpeg.
#include "core/pipeline/uploadmanager.h"
#include "gui/toolkit/actionqueue.h"
#include "guitest.h"

using GuiTest::child;
using GuiTest::names;
using Status = ItemTaskWidgetStatus;

namespace {

QString errorOf(const ItemTaskWidget *row)
{
    return child<QLabel>(row, "lblError")->toolTip();
}

} // namespace

class TestRowsFailures final : public QObject
{
    Q_OBJECT
    GuiTest::Window w;

private slots:
    void initTestCase()
    {
        // Eleven attempts need not take twenty seconds here, nor the server's removals eight.
        w.options.retryPauseMs = 50;
        w.options.refreshIntervalMs = 200;
        QVERIFY2(w.setUp(), qPrintable(w.server.errorString()));
    }
    void init()
    {
        QVERIFY(w.reset({{QStringLiteral("stall"), QJsonValue::Null},
                         {QStringLiteral("fail"), QJsonValue::Null},
                         {QStringLiteral("rejectChunks"), 0}}));
    }
    void cleanup() { w.window.reset(); }

    void sizeText_bytes_leadingDigitsOfRemainder()
    {
        QCOMPARE(ItemTaskWidget::sizeText(385000000), QStringLiteral("367.16MB"));
        QCOMPARE(ItemTaskWidget::sizeText(1536), QStringLiteral("1.51KB"));
        QCOMPARE(ItemTaskWidget::sizeText(500), QStringLiteral("500B"));
        QCOMPARE(ItemTaskWidget::sizeText(5368709120), QStringLiteral("5GB"));
    }

    void analysis_refused_failsWithoutUploadButtonAndOffersTheLog_data()
    {
        QTest::addColumn<bool>("video");
        QTest::addColumn<QString>("error");
        QTest::newRow("probe") << false << QStringLiteral("获取上传文件信息失败,请确认文件为有效视频(");
        QTest::newRow("check") << true << QStringLiteral("视频检测失败:(200)(OK)");
    }

    void analysis_refused_failsWithoutUploadButtonAndOffersTheLog()
    {
        QFETCH(bool, video);
        QFETCH(QString, error);
        QVERIFY(w.server.configure({{QStringLiteral("fail"), QJsonObject{{QStringLiteral("check"), 200}}}}));
        QVERIFY(w.openLoaded());
        w.window->onAddFilesMsg(
            {video ? w.videos(names("checked.mp4")).value(0) : w.notVideos(names("broken.mp4")).value(0)});

        GUITEST_ROW_REACHES(w, 0, Status::Failed);
        QVERIFY2(errorOf(w.row(0)).startsWith(error), qPrintable(errorOf(w.row(0))));
        QVERIFY(child(w.row(0), "wdgError")->isVisible());
        QVERIFY(w.button(0, "btnUpload")->isHidden());
        QVERIFY(w.button(0, "btnDelete")->isVisible() && w.button(0, "btnDelete")->isEnabled());
        // A file the probe refused never reaches the server.
        QCOMPARE(w.server.requestsTo(QStringLiteral("/api/check")).size(), video ? 1 : 0);

        // The error's box offers to copy the log: refused with a message while there is none.
        QDir logs(w.options.logsFolder());
        QVERIFY(logs.removeRecursively());
        QStringList seen;
        const auto copyLog = GuiTest::answer(QStringLiteral("btn1"), &seen);
        GuiTest::ModalDriver noLog(copyLog, GuiTest::answer(QStringLiteral("btnOk"), &seen));
        QTest::mouseClick(child<QPushButton>(w.row(0), "btnError"), Qt::LeftButton);
        QCOMPARE(seen, (QStringList{errorOf(w.row(0)), QStringLiteral("日志文件不存在，复制失败")}));
        // With logs, the newest file of exactly that suffix goes on the clipboard as a file.
        QVERIFY(logs.mkpath(QStringLiteral("newer.log")));
        const QList<QPair<const char *, int>> ages{{"2024-01-01.log", 60}, {"2024-01-02.log", 3600}, {"notes.txt", 0}};
        for (const auto &age : ages) {
            QFile file(logs.filePath(QString::fromLatin1(age.first)));
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("line\r\n") && file.flush());
            QVERIFY(
                file.setFileTime(QDateTime::currentDateTime().addSecs(-age.second), QFileDevice::FileModificationTime));
        }
        QGuiApplication::clipboard()->clear();
        GuiTest::ModalDriver withLogs(copyLog);
        QTest::mouseClick(child<QPushButton>(w.row(0), "btnError"), Qt::LeftButton);
        QCOMPARE(withLogs.seen(), 1);
        const QMimeData *data = QGuiApplication::clipboard()->mimeData();
        QVERIFY(data && data->hasUrls());
        QCOMPARE(data->urls(),
                 QList<QUrl>{QUrl::fromLocalFile(logs.absoluteFilePath(QStringLiteral("2024-01-01.log")))});
    }

    void analyses_moreFilesThanPlaces_takeTurnsInOrder()
    {
        // One place, and a file check that takes a while: the others wait, saying so, and
        // each check reaches the server only after the one before it was answered.
        constexpr int StallMs = 600;
        ActionQueue &queue = ActionQueue::analyses();
        const int limit = queue.limit();
        const auto restore = qScopeGuard([&] { queue.setLimit(limit); });
        queue.setLimit(1);
        QVERIFY(w.server.configure({{QStringLiteral("stall"), QJsonObject{{QStringLiteral("check"), StallMs}}}}));
        QVERIFY(w.openLoaded(-1));
        const QStringList files = w.videos(names("turn1.mp4 turn2.mp4 turn3.mp4"));
        w.window->onAddFilesMsg(files);

        QTRY_COMPARE(w.list()->count(), 3);
        QCOMPARE(child<QLabel>(w.row(2), "lblProgress")->toolTip(), ItemTaskWidget::WaitingForAnalysisText);
        for (int i = 0; i < 3; ++i)
            GUITEST_ROW_REACHES(w, i, Status::Waiting, 20000);
        const QJsonArray checks = w.server.requestsTo(QStringLiteral("/api/check"));
        QCOMPARE(checks.size(), 3);
        for (int i = 1; i < 3; ++i) {
            const qint64 apart = qint64(checks.at(i)[QStringLiteral("time")].toDouble()
                                        - checks.at(i - 1)[QStringLiteral("time")].toDouble());
            QVERIFY2(apart >= StallMs - 50, qPrintable(QString::number(apart)));
            QCOMPARE(checks.at(i)[QStringLiteral("form")][QStringLiteral("name")].toString(),
                     QFileInfo(files.at(i)).fileName());
        }
    }

    void upload_elevenRejectedChunks_failsThenUploadsAgainOnClick()
    {
        QVERIFY(w.server.configure({{QStringLiteral("rejectChunks"), 11}}));
        QVERIFY(w.openLoaded());
        w.window->onAddFilesMsg(w.videos(names("rejected.mp4")));

        GUITEST_ROW_REACHES(w, 0, Status::Failed);
        // The failed task's update shows the row failed a moment before the run's own outcome
        // brings the message and the buttons.
        QTRY_COMPARE(errorOf(w.row(0)), QStringLiteral("多次上传重试失败((503)(分片暂不可用))"));
        QTRY_VERIFY(!w.button(0, "btnUpload")->isHidden());
        QVERIFY(w.button(0, "btnDelete")->isEnabled());
        // A failed row waits for the user; the user's click runs it again.
        QTest::mouseClick(w.button(0, "btnUpload"), Qt::LeftButton);
        GUITEST_ROW_REACHES(w, 0, Status::Completed);
    }

    void delete_onlyRow_returnsToAddPageWithoutHanging_data()
    {
        QTest::addColumn<QString>("held");
        QTest::addColumn<int>("shown");
        QTest::newRow("uploading") << QStringLiteral("upload") << int(Status::Uploading);
        QTest::newRow("analysing, in the file check") << QStringLiteral("check") << int(Status::Analysing);
    }

    void delete_onlyRow_returnsToAddPageWithoutHanging()
    {
        QFETCH(QString, held);
        QFETCH(int, shown);
        const auto status = Status(shown);
        // Held at the server, so the row is still at work when it is deleted.
        QVERIFY(w.server.configure({{QStringLiteral("stall"), QJsonObject{{held, 3000}}}}));
        QVERIFY(w.openLoaded());
        w.window->onAddFilesMsg(w.videos(names("deleted.mp4")));
        // Analysing: the probe is done and the check is on its way.
        GUITEST_ROW_REACHES(w, 0, status, 20000, [](const ItemTaskWidget &row) {
            return row.status() != Status::Analysing
                   || child<QLabel>(&row, "lblProgress")->toolTip() == QStringLiteral("正在分析任务...");
        });
        const QPointer<ItemTaskWidget> deleted = w.row(0);
        const QString pipelineId = deleted->uploadManager()->id();

        QTest::mouseClick(w.button(0, "btnDelete"), Qt::LeftButton);
        QVERIFY(w.list()->item(0)->isHidden());
        QTRY_COMPARE_WITH_TIMEOUT(w.current(), w.page("frmAdd"), 20000);
        QTRY_VERIFY(deleted.isNull());
        QCOMPARE(w.list()->count(), 0);
        const auto pipelines = w.window->manager()->uploadManagers();
        QVERIFY(!pipelines || pipelines->isEmpty());
        QCOMPARE(child<QLabel>(w.page("frmList"), "lblCurrentCount")->text(), QStringLiteral("0"));
        QCOMPARE(w.server.journalValues("removals", "fileId"), QStringList{pipelineId});

        // The window goes on working: another file is analysed and uploaded.
        QVERIFY(w.server.configure({{QStringLiteral("stall"), QJsonValue::Null}}));
        w.window->onAddFilesMsg(w.videos(names("after.mp4")));
        GUITEST_ROW_REACHES(w, 0, Status::Completed);
    }

    void serverRemoval_removesMatchingRowOnly()
    {
        // The first row's upload is held, so the second one waits.
        QVERIFY(w.server.configure({{QStringLiteral("stall"), QJsonObject{{QStringLiteral("upload"), 5000}}}}));
        QVERIFY(w.openLoaded());
        w.window->onAddFilesMsg(w.videos(names("keep.mp4 remove.mp4")));
        GUITEST_ROW_REACHES(w, 1, Status::Waiting);
        const QPointer<ItemTaskWidget> removed = w.row(1);
        const QPointer<ItemTaskWidget> kept = w.row(0);

        QVERIFY(w.server.markRemoved(removed->uploadManager()->id()));
        QTRY_VERIFY_WITH_TIMEOUT(removed.isNull(), 20000);
        QCOMPARE(w.list()->count(), 1);
        QCOMPARE(w.row(0), kept.data());
        QCOMPARE(w.window->manager()->uploadManagers()->size(), 1);
    }
};

QTEST_MAIN(TestRowsFailures)
#include "tst_rowsfailures.moc"
