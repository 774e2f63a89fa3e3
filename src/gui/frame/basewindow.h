// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

namespace Ui {
class BaseWindow;
}
class BaseTitleBar;

// A frameless, translucent top-level window: a white round-cornered body with a soft
// shadow, inset 24 pixels so the shadow has room, and our own title bar on top of it.
// Pages that need window chrome derive from it.
class BaseWindow : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(BaseWindow)

public:
    explicit BaseWindow(QWidget *parent = nullptr);
    ~BaseWindow() override;

    void setButtonType(int type);
    void setVersion(const QString &version);

    BaseTitleBar *titleBar() const { return m_titleBar; }
    // The white body that carries the shadow; derived windows place their content over it.
    QWidget *windowBody() const;

public slots:
    void onMiniMsg();
    void onRestoreMsg();
    void onMaxMsg();
    void onCloseMsg();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void layoutBody();

    Ui::BaseWindow *m_ui = nullptr;
    BaseTitleBar *m_titleBar = nullptr;
};
