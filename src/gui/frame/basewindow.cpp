// SPDX-License-Identifier: MIT
#include "gui/frame/basewindow.h"
#include "ui_basewindow.h"

#include "gui/frame/basetitlebar.h"
#include "gui/frame/windowshadow.h"

namespace {

// The transparent border around the body that the drop shadow is drawn into.
constexpr int ShadowBorder = 24;

} // namespace

BaseWindow::BaseWindow(QWidget *parent)
    : QWidget(parent)
    , m_ui(new Ui::BaseWindow)
{
    m_ui->setupUi(this);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint);
    setAttribute(Qt::WA_TranslucentBackground);

    applyWindowShadow(m_ui->wdgWindowBg);

    m_titleBar = new BaseTitleBar(this, m_ui->wdgWindowBg);
    m_titleBar->setObjectName(QStringLiteral("BaseTitleBar"));
    m_titleBar->move(0, 0);

    connect(m_titleBar, &BaseTitleBar::miniMsg, this, &BaseWindow::onMiniMsg);
    connect(m_titleBar, &BaseTitleBar::restoreMsg, this, &BaseWindow::onRestoreMsg);
    connect(m_titleBar, &BaseTitleBar::maxMsg, this, &BaseWindow::onMaxMsg);
    connect(m_titleBar, &BaseTitleBar::closeMsg, this, &BaseWindow::onCloseMsg);

    layoutBody();
}

BaseWindow::~BaseWindow()
{
    delete m_ui;
}

void BaseWindow::setButtonType(int type)
{
    m_titleBar->setButtonType(type);
}

void BaseWindow::setVersion(const QString &version)
{
    m_titleBar->setVersion(version);
}

QWidget *BaseWindow::windowBody() const
{
    return m_ui->wdgWindowBg;
}

// The title bar already acted on the window; these exist for derived windows to hook.
void BaseWindow::onMiniMsg()
{
}

void BaseWindow::onRestoreMsg()
{
}

void BaseWindow::onMaxMsg()
{
}

void BaseWindow::onCloseMsg()
{
}

// Never while painting: a geometry change inside a paint event leaves parts of the window
// unpainted.
void BaseWindow::resizeEvent(QResizeEvent *event)
{
    layoutBody();
    QWidget::resizeEvent(event);
}

void BaseWindow::layoutBody()
{
    const QRect body(ShadowBorder, ShadowBorder, width() - 2 * ShadowBorder, height() - 2 * ShadowBorder);
    if (m_ui->wdgWindowBg->geometry() != body)
        m_ui->wdgWindowBg->setGeometry(body);
    if (m_titleBar->width() != body.width())
        m_titleBar->resize(body.width(), m_titleBar->height());
}
