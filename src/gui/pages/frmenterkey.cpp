// SPDX-License-Identifier: MIT
#include "gui/pages/frmenterkey.h"
#include "ui_frmenterkey.h"

#include "core/platform/processhelpers.h"
#include "core/session/schema.h"
#include "gui/frame/frmmessagebox.h"
#include "gui/pages/frmapp.h"
#include "gui/pages/instancerecords.h"
#include "gui/toolkit/qobjecteventdelegate.h"

#include <QClipboard>
#include <QDebug>
#include <QGuiApplication>
#include <QKeyEvent>

namespace {

bool isEnter(const QKeyEvent *event)
{
    return event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
}

} // namespace

FrmEnterKey::FrmEnterKey(QWidget *parent)
    : QWidget(parent)
    , NuvWidgetUiBehavior(this)
    , m_ui(new Ui::FrmEnterKey)
{
    m_ui->setupUi(this);
    installEventHandlers();
}

FrmEnterKey::~FrmEnterKey()
{
    delete m_ui;
}

void FrmEnterKey::setApp(FrmApp *app)
{
    const bool first = m_app == nullptr;
    m_app = app;
    if (!first || !app || !app->records())
        return;
    idleState();
    app->records()->connectReveiveArgsMsg(this, [this](const QString &args) { onReveiveArgsMsg(args); });
}

void FrmEnterKey::idleState()
{
    InstanceRecords *records = m_app ? m_app->records() : nullptr;
    if (!records)
        return;
    const qint64 pid = records->getFreePid();
    if (pid > 0) {
        qDebug().noquote() << QStringLiteral("idleState KILL ") + QString::number(pid);
        killProcess(pid);
    }
    records->setFree();
}

void FrmEnterKey::installEventHandlers()
{
    auto *delegate = new QObjectEventDelegate(this);
    // The command is one line: Enter confirms it instead of breaking it, so no line break
    // ends up in the settings address.
    delegate->addHandler(m_ui->txtKey, QEvent::KeyPress,
                         [](QObject *, QEvent *event) { return isEnter(static_cast<QKeyEvent *>(event)); });
    delegate->addHandler(m_ui->txtKey, QEvent::KeyRelease, [this](QObject *, QEvent *event) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (!isEnter(key) && !key->matches(QKeySequence::Paste))
            return false;
        checkKey(m_ui->txtKey->toPlainText());
        key->accept();
        return true;
    });
    delegate->addHandler(this, QEvent::WindowActivate, [this](QObject *, QEvent *) {
        checkClipboard();
        return true;
    });
}

void FrmEnterKey::checkClipboard()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    const QString text = clipboard->text();
    if (!text.isEmpty() && checkKey(text).isEmpty())
        clipboard->clear();
}

QString FrmEnterKey::checkKey(const QString &text)
{
    qDebug("FrmEnterKey::checkKey");
    auto schema = QSharedPointer<Schema>::create();
    const int result = schema->decode(text);
    if (result == Schema::Valid) {
        if (m_app)
            m_app->setSchema(schema);
        emit keyConfirmMsg();
    }
    return schemaErrorMessage(result);
}

void FrmEnterKey::on_btnConfirm_clicked()
{
    const QString error = checkKey(m_ui->txtKey->toPlainText());
    if (!error.isEmpty()) {
        FrmMessageBox::information(nullptr, QStringLiteral("提示"), QStringLiteral("启动指令无效,%1").arg(error),
                                   QMessageBox::Ok);
    }
}

void FrmEnterKey::on_txtKey_textChanged()
{
    m_ui->btnConfirm->setEnabled(!m_ui->txtKey->toPlainText().isEmpty());
}

void FrmEnterKey::onReveiveArgsMsg(const QString &args)
{
    checkKey(args);
}

void FrmEnterKey::reload()
{
    m_ui->btnConfirm->setEnabled(false);
    m_ui->txtKey->setPlainText(m_app ? m_app->launchText() : QString());
    // Setting the same text again need not announce a change.
    on_txtKey_textChanged();
}

void FrmEnterKey::onLoad()
{
    qDebug("FrmEnterKey::onLoad");
    const QString text = m_ui->txtKey->toPlainText();
    if (!text.isEmpty()) {
        checkKey(text);
        return;
    }
    checkClipboard();
}
