// SPDX-License-Identifier: MIT
#pragma once

#include "gui/toolkit/nuvwidgetuibehavior.h"

#include <QWidget>

namespace Ui {
class FrmLoading;
}
class FrmApp;

// Shown after a command was confirmed: fetches the server settings, offers a newer client
// if the server announces one, fetches the API token, and ends with validatedMsg() or
// validatedErrorMsg(text). The network steps run on worker threads, one after the other.
class FrmLoading final : public QWidget, private NuvWidgetUiBehavior
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FrmLoading)

public:
    explicit FrmLoading(QWidget *parent = nullptr);
    ~FrmLoading() override;

    void setApp(FrmApp *app);

    // Arms the sequence for the next show and resets the progress.
    void reload() override;
    void init();
    void initControl();
    void initManager();
    void initToken();

signals:
    void validatedMsg();
    void validatedErrorMsg(const QString &msg);

private:
    void onLoad() override;
    void checkVersion();
    void setProgress(int value);

    Ui::FrmLoading *m_ui = nullptr;
    FrmApp *m_app = nullptr;
};
