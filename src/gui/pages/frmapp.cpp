// SPDX-License-Identifier: MIT
#include "frmapp.h"

#include <QCoreApplication>
#include <QLabel>
#include <QVBoxLayout>

FrmApp::FrmApp(QWidget *parent, const QString &launchText)
    : QWidget(parent)
    , m_launchText(launchText)
{
    setObjectName(QStringLiteral("FrmApp"));
    setWindowTitle(QStringLiteral("视频上传工具"));
    setFixedSize(1008, 646);
    auto *layout = new QVBoxLayout(this);
    m_lblLaunchText = new QLabel(launchText, this);
    m_lblLaunchText->setWordWrap(true);
    layout->addWidget(m_lblLaunchText);
}
