// SPDX-License-Identifier: MIT
#pragma once

#include <QApplication>

// The application object.
class MyApplication : public QApplication
{
    Q_OBJECT

public:
    MyApplication(int &argc, char **argv);

signals:
    void reveiveArgsMsg(const QString &args);
};
