// SPDX-License-Identifier: MIT
#pragma once

#include <QDialog>
#include <QMessageBox>

namespace Ui {
class FrmMessageBox;
}
class BaseDialogTitleBar;
class QPushButton;

// The tool's modal message box: a frameless dialog with a shadow, our dialog title bar,
// a warning icon with the message, and either standard buttons or up to three buttons
// with texts of the caller's choosing. Every notice and question goes through it.
class FrmMessageBox final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FrmMessageBox)

public:
    explicit FrmMessageBox(QWidget *parent = nullptr);
    ~FrmMessageBox() override;

    // Standard buttons. Without a default, the first present of Ok, Yes, No, Cancel takes
    // Enter; without an escape button, the first present of Cancel, No, Yes, Ok takes
    // Escape and the close button. Returns the clicked button.
    static QMessageBox::StandardButton information(QWidget *parent, const QString &title, const QString &text,
                                                   QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                                   QMessageBox::StandardButton defaultButton = QMessageBox::NoButton,
                                                   QMessageBox::StandardButton escapeButton = QMessageBox::NoButton);

    // Up to three buttons with the given texts (empty texts for button 1 and 2 leave them
    // out). An escape index outside 0..2 means the box can only be left by a button.
    // Returns the clicked index, or -1 when the box could not be run.
    static int information(QWidget *parent, const QString &title, const QString &text, const QString &button0Text,
                           const QString &button1Text, const QString &button2Text, int defaultButtonNumber,
                           int escapeButtonNumber);

    void setMessage(const QString &text);
    BaseDialogTitleBar *titleBar() const { return m_titleBar; }

public slots:
    void onCloseMsg();
    void on_btnOk_clicked();
    void on_btnCancel_clicked();
    void on_btnYes_clicked();
    void on_btnNo_clicked();
    void on_btn0_clicked();
    void on_btn1_clicked();
    void on_btn2_clicked();
    void reject() override;

private:
    QPushButton *standardButton(QMessageBox::StandardButton which) const;
    QPushButton *customButton(int index) const;
    void makeDefault(QPushButton *button);
    void makeEscape(QPushButton *button);
    void clickStandard(QMessageBox::StandardButton which);
    void clickCustom(int index);
    QRect referenceGeometry() const;

    Ui::FrmMessageBox *m_ui = nullptr;
    BaseDialogTitleBar *m_titleBar = nullptr;
    QWidget *m_parent = nullptr;
    QMessageBox::StandardButton m_escapeButton = QMessageBox::NoButton;
    QMessageBox::StandardButton m_clickedButton = QMessageBox::NoButton;
    int m_clickedIndex = 0;
    int m_escapeIndex = -1;
    bool m_noEscape = false;
};
