// SPDX-License-Identifier: MIT
#include "gui/pages/frmapp.h"
#include "ui_frmapp.h"

#include "core/api/taskcommand.h"
#include "core/pipeline/uploadmanager.h"
#include "core/platform/processhelpers.h"
#include "core/session/manager.h"
#include "core/session/schema.h"
#include "gui/frame/frmmessagebox.h"
#include "gui/pages/instancerecords.h"
#include "gui/toolkit/accessibility.h"
#include "gui/toolkit/actionbehavior.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

FrmApp::FrmApp(QWidget *parent, const QString &launchText, InstanceRecords *records)
    : BaseWindow(parent)
    , NuvWidgetUiBehavior(this)
    , m_ui(new Ui::FrmApp)
    , m_manager(new Manager)
    , m_launchText(launchText)
    , m_records(records)
    // The log writer closes its file after every line and the server has had the final
    // report, so nothing is lost by skipping the destructors of objects whose threads may
    // still be winding down.
    , m_exit([](int code) {
        std::fflush(nullptr);
        std::_Exit(code);
    })
{
    Accessibility::install();
    m_ui->setupUi(this);
    setObjectName(QStringLiteral("FrmApp"));
    setFixedSize(1008, 646);
    m_ui->stackedWidget->setGeometry(24, 78, 960, 544);

    qDebug("FrmApp::initSchema");
    m_ui->frmEnterKey->setApp(this);
    m_ui->frmEnterKey->reload();
    showWidget(m_ui->frmEnterKey);

    setWindowFlags(windowFlags() & ~Qt::WindowMaximizeButtonHint);
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    // The window has a fixed size, so the title bar offers no full-screen switch.
    setButtonType(0);

    qDebug("void FrmApp::initControl");
    setWindowTitle(QStringLiteral("视频上传工具"));
    setVersion(QStringLiteral(" v:") + QCoreApplication::applicationVersion());

    connect(m_ui->frmEnterKey, &FrmEnterKey::keyConfirmMsg, this, &FrmApp::onKeyConfirmMsg, Qt::QueuedConnection);
    connect(m_ui->frmAdd, &FrmAdd::addFilesMsg, this, &FrmApp::onAddFilesMsg, Qt::QueuedConnection);
    connect(m_ui->frmLoading, &FrmLoading::validatedMsg, this, &FrmApp::onValidatedMsg, Qt::QueuedConnection);
    connect(m_ui->frmLoading, &FrmLoading::validatedErrorMsg, this, &FrmApp::onValidatedErrorMsg, Qt::QueuedConnection);
    connect(m_ui->frmList, &FrmList::taskEmptyMsg, this, &FrmApp::onTaskEmptyMsg, Qt::QueuedConnection);
}

FrmApp::~FrmApp()
{
    // The pages and rows reach the coordinator through this window while they go, so they
    // go first.
    delete m_ui->stackedWidget;
    delete m_ui;
}

void FrmApp::showWidget(QWidget *page)
{
    qDebug().noquote() << QStringLiteral("FrmApp::showWidget:") << page;
    m_ui->stackedWidget->setCurrentWidget(page);
}

void FrmApp::setSchema(const QSharedPointer<Schema> &schema)
{
    m_manager->setSchema(schema);
}

QSharedPointer<Manager> FrmApp::manager() const
{
    return m_manager;
}

QString FrmApp::launchText() const
{
    return m_launchText;
}

InstanceRecords *FrmApp::records() const
{
    return m_records;
}

void FrmApp::exitProcess(int code)
{
    emit aboutToExit();
    m_exit(code);
}

void FrmApp::setExitFunction(ExitFunction exitFunction)
{
    m_exit = std::move(exitFunction);
}

bool FrmApp::onKeyConfirmMsg()
{
    qDebug("FrmApp::onKeyConfirmMsg");
    const QSharedPointer<Schema> schema = m_manager->schema();
    const QString uuid = schema ? schema->uuid() : QString();
    if (m_records) {
        const qint64 pid = m_records->getRunningPid(uuid);
        // Asking ourselves would wait for an answer that only this thread could give.
        if (pid > 0 && pid != QCoreApplication::applicationPid() && activateProcessWindow(pid)) {
            exitProcess(0);
            return true;
        }
        m_records->setRunningPid(uuid);
    }
    m_ui->frmLoading->setApp(this);
    m_ui->frmLoading->reload();
    showWidget(m_ui->frmLoading);
    return true;
}

bool FrmApp::onAddFilesMsg(const QStringList &files)
{
    m_ui->frmList->setApp(this);
    m_ui->frmList->reload();
    m_ui->frmList->addFiles(files);
    m_ui->stackedWidget->setCurrentWidget(m_ui->frmList);
    return true;
}

bool FrmApp::onValidatedMsg()
{
    qDebug("FrmApp::onValidatedMsg");
    m_ui->frmAdd->setApp(this);
    m_ui->frmAdd->reload();
    m_ui->stackedWidget->setCurrentWidget(m_ui->frmAdd);

    auto *timer = new QTimer(this);
    timer->setObjectName(QStringLiteral("refreshTimer"));
    timer->setInterval(m_manager->refreshInterval());
    connect(timer, &QTimer::timeout, this, &FrmApp::onTimeRefreshTimeoutMsg);
    timer->start();
    return true;
}

void FrmApp::onTimeRefreshTimeoutMsg()
{
    auto *action = new ActionBehavior(this);
    action->setWait(false);
    const QSharedPointer<Manager> manager = m_manager;
    action->run([manager] { manager->refreshIfReady(); });
}

void FrmApp::onValidatedErrorMsg(const QString &msg)
{
    Q_UNUSED(msg) // the runner has shown it already
    qDebug("FrmApp::onValidatedErrorMsg");
    if (m_records) {
        m_records->clearRunning();
        const qint64 pid = m_records->getFreePid();
        if (pid > 0)
            killProcess(pid);
        m_records->setFree();
    }
    showWidget(m_ui->frmEnterKey);
}

void FrmApp::onTaskEmptyMsg()
{
    qDebug("FrmApp::onTaskEmptyMsg");
    m_ui->frmAdd->setApp(this);
    m_ui->frmAdd->reload();
    m_ui->stackedWidget->setCurrentWidget(m_ui->frmAdd);
}

void FrmApp::onLoad()
{
    qDebug("FrmApp::onLoad");
}

void FrmApp::showEvent(QShowEvent *event)
{
    qDebug("FrmApp::showEvent");
    BaseWindow::showEvent(event);
}

bool FrmApp::hasUnfinishedTask() const
{
    const auto pipelines = m_manager->uploadManagers();
    if (!pipelines)
        return false;
    for (const QSharedPointer<UploadManager> &pipeline : *pipelines) {
        const auto tasks = pipeline->tasks();
        if (!tasks)
            continue;
        for (const QSharedPointer<TaskCommand> &task : *tasks) {
            if (task->taskState() != TaskState::Done)
                return true;
        }
    }
    return false;
}

void FrmApp::closeEvent(QCloseEvent *event)
{
    qDebug("FrmApp::closeEvent");
    if (!hasUnfinishedTask()) {
        event->accept();
        return;
    }
    const QMessageBox::StandardButton answer = FrmMessageBox::information(
        this, QStringLiteral("提示"), QStringLiteral("有任务还未执行完成,确认退出上传工具吗?"),
        QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel);
    if (answer != QMessageBox::Ok) {
        event->ignore();
        return;
    }
    event->accept();
    stopForExit(true);
    qInfo("Application Exit");
    exitProcess(0);
}

void FrmApp::onTerminationRequested()
{
    qDebug("FrmApp::onTerminationRequested");
    // A second signal while the first one's stop is under way changes nothing.
    if (m_exiting)
        return;
    stopForExit(hasUnfinishedTask());
    QCoreApplication::quit();
}

void FrmApp::stopForExit(bool unfinished)
{
    m_exiting = true;
    // Hidden first: the wait below must not look like a hung window.
    hide();
    ActionBehavior::appClosing = true;
    m_manager->stopForExit(ExitStopWaitMs);
    if (unfinished)
        m_manager->reportExit();
}
