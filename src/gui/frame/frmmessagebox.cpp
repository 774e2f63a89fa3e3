// SPDX-License-Identifier: MIT
#include "gui/frame/frmmessagebox.h"
#include "ui_frmmessagebox.h"

#include "gui/frame/basedialogtitlebar.h"
#include "gui/frame/windowshadow.h"

#include <QApplication>
#include <QLayout>
#include <QPushButton>
#include <QShortcut>
#include <QStyle>

namespace {

// A message taller than this (about two lines) widens the box; the box then grows by
// whatever the label needs beyond it.
constexpr int MessageHeight = 40;

constexpr QMessageBox::StandardButton DefaultOrder[] = {QMessageBox::Ok, QMessageBox::Yes, QMessageBox::No,
                                                        QMessageBox::Cancel};
constexpr QMessageBox::StandardButton EscapeOrder[] = {QMessageBox::Cancel, QMessageBox::No, QMessageBox::Yes,
                                                       QMessageBox::Ok};

void addShortcut(QPushButton *button, const QKeySequence &keys)
{
    auto *shortcut = new QShortcut(keys, button);
    QObject::connect(shortcut, &QShortcut::activated, button, &QAbstractButton::click);
}

} // namespace

FrmMessageBox::FrmMessageBox(QWidget *parent)
    : QDialog(parent)
    , m_ui(new Ui::FrmMessageBox)
    , m_parent(parent)
{
    m_ui->setupUi(this);
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint);
    setAttribute(Qt::WA_TranslucentBackground);

    applyWindowShadow(m_ui->wdgWindowBg);

    m_titleBar = new BaseDialogTitleBar(this, m_ui->wdgWindowBg);
    m_titleBar->setObjectName(QStringLiteral("BaseDialogTitleBar"));
    m_titleBar->move(0, 0);
    connect(m_titleBar, &BaseDialogTitleBar::closeMsg, this, &FrmMessageBox::onCloseMsg);

    m_ui->btnYes->setShortcut(QKeySequence(Qt::Key_Y));
    m_ui->btnNo->setShortcut(QKeySequence(Qt::Key_N));
    for (QPushButton *button :
         {m_ui->btn0, m_ui->btn1, m_ui->btn2, m_ui->btnYes, m_ui->btnOk, m_ui->btnNo, m_ui->btnCancel})
        button->hide();
}

FrmMessageBox::~FrmMessageBox()
{
    delete m_ui;
}

QMessageBox::StandardButton FrmMessageBox::information(QWidget *parent, const QString &title, const QString &text,
                                                       QMessageBox::StandardButtons buttons,
                                                       QMessageBox::StandardButton defaultButton,
                                                       QMessageBox::StandardButton escapeButton)
{
    FrmMessageBox box(parent);
    box.setWindowTitle(title);
    box.setMessage(text);

    for (const QMessageBox::StandardButton which : DefaultOrder) {
        if (buttons.testFlag(which))
            box.standardButton(which)->show();
    }

    // A default or escape button that is not on the box could never be pressed; fall back
    // to the usual choice instead of leaving Enter or Escape without effect.
    if (defaultButton == QMessageBox::NoButton || !buttons.testFlag(defaultButton)) {
        defaultButton = QMessageBox::NoButton;
        for (const QMessageBox::StandardButton which : DefaultOrder) {
            if (buttons.testFlag(which)) {
                defaultButton = which;
                break;
            }
        }
    }
    if (escapeButton == QMessageBox::NoButton || !buttons.testFlag(escapeButton)) {
        escapeButton = QMessageBox::NoButton;
        for (const QMessageBox::StandardButton which : EscapeOrder) {
            if (buttons.testFlag(which)) {
                escapeButton = which;
                break;
            }
        }
    }
    if (QPushButton *button = box.standardButton(defaultButton))
        box.makeDefault(button);
    if (QPushButton *button = box.standardButton(escapeButton))
        box.makeEscape(button);
    box.m_escapeButton = escapeButton;
    box.m_clickedButton = escapeButton;

    if (box.exec() == -1)
        return QMessageBox::Cancel;
    return box.m_clickedButton;
}

int FrmMessageBox::information(QWidget *parent, const QString &title, const QString &text, const QString &button0Text,
                               const QString &button1Text, const QString &button2Text, int defaultButtonNumber,
                               int escapeButtonNumber)
{
    FrmMessageBox box(parent);
    box.setWindowTitle(title);
    box.setMessage(text);

    const QString texts[] = {button0Text, button1Text, button2Text};
    for (int i = 0; i < 3; ++i) {
        // Button 0 is always there, even without a text.
        if (i > 0 && texts[i].isEmpty())
            continue;
        QPushButton *button = box.customButton(i);
        button->setText(texts[i]);
        // The style sheet picks the look of a button by its text ("取消" is grey); property
        // selectors are only evaluated at polish time, so polish again.
        button->setProperty("text", texts[i]);
        button->style()->unpolish(button);
        button->style()->polish(button);
        button->show();
    }

    if (QPushButton *button = box.customButton(defaultButtonNumber))
        box.makeDefault(button);
    if (QPushButton *button = box.customButton(escapeButtonNumber)) {
        if (!button->isHidden()) {
            box.makeEscape(button);
            box.m_escapeIndex = escapeButtonNumber;
        }
    } else {
        box.m_noEscape = true;
        box.m_titleBar->closeButton()->setEnabled(false);
    }

    if (box.exec() == -1)
        return -1;
    return box.m_clickedIndex;
}

void FrmMessageBox::setMessage(const QString &text)
{
    QLabel *label = m_ui->lblMessage;
    label->setText(text);
    label->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    label->setWordWrap(true);

    // Lay the box out at its current width to learn how wide the label really is; the
    // style sheet's font must be in place before measuring.
    ensurePolished();
    label->ensurePolished();
    const auto labelHeight = [this, label] {
        for (QLayout *layout : {layout(), m_ui->wdgWindowBg->layout(), m_ui->wdgMessageContent->layout()}) {
            layout->invalidate();
            layout->activate();
        }
        return label->heightForWidth(label->width());
    };

    int height = labelHeight();
    if (height > MessageHeight) {
        resize(maximumWidth(), this->height());
        height = labelHeight();
        if (height >= MessageHeight)
            resize(width(), this->height() + height - MessageHeight);
    }

    const QRect reference = referenceGeometry();
    const int freeWidth = reference.width() - width();
    const int freeHeight = reference.height() - this->height();
    move(reference.x() + freeWidth / 2, reference.y() + freeHeight / 2 - freeHeight / 10);
}

// Slightly above the centre of what the user is looking at: the active window, else the
// window of our parent, else any visible window.
QRect FrmMessageBox::referenceGeometry() const
{
    if (const QWidget *active = QApplication::activeWindow(); active && active != this)
        return active->geometry();
    if (m_parent)
        return m_parent->window()->geometry();
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (const QWidget *window : windows) {
        if (window != this && window->isVisible())
            return window->geometry();
    }
    return QRect(0, 0, 0, 0);
}

QPushButton *FrmMessageBox::standardButton(QMessageBox::StandardButton which) const
{
    switch (which) {
    case QMessageBox::Ok: return m_ui->btnOk;
    case QMessageBox::Yes: return m_ui->btnYes;
    case QMessageBox::No: return m_ui->btnNo;
    case QMessageBox::Cancel: return m_ui->btnCancel;
    default: return nullptr;
    }
}

QPushButton *FrmMessageBox::customButton(int index) const
{
    switch (index) {
    case 0: return m_ui->btn0;
    case 1: return m_ui->btn1;
    case 2: return m_ui->btn2;
    default: return nullptr;
    }
}

void FrmMessageBox::makeDefault(QPushButton *button)
{
    button->setFocus();
    button->setDefault(true);
    addShortcut(button, QKeySequence(Qt::Key_Enter));
    addShortcut(button, QKeySequence(Qt::Key_Return));
}

void FrmMessageBox::makeEscape(QPushButton *button)
{
    addShortcut(button, QKeySequence(Qt::Key_Escape));
}

void FrmMessageBox::clickStandard(QMessageBox::StandardButton which)
{
    m_clickedButton = which;
    accept();
}

void FrmMessageBox::clickCustom(int index)
{
    m_clickedIndex = index;
    accept();
}

void FrmMessageBox::onCloseMsg()
{
    reject();
}

void FrmMessageBox::on_btnOk_clicked()
{
    clickStandard(QMessageBox::Ok);
}

void FrmMessageBox::on_btnCancel_clicked()
{
    clickStandard(QMessageBox::Cancel);
}

void FrmMessageBox::on_btnYes_clicked()
{
    clickStandard(QMessageBox::Yes);
}

void FrmMessageBox::on_btnNo_clicked()
{
    clickStandard(QMessageBox::No);
}

void FrmMessageBox::on_btn0_clicked()
{
    clickCustom(0);
}

void FrmMessageBox::on_btn1_clicked()
{
    clickCustom(1);
}

void FrmMessageBox::on_btn2_clicked()
{
    clickCustom(2);
}

void FrmMessageBox::reject()
{
    if (m_noEscape)
        return;
    m_clickedButton = m_escapeButton;
    // Closing a custom box means its escape button, never whatever button 0 happens to be.
    if (m_escapeIndex >= 0)
        m_clickedIndex = m_escapeIndex;
    QDialog::reject();
}
