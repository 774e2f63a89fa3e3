// SPDX-License-Identifier: MIT
#include "gui/pages/itemtaskwidget.h"
#include "ui_itemtaskwidget.h"

#include "core/api/taskcommand.h"
#include "core/pipeline/actionoutcome.h"
#include "core/pipeline/uploadmanager.h"
#include "core/session/manager.h"
#include "gui/toolkit/actionbehavior.h"
#include "gui/toolkit/actionqueue.h"

#include <QDebug>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QScopeGuard>

#include <cmath>

namespace {

constexpr int ColumnWidth = 339;

// The row shows a task's state as it is: the numbers are the same.
ItemTaskWidgetStatus rowStatusOf(TaskState state)
{
    return static_cast<ItemTaskWidgetStatus>(static_cast<qint32>(state));
}

} // namespace

const QString ItemTaskWidget::AnalysingText = QStringLiteral("正在分析文件...");
const QString ItemTaskWidget::WaitingForAnalysisText = QStringLiteral("等待分析文件...");

ItemTaskWidget::ItemTaskWidget(QWidget *parent)
    : QWidget(parent)
    , NuvWidgetUiBehavior(this)
    , m_ui(new Ui::ItemTaskWidget)
{
    m_ui->setupUi(this);
    setFixedHeight(RowHeight);
    // Upload and pause share one slot; it keeps its width when neither shows, so the
    // delete button stays in its column.
    for (QPushButton *button : {m_ui->btnUpload, m_ui->btnPause}) {
        QSizePolicy policy = button->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        button->setSizePolicy(policy);
        button->hide();
    }
}

ItemTaskWidget::~ItemTaskWidget()
{
    qDebug("ItemTaskWidget::~ItemTaskWidget");
    // The actions of this row wait for their threads when they go; an upload that still
    // ran would hold that wait for as long as the file takes.
    if (m_uploadManager && m_uploadManager->isRunning())
        m_uploadManager->setStopRequested(true);
    delete m_ui;
}

void ItemTaskWidget::setManager(const QSharedPointer<Manager> &manager)
{
    m_manager = manager;
}

void ItemTaskWidget::setUploadManager(const QSharedPointer<UploadManager> &uploadManager)
{
    m_uploadManager = uploadManager;
    if (!m_uploadManager)
        return;
    connect(
        m_uploadManager.data(), &UploadManager::probed, this,
        [this](const UploadFileInfo &record) {
            m_fileInfo = record;
            applyStatus(ItemTaskWidgetStatus::Analysing, statusText(ItemTaskWidgetStatus::Analysing),
                        QStringLiteral("正在分析任务..."), 0);
        },
        Qt::QueuedConnection);
}

QSharedPointer<UploadManager> ItemTaskWidget::uploadManager() const
{
    return m_uploadManager;
}

UploadFileInfo ItemTaskWidget::fileInfo() const
{
    return m_fileInfo;
}

ItemTaskWidgetStatus ItemTaskWidget::status() const
{
    return m_status;
}

void ItemTaskWidget::setFileInfo(const UploadFileInfo &fileInfo)
{
    update();
    m_status = ItemTaskWidgetStatus::Analysing;
    m_ui->wdgTaskStatus->setStatus(statusText(m_status), AnalysingText, 0);
    m_fileInfo = fileInfo;
    if (m_fileInfo.videoCodec.isEmpty())
        analyse();
}

void ItemTaskWidget::analyse()
{
    if (m_uploadManager)
        m_uploadManager->setFile(m_fileInfo);
    // Analyses take turns; a row whose turn has not come says so until it comes.
    const bool now = ActionQueue::analyses().enqueue(this, [this](const ActionQueue::Release &release) {
        if (m_status == ItemTaskWidgetStatus::Analysing)
            m_ui->wdgTaskStatus->setStatus(statusText(m_status), AnalysingText, 0);
        runAnalysis(release);
    });
    if (!now)
        m_ui->wdgTaskStatus->setStatus(statusText(m_status), WaitingForAnalysisText, 0);
}

void ItemTaskWidget::runAnalysis(const std::function<void()> &release)
{
    auto *action = new ActionBehavior(this);
    action->setErrorHandler([this](int, const QString &message) {
        m_ui->btnUpload->hide();
        m_ui->btnPause->hide();
        sendMessage(ItemTaskWidgetStatus::Failed, message, 0);
    });
    // The worker gets the pipeline; `row` only addresses the queued hand-over.
    ItemTaskWidget *row = this;
    const QSharedPointer<UploadManager> pipeline = m_uploadManager;
    action->run([row, pipeline, release] {
        // The next row's turn comes as this work ends, however it ends.
        const auto leave = qScopeGuard(release);
        if (!pipeline)
            throw QStringLiteral("未有上传执行任务");
        pipeline->analyse();
        QMetaObject::invokeMethod(
            row,
            [row] {
                if (const auto tasks = row->m_uploadManager ? row->m_uploadManager->tasks() : nullptr) {
                    for (const auto &task : *tasks)
                        connect(task.data(), &TaskCommand::dataUpdate, row, &ItemTaskWidget::onDataUpdateMsg,
                                static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::UniqueConnection));
                }
                row->applyStatus(ItemTaskWidgetStatus::Waiting, statusText(ItemTaskWidgetStatus::Waiting),
                                 QStringLiteral("等待上传"), 0);
                emit row->completeMsg(nullptr);
            },
            Qt::QueuedConnection);
    });
}

void ItemTaskWidget::sendMessage(ItemTaskWidgetStatus status, const QString &message, int progress)
{
    if (status == ItemTaskWidgetStatus::Failed)
        qDebug().noquote() << QStringLiteral("上传失败：%1 (ItemTaskWidget::sendMessage)").arg(message);
    applyStatus(status, statusText(status), message, progress);
}

void ItemTaskWidget::applyStatus(ItemTaskWidgetStatus status, const QString &text, const QString &message, int progress)
{
    update();
    m_status = status;
    m_ui->wdgTaskStatus->setStatus(text, message, progress);
    // Painting applies these too; doing it now keeps a row that is not painted right.
    showButtonsForStatus();
    m_ui->wdgTaskStatus->showViewForOwner();
    describe();
}

void ItemTaskWidget::describe()
{
    QString status = m_ui->wdgTaskStatus->progressText();
    if (m_status == ItemTaskWidgetStatus::Failed)
        status = statusText(m_status) + QStringLiteral("：") + m_ui->wdgTaskStatus->message();
    else if (m_status == ItemTaskWidgetStatus::Completed)
        status = statusText(m_status);
    if (accessibleName() != m_fileInfo.name)
        setAccessibleName(m_fileInfo.name);
    setAccessibleDescription(sizeText(m_fileInfo.size) + QStringLiteral(" · ") + status);
}

void ItemTaskWidget::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
        if (m_ui->btnDelete->isVisible() && m_ui->btnDelete->isEnabled())
            m_ui->btnDelete->click();
        return event->accept();
    }
    QWidget::keyPressEvent(event);
}

bool ItemTaskWidget::hasTasks() const
{
    const auto tasks = m_uploadManager ? m_uploadManager->tasks() : nullptr;
    return tasks && !tasks->isEmpty();
}

void ItemTaskWidget::showButtonsForStatus()
{
    bool upload = false;
    bool pause = false;
    switch (m_status) {
    case ItemTaskWidgetStatus::Analysing:
    case ItemTaskWidgetStatus::Completed: break;
    case ItemTaskWidgetStatus::Waiting:
    case ItemTaskWidgetStatus::Paused: upload = true; break;
    case ItemTaskWidgetStatus::Uploading: pause = true; break;
    case ItemTaskWidgetStatus::Failed: upload = hasTasks(); break;
    default: return;
    }
    // Only changes are applied: this also runs while painting.
    if (m_ui->btnUpload->isHidden() == upload)
        m_ui->btnUpload->setVisible(upload);
    if (m_ui->btnPause->isHidden() == pause)
        m_ui->btnPause->setVisible(pause);
}

void ItemTaskWidget::paintEvent(QPaintEvent *event)
{
    showButtonsForStatus();
    QWidget::paintEvent(event);
}

void ItemTaskWidget::onLoad()
{
    qDebug("ItemTaskWidget::onLoad");
    m_ui->wdgTaskStatus->setOwner(this);
    m_ui->btnPause->hide();
    m_ui->btnUpload->hide();
    m_ui->wdgTaskStatus->setFixedWidth(ColumnWidth);
    m_ui->lblFileName->setFixedWidth(ColumnWidth);
    const QFontMetrics metrics(m_ui->lblFileName->font());
    const QString name = m_fileInfo.name;
    m_ui->lblFileName->setText(
        metrics.horizontalAdvance(name) > ColumnWidth ? metrics.elidedText(name, Qt::ElideMiddle, ColumnWidth) : name);
    m_ui->lblFileName->setToolTip(name);
    m_ui->lblFileSize->setText(sizeText(m_fileInfo.size));
    describe();
    // The analysis may have moved on before the row was first shown; its state stands.
    showButtonsForStatus();
    const auto unique = static_cast<Qt::ConnectionType>(Qt::QueuedConnection | Qt::UniqueConnection);
    if (m_manager)
        connect(this, &ItemTaskWidget::completeMsg, m_manager.data(), &Manager::onTaskComplete, unique);
    if (m_uploadManager)
        connect(m_uploadManager.data(), &UploadManager::deleteMsg, this, &ItemTaskWidget::onDeleteMsg,
                static_cast<Qt::ConnectionType>(Qt::AutoConnection | Qt::UniqueConnection));
}

bool ItemTaskWidget::tryStart()
{
    const bool permit = m_manager && m_manager->startPermit();
    qDebug().noquote() << QStringLiteral("bool ItemTaskWidget::tryStart") << (permit ? "T" : "F");
    if (!m_uploadManager || !permit || !m_uploadManager->canStart())
        return false;
    m_manager->setStartPermit(false);
    qDebug("bool ItemTaskWidget::tryStart on_btnUpload_clicked");
    on_btnUpload_clicked();
    return true;
}

void ItemTaskWidget::on_btnUpload_clicked()
{
    qDebug("void ItemTaskWidget::on_btnUpload_clicked()");
    if (!m_lock.try_lock())
        return;
    const auto unlock = qScopeGuard([this] { m_lock.unlock(); });
    // A requested run counts as started: a click and a scheduler pass never run it twice.
    if (!m_uploadManager || !m_manager || m_uploadManager->isRunning() || m_uploadManager->isRunRequested())
        return;
    m_ui->btnUpload->hide();
    m_ui->btnPause->show();
    auto *action = new ActionBehavior(this);
    action->clearErrorHandler();
    const QSharedPointer<UploadManager> pipeline = m_uploadManager;
    // A pause or delete from here on stops this run, even one asked before its worker runs.
    pipeline->requestRun();
    action->run(
        [pipeline] {
            pipeline->runAlone();
            qDebug("ItemTaskWidget::on_btnUpload_clicked doTask end");
        },
        [this](int code, const QString &message) {
            onUploadDone(ActionOutcome{code, message});
        });
}

void ItemTaskWidget::onUploadDone(const ActionOutcome &outcome)
{
    qDebug().noquote() << QStringLiteral("ItemTaskWidget::on_btnUpload_clicked doTask after") << outcome.code
                       << outcome.message;
    // The percentage the last task update shows too: whichever of the two arrives last, a
    // paused row keeps showing where it stopped.
    const int progress = m_uploadManager->progress().overall;
    if (outcome.ok()) {
        m_ui->btnUpload->hide();
        m_ui->btnPause->hide();
        m_ui->btnDelete->setEnabled(false);
        m_manager->setStartPermit(true);
        applyStatus(ItemTaskWidgetStatus::Completed, statusText(ItemTaskWidgetStatus::Completed),
                    QStringLiteral("任务执行完成"), progress);
    } else if (outcome.stopped()) {
        m_ui->btnUpload->show();
        m_ui->btnPause->hide();
        applyStatus(ItemTaskWidgetStatus::Paused, statusText(ItemTaskWidgetStatus::Paused), outcome.message, progress);
    } else {
        m_ui->btnUpload->show();
        m_ui->btnDelete->show();
        m_ui->btnPause->hide();
        sendMessage(ItemTaskWidgetStatus::Failed, outcome.message, 0);
    }
    qDebug().noquote() << QStringLiteral("ItemTaskWidget::on_btnUpload_clicked:")
                       << (m_manager->startPermit() ? "T" : "F");
    if (!m_manager->hasRunningTask())
        m_manager->setStartPermit(true);
    emit completeMsg(this);
}

void ItemTaskWidget::on_btnPause_clicked()
{
    m_ui->btnPause->hide();
    auto *action = new ActionBehavior(this);
    ItemTaskWidget *row = this;
    const QSharedPointer<Manager> manager = m_manager;
    const QSharedPointer<UploadManager> pipeline = m_uploadManager;
    action->run([row, manager, pipeline] {
        if (pipeline)
            pipeline->stop();
        if (manager)
            manager->setStartPermit(true);
        QMetaObject::invokeMethod(
            row,
            [row] {
                row->m_ui->btnUpload->show();
                row->m_ui->btnPause->hide();
                row->m_ui->btnDelete->show();
                emit row->completeMsg(row);
            },
            Qt::QueuedConnection);
    });
}

void ItemTaskWidget::on_btnDelete_clicked()
{
    qDebug().noquote() << QStringLiteral("ItemTaskWidget::on_btnDelete_clicked") << m_ui->wdgTaskStatus->width();
    emit deleteItemMsg(this);
}

void ItemTaskWidget::onDeleteMsg(UploadManager *uploadManager)
{
    if (uploadManager != m_uploadManager.data())
        return;
    qDebug("ItemTaskWidget::onDeleteMsg");
    emit deleteItemMsg(this);
}

void ItemTaskWidget::onCompleteMsg(const QObject *widget)
{
    Q_UNUSED(widget)
}

void ItemTaskWidget::onDataUpdateMsg()
{
    const PipelineProgress progress = m_uploadManager ? m_uploadManager->progress() : PipelineProgress();
    if (!progress.valid)
        return;
    const QString waiting = progress.networkWaitText();
    sendMessage(rowStatusOf(progress.state),
                !waiting.isEmpty() ? waiting
                : progress.allDone ? QString()
                                   : progress.title,
                progress.overall);
    if (progress.state == TaskState::Running && waiting.isEmpty()) {
        m_ui->wdgTaskStatus->showFigures(progress);
        describe();
    }
}

QString ItemTaskWidget::sizeText(qint64 bytes)
{
    static const char *const units[] = {"B", "KB", "MB", "GB", "TB", "PB"};
    double value = double(bytes);
    int unit = 0;
    qint64 rest = 0;
    while (value >= 1024 && unit < 5) {
        rest = qint64(value) % 1024;
        value /= 1024;
        ++unit;
    }
    QString text = QString::number(std::floor(value), 'g', 6);
    if (rest > 0)
        text += QStringLiteral(".") + QString::number(rest).left(2);
    return text + QLatin1String(units[unit]);
}
