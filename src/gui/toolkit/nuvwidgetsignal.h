// SPDX-License-Identifier: MIT
#pragma once

#include "gui/toolkit/functionmetatype.h"

#include <QObject>

class NuvWidgetUiBehavior;

// The QObject half of NuvWidgetUiBehavior (which is a plain mix-in): it carries the
// signals that hand closures to the user-interface thread and watches the widget for
// its show events.
class NuvWidgetSignal final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(NuvWidgetSignal)

public:
    explicit NuvWidgetSignal(NuvWidgetUiBehavior *behavior);

    bool eventFilter(QObject *watched, QEvent *event) override;

signals:
    void onui_auto(std::function<void(void)> task);
    void onui_blocking(std::function<void(void)> task);

public slots:
    void on_onui_auto(std::function<void(void)> task);
    void on_onui_blocking(std::function<void(void)> task);

private:
    NuvWidgetUiBehavior *m_behavior = nullptr;
};
