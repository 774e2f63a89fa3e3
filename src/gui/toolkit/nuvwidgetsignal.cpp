// SPDX-License-Identifier: MIT
#include "gui/toolkit/nuvwidgetsignal.h"

#include "gui/toolkit/nuvwidgetuibehavior.h"

#include <QEvent>
#include <QWidget>

NuvWidgetSignal::NuvWidgetSignal(NuvWidgetUiBehavior *behavior)
    : m_behavior(behavior)
{
}

bool NuvWidgetSignal::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_behavior->m_widget && event->type() == QEvent::Show && m_behavior->m_needsLoad) {
        m_behavior->m_needsLoad = false;
        m_behavior->onLoad();
    }
    return false;
}

void NuvWidgetSignal::on_onui_auto(std::function<void(void)> task)
{
    task();
}

void NuvWidgetSignal::on_onui_blocking(std::function<void(void)> task)
{
    task();
}
