// SPDX-License-Identifier: MIT
#include "gui/pages/tasklistwidgetdelegate.h"

#include "gui/pages/itemtaskwidget.h"

#include <QLinearGradient>
#include <QListWidget>
#include <QPainter>

namespace {
// Gradient end: the width of the widest row the window can hold.
constexpr int GradientWidth = 890;
} // namespace

TaskListWidgetDelegate::TaskListWidgetDelegate(QObject *parent, QListWidget *listWidget)
    : QStyledItemDelegate(parent)
    , m_listWidget(listWidget)
{
}

void TaskListWidgetDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                   const QModelIndex &index) const
{
    painter->save();
    painter->setClipRect(option.rect);
    const QRect fill = option.rect.adjusted(0, 0, 0, -2);
    const bool hovered = option.state.testFlag(QStyle::State_MouseOver);
    const auto *row = qobject_cast<const ItemTaskWidget *>(m_listWidget->itemWidget(m_listWidget->item(index.row())));
    if (row) {
        switch (row->status()) {
        case ItemTaskWidgetStatus::Analysing:
        case ItemTaskWidgetStatus::Waiting:
        case ItemTaskWidgetStatus::Completed:
        case ItemTaskWidgetStatus::Uploading:
        case ItemTaskWidgetStatus::Paused:
            painter->fillRect(fill, hovered ? QColor(245, 245, 247) : QColor(Qt::white));
            break;
        case ItemTaskWidgetStatus::Failed: {
            QLinearGradient gradient(0, 0, GradientWidth, 0);
            gradient.setColorAt(0, hovered ? QColor(252, 227, 220) : QColor(254, 246, 244));
            gradient.setColorAt(1, hovered ? QColor(252, 227, 220) : QColor(253, 238, 233));
            painter->fillRect(fill, gradient);
            break;
        }
        default: break;
        }
    }
    painter->restore();
    QStyledItemDelegate::paint(painter, option, index);
}

QSize TaskListWidgetDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(RowHeight);
    return size;
}
