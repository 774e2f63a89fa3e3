// SPDX-License-Identifier: MIT
#pragma once

#include "core/pipeline/uploadfileinfo.h"
#include "gui/pages/itemtaskwidgetstatus.h"
#include "gui/toolkit/nuvwidgetuibehavior.h"

#include <QRecursiveMutex>
#include <QSharedPointer>
#include <QWidget>

#include <functional>

namespace Ui {
class ItemTaskWidget;
}
class Manager;
class UploadManager;
struct ActionOutcome;

// One file of the task list: name, size, state and the upload / pause / delete buttons.
// A view of its pipeline: it has the pipeline analyse its file and run in the background
// when the user or the list's scheduler starts it, and shows the pipeline's progress,
// failure or completion.
//
// Work on worker threads never touches the row itself: it gets copies and the pipeline,
// and hands its results back queued. A row that is deleted while one of its actions still
// runs therefore only loses results nobody would see; it waits for the threads when it goes.
class ItemTaskWidget final : public QWidget, private NuvWidgetUiBehavior
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ItemTaskWidget)

public:
    static constexpr int RowHeight = 72;
    // Shown while the row's file is analysed, and while it waits for its turn.
    static const QString AnalysingText;
    static const QString WaitingForAnalysisText;

    explicit ItemTaskWidget(QWidget *parent = nullptr);
    ~ItemTaskWidget() override;

    using NuvWidgetUiBehavior::reload;

    void setManager(const QSharedPointer<Manager> &manager);
    void setUploadManager(const QSharedPointer<UploadManager> &uploadManager);
    QSharedPointer<UploadManager> uploadManager() const;
    // Copies the record and, for a file not analysed yet, starts the analysis.
    void setFileInfo(const UploadFileInfo &fileInfo);
    UploadFileInfo fileInfo() const;

    // Starts the upload when the session's start permit is free and the pipeline can run.
    bool tryStart();
    void sendMessage(ItemTaskWidgetStatus status, const QString &message, int progress);
    ItemTaskWidgetStatus status() const;

    // "385000000" bytes read "367.16MB": the digits after the point are the leading digits
    // of the last remainder, as the platform shows sizes.
    static QString sizeText(qint64 bytes);

signals:
    void deleteItemMsg(ItemTaskWidget *itemTaskWidget);
    void completeMsg(const QObject *widget);

public slots:
    void onDeleteMsg(UploadManager *uploadManager);
    void onDataUpdateMsg();
    void onCompleteMsg(const QObject *widget);
    void on_btnDelete_clicked();
    void on_btnPause_clicked();
    void on_btnUpload_clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    // Delete on any of the row's controls does what its delete button does.
    void keyPressEvent(QKeyEvent *event) override;

private:
    void onLoad() override;
    void applyStatus(ItemTaskWidgetStatus status, const QString &text, const QString &message, int progress);
    void showButtonsForStatus();
    // The row as an assistive tool reads it: the file as its name; size and status, with
    // the failure's message, as its description.
    void describe();
    // Queues the analysis; runAnalysis runs it when its turn comes.
    void analyse();
    void runAnalysis(const std::function<void()> &release);
    void onUploadDone(const ActionOutcome &outcome);
    bool hasTasks() const;

    Ui::ItemTaskWidget *m_ui = nullptr;
    ItemTaskWidgetStatus m_status = ItemTaskWidgetStatus::Analysing;
    QSharedPointer<UploadManager> m_uploadManager;
    UploadFileInfo m_fileInfo;
    QRecursiveMutex m_lock;
    QSharedPointer<Manager> m_manager;
};
