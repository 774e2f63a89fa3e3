// SPDX-License-Identifier: MIT
#include "gui/toolkit/suspendedscrollbarlistwidget.h"

#include "gui/toolkit/suspendedscrollbar.h"

#include <QScrollBar>

namespace {

constexpr int BarWidth = 8;

} // namespace

SuspendedScrollBarListWidget::SuspendedScrollBarListWidget(QWidget *parent)
    : QListWidget(parent)
    , m_scrollBar(new SuspendedScrollBar(Qt::Vertical, this))
{
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    QScrollBar *own = verticalScrollBar();
    connect(own, &QScrollBar::valueChanged, m_scrollBar, &SuspendedScrollBar::on_valueChange_scrollBar);
    connect(own, &QScrollBar::rangeChanged, m_scrollBar, &SuspendedScrollBar::on_rangeChanged);
    connect(m_scrollBar, &QScrollBar::valueChanged, this, &SuspendedScrollBarListWidget::on_valueChange_widget);
    connect(m_scrollBar, &SuspendedScrollBar::receiveRangeChanged, this,
            &SuspendedScrollBarListWidget::on_receiveRangeChanged);
}

void SuspendedScrollBarListWidget::on_valueChange_widget(int value)
{
    verticalScrollBar()->setValue(value);
}

void SuspendedScrollBarListWidget::on_receiveRangeChanged()
{
    if (m_hovered && m_scrollBar->maximum() >= 1)
        m_scrollBar->show();
}

void SuspendedScrollBarListWidget::enterEvent(QEvent *event)
{
    m_hovered = true;
    if (m_scrollBar->maximum() > 0)
        m_scrollBar->show();
    QListWidget::enterEvent(event);
}

void SuspendedScrollBarListWidget::leaveEvent(QEvent *event)
{
    m_hovered = false;
    m_scrollBar->hide();
    QListWidget::leaveEvent(event);
}

void SuspendedScrollBarListWidget::resizeEvent(QResizeEvent *event)
{
    // Not event->size(): the viewport's resizes arrive here too, with the viewport's size.
    m_scrollBar->setGeometry(width() - BarWidth, 1, BarWidth, height() - 2);
    QListWidget::resizeEvent(event);
}
