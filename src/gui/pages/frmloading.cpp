// SPDX-License-Identifier: MIT
#include "gui/pages/frmloading.h"
#include "ui_frmloading.h"

#include "core/api/api.h"
#include "core/session/manager.h"
#include "gui/frame/frmmessagebox.h"
#include "gui/pages/frmapp.h"
#include "gui/toolkit/actionbehavior.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QUrl>

namespace {

struct ClientRelease
{
    QString version;
    QString download;
};

// The release the server announces for the system this build is for.
ClientRelease announcedRelease(const Api &api)
{
#if defined(Q_OS_WIN)
    return {api.pcVideoClientVersion(), api.pcVideoClientDownloadApi()};
#elif defined(Q_OS_MACOS)
    return {api.macVideoClientVersion(), api.macVideoClientDownloadApi()};
#else
    return {api.linuxVideoClientVersion(), api.linuxVideoClientDownloadApi()};
#endif
}

// The address goes to the system's URL handler, which would just as well run a local
// file; only a web address is offered.
bool isWebAddress(const QString &address)
{
    const QUrl url(address);
    return url.isValid() && (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

} // namespace

FrmLoading::FrmLoading(QWidget *parent)
    : QWidget(parent)
    , NuvWidgetUiBehavior(this)
    , m_ui(new Ui::FrmLoading)
{
    m_ui->setupUi(this);
}

FrmLoading::~FrmLoading()
{
    delete m_ui;
}

void FrmLoading::setApp(FrmApp *app)
{
    m_app = app;
}

void FrmLoading::reload()
{
    init();
}

void FrmLoading::init()
{
    qDebug("FrmLoading::init");
    NuvWidgetUiBehavior::reload();
    initControl();
}

void FrmLoading::initControl()
{
    qDebug("FrmLoading::initControl");
    m_ui->prgLoading->setValue(1);
    m_ui->prgLoading->setTextVisible(false);
}

void FrmLoading::setProgress(int value)
{
    m_ui->prgLoading->setValue(value);
    m_ui->lblMessage->setText(QStringLiteral("加载中：%1%").arg(m_ui->prgLoading->value()));
}

void FrmLoading::onLoad()
{
    qDebug("FrmLoading::onLoad");
    setProgress(12);
    initManager();
}

void FrmLoading::initManager()
{
    qDebug("FrmLoading::initManager");
    const QSharedPointer<Manager> manager = m_app->manager();
    auto *action = new ActionBehavior(this);
    action->run(
        [this, manager] {
            manager->initSetting();
            // Queued to the page rather than waited for: a page that goes away meanwhile
            // just drops it, and the worker never waits for this thread.
            QMetaObject::invokeMethod(
                this, [this] { checkVersion(); }, Qt::QueuedConnection);
        },
        [this](int code, const QString &message) {
            if (code == 0)
                return;
            qDebug().noquote() << message;
            emit validatedErrorMsg(message);
        });
}

void FrmLoading::checkVersion()
{
    const QSharedPointer<Api> api = m_app->manager()->api();
    const ClientRelease release = api ? announcedRelease(*api) : ClientRelease();
    if (!release.version.isEmpty() && isWebAddress(release.download)
        && release.version != QCoreApplication::applicationVersion()) {
        const QMessageBox::StandardButton answer =
            FrmMessageBox::information(m_app, QStringLiteral("版本提示"),
                                       QStringLiteral("发现有新版本(%1)，是否进行下载安装！").arg(release.version),
                                       QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
        if (answer == QMessageBox::Yes) {
            QDesktopServices::openUrl(QUrl(release.download));
            m_app->exitProcess(0);
            return;
        }
    }
    initToken();
}

void FrmLoading::initToken()
{
    qDebug("FrmLoading::initToken");
    setProgress(65);
    const QSharedPointer<Manager> manager = m_app->manager();
    auto *action = new ActionBehavior(this);
    action->run(
        [this, manager] {
            manager->initToken();
            QMetaObject::invokeMethod(
                this, [this] { emit validatedMsg(); }, Qt::QueuedConnection);
        },
        [this](int code, const QString &message) {
            if (code == 0)
                return;
            qDebug().noquote() << QStringLiteral("FrmLoading::initToken:") << message;
            emit validatedErrorMsg(message);
        });
}
