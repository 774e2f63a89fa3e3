// SPDX-License-Identifier: MIT
#include "gui/toolkit/actionbehavior.h"

#include "core/pipeline/actionoutcome.h"
#include "gui/frame/frmmessagebox.h"

#include <QDebug>
#include <QEventLoop>
#include <QThread>

ActionBehavior::Outcome ActionBehavior::defaultErrorHandler = [](int code, const QString &message) {
    Q_UNUSED(code)
    FrmMessageBox::information(nullptr, QStringLiteral("提示"), message, QMessageBox::Ok);
};

std::atomic_bool ActionBehavior::appClosing{false};

ActionBehavior::ActionBehavior(QObject *parent)
    : QObject(parent)
    , m_onError(defaultErrorHandler)
    , m_onDone([](int, const QString &) {})
    , m_wait(parent == nullptr)
{
    registerFunctionMetaType();
}

ActionBehavior::~ActionBehavior()
{
    qDebug("~ActionBehavior");
    if (m_thread) {
        m_thread->requestInterruption();
        m_thread->quit();
        m_thread->wait();
        delete m_thread;
        m_thread = nullptr;
    }
}

void ActionBehavior::run(std::function<void()> work)
{
    m_work = std::move(work);
    start();
}

void ActionBehavior::run(std::function<void()> work, Outcome done)
{
    m_work = std::move(work);
    m_onDone = std::move(done);
    start();
}

void ActionBehavior::setBefore(std::function<void()> before)
{
    m_before = std::move(before);
}

void ActionBehavior::setErrorHandler(Outcome handler)
{
    m_onError = std::move(handler);
}

void ActionBehavior::clearErrorHandler()
{
    m_onError = [](int, const QString &) {};
}

void ActionBehavior::setWait(bool wait)
{
    m_wait = wait;
}

void ActionBehavior::callblackHandler(std::function<void(void)> fun)
{
    fun();
    if (parent()) {
        qWarning("ActionBehavior deleteLater");
        deleteLater();
    }
}

void ActionBehavior::start()
{
    // One runner serves one action: a second run() would start a second thread that
    // nobody joins.
    if (m_thread)
        return;
    connect(this, &ActionBehavior::callblack, this, &ActionBehavior::callblackHandler,
            static_cast<Qt::ConnectionType>(Qt::AutoConnection | Qt::UniqueConnection));

    runStage(m_before);
    if (m_code != 0) {
        if (!appClosing)
            deliver();
        if (parent())
            deleteLater();
        return;
    }

    m_thread = QThread::create([this] {
        runStage(m_work);
        emit callblack([this] { complete(); });
    });
    m_thread->setParent(parent());

    if (!m_wait) {
        m_thread->start(QThread::HighestPriority);
        return;
    }
    QEventLoop loop;
    // Connected before the start so a quick worker cannot finish unseen.
    connect(m_thread, &QThread::finished, &loop, &QEventLoop::quit);
    m_thread->start(QThread::HighestPriority);
    loop.exec();
}

void ActionBehavior::runStage(const std::function<void()> &stage)
{
    // Nothing may leave a worker thread: every thrown value becomes the outcome.
    const ActionOutcome outcome = ActionOutcome::of(stage);
    m_code = outcome.code;
    m_message = outcome.message;
}

void ActionBehavior::complete()
{
    if (appClosing)
        return;
    deliver();
}

void ActionBehavior::deliver()
{
    if (m_code != 0 && m_onError)
        m_onError(m_code, m_message);
    if (m_onDone)
        m_onDone(m_code, m_message);
}
