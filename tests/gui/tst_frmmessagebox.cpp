// SPDX-License-Identifier: MIT
#include "gui/frame/frmmessagebox.h"
#include "guitest.h"

using GuiTest::child;

namespace {

// "enter", "escape", ... press keys on the focused widget as a user would; "close" uses the
// title bar; any other action is the name of a button to click.
void act(QWidget *box, const QString &action)
{
    static const QMap<QString, Qt::Key> keys{{QStringLiteral("enter"), Qt::Key_Enter},
                                             {QStringLiteral("return"), Qt::Key_Return},
                                             {QStringLiteral("escape"), Qt::Key_Escape},
                                             {QStringLiteral("y"), Qt::Key_Y},
                                             {QStringLiteral("n"), Qt::Key_N}};
    QWidget *focus = QApplication::focusWidget();
    if (keys.contains(action))
        QTest::keyClick(focus && focus->window() == box ? focus : box, keys.value(action));
    else
        QTest::mouseClick(
            child<QPushButton>(box, action == QLatin1String("close") ? "btnDialogClose" : qPrintable(action)),
            Qt::LeftButton);
}

} // namespace

class TestFrmMessageBox final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(GuiTest::applyStyleSheet()); }

    void information_keysAndClicks_answerByDefaultAndEscapeRules_data()
    {
        QTest::addColumn<int>("buttons"); // standard buttons; none: the custom texts
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<int>("byDefault");
        QTest::addColumn<int>("byEscape");
        QTest::addColumn<QString>("actions"); // all but the last leave the box open
        QTest::addColumn<int>("expected");

        const auto row = [](const char *name, int buttons, const QStringList &texts, int byDefault, int byEscape,
                            const char *actions, int expected) {
            QTest::newRow(name) << buttons << texts << byDefault << byEscape << QString::fromLatin1(actions)
                                << expected;
        };
        const int ok = QMessageBox::Ok;
        const int yes = QMessageBox::Yes;
        const int no = QMessageBox::No;
        const int cancel = QMessageBox::Cancel;
        for (const char *action : {"enter", "return", "escape", "close"})
            QTest::addRow("ok only, %s", action) << ok << QStringList() << 0 << 0 << QString::fromLatin1(action) << ok;
        row("yes/no, Enter takes the first present", yes | no, {}, 0, 0, "enter", yes);
        row("yes/no, Escape takes No before Yes", yes | no, {}, 0, 0, "escape", no);
        row("yes/no, close gives the escape answer", yes | no, {}, 0, 0, "close", no);
        row("yes/no, default No takes Return", yes | no, {}, no, 0, "return", no);
        row("yes/no, Y presses Yes", yes | no, {}, no, 0, "y", yes);
        row("yes/no, N presses No", yes | no, {}, 0, 0, "n", no);
        row("ok/cancel, default Cancel", ok | cancel, {}, cancel, 0, "enter", cancel);
        row("ok/cancel, click Ok", ok | cancel, {}, cancel, 0, "btnOk", ok);
        row("ok/cancel, escape Ok", ok | cancel, {}, 0, ok, "escape", ok);
        row("all four, Escape prefers Cancel", yes | no | ok | cancel, {}, 0, 0, "escape", cancel);
        row("default not on the box: first present", ok, {}, cancel, 0, "enter", ok);
        const QStringList three{QStringLiteral("取消"), QStringLiteral("复制日志"), QStringLiteral("重试")};
        row("custom, Enter", 0, three, 1, 0, "enter", 1);
        row("custom, Escape", 0, three, 0, 2, "escape", 2);
        row("custom, click", 0, three, 1, 0, "btn2", 2);
        row("custom, close gives the escape index, not 0", 0, three, 0, 1, "close", 1);
        row("custom, escape out of range: neither Escape nor close", 0, three.mid(0, 2), 1, 5, "escape,close,btn1", 1);
    }

    void information_keysAndClicks_answerByDefaultAndEscapeRules()
    {
        QFETCH(int, buttons);
        QFETCH(QStringList, texts);
        QFETCH(int, byDefault);
        QFETCH(int, byEscape);
        QFETCH(QString, actions);
        QFETCH(int, expected);
        bool rightButtons = true;
        bool stayedOpen = true;
        GuiTest::ModalDriver driver([&](QWidget *box) {
            for (int i = 0; i < 3; ++i)
                rightButtons &=
                    child(box, qPrintable(QStringLiteral("btn%1").arg(i)))->isVisible() == (i < texts.size());
            const QList<QPair<int, const char *>> standard{{QMessageBox::Yes, "btnYes"},
                                                           {QMessageBox::Ok, "btnOk"},
                                                           {QMessageBox::No, "btnNo"},
                                                           {QMessageBox::Cancel, "btnCancel"}};
            for (const auto &button : standard)
                rightButtons &= child(box, button.second)->isVisible() == bool(buttons & button.first);
            const QStringList steps = actions.split(QLatin1Char(','));
            for (const QString &step : steps) {
                act(box, step);
                stayedOpen = stayedOpen && (step == steps.last() || box->isVisible());
            }
        });
        const int answer =
            texts.isEmpty()
                ? FrmMessageBox::information(nullptr, QStringLiteral("提示"), QStringLiteral("确认退出吗?"),
                                             QMessageBox::StandardButtons(buttons),
                                             QMessageBox::StandardButton(byDefault),
                                             QMessageBox::StandardButton(byEscape))
                : FrmMessageBox::information(nullptr, QStringLiteral("提示"), QStringLiteral("上传失败"),
                                             texts.value(0), texts.value(1), texts.value(2), byDefault, byEscape);
        QCOMPARE(driver.seen(), 1);
        QCOMPARE(answer, expected);
        QVERIFY(stayedOpen && rightButtons);
    }
};

QTEST_MAIN(TestFrmMessageBox)
#include "tst_frmmessagebox.moc"
