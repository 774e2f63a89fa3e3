// SPDX-License-Identifier: MIT
#include "gui/frame/basedialogtitlebar.h"
#include "ui_basedialogtitlebar.h"

#include <QEvent>
#include <QMouseEvent>

BaseDialogTitleBar::BaseDialogTitleBar(QWidget *dialog, QWidget *parent)
    : QWidget(parent)
    , m_ui(new Ui::BaseDialogTitleBar)
    , m_dialog(dialog)
{
    m_ui->setupUi(this);
    setFixedHeight(48);

    connect(m_ui->btnDialogClose, &QPushButton::clicked, this, &BaseDialogTitleBar::onCloseMsg);
    connect(m_dialog, &QWidget::windowTitleChanged, this, &BaseDialogTitleBar::onWindowTitleChanged);
    connect(m_dialog, &QWidget::windowIconChanged, this, &BaseDialogTitleBar::onWindowIconChanged);
    connect(m_dialog, &QWidget::windowIconTextChanged, this, &BaseDialogTitleBar::onWindowIconTextChanged);

    // The parent is resized by its layout, which may not repaint this bar when it shrinks.
    if (parentWidget())
        parentWidget()->installEventFilter(this);
    followParentWidth();
    setTitle(m_dialog->windowTitle());
}

BaseDialogTitleBar::~BaseDialogTitleBar()
{
    delete m_ui;
}

void BaseDialogTitleBar::setTitle(const QString &title)
{
    m_ui->lblDialogTitle->setText(title);
}

QString BaseDialogTitleBar::title() const
{
    return m_ui->lblDialogTitle->text();
}

QPushButton *BaseDialogTitleBar::closeButton() const
{
    return m_ui->btnDialogClose;
}

void BaseDialogTitleBar::onCloseMsg()
{
    emit closeMsg();
}

void BaseDialogTitleBar::onWindowTitleChanged(const QString &title)
{
    setTitle(title);
}

void BaseDialogTitleBar::onWindowIconChanged(const QIcon &icon)
{
    Q_UNUSED(icon)
}

void BaseDialogTitleBar::onWindowIconTextChanged(const QString &iconText)
{
    Q_UNUSED(iconText)
}

bool BaseDialogTitleBar::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        followParentWidth();
    return QWidget::eventFilter(watched, event);
}

void BaseDialogTitleBar::mousePressEvent(QMouseEvent *event)
{
    m_dragging = true;
    m_lastGlobalPos = event->globalPos();
    event->accept();
}

void BaseDialogTitleBar::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const QPoint globalPos = event->globalPos();
    m_dialog->move(m_dialog->pos() + (globalPos - m_lastGlobalPos));
    m_lastGlobalPos = globalPos;
    event->accept();
}

void BaseDialogTitleBar::mouseReleaseEvent(QMouseEvent *event)
{
    m_dragging = false;
    QWidget::mouseReleaseEvent(event);
}

void BaseDialogTitleBar::paintEvent(QPaintEvent *event)
{
    followParentWidth();
    QWidget::paintEvent(event);
}

void BaseDialogTitleBar::followParentWidth()
{
    const QWidget *parent = parentWidget();
    if (parent && parent->width() != width())
        setFixedWidth(parent->width());
}
