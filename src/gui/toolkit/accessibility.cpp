// SPDX-License-Identifier: MIT
#include "gui/toolkit/accessibility.h"

#include <QAccessibleWidget>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QVariant>

namespace {

const char MergedProperty[] = "nuvAccessibleMerged";

bool exposed(const QObject *object)
{
    const auto *widget = qobject_cast<const QWidget *>(object);
    return widget && !widget->isWindow() && !widget->isHidden() && !widget->property(MergedProperty).toBool();
}

// A widget whose children are the ones shown; the base's own list holds hidden ones too.
class ShownChildren : public QAccessibleWidget
{
public:
    using QAccessibleWidget::QAccessibleWidget;

    int childCount() const override { return int(shown().size()); }
    QAccessibleInterface *child(int index) const override
    {
        const QList<QWidget *> children = shown();
        return index >= 0 && index < children.size() ? QAccessible::queryAccessibleInterface(children.at(index))
                                                     : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child ? int(shown().indexOf(qobject_cast<QWidget *>(child->object()))) : -1;
    }

protected:
    virtual QList<QWidget *> shown() const
    {
        QList<QWidget *> children;
        for (QObject *object : widget()->children()) {
            if (exposed(object))
                children << static_cast<QWidget *>(object);
        }
        return children;
    }
};

// The task list: its items are the row widgets, in list order.
class TaskList final : public ShownChildren
{
public:
    explicit TaskList(QWidget *widget)
        : ShownChildren(widget, QAccessible::List)
    {
    }

protected:
    QList<QWidget *> shown() const override
    {
        const auto *list = static_cast<const QListWidget *>(widget());
        QList<QWidget *> rows;
        for (int i = 0; i < list->count(); ++i) {
            QWidget *row = list->isRowHidden(i) ? nullptr : list->itemWidget(list->item(i));
            if (row && exposed(row))
                rows << row;
        }
        return rows;
    }
};

// The row a widget sits in, when it does.
QWidget *rowOf(const QWidget *widget)
{
    for (QWidget *up = widget->parentWidget(); up; up = up->parentWidget()) {
        if (up->inherits("ItemTaskWidget"))
            return up;
    }
    return nullptr;
}

// A row's button: a child of the row itself, however deep its widget sits, and pressable.
class RowButton final : public QAccessibleWidget
{
public:
    explicit RowButton(QWidget *widget)
        : QAccessibleWidget(widget, QAccessible::PushButton)
    {
    }

    QAccessibleInterface *parent() const override
    {
        return QAccessible::queryAccessibleInterface(rowOf(widget()));
    }
    QString text(QAccessible::Text type) const override
    {
        const QString text = QAccessibleWidget::text(type);
        if (type != QAccessible::Name || !text.isEmpty())
            return text;
        return static_cast<QPushButton *>(widget())->text().remove(QLatin1Char('&'));
    }
    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.pressed = static_cast<QPushButton *>(widget())->isDown();
        return state;
    }
    QStringList actionNames() const override
    {
        return QStringList(pressAction()) << QAccessibleWidget::actionNames();
    }
    void doAction(const QString &name) override
    {
        if (name != pressAction())
            return QAccessibleWidget::doAction(name);
        if (widget()->isEnabled())
            static_cast<QPushButton *>(widget())->click();
    }
};

// A row of the task list: name and description are the row's own (its file, its status);
// its children are the buttons it shows, wherever they sit inside it.
class TaskRow final : public ShownChildren
{
public:
    explicit TaskRow(QWidget *widget)
        : ShownChildren(widget, QAccessible::ListItem)
    {
    }

    QAccessibleInterface *parent() const override
    {
        for (QWidget *up = widget()->parentWidget(); up; up = up->parentWidget()) {
            if (qobject_cast<QListWidget *>(up))
                return QAccessible::queryAccessibleInterface(up);
        }
        return ShownChildren::parent();
    }

protected:
    QList<QWidget *> shown() const override
    {
        QList<QWidget *> buttons;
        for (QPushButton *button : widget()->findChildren<QPushButton *>()) {
            if (button->isVisibleTo(widget()))
                buttons << button;
        }
        return buttons;
    }
};

QAccessibleInterface *factory(const QString &className, QObject *object)
{
    auto *widget = qobject_cast<QWidget *>(object);
    if (!widget)
        return nullptr;
    if (className == QLatin1String("ItemTaskWidget"))
        return new TaskRow(widget);
    if (className == QLatin1String("SuspendedScrollBarListWidget"))
        return new TaskList(widget);
    if (className == QLatin1String("QPushButton") && rowOf(widget))
        return new RowButton(widget);
    if (className == QLatin1String("QStackedWidget"))
        return new ShownChildren(widget, QAccessible::LayeredPane);
    // Plain containers and the tool's own pages; Qt's widgets of their own kind (labels,
    // buttons, dialogs, ...) keep Qt's interfaces, found before this class name comes up.
    if (className == QLatin1String("QWidget"))
        return new ShownChildren(widget, widget->isWindow() ? QAccessible::Window : QAccessible::Client);
    return nullptr;
}

} // namespace

namespace Accessibility {

void install()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QAccessible::installFactory(factory);
}

void setMerged(QWidget *widget)
{
    widget->setProperty(MergedProperty, true);
}

} // namespace Accessibility
