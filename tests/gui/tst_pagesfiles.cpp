// SPDX-License-Identifier: MIT
// The file pages' rules against a real nuv-devserver: which dropped or chosen files are
// taken, how many, the counters, the list height and the pipeline's warning box.
#include "core/pipeline/uploadmanager.h"
#include "gui/pages/frmlist.h"
#include "gui/toolkit/suspendedscrollbar.h"
#include "gui/toolkit/suspendedscrollbarlistwidget.h"
#include "guitest.h"

#include <QAccessible>

using GuiTest::child;
using GuiTest::names;

namespace {

// A step that waits until the file dialog lists `expected` (it reads its folder in the
// background), then types `typed` and keeps what it saw. The dialog is closed whatever
// happens, so a failing test does not hang in it.
std::function<void(QWidget *)> chooseInDialog(const QStringList &expected, const QString &typed, QStringList *listed,
                                              QFileDialog::FileMode *mode)
{
    return [=](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        const auto *view = dialog ? child<QTreeView>(dialog, "treeView") : nullptr;
        if (!view)
            return void(modal->close());
        *mode = dialog->fileMode();
        const bool complete = QTest::qWaitFor(
            [&] {
                listed->clear();
                for (int row = 0; view->model() && row < view->model()->rowCount(view->rootIndex()); ++row)
                    *listed << view->model()->index(row, 0, view->rootIndex()).data().toString();
                listed->sort();
                return *listed == expected;
            },
            20000);
        child<QLineEdit>(dialog, "fileNameEdit")->setText(typed);
        complete ? static_cast<QDialog *>(dialog)->accept() : static_cast<QDialog *>(dialog)->reject();
    };
}

// Every interface below `parent`, depth first; each must name `parent` as its own.
void collect(QAccessibleInterface *parent, QList<QAccessibleInterface *> *all)
{
    for (int i = 0; i < parent->childCount(); ++i) {
        QAccessibleInterface *child = parent->child(i);
        QVERIFY(child && child->parent() && child->parent()->object() == parent->object());
        QCOMPARE(parent->indexOfChild(child), i);
        *all << child;
        collect(child, all);
    }
}

QStringList namesOf(QAccessibleInterface *parent, QAccessible::Role role)
{
    QList<QAccessibleInterface *> all;
    collect(parent, &all);
    QStringList names;
    for (QAccessibleInterface *node : all) {
        // Nothing that is not on the screen.
        if (!static_cast<QWidget *>(node->object())->isVisible())
            names << QStringLiteral("<hidden>");
        else if (node->role() == role)
            names << node->text(QAccessible::Name);
    }
    return names;
}

} // namespace

class TestPagesFiles final : public QObject
{
    Q_OBJECT
    GuiTest::Window w;
    QTemporaryDir m_chosen;

    QStringList rowNames() const
    {
        QStringList names;
        for (int i = 0; i < w.list()->count(); ++i)
            names << w.row(i)->fileInfo().name;
        return names;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(w.setUp(), qPrintable(w.server.errorString()));
        // The file dialog starts in the current folder.
        QVERIFY(QDir::setCurrent(m_chosen.path()));
        for (const QString &name : names("x.ram y.mp4 z.mkv notes.txt"))
            QVERIFY(QFile(m_chosen.filePath(name)).open(QIODevice::WriteOnly));
    }
    void cleanup() { w.window.reset(); }

    void drop_entries_takesVideosWithinLimitInOrder_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QStringList>("dropped");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QString>("box");
        const QString none;
        QTest::newRow("mixed entries, add page") << 8 << names("") << names("A.MP4 b.txt clip.mkv")
                                                 << names("A.MP4 clip.mkv") << QStringLiteral("请正确添加视频文件");
        QTest::newRow("more than allowed, add page")
            << 3 << names("") << names("v1.mp4 v2.mp4 v3.mp4 v4.mp4 v5.mp4") << names("v1.mp4 v2.mp4 v3.mp4") << none;
        QTest::newRow("full list") << 1 << names("one.mp4") << names("two.mp4") << names("one.mp4") << none;
        QTest::newRow("no limit, list page")
            << -1 << names("n1.mp4 n2.mp4") << names("n3.mp4 n4.mp4 n5.mp4 n6.mp4 n7.mp4 n8.mp4 n9.mp4 n10.mp4 n11.mp4")
            << names("n1.mp4 n2.mp4 n3.mp4 n4.mp4 n5.mp4 n6.mp4 n7.mp4 n8.mp4 n9.mp4 n10.mp4 n11.mp4") << none;
    }

    void drop_entries_takesVideosWithinLimitInOrder()
    {
        QFETCH(int, limit);
        QFETCH(QStringList, present);
        QFETCH(QStringList, dropped);
        QFETCH(QStringList, listed);
        QFETCH(QString, box);
        QVERIFY(w.openLoaded(limit));
        const QString limitText = limit == -1 ? QStringLiteral("--") : QString::number(limit);
        QCOMPARE(child<QLabel>(w.page("frmAdd"), "lblMaxCount")->text(), limitText);
        if (!present.isEmpty()) {
            w.window->onAddFilesMsg(w.notVideos(present));
            QTRY_COMPARE(w.list()->height(), 74 * present.size() + 2);
        }
        // The mouse is over the list: rows added under it make its floating scroll bar appear
        // once there is something to scroll.
        QEvent enter(QEvent::Enter);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(w.list(), &enter);
        QStringList boxes;
        GuiTest::ModalDriver driver(GuiTest::answer(QStringLiteral("btnOk"), &boxes));
        QVERIFY(GuiTest::drop(w.page(present.isEmpty() ? "frmAdd" : "frmList"), w.notVideos(dropped)));

        // A message would have been answered inside the drop.
        QCOMPARE(boxes, box.isEmpty() ? QStringList() : QStringList{box});
        QTRY_COMPARE(w.current(), w.page("frmList"));
        // Many rows are made over a few turns of the event loop.
        QTRY_COMPARE(rowNames(), listed);
        QCOMPARE(child<QLabel>(w.page("frmList"), "lblCurrentCount")->text(), QString::number(listed.size()));
        QCOMPARE(child<QLabel>(w.page("frmList"), "lblMaxCount")->text(), limitText);
        QCOMPARE(child(w.page("frmList"), "btnAddList")->isEnabled(), limit == -1 || listed.size() < limit);
        // The list grows with its rows up to its highest, then scrolls: its bar is flush with
        // its right edge and moves it.
        QTRY_COMPARE(w.list()->height(), qMin(74 * listed.size() + 2, FrmList::MaxListHeight));
        SuspendedScrollBar *bar = static_cast<SuspendedScrollBarListWidget *>(w.list())->suspendedScrollBar();
        QTRY_COMPARE(bar->isVisible(), listed.size() > 5);
        QCOMPARE(bar->geometry(), QRect(w.list()->width() - 8, 1, 8, w.list()->height() - 2));
        QScrollBar *own = w.list()->verticalScrollBar();
        QCOMPARE(bar->maximum(), own->maximum());
        bar->triggerAction(QAbstractSlider::SliderToMaximum);
        QCOMPARE(own->value(), own->maximum());
        QApplication::sendEvent(w.list(), &leave);
        QVERIFY(!bar->isVisible());
    }

    void dialog_chosenFiles_everySuffixOfferedAndCountChecked_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("present");
        QTest::addColumn<QStringList>("chosen");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QStringList>("listed");
        const QString tooMany = QStringLiteral("选择的文件数量，超出当前最大可上传数量(%1)。");
        QTest::newRow("add page, more than the limit")
            << 2 << 0 << names("x.ram y.mp4 z.mkv") << tooMany.arg(2) << names("");
        QTest::newRow("add page, .ram too") << 2 << 0 << names("x.ram y.mp4") << QString() << names("x.ram y.mp4");
        // One place is left, but the message names the whole limit.
        QTest::newRow("list page, more than the places left")
            << 3 << 2 << names("z.mkv y.mp4") << tooMany.arg(3) << names("x.ram y.mp4");
        QTest::newRow("one allowed: a single file") << 1 << 0 << names("z.mkv") << QString() << names("z.mkv");
    }

    void dialog_chosenFiles_everySuffixOfferedAndCountChecked()
    {
        QFETCH(int, limit);
        QFETCH(int, present);
        QFETCH(QStringList, chosen);
        QFETCH(QString, box);
        QFETCH(QStringList, listed);
        QVERIFY(w.openLoaded(limit));
        if (present)
            w.window->onAddFilesMsg(
                {m_chosen.filePath(QStringLiteral("x.ram")), m_chosen.filePath(QStringLiteral("y.mp4"))});
        QStringList seen;
        QFileDialog::FileMode mode = QFileDialog::AnyFile;
        QStringList boxes;
        // Every video suffix is offered, .ram included; other files are not.
        const QStringList offered = names("x.ram y.mp4 z.mkv");
        const QString typed = QLatin1Char('"') + chosen.join(QStringLiteral("\" \"")) + QLatin1Char('"');
        GuiTest::ModalDriver driver(chooseInDialog(offered, typed, &seen, &mode),
                                    GuiTest::answer(QStringLiteral("btnOk"), &boxes));
        QTest::mouseClick(child<QPushButton>(w.current(), present ? "btnAddList" : "btnAdd"), Qt::LeftButton);
        QCOMPARE(driver.seen(), box.isEmpty() ? 1 : 2);
        QCOMPARE(seen, offered);
        QCOMPARE(mode, limit == 1 ? QFileDialog::ExistingFile : QFileDialog::ExistingFiles);
        QCOMPARE(boxes, box.isEmpty() ? QStringList() : QStringList{box});
        QTRY_COMPARE(rowNames(), listed);
    }

    void assistiveToolsAndKeyboard_pagesAndRows_readAndPressedAsShown()
    {
        QVERIFY(w.openLoaded(3));
        FrmApp *window = w.window.get();
        QAccessibleInterface *frame = QAccessible::queryAccessibleInterface(window);
        QCOMPARE(frame->role(), QAccessible::Window);
        QCOMPARE(frame->text(QAccessible::Name), QStringLiteral("视频上传工具"));
        QCOMPARE(namesOf(frame, QAccessible::PushButton), names("最小化 关闭 添加文件"));
        const QStringList counter = namesOf(frame, QAccessible::StaticText).filter(QStringLiteral("已添加"));
        QCOMPARE(counter, QStringList{QStringLiteral("已添加 0 个，最多 3 个")});
        // Nothing on any page, shown or not, is read as a blank.
        QList<QAccessibleInterface *> all;
        const auto *pages = child<QStackedWidget>(window, "stackedWidget");
        for (int i = 0; i < pages->count(); ++i)
            collect(QAccessible::queryAccessibleInterface(pages->widget(i)), &all);
        collect(frame, &all);
        for (QAccessibleInterface *node : qAsConst(all)) {
            const bool reads = QList<QAccessible::Role>{QAccessible::PushButton, QAccessible::ProgressBar,
                                                        QAccessible::EditableText, QAccessible::StaticText}
                                   .contains(node->role());
            QVERIFY2(!reads || !node->text(QAccessible::Name).isEmpty(), qPrintable(node->object()->objectName()));
        }

        w.window->onAddFilesMsg(w.notVideos(names("a.mp4 b.mp4")));
        GUITEST_ROW_REACHES(w, 0, ItemTaskWidgetStatus::Failed);
        GUITEST_ROW_REACHES(w, 1, ItemTaskWidgetStatus::Failed);
        QAccessibleInterface *list = QAccessible::queryAccessibleInterface(w.list());
        QCOMPARE(list->role(), QAccessible::List);
        QCOMPARE(list->childCount(), 2);
        QAccessibleInterface *row = list->child(1);
        QCOMPARE(row->role(), QAccessible::ListItem);
        QCOMPARE(row->text(QAccessible::Name), QStringLiteral("b.mp4"));
        QVERIFY2(row->text(QAccessible::Description).startsWith(QStringLiteral("8B · 上传失败：获取上传文件信息失败")),
                 qPrintable(row->text(QAccessible::Description)));
        QCOMPARE(namesOf(row, QAccessible::PushButton), names("查看错误 删除"));
        QVERIFY(namesOf(frame, QAccessible::StaticText).contains(QStringLiteral("已添加 2 个，最多 3 个")));
        // A press returns before the box it opens is answered, and a disabled button offers none.
        QStringList boxes;
        {
            GuiTest::ModalDriver driver(GuiTest::answer(QStringLiteral("btn0"), &boxes));
            row->child(0)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
            QCOMPARE(driver.seen(), 0);
            QTRY_COMPARE(boxes.size(), 1);
        }
        w.button(1, "btnDelete")->setEnabled(false);
        QVERIFY(row->child(1)->actionInterface()->actionNames().isEmpty());
        w.button(1, "btnDelete")->setEnabled(true);
        row->child(1)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QTRY_COMPARE(w.list()->count(), 1);
        QCOMPARE(list->childCount(), 1);

        // The keyboard alone: Tab from the add button reaches the row's buttons in order,
        // Space presses one, Delete anywhere on the row does what its delete button does.
        QApplication::setActiveWindow(window);
        QVERIFY(QTest::qWaitForWindowActive(window));
        child(w.page("frmList"), "btnAddList")->setFocus(Qt::TabFocusReason);
        GuiTest::ModalDriver driver(GuiTest::answer(QStringLiteral("btn0"), &boxes));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), child(w.row(0), "btnError"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QTRY_COMPARE(boxes.size(), 2);
        QApplication::setActiveWindow(window);
        QTRY_VERIFY(QApplication::focusWidget());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), w.button(0, "btnDelete"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete);
        QTRY_COMPARE(w.current(), w.page("frmAdd"));
    }

    void pipelineWarning_showsWarningBox()
    {
        QVERIFY(w.openLoaded());
        w.window->onAddFilesMsg(w.notVideos(names("w.mp4")));
        QStringList titles, texts;
        GuiTest::ModalDriver driver(GuiTest::answer(QStringLiteral("btnOk"), &texts, &titles));
        // Executors warn from their worker thread.
        std::unique_ptr<QThread> worker(QThread::create([pipeline = w.window->manager()->uploadManagers()->first()] {
            emit pipeline->warringMessageSignal(QStringLiteral("转码文件过大"));
        }));
        worker->start();
        QTRY_COMPARE(driver.seen(), 1);
        worker->wait();
        QCOMPARE(titles, QStringList{QStringLiteral("警告")});
        QCOMPARE(texts, QStringList{QStringLiteral("转码文件过大")});
    }
};

QTEST_MAIN(TestPagesFiles)
#include "tst_pagesfiles.moc"
