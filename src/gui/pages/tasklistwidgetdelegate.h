// SPDX-License-Identifier: MIT
#pragma once

#include <QStyledItemDelegate>

class QListWidget;

// Paints the background of each task row by its state (white, grey under the mouse, a
// reddish gradient for a failure) and gives every row the same height.
class TaskListWidgetDelegate final : public QStyledItemDelegate
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskListWidgetDelegate)

public:
    static constexpr int RowHeight = 74;

    TaskListWidgetDelegate(QObject *parent, QListWidget *listWidget);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    QListWidget *m_listWidget = nullptr;
};
