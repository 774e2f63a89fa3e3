// SPDX-License-Identifier: MIT
// The window's page flow in this process against a real nuv-devserver: launch command,
// loading, version prompt, the single-instance records of the application object.
#include "app/myapplication.h"
#include "core/session/schema.h"
#include "gui/pages/frmenterkey.h"
#include "gui/toolkit/actionbehavior.h"
#include "guitest.h"

using GuiTest::child;

class TestPagesFlow final : public QObject
{
    Q_OBJECT
    GuiTest::Window w;
    MyApplication *app = MyApplication::instance();

private slots:
    void initTestCase() { QVERIFY2(w.setUp(), qPrintable(w.server.errorString())); }
    void init()
    {
        QVERIFY(w.reset({{QStringLiteral("settingsNoData"), false},
                         {QStringLiteral("clientVersion"), QString()},
                         {QStringLiteral("clientDownload"), QString()},
                         {QStringLiteral("refreshSecond"), 8}}));
        QGuiApplication::clipboard()->clear();
    }
    void cleanup()
    {
        w.window.reset();
        app->clearRunning();
        app->clearFree();
    }

    void launchText_valid_reachesFilePageWithoutClickAndClosesWithoutQuestion()
    {
        QVERIFY(w.server.configure({{QStringLiteral("refreshSecond"), 9}}));
        FrmApp *window = w.open(w.server.launchCommand(), app);
        QCOMPARE(w.current(), w.page("frmEnterKey"));
        // Opening the window made this process the idle instance.
        QCOMPARE(app->getFreePid(), QCoreApplication::applicationPid());
        QSignalSpy progress(child<QProgressBar>(w.page("frmLoading"), "prgLoading"), &QProgressBar::valueChanged);
        window->show();
        QTRY_COMPARE_WITH_TIMEOUT(w.current(), w.page("frmAdd"), 20000);

        QCOMPARE(progress.count(), 3);
        QCOMPARE(progress.last().first().toInt(), 65);
        QCOMPARE(child<QLabel>(w.page("frmLoading"), "lblMessage")->text(), QStringLiteral("加载中：65%"));
        QVERIFY(!window->manager()->token().isEmpty());
        QCOMPARE(w.server.journalValues("tokens", "token"), QStringList{window->manager()->token()});
        const QList<QTimer *> timers = window->findChildren<QTimer *>(QStringLiteral("refreshTimer"));
        QVERIFY(timers.size() == 1 && timers.first()->isActive() && timers.first()->interval() == 9000);
        // The session is registered under its uuid and the idle record was given up.
        QCOMPARE(app->getRunningPid(w.server.uuid()), QCoreApplication::applicationPid());
        QCOMPARE(app->getFreePid(), qint64(-1));
        // The empty file page shows the command's names.
        QCOMPARE(child<QLabel>(w.page("frmAdd"), "lblTip")->toolTip(), QStringLiteral("视频 - 演示"));
        QCOMPARE(child<QLabel>(window, "lblVersion")->text(), QStringLiteral(" v:1.0.0.19"));

        // Without files, closing asks nothing and does not end the process.
        int exits = 0;
        window->setExitFunction([&exits](int) { ++exits; });
        QStringList texts;
        GuiTest::ModalDriver driver(GuiTest::answer(QStringLiteral("btnCancel"), &texts));
        QVERIFY(window->close());
        QVERIFY(!window->isVisible());
        QCOMPARE(driver.seen(), 0);
        QCOMPARE(exits, 0);
        QVERIFY(!ActionBehavior::appClosing);
    }

    void loading_expiredCommand_returnsToCommandPageWithTextKept()
    {
        QVERIFY(w.server.configure({{QStringLiteral("settingsNoData"), true}}));
        FrmApp *window = w.open(w.server.launchCommand(), app);
        QStringList titles, texts;
        GuiTest::ModalDriver driver(GuiTest::answer(QStringLiteral("btnOk"), &texts, &titles));
        window->show();

        QTRY_COMPARE_WITH_TIMEOUT(driver.seen(), 1, 20000);
        QCOMPARE(titles, QStringList{QStringLiteral("提示")});
        QCOMPARE(texts, QStringList{QStringLiteral("当前启动参数可能已过期，请重新获取后尝试。")});
        QTRY_COMPARE(w.current(), w.page("frmEnterKey"));
        QCOMPARE(child<QPlainTextEdit>(w.page("frmEnterKey"), "txtKey")->toPlainText(), w.server.launchCommand());
        // Back to waiting: no session record, idle again, and no token was asked for.
        QCOMPARE(app->getRunningPid(w.server.uuid()), qint64(-1));
        QCOMPARE(app->getFreePid(), QCoreApplication::applicationPid());
        QVERIFY(w.server.journalList("tokens").isEmpty());
        QVERIFY(window->manager()->token().isEmpty());
    }

    void commandPage_waysIn_confirmOnlyACommand_data()
    {
        QTest::addColumn<QString>("way");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        for (const char *way : {"enter", "paste", "clipboard on activation"})
            QTest::newRow(way) << QString::fromLatin1(way) << w.server.launchCommand() << true;
        QTest::newRow("clipboard on activation, not a command")
            << QStringLiteral("clipboard on activation") << QStringLiteral("课程资料 https://example.test/") << false;
        QTest::newRow("button, no uuid") << QStringLiteral(
            "button") << QString(w.server.launchCommand()).remove(QRegularExpression(QStringLiteral("uuid=[^&]*&?")))
                                         << false;
    }

    void commandPage_waysIn_confirmOnlyACommand()
    {
        QFETCH(QString, way);
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QClipboard *clipboard = QGuiApplication::clipboard();
        FrmApp *window = w.open(QString(), app);
        auto *box = child<QPlainTextEdit>(w.page("frmEnterKey"), "txtKey");
        auto *confirm = child<QPushButton>(w.page("frmEnterKey"), "btnConfirm");
        QSignalSpy confirmed(static_cast<FrmEnterKey *>(w.page("frmEnterKey")), &FrmEnterKey::keyConfirmMsg);
        QStringList titles, texts;
        GuiTest::ModalDriver driver(GuiTest::answer(QStringLiteral("btnOk"), &texts, &titles));
        window->show();
        QVERIFY(QTest::qWaitForWindowActive(window));

        if (way == QLatin1String("clipboard on activation")) {
            QCOMPARE(confirmed.count(), 0);
            clipboard->setText(text);
            // Another program had the focus; coming back to the window activates it.
            QApplication::setActiveWindow(nullptr);
            QApplication::setActiveWindow(window);
        } else if (way == QLatin1String("paste")) {
            clipboard->setText(text);
            QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
        } else {
            QVERIFY(!confirm->isEnabled());
            // Typing alone confirms nothing; the keys reach the box.
            QTest::keyClicks(box, QStringLiteral("nuv"));
            QCOMPARE(confirmed.count(), 0);
            QCOMPARE(box->toPlainText(), QStringLiteral("nuv"));
            box->setPlainText(text);
            QVERIFY(confirm->isEnabled());
            box->moveCursor(QTextCursor::End);
            if (way == QLatin1String("enter"))
                QTest::keyClick(box, Qt::Key_Return);
            else
                QTest::mouseClick(confirm, Qt::LeftButton);
        }
        QCOMPARE(confirmed.count(), valid ? 1 : 0);
        if (!valid) {
            QCOMPARE(w.current(), w.page("frmEnterKey"));
            if (way == QLatin1String("button")) {
                QCOMPARE(titles, QStringList{QStringLiteral("提示")});
                QCOMPARE(texts, QStringList{QStringLiteral("启动指令无效,uuid格式有误")});
            } else {
                QCOMPARE(clipboard->text(), text);
            }
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(w.current(), w.page("frmAdd"), 20000);
        QCOMPARE(window->manager()->schema()->uuid(), w.server.uuid());
        QCOMPARE(texts, QStringList());
        // A command from the clipboard is taken once and leaves the box alone; Enter confirms
        // rather than breaking the line.
        const bool fromClipboard = way.startsWith(QLatin1String("clipboard"));
        QVERIFY(!fromClipboard || clipboard->text().isEmpty());
        QCOMPARE(box->toPlainText(), fromClipboard ? QString() : text);
    }

    void versionPrompt_announcedRelease_promptsOnlyForAnotherWebRelease_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("download");
        QTest::addColumn<bool>("prompted");
        const QString web = QStringLiteral("https://downloads.example.test/NUVUpload.deb");
        QTest::newRow("newer") << QStringLiteral("1.0.0.20") << web << true;
        QTest::newRow("older") << QStringLiteral("1.0.0.9") << web << true;
        QTest::newRow("same") << QStringLiteral("1.0.0.19") << web << false;
        QTest::newRow("no download address") << QStringLiteral("1.0.0.20") << QString() << false;
        QTest::newRow("no version") << QString() << web << false;
        QTest::newRow("local file") << QStringLiteral("1.0.0.20") << QStringLiteral("file:///bin/sh") << false;
    }

    void versionPrompt_announcedRelease_promptsOnlyForAnotherWebRelease()
    {
        QFETCH(QString, version);
        QFETCH(QString, download);
        QFETCH(bool, prompted);
        QVERIFY(w.server.configure(
            {{QStringLiteral("clientVersion"), version}, {QStringLiteral("clientDownload"), download}}));
        FrmApp *window = w.open(w.server.launchCommand(), app);
        int exits = 0;
        window->setExitFunction([&exits](int) { ++exits; });
        QStringList titles, texts;
        GuiTest::ModalDriver driver(GuiTest::answer(QStringLiteral("btnNo"), &texts, &titles));
        window->show();

        // Declining goes on loading: the token is fetched and the file page follows.
        QTRY_COMPARE_WITH_TIMEOUT(w.current(), w.page("frmAdd"), 20000);
        const QString prompt = QStringLiteral("发现有新版本(%1)，是否进行下载安装！").arg(version);
        QCOMPARE(texts, prompted ? QStringList{prompt} : QStringList());
        QCOMPARE(titles, prompted ? QStringList{QStringLiteral("版本提示")} : QStringList());
        QCOMPARE(exits, 0);
        QVERIFY(!window->manager()->token().isEmpty());
    }
};

int main(int argc, char *argv[])
{
    // The single-instance records and activation sockets live under the temp folder: a
    // folder of our own keeps this test away from real instances and parallel tests.
    QTemporaryDir instances(QDir::tempPath() + QStringLiteral("/tst_pagesflow-XXXXXX"));
    qputenv("TMPDIR", instances.path().toUtf8());
    MyApplication app(argc, argv);
    MyApplication::setApplicationVersion(QStringLiteral("1.0.0.19"));
    // Closing a test's window must not end the run.
    MyApplication::setQuitOnLastWindowClosed(false);
    TestPagesFlow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_pagesflow.moc"
