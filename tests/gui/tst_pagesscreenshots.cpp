// SPDX-License-Identifier: MIT
// The main window's pages with the real style sheet on a real X server (Xvfb), kept as
// pictures so the look can be checked by eye.
#include "devserver.h"
#include "gui/pages/frmapp.h"
#include "gui/pages/itemtaskwidget.h"
#include "guitest.h"
#include "testvideos.h"

#include <QDir>
#include <QFontDatabase>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>

namespace {

QPoint centreOf(const QWidget *widget, const QWidget *window)
{
    return widget->mapTo(window, widget->rect().center());
}

// Dark or coloured glyph pixels inside the widget's place on the window's picture; the
// page's backgrounds and borders are all near white.
bool showsText(const QImage &window, const QWidget *widget, const QWidget *top)
{
    const QRect place(widget->mapTo(top, QPoint(0, 0)), widget->size());
    for (int y = place.top(); y <= place.bottom(); ++y) {
        for (int x = place.left(); x <= place.right(); ++x) {
            const QColor c = window.pixelColor(x, y);
            if (qMin(c.red(), qMin(c.green(), c.blue())) < 170)
                return true;
        }
    }
    return false;
}

} // namespace

class TestPagesScreenshots final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void commandPage();
    void filePage();
    void listPage();
    void listPage_rowsChangeOnScreen_controlsStayDrawn();

private:
    bool save(const QImage &image, const QString &name) const;

    QString m_folder;
    QTemporaryDir m_data;
    DevServer m_server;
};

void TestPagesScreenshots::initTestCase()
{
    QVERIFY(GuiTest::applyStyleSheet());
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0.19"));
    QVERIFY(m_data.isValid());
    m_folder = qEnvironmentVariable("NUV_SCREENSHOT_DIR", QDir::current().filePath(QStringLiteral("screenshots")));
    QVERIFY(QDir().mkpath(m_folder));
    QVERIFY(!QFontDatabase().families(QFontDatabase::SimplifiedChinese).isEmpty());
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
}

bool TestPagesScreenshots::save(const QImage &image, const QString &name) const
{
    return GuiTest::onDesktop(image).save(QDir(m_folder).filePath(name));
}

void TestPagesScreenshots::commandPage()
{
    FrmApp window(nullptr, QString(), nullptr);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *box = window.findChild<QPlainTextEdit *>(QStringLiteral("txtKey"));
    auto *confirm = window.findChild<QPushButton *>(QStringLiteral("btnConfirm"));
    QVERIFY(!confirm->isEnabled());
    const QImage empty = window.grab().toImage();
    // Set without a key, so nothing is confirmed: the page as a user sees it before clicking.
    box->setPlainText(m_server.launchCommand());
    QVERIFY(confirm->isEnabled());
    const QImage filled = window.grab().toImage();
    QVERIFY(save(filled, QStringLiteral("page_command.png")));

    QCOMPARE(filled.size(), QSize(1008, 646));
    QCOMPARE(filled.pixelColor(0, 0).alpha(), 0);
    // The button: grey while the box is empty, blue with a command in it.
    const QPoint button = confirm->mapTo(&window, QPoint(6, confirm->height() / 2));
    QCOMPARE(empty.pixelColor(button).name(), QStringLiteral("#c8ccd2"));
    QCOMPARE(filled.pixelColor(button).name(), QStringLiteral("#1baafb"));
    // The command is written in dark glyphs inside a white box.
    const QRect text(box->mapTo(&window, QPoint(0, 0)), box->size());
    QVERIFY(filled.copy(text) != empty.copy(text));
}

void TestPagesScreenshots::filePage()
{
    FrmApp window(nullptr, m_server.launchCommand(), nullptr);
    window.show();
    auto *stack = window.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    QWidget *frmAdd = window.findChild<QWidget *>(QStringLiteral("frmAdd"));
    QTRY_COMPARE_WITH_TIMEOUT(stack->currentWidget(), frmAdd, 20000);
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QImage picture = window.grab().toImage();
    QVERIFY(save(picture, QStringLiteral("page_add.png")));

    // The drop area's pale background around the centred picture, and the blue button.
    const QWidget *area = frmAdd->findChild<QWidget *>(QStringLiteral("wdgAdd"));
    QCOMPARE(picture.pixelColor(area->mapTo(&window, QPoint(20, 20))).name(), QStringLiteral("#f7f9fa"));
    const auto *add = frmAdd->findChild<QPushButton *>(QStringLiteral("btnAdd"));
    QCOMPARE(picture.pixelColor(add->mapTo(&window, QPoint(6, add->height() / 2))).name(), QStringLiteral("#1baafb"));
    // The caption names module and parent.
    const auto *tip = frmAdd->findChild<QLabel *>(QStringLiteral("lblTip"));
    QCOMPARE(tip->text(), QStringLiteral("视频 - 演示"));
    QVERIFY(centreOf(area, &window).y() > centreOf(tip, &window).y());
}

void TestPagesScreenshots::listPage()
{
    // The file check is held, so the rows keep the states given to them here while the
    // picture is taken.
    QVERIFY(m_server.configure(QJsonObject{{QStringLiteral("stall"), QJsonObject{{QStringLiteral("check"), 8000}}}}));
    FrmApp window(nullptr, m_server.launchCommand(), nullptr);
    window.show();
    auto *stack = window.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    QTRY_COMPARE_WITH_TIMEOUT(stack->currentWidget(), window.findChild<QWidget *>(QStringLiteral("frmAdd")), 20000);
    QStringList files;
    for (const char *name : {"第一章 课程导入.mp4", "第二章 基本概念与术语的详细讲解（上）.mp4", "第三章 实验.mov",
                             "第四章 复习.mkv", "第五章 总结.mp4"}) {
        const QString path = m_data.filePath(QString::fromUtf8(name));
        QVERIFY(TestVideos::make(path));
        files << path;
    }
    window.onAddFilesMsg(files);
    auto *list = window.findChild<QListWidget *>(QStringLiteral("listTask"));
    QCOMPARE(list->count(), 5);
    auto row = [list](int i) { return qobject_cast<ItemTaskWidget *>(list->itemWidget(list->item(i))); };
    // Every probe is done and every check is held: nothing changes the rows any more.
    for (int i = 0; i < 5; ++i) {
        QTRY_COMPARE_WITH_TIMEOUT(row(i)->findChild<QLabel *>(QStringLiteral("lblProgress"))->toolTip(),
                                  QStringLiteral("正在分析任务..."), 20000);
    }
    row(0)->sendMessage(ItemTaskWidgetStatus::Waiting, QStringLiteral("等待上传"), 0);
    row(1)->sendMessage(ItemTaskWidgetStatus::Uploading, QStringLiteral("上传原视频"), 45);
    row(2)->sendMessage(ItemTaskWidgetStatus::Paused, QStringLiteral("任务已经停止上传"), 0);
    row(3)->sendMessage(ItemTaskWidgetStatus::Failed, QStringLiteral("多次上传重试失败((503)(分片暂不可用))"), 0);
    row(4)->sendMessage(ItemTaskWidgetStatus::Completed, QStringLiteral("任务执行完成"), 0);
    row(4)->findChild<QPushButton *>(QStringLiteral("btnDelete"))->setEnabled(false);
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::qWait(50);
    const QImage picture = window.grab().toImage();
    QVERIFY(save(picture, QStringLiteral("page_list.png")));

    // Row backgrounds: white, and the failure's pale red.
    const QPoint waitingBackground = row(0)->mapTo(&window, QPoint(4, 4));
    QCOMPARE(picture.pixelColor(waitingBackground), QColor(Qt::white));
    const QPoint failedBackground = row(3)->mapTo(&window, QPoint(4, 4));
    QVERIFY(picture.pixelColor(failedBackground).red() > picture.pixelColor(failedBackground).blue());
    // The uploading row's bar is filled in blue at its start.
    const auto *bar = row(1)->findChild<QWidget *>(QStringLiteral("progressBar"));
    QCOMPARE(picture.pixelColor(bar->mapTo(&window, QPoint(6, bar->height() / 2))).name(), QStringLiteral("#33a2ef"));
    // Each state shows its own view.
    QVERIFY(row(3)->findChild<QWidget *>(QStringLiteral("wdgError"))->isVisible());
    QVERIFY(row(4)->findChild<QWidget *>(QStringLiteral("wdgComplete"))->isVisible());
    QVERIFY(row(1)->findChild<QWidget *>(QStringLiteral("btnPause"))->isVisible());
    QVERIFY(row(2)->findChild<QWidget *>(QStringLiteral("btnUpload"))->isVisible());
}

void TestPagesScreenshots::listPage_rowsChangeOnScreen_controlsStayDrawn()
{
    QStringList files;
    for (int i = 0; i < 3; ++i) {
        files << m_data.filePath(QStringLiteral("row%1.mp4").arg(i));
        QVERIFY(TestVideos::make(files.last()));
    }
    FrmApp window(nullptr, m_server.launchCommand(), nullptr);
    window.show();
    auto *stack = window.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    QWidget *frmAdd = window.findChild<QWidget *>(QStringLiteral("frmAdd"));
    QWidget *frmList = window.findChild<QWidget *>(QStringLiteral("frmList"));
    QTRY_COMPARE_WITH_TIMEOUT(stack->currentWidget(), frmAdd, 20000);
    QVERIFY(GuiTest::drop(frmAdd, files.mid(0, 1)));
    QTRY_COMPARE(stack->currentWidget(), frmList);
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *list = frmList->findChild<QListWidget *>(QStringLiteral("listTask"));
    QVERIFY(GuiTest::drop(frmList, files.mid(1)));
    QCOMPARE(list->count(), 3);
    auto *row = qobject_cast<ItemTaskWidget *>(list->itemWidget(list->item(0)));
    QTest::mouseClick(row->findChild<QPushButton *>(QStringLiteral("btnDelete")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(list->count(), 2, 20000);

    // From the screen, as a user sees the window with its frame and shadow.
    const auto picture = [&window] { return window.screen()->grabWindow(window.winId()).toImage(); };
    const QStringList controls{QStringLiteral("lblTip"),           QStringLiteral("lblCurrentCount"),
                               QStringLiteral("lblMaxCount"),      QStringLiteral("btnAddList"),
                               QStringLiteral("lblTitleFileName"), QStringLiteral("lblTitleStatus")};
    const auto allDrawn = [&] {
        const QImage image = picture();
        for (const QString &name : controls) {
            if (!showsText(image, frmList->findChild<QWidget *>(name), &window))
                return false;
        }
        return true;
    };
    const bool drawn = QTest::qWaitFor(allDrawn, 5000);
    QVERIFY(save(picture(), QStringLiteral("page_list_changed.png")));
    QVERIFY2(drawn, "a caption, count or column header is blank on the screen");
}

QTEST_MAIN(TestPagesScreenshots)
#include "tst_pagesscreenshots.moc"
