// SPDX-License-Identifier: MIT
#pragma once

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <QVector>

#include <functional>

// Lets a form react to one event type on one object with a function instead of a
// subclass. The first entry that matches an event decides; a handler that returns false
// leaves the decision to the target's own event filter.
class QObjectEventDelegate final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QObjectEventDelegate)

public:
    using Handler = std::function<bool(QObject *, QEvent *)>;

    explicit QObjectEventDelegate(QObject *parent);

    void addHandler(QObject *target, QEvent::Type type, Handler handler);

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Entry
    {
        Handler handler;
        // Guarded so that an entry of a destroyed target never matches a newcomer that
        // happens to get the same address.
        QPointer<QObject> target;
        qint32 type = QEvent::None;
    };

    QVector<Entry> m_entries;
};
