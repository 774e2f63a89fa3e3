// SPDX-License-Identifier: MIT
// The window's page flow in this process against a real nuv-devserver: launch command,
// loading, version prompt, the single-instance records of the application object.
#include "app/myapplication.h"
#include "core/session/manager.h"
#include "core/session/schema.h"
#include "devserver.h"
#include "gui/pages/frmadd.h"
#include "gui/pages/frmapp.h"
#include "gui/pages/frmenterkey.h"
#include "gui/pages/frmloading.h"
#include "gui/toolkit/actionbehavior.h"
#include "guitest.h"

#include <QClipboard>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using GuiTest::ModalDriver;

namespace {

constexpr int FlowTimeoutMs = 20000;

// A launch command of the server that lacks the uuid.
QString commandWithoutUuid(const DevServer &server)
{
    return QStringLiteral("nuvVideoClient://") + server.url(QStringLiteral("/platform/settings"))
           + QStringLiteral("?code=devcode&type=1&moduleId=7&maxUploadNum=8");
}

} // namespace

class TestPagesFlow final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void launchText_valid_reachesFilePageWithoutClick();
    void loading_expiredCommand_returnsToCommandPageWithTextKept();
    void confirmButton_badCommand_showsUuidMessage();
    void commandBox_enterOrPaste_confirms_data();
    void commandBox_enterOrPaste_confirms();
    void clipboard_validCommand_confirmsAndEmptiesClipboard_data();
    void clipboard_validCommand_confirmsAndEmptiesClipboard();
    void versionPrompt_announcedRelease_promptsOnlyForAnotherWebRelease_data();
    void versionPrompt_announcedRelease_promptsOnlyForAnotherWebRelease();
    void close_noFiles_closesWithoutQuestion();

private:
    FrmApp *openWindow(const QString &launchText);
    QWidget *page(const char *name) const;
    QWidget *currentPage() const;

    QTemporaryDir m_data;
    DevServer m_server;
    ClientOptions m_options;
    std::unique_ptr<FrmApp> m_window;
};

void TestPagesFlow::initTestCase()
{
    QVERIFY(m_data.isValid());
    QVERIFY(GuiTest::applyStyleSheet());
    m_options.dataFolder = m_data.path();
    // A loopback server answers at once; a stalled one should fail the test quickly.
    m_options.stallTimeoutMs = 10000;
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
}

void TestPagesFlow::init()
{
    QVERIFY(m_server.configure(QJsonObject{{QStringLiteral("settingsNoData"), false},
                                           {QStringLiteral("clientVersion"), QString()},
                                           {QStringLiteral("clientDownload"), QString()},
                                           {QStringLiteral("refreshSecond"), 8}}));
    QVERIFY(m_server.resetJournal());
    QGuiApplication::clipboard()->clear();
}

void TestPagesFlow::cleanup()
{
    m_window.reset();
    MyApplication::instance()->clearRunning();
    MyApplication::instance()->clearFree();
}

FrmApp *TestPagesFlow::openWindow(const QString &launchText)
{
    m_window = std::make_unique<FrmApp>(nullptr, launchText, MyApplication::instance());
    m_window->manager()->setOptions(m_options);
    return m_window.get();
}

QWidget *TestPagesFlow::page(const char *name) const
{
    return m_window->findChild<QWidget *>(QString::fromLatin1(name));
}

QWidget *TestPagesFlow::currentPage() const
{
    return m_window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"))->currentWidget();
}

void TestPagesFlow::launchText_valid_reachesFilePageWithoutClick()
{
    QVERIFY(m_server.configure(QJsonObject{{QStringLiteral("refreshSecond"), 9}}));
    MyApplication *app = MyApplication::instance();
    FrmApp *window = openWindow(m_server.launchCommand());
    QCOMPARE(currentPage(), page("frmEnterKey"));
    // Opening the window made this process the idle instance.
    QCOMPARE(app->getFreePid(), QCoreApplication::applicationPid());

    QSignalSpy progress(page("frmLoading")->findChild<QProgressBar *>(QStringLiteral("prgLoading")),
                        &QProgressBar::valueChanged);
    window->show();
    QTRY_COMPARE_WITH_TIMEOUT(currentPage(), page("frmAdd"), FlowTimeoutMs);

    QList<int> values;
    for (const QList<QVariant> &change : qAsConst(progress))
        values << change.first().toInt();
    QCOMPARE(values, (QList<int>{1, 12, 65}));
    QCOMPARE(page("frmLoading")->findChild<QLabel *>(QStringLiteral("lblMessage"))->text(),
             QStringLiteral("加载中：65%"));

    QVERIFY(!window->manager()->token().isEmpty());
    QCOMPARE(window->manager()->token(), m_server.journalValues("tokens", "token").value(0));
    const QList<QTimer *> timers = window->findChildren<QTimer *>(QStringLiteral("refreshTimer"));
    QCOMPARE(timers.size(), 1);
    QVERIFY(timers.first()->isActive());
    QCOMPARE(timers.first()->interval(), 9000);

    // The session is registered under its uuid and the idle record was given up.
    QCOMPARE(app->getRunningPid(m_server.uuid()), QCoreApplication::applicationPid());
    QCOMPARE(app->getFreePid(), qint64(-1));

    // The empty file page shows the command's limit and names.
    QCOMPARE(page("frmAdd")->findChild<QLabel *>(QStringLiteral("lblMaxCount"))->text(), QStringLiteral("8"));
    QCOMPARE(page("frmAdd")->findChild<QLabel *>(QStringLiteral("lblTip"))->toolTip(), QStringLiteral("视频 - 演示"));
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("lblVersion"))->text(), QStringLiteral(" v:1.0.0.19"));
}

void TestPagesFlow::loading_expiredCommand_returnsToCommandPageWithTextKept()
{
    QVERIFY(m_server.configure(QJsonObject{{QStringLiteral("settingsNoData"), true}}));
    MyApplication *app = MyApplication::instance();
    FrmApp *window = openWindow(m_server.launchCommand());
    QSignalSpy errors(static_cast<FrmLoading *>(page("frmLoading")), &FrmLoading::validatedErrorMsg);
    QStringList titles;
    QStringList texts;
    ModalDriver driver(GuiTest::answer(QStringLiteral("btnOk"), &texts, &titles));
    window->show();

    QTRY_COMPARE_WITH_TIMEOUT(driver.seen(), 1, FlowTimeoutMs);
    QCOMPARE(titles.value(0), QStringLiteral("提示"));
    QCOMPARE(texts.value(0), QStringLiteral("当前启动参数可能已过期，请重新获取后尝试。"));
    QTRY_COMPARE(currentPage(), page("frmEnterKey"));
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().first().toString(), texts.value(0));
    QCOMPARE(page("frmEnterKey")->findChild<QPlainTextEdit *>(QStringLiteral("txtKey"))->toPlainText(),
             m_server.launchCommand());
    // Back to waiting: no session record, idle again, and no token was asked for.
    QCOMPARE(app->getRunningPid(m_server.uuid()), qint64(-1));
    QCOMPARE(app->getFreePid(), QCoreApplication::applicationPid());
    QVERIFY(m_server.journalList("tokens").isEmpty());
    QVERIFY(window->manager()->token().isEmpty());
}

void TestPagesFlow::confirmButton_badCommand_showsUuidMessage()
{
    FrmApp *window = openWindow(QString());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto *box = page("frmEnterKey")->findChild<QPlainTextEdit *>(QStringLiteral("txtKey"));
    auto *confirm = page("frmEnterKey")->findChild<QPushButton *>(QStringLiteral("btnConfirm"));
    QVERIFY(box->toPlainText().isEmpty());
    QVERIFY(!confirm->isEnabled());

    box->setPlainText(commandWithoutUuid(m_server));
    QVERIFY(confirm->isEnabled());
    QSignalSpy confirmed(static_cast<FrmEnterKey *>(page("frmEnterKey")), &FrmEnterKey::keyConfirmMsg);
    QStringList titles;
    QStringList texts;
    ModalDriver driver(GuiTest::answer(QStringLiteral("btnOk"), &texts, &titles));
    QTest::mouseClick(confirm, Qt::LeftButton);
    QCOMPARE(driver.seen(), 1);
    QCOMPARE(titles.value(0), QStringLiteral("提示"));
    QCOMPARE(texts.value(0), QStringLiteral("启动指令无效,uuid格式有误"));
    QCOMPARE(confirmed.count(), 0);
    QCOMPARE(currentPage(), page("frmEnterKey"));

    box->clear();
    QVERIFY(!confirm->isEnabled());
}

void TestPagesFlow::commandBox_enterOrPaste_confirms_data()
{
    QTest::addColumn<bool>("paste");
    QTest::newRow("enter") << false;
    QTest::newRow("paste") << true;
}

void TestPagesFlow::commandBox_enterOrPaste_confirms()
{
    QFETCH(bool, paste);
    FrmApp *window = openWindow(QString());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto *box = page("frmEnterKey")->findChild<QPlainTextEdit *>(QStringLiteral("txtKey"));
    QSignalSpy confirmed(static_cast<FrmEnterKey *>(page("frmEnterKey")), &FrmEnterKey::keyConfirmMsg);

    // Typing alone confirms nothing.
    QTest::keyClicks(box, QStringLiteral("nuv"));
    QCOMPARE(confirmed.count(), 0);
    box->clear();
    if (paste) {
        QGuiApplication::clipboard()->setText(m_server.launchCommand());
        QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    } else {
        box->setPlainText(m_server.launchCommand());
        box->moveCursor(QTextCursor::End);
        QTest::keyClick(box, Qt::Key_Return);
    }
    QCOMPARE(confirmed.count(), 1);
    // Enter confirms the command rather than breaking the line.
    QCOMPARE(box->toPlainText(), m_server.launchCommand());
    QCOMPARE(window->manager()->schema()->uuid(), m_server.uuid());
    QTRY_COMPARE_WITH_TIMEOUT(currentPage(), page("frmAdd"), FlowTimeoutMs);
}

void TestPagesFlow::clipboard_validCommand_confirmsAndEmptiesClipboard_data()
{
    QTest::addColumn<bool>("atFirstShow");
    QTest::addColumn<bool>("valid");
    QTest::newRow("at first show") << true << true;
    QTest::newRow("on activation") << false << true;
    QTest::newRow("not a command, on activation") << false << false;
}

void TestPagesFlow::clipboard_validCommand_confirmsAndEmptiesClipboard()
{
    QFETCH(bool, atFirstShow);
    QFETCH(bool, valid);
    const QString text = valid ? m_server.launchCommand() : QStringLiteral("课程资料 https://example.test/");
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (atFirstShow)
        clipboard->setText(text);

    FrmApp *window = openWindow(QString());
    QSignalSpy confirmed(static_cast<FrmEnterKey *>(page("frmEnterKey")), &FrmEnterKey::keyConfirmMsg);
    window->show();
    QVERIFY(QTest::qWaitForWindowActive(window));
    if (!atFirstShow) {
        QCOMPARE(confirmed.count(), 0);
        clipboard->setText(text);
        // Another program had the focus; coming back to the window activates it.
        QApplication::setActiveWindow(nullptr);
        QApplication::setActiveWindow(window);
    }
    if (!valid) {
        QCOMPARE(confirmed.count(), 0);
        QCOMPARE(clipboard->text(), text);
        return;
    }
    QCOMPARE(confirmed.count(), 1);
    QVERIFY(clipboard->text().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(currentPage(), page("frmAdd"), FlowTimeoutMs);
    // The box was not touched.
    QVERIFY(page("frmEnterKey")->findChild<QPlainTextEdit *>(QStringLiteral("txtKey"))->toPlainText().isEmpty());
}

void TestPagesFlow::versionPrompt_announcedRelease_promptsOnlyForAnotherWebRelease_data()
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

void TestPagesFlow::versionPrompt_announcedRelease_promptsOnlyForAnotherWebRelease()
{
    QFETCH(QString, version);
    QFETCH(QString, download);
    QFETCH(bool, prompted);
    QVERIFY(m_server.configure(
        QJsonObject{{QStringLiteral("clientVersion"), version}, {QStringLiteral("clientDownload"), download}}));
    FrmApp *window = openWindow(m_server.launchCommand());
    int exits = 0;
    window->setExitFunction([&exits](int) { ++exits; });
    QStringList titles;
    QStringList texts;
    ModalDriver driver(GuiTest::answer(QStringLiteral("btnNo"), &texts, &titles));
    window->show();

    // Declining goes on loading: the token is fetched and the file page follows.
    QTRY_COMPARE_WITH_TIMEOUT(currentPage(), page("frmAdd"), FlowTimeoutMs);
    QCOMPARE(driver.seen(), prompted ? 1 : 0);
    if (prompted) {
        QCOMPARE(titles.value(0), QStringLiteral("版本提示"));
        QCOMPARE(texts.value(0), QStringLiteral("发现有新版本(%1)，是否进行下载安装！").arg(version));
    }
    QCOMPARE(exits, 0);
    QVERIFY(!window->manager()->token().isEmpty());
}

void TestPagesFlow::close_noFiles_closesWithoutQuestion()
{
    FrmApp *window = openWindow(m_server.launchCommand());
    int exits = 0;
    window->setExitFunction([&exits](int) { ++exits; });
    window->show();
    QTRY_COMPARE_WITH_TIMEOUT(currentPage(), page("frmAdd"), FlowTimeoutMs);
    QStringList texts;
    ModalDriver driver(GuiTest::answer(QStringLiteral("btnCancel"), &texts));
    QVERIFY(window->close());
    QVERIFY(!window->isVisible());
    QCOMPARE(driver.seen(), 0);
    QCOMPARE(exits, 0);
    QVERIFY(!ActionBehavior::appClosing);
}

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
