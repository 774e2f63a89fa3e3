// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

struct PipelineProgress;

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
    // Adds speed and time left to the text set last, and the full figures to its tool tip.
    void showFigures(const PipelineProgress &progress);
    // The status as one line: text, percent and figures.
    QString progressText() const;
    // The message of the last status: the failure's text in the error view.
    QString message() const;
    // Shows the view that belongs to the owner's status.
    void showViewForOwner();

public slots:
    void on_btnError_clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // One line when it fits the label, else the figures on a second line; elided either way.
    void fitProgressText();

    Ui::ItemTaskStatusWidget *m_ui = nullptr;
    QString m_text;
    QString m_figures;
    ItemTaskWidget *m_owner = nullptr;
};
