// SPDX-License-Identifier: MIT
#pragma once

#include <QIcon>
#include <QPoint>
#include <QWidget>

namespace Ui {
class BaseTitleBar;
}

// The title bar of a frameless window: title, version, minimise / maximise / restore /
// close buttons, dragging and double-click. It acts on the window itself and then
// announces what it did. Maximising always means full screen.
class BaseTitleBar final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BaseTitleBar)

public:
    // Type 0: minimise and close; 1: minimise, maximise or restore, close; 2: close only.
    BaseTitleBar(QWidget *window, QWidget *parent);
    ~BaseTitleBar() override;

    void setButtonType(int type);
    int buttonType() const { return m_buttonType; }
    void setVersion(const QString &version);

signals:
    void miniMsg();
    void restoreMsg();
    void maxMsg();
    void closeMsg();

public slots:
    void onMiniMsg();
    void onRestoreMsg();
    void onMaxMsg();
    void onCloseMsg();
    void onWindowTitleChanged(const QString &title);
    void onWindowIconChanged(const QIcon &icon);
    void onWindowIconTextChanged(const QString &iconText);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    void showMaximiseOrRestore();

    Ui::BaseTitleBar *m_ui = nullptr;
    QWidget *m_window = nullptr;
    int m_buttonType = 1;
    bool m_dragging = false;
    QPoint m_lastGlobalPos;
};
