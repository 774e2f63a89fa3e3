// SPDX-License-Identifier: MIT
#include "gui/frame/basetitlebar.h"
#include "ui_basetitlebar.h"

#include <QDebug>
#include <QFontMetrics>
#include <QMouseEvent>
#include <QPointer>

namespace {

constexpr int TitleElideWidth = 500;

} // namespace

BaseTitleBar::BaseTitleBar(QWidget *window, QWidget *parent)
    : QWidget(parent)
    , m_ui(new Ui::BaseTitleBar)
    , m_window(window)
{
    m_ui->setupUi(this);
    setFixedHeight(53);

    const Qt::WindowStates state = m_window->windowState();
    if (state & (Qt::WindowMaximized | Qt::WindowFullScreen))
        m_ui->btnMax->hide();
    else
        m_ui->btnRestore->hide();

    connect(m_ui->btnMini, &QPushButton::clicked, this, &BaseTitleBar::onMiniMsg);
    connect(m_ui->btnRestore, &QPushButton::clicked, this, &BaseTitleBar::onRestoreMsg);
    connect(m_ui->btnMax, &QPushButton::clicked, this, &BaseTitleBar::onMaxMsg);
    connect(m_ui->btnClose, &QPushButton::clicked, this, &BaseTitleBar::onCloseMsg);
    connect(m_window, &QWidget::windowTitleChanged, this, &BaseTitleBar::onWindowTitleChanged);
    connect(m_window, &QWidget::windowIconChanged, this, &BaseTitleBar::onWindowIconChanged);
    connect(m_window, &QWidget::windowIconTextChanged, this, &BaseTitleBar::onWindowIconTextChanged);

    if (!m_window->windowTitle().isEmpty())
        onWindowTitleChanged(m_window->windowTitle());
}

BaseTitleBar::~BaseTitleBar()
{
    delete m_ui;
}

void BaseTitleBar::setButtonType(int type)
{
    m_buttonType = type;
    // Each type shows its own buttons too, so switching from a smaller type back to a
    // larger one does not leave the window without a maximise button (and undraggable).
    switch (type) {
    case 0:
        m_ui->btnMini->show();
        m_ui->btnRestore->hide();
        m_ui->btnMax->hide();
        break;
    case 1:
        m_ui->btnMini->show();
        showMaximiseOrRestore();
        break;
    case 2:
        m_ui->btnMini->hide();
        m_ui->btnRestore->hide();
        m_ui->btnMax->hide();
        break;
    default: break;
    }
}

void BaseTitleBar::showMaximiseOrRestore()
{
    const bool full = m_window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen);
    m_ui->btnMax->setHidden(full);
    m_ui->btnRestore->setHidden(!full);
}

void BaseTitleBar::setVersion(const QString &version)
{
    m_ui->lblVersion->setText(version);
    update();
}

void BaseTitleBar::onMiniMsg()
{
    m_window->showMinimized();
    emit miniMsg();
}

void BaseTitleBar::onRestoreMsg()
{
    m_ui->btnRestore->hide();
    m_ui->btnMax->show();
    m_window->showNormal();
    emit restoreMsg();
}

void BaseTitleBar::onMaxMsg()
{
    m_ui->btnMax->hide();
    m_ui->btnRestore->show();
    m_window->showFullScreen();
    emit maxMsg();
}

void BaseTitleBar::onCloseMsg()
{
    // Closing may delete the window and this bar with it (WA_DeleteOnClose).
    const QPointer<BaseTitleBar> self(this);
    m_window->close();
    if (self)
        emit closeMsg();
}

void BaseTitleBar::onWindowTitleChanged(const QString &title)
{
    qDebug("BaseTitleBar::on_windowTitleChanged");
    // The style sheet sets the title font; measure with it, not with the default one.
    m_ui->lblTitle->ensurePolished();
    const QFontMetrics metrics(m_ui->lblTitle->font());
    m_ui->lblTitle->setText(metrics.elidedText(title, Qt::ElideRight, TitleElideWidth));
    m_ui->lblTitle->setToolTip(title);
    update();
}

void BaseTitleBar::onWindowIconChanged(const QIcon &icon)
{
    Q_UNUSED(icon)
}

void BaseTitleBar::onWindowIconTextChanged(const QString &iconText)
{
    Q_UNUSED(iconText)
}

void BaseTitleBar::mousePressEvent(QMouseEvent *event)
{
    // A full-screen window stays where it is.
    if (m_buttonType == 1 && m_ui->btnMax->isHidden()) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    m_lastGlobalPos = event->globalPos();
    event->accept();
}

void BaseTitleBar::mouseMoveEvent(QMouseEvent *event)
{
    if (!m_dragging) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const QPoint globalPos = event->globalPos();
    m_window->move(m_window->pos() + (globalPos - m_lastGlobalPos));
    m_lastGlobalPos = globalPos;
    event->accept();
}

void BaseTitleBar::mouseReleaseEvent(QMouseEvent *event)
{
    m_dragging = false;
    QWidget::mouseReleaseEvent(event);
}

void BaseTitleBar::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (m_buttonType == 1) {
        if (!m_ui->btnMax->isHidden())
            onMaxMsg();
        else
            onRestoreMsg();
    }
    QWidget::mouseDoubleClickEvent(event);
}
