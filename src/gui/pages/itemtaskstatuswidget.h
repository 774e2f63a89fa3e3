// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

namespace Ui {
class ItemTaskStatusWidget;
}
class ItemTaskWidget;

// The status column of a task row: a progress bar with its text while a file waits or
// uploads, the failure with a way to copy the log, or the completion mark.
class ItemTaskStatusWidget final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ItemTaskStatusWidget)

public:
    explicit ItemTaskStatusWidget(QWidget *parent = nullptr);
    ~ItemTaskStatusWidget() override;

    void setOwner(ItemTaskWidget *owner);
    // `message` becomes the tool tip: the failure's text in the error view.
    void setStatus(const QString &text, const QString &message, int progress);
    // Shows the view that belongs to the owner's status.
    void showViewForOwner();

public slots:
    void on_btnError_clicked();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Ui::ItemTaskStatusWidget *m_ui = nullptr;
    ItemTaskWidget *m_owner = nullptr;
};
