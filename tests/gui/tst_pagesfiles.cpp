// SPDX-License-Identifier: MIT
// The file pages' rules against a real nuv-devserver: which dropped or chosen files are
// taken, how many, the counters, the list height and the pipeline's warning box.
#include "core/pipeline/uploadmanager.h"
#include "core/session/manager.h"
#include "devserver.h"
#include "gui/pages/filepages.h"
#include "gui/pages/frmadd.h"
#include "gui/pages/frmapp.h"
#include "gui/pages/frmlist.h"
#include "gui/pages/itemtaskwidget.h"
#include "guitest.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeView>

#include <memory>

using GuiTest::ModalDriver;

namespace {

constexpr int FlowTimeoutMs = 20000;

// The names the file dialog lists in its current folder, once its model has loaded.
QStringList listedNames(QFileDialog *dialog)
{
    auto *view = dialog->findChild<QTreeView *>(QStringLiteral("treeView"));
    QStringList names;
    if (!view || !view->model())
        return names;
    const QModelIndex root = view->rootIndex();
    for (int row = 0; row < view->model()->rowCount(root); ++row)
        names << view->model()->index(row, 0, root).data().toString();
    names.sort();
    return names;
}

// A step that waits until the file dialog lists `expected`, then chooses `names` (quoted,
// as typed) and keeps what it saw. The dialog is closed whatever happens, so a failing test
// does not hang in it.
std::function<void(QWidget *)> chooseInDialog(const QStringList &expected, const QString &names, QStringList *listed,
                                              QFileDialog::FileMode *mode)
{
    return [expected, names, listed, mode](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        if (!dialog) {
            modal->close();
            return;
        }
        *mode = dialog->fileMode();
        // The folder is read in the background.
        const bool complete = QTest::qWaitFor([&] { return listedNames(dialog) == expected; }, 20000);
        *listed = listedNames(dialog);
        if (!complete) {
            static_cast<QDialog *>(dialog)->reject();
            return;
        }
        dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(names);
        static_cast<QDialog *>(dialog)->accept();
    };
}

} // namespace

class TestPagesFiles final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void addPage_dropMixedEntries_addsVideosAndWarnsOnce();
    void addPage_dropMoreThanAllowed_keepsFirstInDropOrder();
    void addPage_dialog_filterOffersEverySuffixAndCountIsChecked();
    void listPage_dropOnFullList_addsNothingSilently();
    void listPage_dialogOverRemainingPlaces_rejectedWithWholeLimit();
    void pages_noLimit_showDashesAndKeepAdding();
    void listPage_rows_listGrowsUpTo394();
    void pipelineWarning_showsWarningBox();

private:
    bool openLoaded(int maxUploadNum);
    QWidget *page(const char *name) const;
    QListWidget *listTask() const;
    QString makeFile(const QString &name);

    QTemporaryDir m_data;
    QTemporaryDir m_files;
    DevServer m_server;
    ClientOptions m_options;
    std::unique_ptr<FrmApp> m_window;
};

void TestPagesFiles::initTestCase()
{
    QVERIFY(m_data.isValid());
    QVERIFY(m_files.isValid());
    QVERIFY(GuiTest::applyStyleSheet());
    m_options.dataFolder = m_data.path();
    m_options.stallTimeoutMs = 10000;
    QVERIFY2(m_server.start(), qPrintable(m_server.errorString()));
    // The file dialog starts in the current folder.
    QVERIFY(QDir::setCurrent(m_files.path()));
}

void TestPagesFiles::cleanup()
{
    m_window.reset();
}

bool TestPagesFiles::openLoaded(int maxUploadNum)
{
    QString command = m_server.launchCommand();
    command.replace(QStringLiteral("maxUploadNum=8"), QStringLiteral("maxUploadNum=%1").arg(maxUploadNum));
    m_window = std::make_unique<FrmApp>(nullptr, command, nullptr);
    m_window->manager()->setOptions(m_options);
    m_window->show();
    const auto *stack = m_window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    return QTest::qWaitFor([&] { return stack->currentWidget() == page("frmAdd"); }, FlowTimeoutMs);
}

QWidget *TestPagesFiles::page(const char *name) const
{
    return m_window->findChild<QWidget *>(QString::fromLatin1(name));
}

QListWidget *TestPagesFiles::listTask() const
{
    return page("frmList")->findChild<QListWidget *>(QStringLiteral("listTask"));
}

// A file that is not a video: rows made from it fail at the probe, without the server.
QString TestPagesFiles::makeFile(const QString &name)
{
    const QString path = m_files.filePath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write("not a video");
    return path;
}

void TestPagesFiles::addPage_dropMixedEntries_addsVideosAndWarnsOnce()
{
    QVERIFY(openLoaded(8));
    auto *frmAdd = static_cast<FrmAdd *>(page("frmAdd"));
    QSignalSpy added(frmAdd, &FrmAdd::addFilesMsg);
    QStringList boxes;
    ModalDriver driver(GuiTest::answer(QStringLiteral("btnOk"), &boxes));
    const QStringList dropped{m_files.filePath(QStringLiteral("A.MP4")), m_files.filePath(QStringLiteral("b.txt")),
                              m_files.filePath(QStringLiteral("clip.mkv"))};
    QVERIFY(GuiTest::drop(frmAdd, dropped));

    QCOMPARE(boxes, QStringList{QStringLiteral("请正确添加视频文件")});
    QCOMPARE(added.count(), 1);
    QCOMPARE(added.first().first().toStringList(), (QStringList{dropped.at(0), dropped.at(2)}));
    // The window answers with the list page holding the two files.
    auto *stack = m_window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    QTRY_COMPARE(stack->currentWidget(), page("frmList"));
    QCOMPARE(listTask()->count(), 2);
    QCOMPARE(page("frmList")->findChild<QLabel *>(QStringLiteral("lblCurrentCount"))->text(), QStringLiteral("2"));
}

void TestPagesFiles::addPage_dropMoreThanAllowed_keepsFirstInDropOrder()
{
    QVERIFY(openLoaded(3));
    auto *frmAdd = static_cast<FrmAdd *>(page("frmAdd"));
    QSignalSpy added(frmAdd, &FrmAdd::addFilesMsg);
    QStringList boxes;
    ModalDriver driver(GuiTest::answer(QStringLiteral("btnOk"), &boxes));
    QStringList dropped;
    for (int i = 1; i <= 5; ++i)
        dropped << m_files.filePath(QStringLiteral("v%1.mp4").arg(i));
    QVERIFY(GuiTest::drop(frmAdd, dropped));

    QCOMPARE(added.count(), 1);
    QCOMPARE(added.first().first().toStringList(), dropped.mid(0, 3));
    // A message would have been answered inside the drop.
    QCOMPARE(driver.seen(), 0);
}

void TestPagesFiles::addPage_dialog_filterOffersEverySuffixAndCountIsChecked()
{
    QTemporaryDir folder;
    QVERIFY(QDir::setCurrent(folder.path()));
    for (const char *name : {"x.ram", "y.mp4", "z.mkv", "notes.txt"}) {
        QFile file(folder.filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(openLoaded(2));
    auto *frmAdd = static_cast<FrmAdd *>(page("frmAdd"));
    QSignalSpy added(frmAdd, &FrmAdd::addFilesMsg);
    auto *addButton = frmAdd->findChild<QPushButton *>(QStringLiteral("btnAdd"));
    QStringList listed;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    QStringList boxes;
    // Every video suffix is offered, .ram included; other files are not.
    const QStringList offered{QStringLiteral("x.ram"), QStringLiteral("y.mp4"), QStringLiteral("z.mkv")};

    // Three chosen with a limit of 2: refused with the limit, nothing added.
    {
        ModalDriver steps({chooseInDialog(offered, QStringLiteral("\"x.ram\" \"y.mp4\" \"z.mkv\""), &listed, &mode),
                           GuiTest::answer(QStringLiteral("btnOk"), &boxes)});
        QTest::mouseClick(addButton, Qt::LeftButton);
        QCOMPARE(steps.seen(), 2);
    }
    QCOMPARE(listed, offered);
    QCOMPARE(mode, QFileDialog::ExistingFiles);
    QCOMPARE(boxes, QStringList{QStringLiteral("选择的文件数量，超出当前最大可上传数量(2)。")});
    QCOMPARE(added.count(), 0);

    // Two of them: both taken, .ram as well.
    {
        ModalDriver steps(chooseInDialog(offered, QStringLiteral("\"x.ram\" \"y.mp4\""), &listed, &mode));
        QTest::mouseClick(addButton, Qt::LeftButton);
        QCOMPARE(steps.seen(), 1);
    }
    QCOMPARE(added.count(), 1);
    QStringList names;
    for (const QString &path : added.first().first().toStringList())
        names << QFileInfo(path).fileName();
    QCOMPARE(names, (QStringList{QStringLiteral("x.ram"), QStringLiteral("y.mp4")}));
    QVERIFY(QDir::setCurrent(m_files.path()));
}

void TestPagesFiles::listPage_dropOnFullList_addsNothingSilently()
{
    QVERIFY(openLoaded(1));
    // With one file allowed the dialog takes one file only.
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    {
        ModalDriver steps([&mode](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            QVERIFY(dialog);
            mode = dialog->fileMode();
            static_cast<QDialog *>(dialog)->reject();
        });
        QTest::mouseClick(page("frmAdd")->findChild<QPushButton *>(QStringLiteral("btnAdd")), Qt::LeftButton);
        QCOMPARE(steps.seen(), 1);
    }
    QCOMPARE(mode, QFileDialog::ExistingFile);
    m_window->onAddFilesMsg({makeFile(QStringLiteral("one.mp4"))});
    QCOMPARE(listTask()->count(), 1);
    QStringList boxes;
    ModalDriver driver(GuiTest::answer(QStringLiteral("btnOk"), &boxes));
    QVERIFY(GuiTest::drop(page("frmList"), {makeFile(QStringLiteral("two.mp4"))}));
    QCOMPARE(driver.seen(), 0);
    QCOMPARE(listTask()->count(), 1);
    QVERIFY(!page("frmList")->findChild<QPushButton *>(QStringLiteral("btnAddList"))->isEnabled());
}

void TestPagesFiles::listPage_dialogOverRemainingPlaces_rejectedWithWholeLimit()
{
    QTemporaryDir folder;
    QVERIFY(QDir::setCurrent(folder.path()));
    QStringList paths;
    for (int i = 1; i <= 4; ++i) {
        paths << folder.filePath(QStringLiteral("r%1.mp4").arg(i));
        QFile file(paths.last());
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QVERIFY(openLoaded(3));
    m_window->onAddFilesMsg(paths.mid(0, 2));
    QCOMPARE(listTask()->count(), 2);

    QStringList listed;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    QStringList boxes;
    const QStringList offered{QStringLiteral("r1.mp4"), QStringLiteral("r2.mp4"), QStringLiteral("r3.mp4"),
                              QStringLiteral("r4.mp4")};
    ModalDriver steps({chooseInDialog(offered, QStringLiteral("\"r3.mp4\" \"r4.mp4\""), &listed, &mode),
                       GuiTest::answer(QStringLiteral("btnOk"), &boxes)});
    QTest::mouseClick(page("frmList")->findChild<QPushButton *>(QStringLiteral("btnAddList")), Qt::LeftButton);
    QCOMPARE(steps.seen(), 2);
    // One place is left, but the message names the whole limit.
    QCOMPARE(listed, offered);
    QCOMPARE(boxes, QStringList{QStringLiteral("选择的文件数量，超出当前最大可上传数量(3)。")});
    QCOMPARE(listTask()->count(), 2);
    QVERIFY(QDir::setCurrent(m_files.path()));
}

void TestPagesFiles::pages_noLimit_showDashesAndKeepAdding()
{
    QVERIFY(openLoaded(-1));
    QCOMPARE(page("frmAdd")->findChild<QLabel *>(QStringLiteral("lblMaxCount"))->text(), QStringLiteral("--"));
    QStringList dropped;
    for (int i = 0; i < 9; ++i)
        dropped << makeFile(QStringLiteral("n%1.mp4").arg(i));
    QVERIFY(GuiTest::drop(page("frmAdd"), dropped));
    auto *stack = m_window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
    QTRY_COMPARE(stack->currentWidget(), page("frmList"));
    QCOMPARE(listTask()->count(), 9);
    QCOMPARE(page("frmList")->findChild<QLabel *>(QStringLiteral("lblMaxCount"))->text(), QStringLiteral("--"));
    QCOMPARE(page("frmList")->findChild<QLabel *>(QStringLiteral("lblCurrentCount"))->text(), QStringLiteral("9"));
    QVERIFY(page("frmList")->findChild<QPushButton *>(QStringLiteral("btnAddList"))->isEnabled());
}

void TestPagesFiles::listPage_rows_listGrowsUpTo394()
{
    QVERIFY(openLoaded(-1));
    m_window->onAddFilesMsg({makeFile(QStringLiteral("h1.mp4")), makeFile(QStringLiteral("h2.mp4"))});
    QTRY_COMPARE(listTask()->height(), 74 * 2 + 2);
    QStringList more;
    for (int i = 3; i <= 11; ++i)
        more << makeFile(QStringLiteral("h%1.mp4").arg(i));
    QVERIFY(GuiTest::drop(page("frmList"), more));
    QCOMPARE(listTask()->count(), 11);
    QTRY_COMPARE(listTask()->height(), 394);
    QVERIFY(listTask()->verticalScrollBar()->maximum() > 0);
}

void TestPagesFiles::pipelineWarning_showsWarningBox()
{
    QVERIFY(openLoaded(8));
    m_window->onAddFilesMsg({makeFile(QStringLiteral("w.mp4"))});
    const auto pipelines = m_window->manager()->uploadManagers();
    QVERIFY(pipelines && pipelines->size() == 1);
    QStringList titles;
    QStringList texts;
    ModalDriver driver(GuiTest::answer(QStringLiteral("btnOk"), &texts, &titles));
    // Executors warn from their worker thread.
    QThread *worker = QThread::create(
        [pipeline = pipelines->first()] { emit pipeline->warringMessageSignal(QStringLiteral("转码文件过大")); });
    worker->start();
    QTRY_COMPARE(driver.seen(), 1);
    worker->wait();
    delete worker;
    QCOMPARE(titles, QStringList{QStringLiteral("警告")});
    QCOMPARE(texts, QStringList{QStringLiteral("转码文件过大")});
}

QTEST_MAIN(TestPagesFiles)
#include "tst_pagesfiles.moc"
