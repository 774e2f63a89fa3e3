// SPDX-License-Identifier: MIT
#include "gui/pages/itemtaskstatuswidget.h"
#include "ui_itemtaskstatuswidget.h"

#include "core/pipeline/pipelineprogress.h"
#include "core/pipeline/uploadmanager.h"
#include "gui/frame/frmmessagebox.h"
#include "gui/pages/itemtaskwidget.h"
#include "gui/toolkit/helpers.h"

#include <QClipboard>
#include <QDebug>
#include <QEvent>
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
    // The label takes the width the column leaves it and fits its text to that, never the
    // other way round: a long text must not push the row's buttons aside.
    m_ui->lblProgress->setMinimumWidth(1);
    m_ui->lblProgress->installEventFilter(this);
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
    m_text = progress != 0 ? text + QStringLiteral(" ") + QString::number(progress) + QStringLiteral("%") : text;
    m_figures.clear();
    fitProgressText();
    m_ui->lblError->setToolTip(message);
    m_ui->lblProgress->setToolTip(message);
    m_ui->progressBar->repaint();
    m_ui->lblError->repaint();
    m_ui->lblProgress->repaint();
}

void ItemTaskStatusWidget::showFigures(const PipelineProgress &progress)
{
    const QString speed = PipelineProgress::speedText(progress.bytesPerSecond);
    // Nothing done yet says nothing about the rest.
    const QString left = progress.rate > 0 ? PipelineProgress::durationText(progress.remaining) : QString();
    QStringList figures;
    QStringList details{m_ui->lblProgress->toolTip()};
    if (progress.bytesDone >= 0 && progress.bytesTotal >= 0)
        details << QStringLiteral("已上传 %1 / %2")
                       .arg(PipelineProgress::bytesText(progress.bytesDone), PipelineProgress::bytesText(progress.bytesTotal));
    if (!speed.isEmpty()) {
        figures << speed;
        details << QStringLiteral("速度 ") + speed;
    }
    if (progress.elapsedMs >= 0)
        details << QStringLiteral("已用时 ") + PipelineProgress::durationText(progress.elapsedMs / 1000);
    if (!left.isEmpty()) {
        figures << QStringLiteral("剩余 ") + left;
        details << QStringLiteral("剩余 ") + left;
    }
    m_figures = figures.join(QStringLiteral(" · "));
    details.removeAll(QString());
    m_ui->lblProgress->setToolTip(details.join(QLatin1Char('\n')));
    fitProgressText();
}

QString ItemTaskStatusWidget::progressText() const
{
    return m_figures.isEmpty() ? m_text : m_text + QStringLiteral(" · ") + m_figures;
}

QString ItemTaskStatusWidget::message() const
{
    return m_ui->lblError->toolTip();
}

void ItemTaskStatusWidget::fitProgressText()
{
    QLabel *label = m_ui->lblProgress;
    const QFontMetrics metrics(label->font());
    // Before its first layout the label's width means nothing.
    const int width = label->isVisible() ? label->contentsRect().width() : QWIDGETSIZE_MAX;
    const QString line = progressText();
    if (m_figures.isEmpty() || metrics.horizontalAdvance(line) <= width) {
        label->setText(metrics.elidedText(line, Qt::ElideRight, width));
        return;
    }
    label->setText(metrics.elidedText(m_text, Qt::ElideRight, width) + QLatin1Char('\n')
                   + metrics.elidedText(m_figures, Qt::ElideRight, width));
}

bool ItemTaskStatusWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_ui->lblProgress && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        fitProgressText();
    return QWidget::eventFilter(watched, event);
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
