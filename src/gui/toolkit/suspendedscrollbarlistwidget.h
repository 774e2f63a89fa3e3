// SPDX-License-Identifier: MIT
#pragma once

#include <QListWidget>

class SuspendedScrollBar;

// A list widget without scroll bars of its own that shows a thin floating bar over its
// right edge while the mouse is over it and there is something to scroll.
class SuspendedScrollBarListWidget final : public QListWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SuspendedScrollBarListWidget)

public:
    explicit SuspendedScrollBarListWidget(QWidget *parent = nullptr);

    SuspendedScrollBar *suspendedScrollBar() const { return m_scrollBar; }

public slots:
    void on_valueChange_widget(int value);
    void on_receiveRangeChanged();

protected:
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    SuspendedScrollBar *m_scrollBar = nullptr;
    bool m_hovered = false;
};
