// SPDX-License-Identifier: MIT
#pragma once

#include "gui/frame/basewindow.h"
#include "gui/toolkit/nuvwidgetuibehavior.h"

#include <QSharedPointer>
#include <QStringList>

#include <functional>

namespace Ui {
class FrmApp;
}
class InstanceRecords;
class Manager;
class Schema;

// The tool's only top-level window. It owns the session coordinator, shows one page at a
// time (command, loading, empty file page, task list) and moves between them on the pages'
// queued signals. It decides the single-instance questions when a command is confirmed,
// runs the periodic status report, and asks before closing while tasks are unfinished.
class FrmApp final : public BaseWindow, private NuvWidgetUiBehavior
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FrmApp)

public:
    using ExitFunction = std::function<void(int)>;

    // `records` is the application object's single-instance records; it must outlive the window.
    FrmApp(QWidget *parent, const QString &launchText, InstanceRecords *records);
    ~FrmApp() override;

    void showWidget(QWidget *page);
    // Stores an accepted launch command in the coordinator (called by the command page).
    void setSchema(const QSharedPointer<Schema> &schema);
    QSharedPointer<Manager> manager() const;
    QString launchText() const;
    InstanceRecords *records() const;

    // Ends the process at once: a duplicate session, an accepted update, a confirmed close.
    // Tests replace the way it ends so that they can watch it happen.
    void exitProcess(int code);
    void setExitFunction(ExitFunction exitFunction);

    // How long an ending process waits for its running pipelines (and their ffmpeg) to stop.
    static constexpr int ExitStopWaitMs = 3000;

signals:
    // The process ends at once after this (exitProcess): what must not outlive it goes now.
    void aboutToExit();

public slots:
    bool onKeyConfirmMsg();
    bool onAddFilesMsg(const QStringList &files);
    bool onValidatedMsg();
    void onValidatedErrorMsg(const QString &msg);
    void onTaskEmptyMsg();
    void onTimeRefreshTimeoutMsg();
    // SIGTERM or SIGINT: what closing with 确认 does, without asking, then the event loop ends.
    void onTerminationRequested();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void onLoad() override;
    bool hasUnfinishedTask() const;
    // Hides the window, stops every pipeline and waits for the running ones (their ffmpeg
    // ends with them), then reports the client's exit when tasks were unfinished.
    void stopForExit(bool unfinished);

    Ui::FrmApp *m_ui = nullptr;
    QSharedPointer<Manager> m_manager;
    QString m_launchText;
    InstanceRecords *m_records = nullptr;
    ExitFunction m_exit;
    bool m_exiting = false;
};
