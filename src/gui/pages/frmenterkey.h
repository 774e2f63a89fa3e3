// SPDX-License-Identifier: MIT
#pragma once

#include "gui/toolkit/nuvwidgetuibehavior.h"

#include <QWidget>

namespace Ui {
class FrmEnterKey;
}
class FrmApp;

// The first page: takes a launch command from the launch text, the box (button, Enter,
// paste), the clipboard when the window becomes active, or a URL the system hands to the
// running program. A valid command is stored in the coordinator and announced.
class FrmEnterKey final : public QWidget, private NuvWidgetUiBehavior
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FrmEnterKey)

public:
    explicit FrmEnterKey(QWidget *parent = nullptr);
    ~FrmEnterKey() override;

    // The first window given makes this process the idle instance and lets the page take
    // commands handed to the running program.
    void setApp(FrmApp *app);
    void idleState();

    // Decodes text; a valid command is stored and announced. Returns the failure text,
    // empty on success.
    QString checkKey(const QString &text);

    // Puts the launch text back into the box; the load step stays as it is.
    void reload() override;

signals:
    void keyConfirmMsg();

public slots:
    void on_btnConfirm_clicked();
    void on_txtKey_textChanged();
    void onReveiveArgsMsg(const QString &args);

private:
    void onLoad() override;
    void installEventHandlers();
    void checkClipboard();

    Ui::FrmEnterKey *m_ui = nullptr;
    FrmApp *m_app = nullptr;
};
