// SPDX-License-Identifier: MIT
#pragma once

#include <QWidget>

class QLabel;

// The tool's only top-level window. It holds the launch text given by start-up.
class FrmApp : public QWidget
{
    Q_OBJECT

public:
    FrmApp(QWidget *parent, const QString &launchText);

    QString launchText() const { return m_launchText; }

private:
    QString m_launchText;
    QLabel *m_lblLaunchText = nullptr;
};
