// SPDX-License-Identifier: MIT
#pragma once

#include "gui/toolkit/nuvwidgetuibehavior.h"

#include <QStringList>
#include <QWidget>

namespace Ui {
class FrmAdd;
}
class FrmApp;

// The empty file page: a drop area with one button. Files dropped on it or chosen in the
// file dialog are announced with addFilesMsg; the main window then shows the task list.
class FrmAdd final : public QWidget, private NuvWidgetUiBehavior
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FrmAdd)

public:
    explicit FrmAdd(QWidget *parent = nullptr);
    ~FrmAdd() override;

    using NuvWidgetUiBehavior::reload;
    void setApp(FrmApp *app);

signals:
    void addFilesMsg(const QStringList &files);

public slots:
    void on_btnAdd_clicked();

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void onLoad() override;
    int maxUploadNum() const;
    int currentCount() const;

    Ui::FrmAdd *m_ui = nullptr;
    FrmApp *m_app = nullptr;
};
