// SPDX-License-Identifier: MIT
// Task rows that fail, are deleted or are removed by the server, the copy-log action, and
// the row's size text; against a real nuv-devserver and the real ffmpeg.
#include "core/pipeline/uploadmanager.h"
#include "core/session/manager.h"
#include "devserver.h"
#include "gui/pages/frmapp.h"
#include "gui/pages/itemtaskwidget.h"
#include "guitest.h"
#include "testvideos.h"

#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using GuiTest::ModalDriver;

namespace {

constexpr int FlowTimeoutMs = 20000;

QString errorOf(const ItemTaskWidget *row)
{
    return row->findChild<QLabel *>(QStringLiteral("lblError"))->toolTip();
}

} // namespace

class TestRowsFailures final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void sizeText_bytes_leadingDigitsOfRemainder_data();
    void sizeText_bytes_leadingDigitsOfRemainder();

    void analysis_probeRejectsFile_failsWithoutUploadButton();
    void analysis_serverRefusesCheck_showsCodeAndMessage();
    void upload_elevenRejectedChunks_failsThenUploadsAgainOnClick();
    void delete_onlyRow_returnsToAddPageAfterPipelineLeft();
    void delete_rowWhileAnalysing_goesWithoutHangingTheWindow();
    void serverRemoval_removesMatchingRowOnly();
    void copyLog_newestLogFileOrMessage();

private:
    bool openLoaded();
    QListWidget *listTask() const;
    ItemTaskWidget *row(int index) const;
    QPushButton *button(ItemTaskWidget *row, const char *name) const;
    QWidget *currentPage() const;
    QString video(const QString &name);

    QTemporaryDir m_data;
    QTemporaryDir m_files;
    DevServer m_server;
    ClientOptions m_options;
    std::unique_ptr<FrmApp> m_window;
};

void TestRowsFailures::initTestCase()
{
    QVERIFY(m_data.isValid());
    QVERIFY(m_files.isValid());
    QVERIFY(GuiTest::applyStyleSheet());
    m_options.dataFolder = m_data.path();
    m_options.stallTimeoutMs = 15000;
    // Eleven attempts need not take twenty seconds here.
    m_options.retryPauseMs = 50;
    // The report timer polls the server's removals; no need to wait eight seconds for it.
    m_options.refreshIntervalMs = 200;
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
}

void TestRowsFailures::init()
{
    QVERIFY(m_server.configure(QJsonObject{{QStringLiteral("stall"), QJsonValue::Null},
                                           {QStringLiteral("fail"), QJsonValue::Null},
                                           {QStringLiteral("rejectChunks"), 0}}));
    QVERIFY(m_server.resetJournal());
}

void TestRowsFailures::cleanup()
{
    m_window.reset();
}

bool TestRowsFailures::openLoaded()
{
    m_window = std::make_unique<FrmApp>(nullptr, m_server.launchCommand(), nullptr);
    m_window->manager()->setOptions(m_options);
    m_window->show();
    const QWidget *frmAdd = m_window->findChild<QWidget *>(QStringLiteral("frmAdd"));
    return QTest::qWaitFor([&] { return currentPage() == frmAdd; }, FlowTimeoutMs);
}

QListWidget *TestRowsFailures::listTask() const
{
    return m_window->findChild<QListWidget *>(QStringLiteral("listTask"));
}

ItemTaskWidget *TestRowsFailures::row(int index) const
{
    return qobject_cast<ItemTaskWidget *>(listTask()->itemWidget(listTask()->item(index)));
}

QPushButton *TestRowsFailures::button(ItemTaskWidget *row, const char *name) const
{
    return row->findChild<QPushButton *>(QString::fromLatin1(name));
}

QWidget *TestRowsFailures::currentPage() const
{
    return m_window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"))->currentWidget();
}

QString TestRowsFailures::video(const QString &name)
{
    const QString path = m_files.filePath(name);
    return QFile::exists(path) || TestVideos::make(path) ? path : QString();
}

void TestRowsFailures::sizeText_bytes_leadingDigitsOfRemainder_data()
{
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("megabytes") << qint64(385000000) << QStringLiteral("367.16MB");
    QTest::newRow("kilobytes with rest") << qint64(1536) << QStringLiteral("1.51KB");
    QTest::newRow("one kilobyte") << qint64(1024) << QStringLiteral("1KB");
    QTest::newRow("bytes") << qint64(500) << QStringLiteral("500B");
    QTest::newRow("zero") << qint64(0) << QStringLiteral("0B");
    QTest::newRow("over 4 GiB") << qint64(5368709120) << QStringLiteral("5GB");
}

void TestRowsFailures::sizeText_bytes_leadingDigitsOfRemainder()
{
    QFETCH(qint64, bytes);
    QFETCH(QString, text);
    QCOMPARE(ItemTaskWidget::sizeText(bytes), text);
}

void TestRowsFailures::analysis_probeRejectsFile_failsWithoutUploadButton()
{
    const QString path = m_files.filePath(QStringLiteral("broken.mp4"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("this is no video");
    file.close();
    QVERIFY(openLoaded());
    m_window->onAddFilesMsg({path});

    QTRY_COMPARE_WITH_TIMEOUT(row(0)->status(), ItemTaskWidgetStatus::Failed, FlowTimeoutMs);
    QVERIFY(errorOf(row(0)).startsWith(QStringLiteral("获取上传文件信息失败,请确认文件为有效视频(")));
    QVERIFY(row(0)->findChild<QWidget *>(QStringLiteral("wdgError"))->isVisible());
    QVERIFY(button(row(0), "btnUpload")->isHidden());
    QVERIFY(button(row(0), "btnDelete")->isVisible());
    QVERIFY(button(row(0), "btnDelete")->isEnabled());
    // The server never heard of it.
    QVERIFY(m_server.registeredNames().isEmpty());
    QVERIFY(m_server.requestsTo(QStringLiteral("/api/check")).isEmpty());
}

void TestRowsFailures::analysis_serverRefusesCheck_showsCodeAndMessage()
{
    QVERIFY(m_server.configure(QJsonObject{{QStringLiteral("fail"), QJsonObject{{QStringLiteral("check"), 200}}}}));
    const QString path = video(QStringLiteral("checked.mp4"));
    QVERIFY(!path.isEmpty());
    QVERIFY(openLoaded());
    m_window->onAddFilesMsg({path});

    QTRY_COMPARE_WITH_TIMEOUT(row(0)->status(), ItemTaskWidgetStatus::Failed, FlowTimeoutMs);
    QCOMPARE(errorOf(row(0)), QStringLiteral("视频检测失败:(200)(OK)"));
    QVERIFY(button(row(0), "btnUpload")->isHidden());
}

void TestRowsFailures::upload_elevenRejectedChunks_failsThenUploadsAgainOnClick()
{
    QVERIFY(m_server.configure(QJsonObject{{QStringLiteral("rejectChunks"), 11}}));
    const QString path = video(QStringLiteral("rejected.mp4"));
    QVERIFY(!path.isEmpty());
    QVERIFY(openLoaded());
    m_window->onAddFilesMsg({path});

    QTRY_COMPARE_WITH_TIMEOUT(row(0)->status(), ItemTaskWidgetStatus::Failed, FlowTimeoutMs);
    // The failed task's update shows the row failed a moment before the run's own outcome
    // brings the message and the buttons.
    QTRY_COMPARE_WITH_TIMEOUT(errorOf(row(0)), QStringLiteral("多次上传重试失败((503)(分片暂不可用))"), FlowTimeoutMs);
    QTRY_VERIFY(!button(row(0), "btnUpload")->isHidden());
    QVERIFY(button(row(0), "btnDelete")->isEnabled());
    // A failed row waits for the user; the user's click runs it again.
    QTest::mouseClick(button(row(0), "btnUpload"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(row(0)->status(), ItemTaskWidgetStatus::Completed, FlowTimeoutMs);
}

void TestRowsFailures::delete_onlyRow_returnsToAddPageAfterPipelineLeft()
{
    const QString path = video(QStringLiteral("deleted.mp4"));
    QVERIFY(!path.isEmpty());
    // Uploads are held a moment, so the row is still working when it is deleted.
    QVERIFY(m_server.configure(QJsonObject{{QStringLiteral("stall"), QJsonObject{{QStringLiteral("upload"), 1500}}}}));
    QVERIFY(openLoaded());
    FrmApp *window = m_window.get();
    window->onAddFilesMsg({path});
    QTRY_COMPARE_WITH_TIMEOUT(row(0)->status(), ItemTaskWidgetStatus::Uploading, FlowTimeoutMs);
    const QString pipelineId = row(0)->uploadManager()->id();

    QTest::mouseClick(button(row(0), "btnDelete"), Qt::LeftButton);
    QVERIFY(listTask()->item(0)->isHidden());
    QTRY_COMPARE_WITH_TIMEOUT(currentPage(), window->findChild<QWidget *>(QStringLiteral("frmAdd")), FlowTimeoutMs);
    const auto pipelines = window->manager()->uploadManagers();
    QVERIFY(!pipelines || pipelines->isEmpty());
    QCOMPARE(listTask()->count(), 0);
    QCOMPARE(window->findChild<QWidget *>(QStringLiteral("frmList"))
                 ->findChild<QLabel *>(QStringLiteral("lblCurrentCount"))
                 ->text(),
             QStringLiteral("0"));
    const QJsonArray removals = m_server.journalList("removals");
    QCOMPARE(removals.size(), 1);
    QCOMPARE(removals.first().toObject().value(QStringLiteral("fileId")).toString(), pipelineId);
}

void TestRowsFailures::delete_rowWhileAnalysing_goesWithoutHangingTheWindow()
{
    const QString path = video(QStringLiteral("analysing.mp4"));
    QVERIFY(!path.isEmpty());
    // The file check is held at the server: the row's analysis is in the middle of it.
    QVERIFY(m_server.configure(QJsonObject{{QStringLiteral("stall"), QJsonObject{{QStringLiteral("check"), 3000}}}}));
    QVERIFY(openLoaded());
    FrmApp *window = m_window.get();
    window->onAddFilesMsg({path});
    // The probe is done and the check is on its way.
    QTRY_COMPARE_WITH_TIMEOUT(row(0)->findChild<QLabel *>(QStringLiteral("lblProgress"))->toolTip(),
                              QStringLiteral("正在分析任务..."), FlowTimeoutMs);
    QPointer<ItemTaskWidget> analysing = row(0);
    QCOMPARE(analysing->status(), ItemTaskWidgetStatus::Analysing);

    QTest::mouseClick(button(analysing, "btnDelete"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(currentPage(), window->findChild<QWidget *>(QStringLiteral("frmAdd")), FlowTimeoutMs);
    QTRY_VERIFY_WITH_TIMEOUT(analysing.isNull(), FlowTimeoutMs);

    // The window goes on working: another file is analysed and uploaded.
    QVERIFY(m_server.configure(QJsonObject{{QStringLiteral("stall"), QJsonValue::Null}}));
    window->onAddFilesMsg({video(QStringLiteral("after.mp4"))});
    QTRY_COMPARE_WITH_TIMEOUT(row(0)->status(), ItemTaskWidgetStatus::Completed, FlowTimeoutMs);
}

void TestRowsFailures::serverRemoval_removesMatchingRowOnly()
{
    // The first row's upload is held, so the second one waits.
    QVERIFY(m_server.configure(QJsonObject{{QStringLiteral("stall"), QJsonObject{{QStringLiteral("upload"), 5000}}}}));
    QVERIFY(openLoaded());
    FrmApp *window = m_window.get();
    window->onAddFilesMsg({video(QStringLiteral("keep.mp4")), video(QStringLiteral("remove.mp4"))});
    QTRY_COMPARE_WITH_TIMEOUT(row(1)->status(), ItemTaskWidgetStatus::Waiting, FlowTimeoutMs);
    QPointer<ItemTaskWidget> removed = row(1);
    QPointer<ItemTaskWidget> kept = row(0);

    QVERIFY(m_server.markRemoved(removed->uploadManager()->id()));
    QTRY_VERIFY_WITH_TIMEOUT(removed.isNull(), FlowTimeoutMs);
    QCOMPARE(listTask()->count(), 1);
    QCOMPARE(row(0), kept.data());
    QCOMPARE(window->manager()->uploadManagers()->size(), 1);
}

void TestRowsFailures::copyLog_newestLogFileOrMessage()
{
    const QString path = m_files.filePath(QStringLiteral("nolog.mp4"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(openLoaded());
    m_window->onAddFilesMsg({path});
    QTRY_COMPARE_WITH_TIMEOUT(row(0)->status(), ItemTaskWidgetStatus::Failed, FlowTimeoutMs);
    QPushButton *viewError = row(0)->findChild<QPushButton *>(QStringLiteral("btnError"));
    QTRY_VERIFY(viewError->isVisible());

    // No log yet: the copy is refused with a message.
    QDir logs(m_options.logsFolder());
    QVERIFY(logs.removeRecursively());
    QStringList seen;
    const auto copyLog = GuiTest::answer(QStringLiteral("btn1"), &seen);
    {
        ModalDriver steps({copyLog, GuiTest::answer(QStringLiteral("btnOk"), &seen)});
        QTest::mouseClick(viewError, Qt::LeftButton);
        QCOMPARE(steps.seen(), 2);
    }
    QCOMPARE(seen, (QStringList{errorOf(row(0)), QStringLiteral("日志文件不存在，复制失败")}));

    // With logs: the newest one is put on the clipboard as a file.
    QVERIFY(QDir().mkpath(logs.path()));
    for (const char *name : {"2024-01-01.log", "2024-01-02.log", "notes.txt"}) {
        QFile log(logs.filePath(QString::fromLatin1(name)));
        QVERIFY(log.open(QIODevice::WriteOnly));
        log.write("line\r\n");
    }
    const QDateTime now = QDateTime::currentDateTime();
    QFile older(logs.filePath(QStringLiteral("2024-01-02.log")));
    QVERIFY(older.open(QIODevice::ReadWrite));
    QVERIFY(older.setFileTime(now.addSecs(-3600), QFileDevice::FileModificationTime));
    QFile newest(logs.filePath(QStringLiteral("2024-01-01.log")));
    QVERIFY(newest.open(QIODevice::ReadWrite));
    QVERIFY(newest.setFileTime(now.addSecs(-60), QFileDevice::FileModificationTime));
    QFile text(logs.filePath(QStringLiteral("notes.txt")));
    QVERIFY(text.open(QIODevice::ReadWrite));
    QVERIFY(text.setFileTime(now, QFileDevice::FileModificationTime));
    QGuiApplication::clipboard()->clear();
    {
        ModalDriver steps(copyLog);
        QTest::mouseClick(viewError, Qt::LeftButton);
        QCOMPARE(steps.seen(), 1);
    }
    QCOMPARE(seen.size(), 3);
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    QVERIFY(data && data->hasUrls());
    QCOMPARE(data->urls(), QList<QUrl>{QUrl::fromLocalFile(logs.absoluteFilePath(QStringLiteral("2024-01-01.log")))});
}

QTEST_MAIN(TestRowsFailures)
#include "tst_rowsfailures.moc"
