// SPDX-License-Identifier: MIT
#pragma once

#include "gui/toolkit/nuvwidgetuibehavior.h"

#include <QMutex>
#include <QPointer>
#include <QSharedPointer>
#include <QStringList>
#include <QWidget>

namespace Ui {
class FrmList;
}
class FrmApp;
class ItemTaskWidget;
class QListWidgetItem;
class UploadManager;

// The task list page: one row per file, the counter against the limit, more files by
// dialog or drag and drop, row deletion, and the scheduler that starts the next waiting
// row whenever a row finishes, pauses, fails, is analysed or is deleted.
class FrmList final : public QWidget, private NuvWidgetUiBehavior
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FrmList)

public:
    static constexpr int MaxListHeight = 394;
    // How long the scheduler waits for a row that is still being analysed.
    static constexpr int AnalysisWaitMs = 10000;
    // Rows made in one turn of the event loop: at least RowsEachTurn (a few files show at
    // once), more while RowBatchMs have not passed.
    static constexpr int RowsEachTurn = 8;
    static constexpr int RowBatchMs = 15;

    explicit FrmList(QWidget *parent = nullptr);
    ~FrmList() override;

    using NuvWidgetUiBehavior::reload;
    void setApp(FrmApp *app);
    void addFiles(const QStringList &files);
    void refreshCount();

signals:
    void taskEmptyMsg();

public slots:
    void on_btnAddList_clicked();
    void onDeleteItemMsg(ItemTaskWidget *itemWidget);
    void onCompleteMsg(const QObject *widget);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void onLoad() override;
    void addRows();
    int maxUploadNum() const;
    int pipelineCount() const;
    ItemTaskWidget *rowAt(int index) const;
    int indexOf(const QObject *row) const;
    void finishRemoval(const QPointer<ItemTaskWidget> &row);
    void updateListHeight();
    void waitWhileAnalysing(const QPointer<ItemTaskWidget> &row);
    void deferPass(const QObject *widget);
    void showWarning(const QString &message);

    Ui::FrmList *m_ui = nullptr;
    qint32 m_maxHeight = MaxListHeight;
    FrmApp *m_app = nullptr;
    // Files counted in the session whose rows are still to be made, in order.
    struct Unshown
    {
        QString path;
        QSharedPointer<UploadManager> pipeline;
    };
    QList<Unshown> m_unshown;

    // One scheduler pass at a time in the whole process; a pass re-entered through the
    // events it processes while waiting finds the lock taken and returns.
    static QMutex s_schedulerMutex;
    static bool s_schedulerBusy;
    // A call that found a pass running is not lost: the running pass gives way to it at its
    // next row (it may have waited there while the finished row's call arrived), or it runs
    // once the pass ends. A call naming a row wins over one from the top.
    bool m_passPending = false;
    const QObject *m_pendingWidget = nullptr;
};
