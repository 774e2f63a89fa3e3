// SPDX-License-Identifier: MIT
#include "gui/pages/itemtaskstatuswidget.h"
#include "ui_itemtaskstatuswidget.h"

#include "core/pipeline/uploadmanager.h"
#include "gui/frame/frmmessagebox.h"
#include "gui/pages/itemtaskwidget.h"
#include "gui/toolkit/helpers.h"

#include <QClipboard>
#include <QDebug>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

ItemTaskStatusWidget::ItemTaskStatusWidget(QWidget *parent)
    : QWidget(parent)
    , m_ui(new Ui::ItemTaskStatusWidget)
{
    m_ui->setupUi(this);
    m_ui->wdgError->hide();
    m_ui->wdgComplete->hide();
}

ItemTaskStatusWidget::~ItemTaskStatusWidget()
{
    delete m_ui;
}

void ItemTaskStatusWidget::setOwner(ItemTaskWidget *owner)
{
    m_owner = owner;
}

void ItemTaskStatusWidget::setStatus(const QString &text, const QString &message, int progress)
{
    m_ui->lblError->setText(text);
    m_ui->progressBar->setValue(progress);
    m_ui->lblProgress->setText(
        progress != 0 ? text + QStringLiteral(" ") + QString::number(progress) + QStringLiteral("%") : text);
    m_ui->lblError->setToolTip(message);
    m_ui->lblProgress->setToolTip(message);
    m_ui->progressBar->repaint();
    m_ui->lblError->repaint();
    m_ui->lblProgress->repaint();
}

void ItemTaskStatusWidget::showViewForOwner()
{
    if (!m_owner)
        return;
    bool normal = false;
    bool error = false;
    bool complete = false;
    switch (m_owner->status()) {
    case ItemTaskWidgetStatus::Analysing:
    case ItemTaskWidgetStatus::Waiting:
    case ItemTaskWidgetStatus::Uploading:
    case ItemTaskWidgetStatus::Paused: normal = true; break;
    case ItemTaskWidgetStatus::Failed: error = true; break;
    case ItemTaskWidgetStatus::Completed: complete = true; break;
    default: return;
    }
    // Only changes are applied: this also runs while painting.
    if (m_ui->wdgNormal->isVisibleTo(this) != normal)
        m_ui->wdgNormal->setVisible(normal);
    if (m_ui->wdgError->isVisibleTo(this) != error)
        m_ui->wdgError->setVisible(error);
    if (m_ui->wdgComplete->isVisibleTo(this) != complete)
        m_ui->wdgComplete->setVisible(complete);
}

void ItemTaskStatusWidget::paintEvent(QPaintEvent *event)
{
    showViewForOwner();
    QWidget::paintEvent(event);
}

void ItemTaskStatusWidget::on_btnError_clicked()
{
    const int answer = FrmMessageBox::information(nullptr, QStringLiteral("提示"), m_ui->lblError->toolTip(),
                                                  QStringLiteral("取消"), QStringLiteral("复制日志"), QString(), 1, 0);
    if (answer != 1)
        return;
    const QSharedPointer<UploadManager> pipeline = m_owner ? m_owner->uploadManager() : nullptr;
    const ClientOptions options = pipeline ? pipeline->options() : ClientOptions();
    const QFileInfo log = latestFile(options.logsFolder(), QStringLiteral("log"));
    if (!log.exists()) {
        FrmMessageBox::information(nullptr, QStringLiteral("提示"), QStringLiteral("日志文件不存在，复制失败"),
                                   QMessageBox::Ok);
        return;
    }
    qDebug().noquote() << QStringLiteral("ItemTaskStatusWidget::on_btnError_clicked:") << log.absoluteFilePath();
    const QUrl url = QUrl::fromLocalFile(log.absoluteFilePath());
    if (!url.isValid())
        return;
    // The file itself, not its text, so it can be pasted as an attachment.
    auto *data = new QMimeData;
    data->setUrls({url});
    QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
}
