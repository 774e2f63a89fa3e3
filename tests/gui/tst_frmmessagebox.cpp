// SPDX-License-Identifier: MIT
#include "gui/frame/basedialogtitlebar.h"
#include "gui/frame/frmmessagebox.h"
#include "guitest.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

using GuiTest::ModalDriver;

namespace {

QPushButton *button(QWidget *box, const QString &name)
{
    return box->findChild<QPushButton *>(name);
}

// "enter", "escape", ... press keys on the focused widget as a user would; "close" uses the
// title bar; any other action is the name of a button to click.
void act(QWidget *box, const QString &action)
{
    static const QMap<QString, Qt::Key> keys{{QStringLiteral("enter"), Qt::Key_Enter},
                                             {QStringLiteral("return"), Qt::Key_Return},
                                             {QStringLiteral("escape"), Qt::Key_Escape},
                                             {QStringLiteral("y"), Qt::Key_Y},
                                             {QStringLiteral("n"), Qt::Key_N}};
    if (keys.contains(action)) {
        QWidget *focus = QApplication::focusWidget();
        QTest::keyClick(focus && focus->window() == box ? focus : box, keys.value(action));
    } else if (action == QLatin1String("close")) {
        QTest::mouseClick(button(box, QStringLiteral("btnDialogClose")), Qt::LeftButton);
    } else {
        QTest::mouseClick(button(box, action), Qt::LeftButton);
    }
}

} // namespace

class TestFrmMessageBox final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void information_standardButtons_followDefaultAndEscapeRules_data();
    void information_standardButtons_followDefaultAndEscapeRules();
    void information_customButtons_returnClickedIndex_data();
    void information_customButtons_returnClickedIndex();
    void information_customEscapeOutOfRange_cannotBeEscaped();
    void setMessage_sizesBoxToMessage();
    void setMessage_positionsAboveCentreOfReference();
};

void TestFrmMessageBox::initTestCase()
{
    QVERIFY(GuiTest::applyStyleSheet());
}

void TestFrmMessageBox::information_standardButtons_followDefaultAndEscapeRules_data()
{
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("defaultButton");
    QTest::addColumn<int>("escapeButton");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("expected");

    const int ok = QMessageBox::Ok;
    const int yesNo = QMessageBox::Yes | QMessageBox::No;
    const int okCancel = QMessageBox::Ok | QMessageBox::Cancel;
    const int none = QMessageBox::NoButton;
    for (const char *action : {"enter", "return", "escape", "close"})
        QTest::addRow("ok only, %s", action) << ok << none << none << QString::fromLatin1(action) << ok;
    QTest::newRow("yes/no, Enter takes the first present: Yes")
        << yesNo << none << none << QStringLiteral("enter") << int(QMessageBox::Yes);
    QTest::newRow("yes/no, Escape takes No before Yes")
        << yesNo << none << none << QStringLiteral("escape") << int(QMessageBox::No);
    QTest::newRow("yes/no, close gives the escape result")
        << yesNo << none << none << QStringLiteral("close") << int(QMessageBox::No);
    QTest::newRow("yes/no, given default No takes Return")
        << yesNo << int(QMessageBox::No) << none << QStringLiteral("return") << int(QMessageBox::No);
    QTest::newRow("yes/no, Y presses Yes")
        << yesNo << int(QMessageBox::No) << none << QStringLiteral("y") << int(QMessageBox::Yes);
    QTest::newRow("yes/no, N presses No") << yesNo << none << none << QStringLiteral("n") << int(QMessageBox::No);
    QTest::newRow("ok/cancel, default Cancel takes Enter")
        << okCancel << int(QMessageBox::Cancel) << none << QStringLiteral("enter") << int(QMessageBox::Cancel);
    QTest::newRow("ok/cancel, click Ok") << okCancel << int(QMessageBox::Cancel) << none << QStringLiteral("btnOk")
                                         << ok;
    QTest::newRow("ok/cancel, given escape Ok") << okCancel << none << ok << QStringLiteral("escape") << ok;
    QTest::newRow("all four, Escape prefers Cancel")
        << (yesNo | okCancel) << none << none << QStringLiteral("escape") << int(QMessageBox::Cancel);
    QTest::newRow("default not on the box falls back to the first present")
        << ok << int(QMessageBox::Cancel) << none << QStringLiteral("enter") << ok;
}

void TestFrmMessageBox::information_standardButtons_followDefaultAndEscapeRules()
{
    QFETCH(int, buttons);
    QFETCH(int, defaultButton);
    QFETCH(int, escapeButton);
    QFETCH(QString, action);
    QFETCH(int, expected);

    bool rightButtonsShown = true;
    QString title;
    ModalDriver driver([&](QWidget *box) {
        const QMap<QString, int> standard{{QStringLiteral("btnOk"), QMessageBox::Ok},
                                          {QStringLiteral("btnYes"), QMessageBox::Yes},
                                          {QStringLiteral("btnNo"), QMessageBox::No},
                                          {QStringLiteral("btnCancel"), QMessageBox::Cancel}};
        for (auto it = standard.cbegin(); it != standard.cend(); ++it)
            rightButtonsShown &= button(box, it.key())->isVisible() == bool(buttons & it.value());
        for (const char *custom : {"btn0", "btn1", "btn2"})
            rightButtonsShown &= !button(box, QString::fromLatin1(custom))->isVisible();
        title = box->findChild<QLabel *>(QStringLiteral("lblDialogTitle"))->text();
        act(box, action);
    });
    const QMessageBox::StandardButton result = FrmMessageBox::information(
        nullptr, QStringLiteral("提示"), QStringLiteral("有任务还未执行完成,确认退出上传工具吗?"),
        QMessageBox::StandardButtons(buttons), QMessageBox::StandardButton(defaultButton),
        QMessageBox::StandardButton(escapeButton));
    QCOMPARE(driver.seen(), 1);
    QCOMPARE(int(result), expected);
    QVERIFY(rightButtonsShown);
    QCOMPARE(title, QStringLiteral("提示"));
}

void TestFrmMessageBox::information_customButtons_returnClickedIndex_data()
{
    QTest::addColumn<int>("defaultIndex");
    QTest::addColumn<int>("escapeIndex");
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("expected");

    QTest::newRow("Enter presses the default") << 1 << 0 << QStringLiteral("enter") << 1;
    QTest::newRow("Escape presses the escape button") << 1 << 0 << QStringLiteral("escape") << 0;
    QTest::newRow("Escape on button 2") << 0 << 2 << QStringLiteral("escape") << 2;
    QTest::newRow("click on button 2") << 1 << 0 << QStringLiteral("btn2") << 2;
    QTest::newRow("close gives the escape index, not 0") << 0 << 1 << QStringLiteral("close") << 1;
}

void TestFrmMessageBox::information_customButtons_returnClickedIndex()
{
    QFETCH(int, defaultIndex);
    QFETCH(int, escapeIndex);
    QFETCH(QString, action);
    QFETCH(int, expected);

    ModalDriver driver([action](QWidget *box) { act(box, action); });
    const int result =
        FrmMessageBox::information(nullptr, QStringLiteral("提示"), QStringLiteral("上传失败"), QStringLiteral("取消"),
                                   QStringLiteral("复制日志"), QStringLiteral("重试"), defaultIndex, escapeIndex);
    QCOMPARE(driver.seen(), 1);
    QCOMPARE(result, expected);
}

void TestFrmMessageBox::information_customEscapeOutOfRange_cannotBeEscaped()
{
    bool visibleAfterEscape = false;
    bool closeEnabled = true;
    bool visibleAfterClose = false;
    QStringList shown;
    ModalDriver driver([&](QWidget *box) {
        act(box, QStringLiteral("escape"));
        visibleAfterEscape = box->isVisible();
        closeEnabled = button(box, QStringLiteral("btnDialogClose"))->isEnabled();
        act(box, QStringLiteral("close"));
        visibleAfterClose = box->isVisible();
        for (const char *name : {"btn0", "btn1", "btn2", "btnYes", "btnOk", "btnNo", "btnCancel"}) {
            if (button(box, QString::fromLatin1(name))->isVisible())
                shown << QString::fromLatin1(name);
        }
        act(box, QStringLiteral("btn1"));
    });
    const int result = FrmMessageBox::information(nullptr, QStringLiteral("提示"), QStringLiteral("日志"),
                                                  QStringLiteral("取消"), QStringLiteral("复制日志"), QString(), 1, 5);
    QCOMPARE(result, 1);
    QVERIFY(visibleAfterEscape);
    QVERIFY(!closeEnabled);
    QVERIFY(visibleAfterClose);
    QCOMPARE(shown, (QStringList{QStringLiteral("btn0"), QStringLiteral("btn1")}));
}

void TestFrmMessageBox::setMessage_sizesBoxToMessage()
{
    FrmMessageBox shortBox;
    shortBox.setMessage(QStringLiteral("请正确添加视频文件"));
    QCOMPARE(shortBox.size(), QSize(416, 233));

    FrmMessageBox longBox;
    longBox.setMessage(
        QStringLiteral("上传任务未能完成：服务器返回了错误的应答，文件的分片没有被接受。请检查网络连接是否"
                       "正常，确认上传指令仍然有效，然后重新添加文件再试一次。如果问题仍然存在，请复制日志"
                       "并联系平台管理员。"));
    QCOMPARE(longBox.width(), 600);
    // At 600 the label keeps what the shadow border (24), the body margins (17), the icon
    // (30) and the spacing (12) leave over; the box grows by what it needs beyond 40.
    auto *label = longBox.findChild<QLabel *>(QStringLiteral("lblMessage"));
    const int labelHeight = label->heightForWidth(600 - 2 * 24 - 2 * 17 - 30 - 12);
    QVERIFY(labelHeight > 40);
    QCOMPARE(longBox.height(), 233 + labelHeight - 40);

    for (FrmMessageBox *box : {&shortBox, &longBox}) {
        box->show();
        QVERIFY(QTest::qWaitForWindowExposed(box));
        label = box->findChild<QLabel *>(QStringLiteral("lblMessage"));
        QVERIFY(label->height() >= label->heightForWidth(label->width()));
        QCOMPARE(box->titleBar()->width(), box->width() - 48);
    }
}

void TestFrmMessageBox::setMessage_positionsAboveCentreOfReference()
{
    const auto expected = [](const QRect &reference) {
        const int freeWidth = reference.width() - 416;
        const int freeHeight = reference.height() - 233;
        return QPoint(reference.x() + freeWidth / 2, reference.y() + freeHeight / 2 - freeHeight / 10);
    };
    const auto positionFor = [](QWidget *parent) {
        FrmMessageBox box(parent);
        box.setMessage(QStringLiteral("x"));
        return box.pos();
    };

    // Nothing to centre on: an empty rectangle at the origin (negative free space).
    QCOMPARE(positionFor(nullptr), expected(QRect()));

    // No active window: the parent's window.
    QWidget parentWindow;
    parentWindow.setGeometry(50, 60, 1000, 700);
    auto *child = new QWidget(&parentWindow);
    QCOMPARE(positionFor(child), expected(parentWindow.geometry()));

    // The active window wins over the parent.
    QWidget active;
    active.setGeometry(100, 120, 800, 600);
    active.show();
    QApplication::setActiveWindow(&active);
    QVERIFY(QTest::qWaitForWindowActive(&active));
    QCOMPARE(positionFor(child), expected(active.geometry()));

    // Visible but not active, and no parent: the first visible window.
    QApplication::setActiveWindow(nullptr);
    QCOMPARE(positionFor(nullptr), expected(active.geometry()));
}

QTEST_MAIN(TestFrmMessageBox)
#include "tst_frmmessagebox.moc"
