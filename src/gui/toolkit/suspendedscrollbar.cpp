// SPDX-License-Identifier: MIT
#include "gui/toolkit/suspendedscrollbar.h"

SuspendedScrollBar::SuspendedScrollBar(Qt::Orientation orientation, QWidget *parent)
    : QScrollBar(orientation, parent)
{
    setRange(0, 0);
    hide();
}

void SuspendedScrollBar::on_rangeChanged(int min, int max)
{
    setMinimum(min);
    setRange(0, max);
    setPageStep(static_cast<int>((max + height()) * 0.75));
    if (max <= 0)
        hide();
    emit receiveRangeChanged();
}

void SuspendedScrollBar::on_valueChange_scrollBar(int value)
{
    setValue(value);
}
