// SPDX-License-Identifier: MIT
#include "gui/toolkit/qobjecteventdelegate.h"

QObjectEventDelegate::QObjectEventDelegate(QObject *parent)
    : QObject(parent)
{
}

void QObjectEventDelegate::addHandler(QObject *target, QEvent::Type type, Handler handler)
{
    m_entries.append(Entry{std::move(handler), target, type});
    target->installEventFilter(this);
}

bool QObjectEventDelegate::eventFilter(QObject *watched, QEvent *event)
{
    for (const Entry &entry : qAsConst(m_entries)) {
        if (entry.target != watched || entry.type != event->type())
            continue;
        if (entry.handler(watched, event))
            return true;
        return watched->eventFilter(watched, event);
    }
    return false;
}
