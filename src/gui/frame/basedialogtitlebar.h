// SPDX-License-Identifier: MIT
#pragma once

#include <QIcon>
#include <QPoint>
#include <QWidget>

namespace Ui {
class BaseDialogTitleBar;
}
class QPushButton;

// The title bar of a frameless dialog: title and close button, and dragging. It spans
// the width of the widget it sits on.
class BaseDialogTitleBar final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BaseDialogTitleBar)

public:
    BaseDialogTitleBar(QWidget *dialog, QWidget *parent);
    ~BaseDialogTitleBar() override;

    void setTitle(const QString &title);
    QString title() const;
    QPushButton *closeButton() const;

signals:
    void closeMsg();

public slots:
    void onCloseMsg();
    void onWindowTitleChanged(const QString &title);
    void onWindowIconChanged(const QIcon &icon);
    void onWindowIconTextChanged(const QString &iconText);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void followParentWidth();

    Ui::BaseDialogTitleBar *m_ui = nullptr;
    QWidget *m_dialog = nullptr;
    bool m_dragging = false;
    QPoint m_lastGlobalPos;
};
