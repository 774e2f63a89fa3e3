// SPDX-License-Identifier: MIT
#pragma once

#include "gui/assets/guiresources.h"

#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <functional>

namespace GuiTest {

// The compiled-in look, as the program applies it at start-up.
inline bool applyStyleSheet()
{
    initGuiResources();
    QFile css(QStringLiteral(":/assets/style/default.css"));
    if (!css.open(QIODevice::ReadOnly))
        return false;
    qApp->setStyleSheet(QString::fromUtf8(css.readAll()));
    return true;
}

// Waits, without blocking the event loop, for a modal window to come up and be active,
// then hands it to `act` once. Modal boxes run their own event loop, so the timer keeps
// firing inside it; that is what lets a test press keys on a box that blocks the caller.
class ModalDriver final : public QObject
{
public:
    explicit ModalDriver(std::function<void(QWidget *)> act)
        : m_act(std::move(act))
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalDriver::poll);
        m_timer.start(10);
    }

    int seen() const { return m_seen; }

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible())
            return;
        if (QApplication::activeWindow() != modal) {
            QApplication::setActiveWindow(modal);
            return;
        }
        ++m_seen;
        m_timer.stop();
        m_act(modal);
    }

    std::function<void(QWidget *)> m_act;
    QTimer m_timer;
    int m_seen = 0;
};

// Handles the modal windows that come up one after another (a file dialog, then a box),
// each with its own step.
class ModalSteps final : public QObject
{
public:
    explicit ModalSteps(QList<std::function<void(QWidget *)>> steps)
        : m_steps(std::move(steps))
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalSteps::poll);
        m_timer.start(10);
    }

    int done() const { return m_done; }

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (m_done >= m_steps.size() || !modal || !modal->isVisible() || modal == m_last)
            return;
        if (QApplication::activeWindow() != modal) {
            QApplication::setActiveWindow(modal);
            return;
        }
        m_last = modal;
        m_steps.at(m_done++)(modal);
    }

    QList<std::function<void(QWidget *)>> m_steps;
    QPointer<QWidget> m_last;
    QTimer m_timer;
    int m_done = 0;
};

// Drops the local files `paths` on `target` as a file manager would; false when the
// target refused the drag.
inline bool drop(QWidget *target, const QStringList &paths)
{
    QMimeData data;
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls << QUrl::fromLocalFile(path);
    data.setUrls(urls);
    // Qt delivers a drop only where the drag was entered and accepted.
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent event(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
    return true;
}

} // namespace GuiTest
