// SPDX-License-Identifier: MIT
#pragma once

#include "gui/assets/guiresources.h"

#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMimeData>
#include <QObject>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
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

// Waits, without blocking the event loop, for each modal window of a series (a file dialog,
// then a box) to come up and be active, and hands it to its step. Modal windows run their
// own event loop, so the timer keeps firing inside it; that is what lets a test press keys on
// a box that blocks the caller.
class ModalDriver final : public QObject
{
public:
    explicit ModalDriver(QList<std::function<void(QWidget *)>> steps)
        : m_steps(std::move(steps))
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalDriver::poll);
        m_timer.start(10);
    }
    explicit ModalDriver(std::function<void(QWidget *)> act)
        : ModalDriver(QList<std::function<void(QWidget *)>>{std::move(act)})
    {
    }

    // How many modal windows have been handed to their step.
    int seen() const { return m_seen; }

private:
    void poll()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal == m_last)
            return;
        if (QApplication::activeWindow() != modal) {
            QApplication::setActiveWindow(modal);
            return;
        }
        m_last = modal;
        if (m_seen + 1 == m_steps.size())
            m_timer.stop();
        m_steps.at(m_seen++)(modal);
    }

    QList<std::function<void(QWidget *)>> m_steps;
    QPointer<QWidget> m_last;
    QTimer m_timer;
    int m_seen = 0;
};

// A step for a message box: notes its text (and title) and clicks the button of that name.
// Any other window is noted as "<not our message box>" and closed, so a failing test does
// not hang in it.
inline std::function<void(QWidget *)> answer(const QString &button, QStringList *texts, QStringList *titles = nullptr)
{
    return [button, texts, titles](QWidget *box) {
        auto *text = box->findChild<QLabel *>(QStringLiteral("lblMessage"));
        auto *press = box->findChild<QPushButton *>(button);
        if (!text || !press) {
            *texts << QStringLiteral("<not our message box>");
            box->close();
            return;
        }
        *texts << text->text();
        if (titles)
            *titles << box->findChild<QLabel *>(QStringLiteral("lblDialogTitle"))->text();
        press->click();
    };
}

// A translucent window's picture laid on a desktop-like grey, so its shadow shows.
inline QImage onDesktop(const QImage &picture)
{
    QImage composed(picture.size(), QImage::Format_ARGB32_Premultiplied);
    composed.fill(QColor(QStringLiteral("#E4E8EE")));
    QPainter painter(&composed);
    painter.drawImage(0, 0, picture);
    return composed;
}

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
