// SPDX-License-Identifier: MIT
#pragma once

#include <QScrollBar>

// A thin scroll bar that floats over a list instead of taking room beside it. It mirrors
// the list's own (hidden) bar and hides itself when there is nothing to scroll.
class SuspendedScrollBar final : public QScrollBar
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SuspendedScrollBar)

public:
    SuspendedScrollBar(Qt::Orientation orientation, QWidget *parent);

signals:
    void receiveRangeChanged();

public slots:
    void on_rangeChanged(int min, int max);
    void on_valueChange_scrollBar(int value);
};
