// SPDX-License-Identifier: MIT
#include "gui/pages/frmlist.h"
#include "ui_frmlist.h"

#include "core/media/mediaprobe.h"
#include "core/pipeline/uploadfileinfo.h"
#include "core/pipeline/uploadmanager.h"
#include "core/session/manager.h"
#include "core/session/schema.h"
#include "gui/frame/frmmessagebox.h"
#include "gui/pages/filepages.h"
#include "gui/pages/frmapp.h"
#include "gui/pages/itemtaskwidget.h"
#include "gui/pages/tasklistwidgetdelegate.h"
#include "gui/toolkit/accessibility.h"
#include "gui/toolkit/actionbehavior.h"

#include <QApplication>
#include <QDebug>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMimeData>
#include <QScopeGuard>
#include <QTimer>

QMutex FrmList::s_schedulerMutex;
bool FrmList::s_schedulerBusy = false;

FrmList::FrmList(QWidget *parent)
    : QWidget(parent)
    , NuvWidgetUiBehavior(this)
    , m_ui(new Ui::FrmList)
{
    m_ui->setupUi(this);
    setAcceptDrops(true);
    m_ui->listTask->setItemDelegate(new TaskListWidgetDelegate(m_ui->listTask, m_ui->listTask));
    Accessibility::setMerged(m_ui->label_2);
    Accessibility::setMerged(m_ui->lblMaxCount);
    // The rows' buttons take the keyboard focus, not the list; a row whose button gets it
    // comes into view.
    m_ui->listTask->setFocusPolicy(Qt::NoFocus);
    m_ui->listTask->setAccessibleName(QStringLiteral("上传列表"));
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        for (int i = 0; now && i < m_ui->listTask->count(); ++i) {
            const QWidget *row = m_ui->listTask->itemWidget(m_ui->listTask->item(i));
            if (row && row->isAncestorOf(now))
                return m_ui->listTask->scrollToItem(m_ui->listTask->item(i));
        }
    });
}

FrmList::~FrmList()
{
    delete m_ui;
}

void FrmList::setApp(FrmApp *app)
{
    m_app = app;
}

int FrmList::maxUploadNum() const
{
    const QSharedPointer<Schema> schema = m_app ? m_app->manager()->schema() : nullptr;
    return schema ? schema->maxUploadNum() : 1;
}

int FrmList::pipelineCount() const
{
    const auto pipelines = m_app ? m_app->manager()->uploadManagers() : nullptr;
    return pipelines ? int(pipelines->size()) : 0;
}

ItemTaskWidget *FrmList::rowAt(int index) const
{
    return qobject_cast<ItemTaskWidget *>(m_ui->listTask->itemWidget(m_ui->listTask->item(index)));
}

int FrmList::indexOf(const QObject *row) const
{
    for (int i = 0; i < m_ui->listTask->count(); ++i) {
        if (rowAt(i) == row)
            return i;
    }
    return -1;
}

void FrmList::onLoad()
{
    qDebug("FrmList::onLoad");
    m_ui->listTask->setFocusPolicy(Qt::NoFocus);
    m_ui->listTask->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    const QSharedPointer<Schema> schema = m_app ? m_app->manager()->schema() : nullptr;
    FilePages::showCaption(m_ui->lblTip, schema ? FilePages::caption(*schema) : QString());
    if (m_app) {
        connect(m_app->manager().data(), &Manager::taskCompleteSignal, this, &FrmList::onCompleteMsg,
                static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::UniqueConnection));
    }
}

void FrmList::addFiles(const QStringList &files)
{
    // Every file is counted at once (the limits see them all); the rows follow in batches.
    const QSharedPointer<Manager> manager = m_app->manager();
    for (const QString &path : files) {
        const QSharedPointer<UploadManager> pipeline = manager->addUploadManager();
        connect(pipeline.data(), &UploadManager::warningRaised, this, &FrmList::showWarning);
        // The server may remove a file before its row is made: then no row is made.
        connect(pipeline.data(), &UploadManager::deleteMsg, this, [this](UploadManager *removed) {
            for (int i = 0; i < m_unshown.size(); ++i) {
                if (m_unshown.at(i).pipeline.data() == removed) {
                    m_unshown.removeAt(i);
                    return refreshCount();
                }
            }
        });
        m_unshown.append({path, pipeline});
    }
    if (m_unshown.size() == files.size())
        addRows();
}

void FrmList::addRows()
{
    // A few hundred rows at once would hold the user-interface thread for seconds: rows are
    // made for a while, then the event loop has a turn, until every file has its row.
    QElapsedTimer spent;
    spent.start();
    const QSharedPointer<Manager> manager = m_app->manager();
    const QSharedPointer<Schema> schema = manager->schema();
    for (int made = 0; !m_unshown.isEmpty() && (made < RowsEachTurn || spent.elapsed() < RowBatchMs); ++made) {
        const Unshown next = m_unshown.takeFirst();
        const UploadFileInfo record = MediaProbe::recordOf(next.path, schema ? schema->uuid() : QString());

        auto *item = new QListWidgetItem;
        auto *row = new ItemTaskWidget(m_ui->listTask);
        m_ui->listTask->insertItem(m_ui->listTask->count(), item);
        item->setSizeHint(QSize(0, ItemTaskWidget::RowHeight + 2));
        item->setData(Qt::UserRole, int(row->status()));
        // Everything the row shows is in place before the list shows it: showing runs
        // the row's load step at once when the list is visible.
        row->setManager(manager);
        row->setUploadManager(next.pipeline);
        row->setFileInfo(record);
        row->reload();
        m_ui->listTask->setItemWidget(item, row);
        connect(row, &ItemTaskWidget::deleteItemMsg, this, &FrmList::onDeleteItemMsg);
    }
    refreshCount();
    if (!m_unshown.isEmpty())
        QTimer::singleShot(0, this, &FrmList::addRows);
}

void FrmList::showWarning(const QString &message)
{
    FrmMessageBox::information(nullptr, QStringLiteral("警告"), message, QMessageBox::Ok);
}

void FrmList::refreshCount()
{
    const int current = pipelineCount();
    const int max = maxUploadNum();
    FilePages::showCount(m_ui->lblCurrentCount, m_ui->lblMaxCount, current, max);
    m_ui->btnAddList->setEnabled(max == -1 || current < max);
    updateListHeight();
}

void FrmList::updateListHeight()
{
    const int needed = TaskListWidgetDelegate::RowHeight * m_ui->listTask->count() + 2;
    if (needed == m_maxHeight)
        return;
    const int height = qMin(needed, m_maxHeight);
    if (m_ui->listTask->minimumHeight() != height || m_ui->listTask->maximumHeight() != height) {
        m_ui->listTask->setMinimumHeight(height);
        m_ui->listTask->setMaximumHeight(height);
    }
}

void FrmList::on_btnAddList_clicked()
{
    const int limit = maxUploadNum();
    const QStringList files = FilePages::chooseFiles(limit);
    if (files.isEmpty())
        return;
    if (limit != -1 && files.size() > limit - m_ui->listTask->count()) {
        FilePages::showTooMany(limit);
        return;
    }
    addFiles(files);
}

void FrmList::dragEnterEvent(QDragEnterEvent *event)
{
    FilePages::acceptDrag(event);
}

void FrmList::dropEvent(QDropEvent *event)
{
    if (!event->mimeData()->hasUrls())
        return;
    bool invalid = false;
    const QStringList files =
        FilePages::droppedPaths(event->mimeData()->urls(), maxUploadNum(), pipelineCount(), &invalid);
    if (invalid)
        FilePages::showInvalidDrop();
    if (!files.isEmpty())
        addFiles(files);
}

void FrmList::onDeleteItemMsg(ItemTaskWidget *itemWidget)
{
    const int index = indexOf(itemWidget);
    if (index >= 0)
        m_ui->listTask->item(index)->setHidden(true);
    qDebug().noquote() << QStringLiteral("FrmList::onDeleteItemMsg:") << itemWidget;

    const QSharedPointer<Manager> manager = m_app->manager();
    const QSharedPointer<UploadManager> pipeline = itemWidget ? itemWidget->uploadManager() : nullptr;
    const QPointer<ItemTaskWidget> row(itemWidget);
    const bool listed = index >= 0;
    FrmList *page = this;
    auto *action = new ActionBehavior(this);
    action->run(
        [page, manager, pipeline, row, listed] {
            // Asked here rather than on the user-interface thread, where the request's
            // event loop would let clicks in while the row is half gone.
            if (listed && pipeline)
                pipeline->removeFile();
            manager->removeUploadManager(pipeline);
            QMetaObject::invokeMethod(
                page, [page, row] { page->finishRemoval(row); }, Qt::QueuedConnection);
        },
        [](int, const QString &) {});
}

void FrmList::finishRemoval(const QPointer<ItemTaskWidget> &row)
{
    if (row) {
        const QObject *identity = row.data();
        const int index = indexOf(row);
        if (index >= 0) {
            delete m_ui->listTask->takeItem(index);
            if (row) {
                row->hide();
                row->deleteLater();
            }
        }
        // Scheduling goes on without the row, whatever became of it meanwhile.
        m_app->manager()->onTaskComplete(identity);
    }
    if (m_ui->listTask->count() == 0 && m_unshown.isEmpty())
        emit taskEmptyMsg();
    refreshCount();
}

void FrmList::waitWhileAnalysing(const QPointer<ItemTaskWidget> &row)
{
    QElapsedTimer waited;
    waited.start();
    while (row && row->status() == ItemTaskWidgetStatus::Analysing && waited.elapsed() < AnalysisWaitMs) {
        QEventLoop slice;
        QTimer::singleShot(50, &slice, &QEventLoop::quit);
        slice.exec();
    }
}

void FrmList::onCompleteMsg(const QObject *widget)
{
    qDebug("FrmList::onCompleteMsg");
    // A closing window starts nothing, and must not wait here for rows being analysed.
    if (ActionBehavior::appClosing)
        return;
    if (!s_schedulerMutex.tryLock()) {
        qDebug("FrmList::onCompleteMsg lock");
        deferPass(widget);
        return;
    }
    const auto unlock = qScopeGuard([] { s_schedulerMutex.unlock(); });
    if (s_schedulerBusy) {
        deferPass(widget);
        return;
    }
    s_schedulerBusy = true;
    m_passPending = false;
    m_pendingWidget = nullptr;

    const int count = m_ui->listTask->count();
    const int location = widget ? indexOf(widget) : -1;
    qDebug().noquote() << QStringLiteral("FrmList::onCompleteMsg location:") << location;
    qDebug().noquote() << QStringLiteral("FrmList::onCompleteMsg listTask->count():") << count;

    // Rows are held by guarded pointers: waiting processes events, and rows may go meanwhile.
    QList<QPointer<ItemTaskWidget>> order;
    if (location != -1) {
        for (int i = (location + 1) % count; i != location; i = (i + 1) % count)
            order << rowAt(i);
    } else {
        for (int i = 0; i < count; ++i)
            order << rowAt(i);
    }
    for (const QPointer<ItemTaskWidget> &row : qAsConst(order)) {
        if (!row || row == widget)
            continue;
        qDebug("itemTaskWidget->tryStart()");
        waitWhileAnalysing(row);
        // A row finished while we waited: the rows after it come first, not the rest of
        // this pass's order (which would start a later row before an earlier one).
        if (m_passPending)
            break;
        // A row being deleted is hidden at once; its pipeline is on its way out.
        const int index = row ? indexOf(row) : -1;
        if (index < 0 || m_ui->listTask->item(index)->isHidden())
            continue;
        if (row->tryStart()) {
            qDebug("itemTaskWidget->tryStart true");
            break;
        }
    }
    s_schedulerBusy = false;
    qDebug("FrmList::onCompleteMsg end");
    if (m_passPending) {
        const QObject *next = m_pendingWidget;
        m_passPending = false;
        m_pendingWidget = nullptr;
        QMetaObject::invokeMethod(
            this, [this, next] { onCompleteMsg(next); }, Qt::QueuedConnection);
    }
}

void FrmList::deferPass(const QObject *widget)
{
    if (widget || !m_passPending)
        m_pendingWidget = widget;
    m_passPending = true;
}
