// SPDX-License-Identifier: MIT
#include "gui/toolkit/nuvwidgetuibehavior.h"

#include "gui/toolkit/nuvwidgetsignal.h"

#include <QDebug>
#include <QThread>
#include <QWidget>

NuvWidgetUiBehavior::NuvWidgetUiBehavior(QWidget *widget)
    : m_uiThread(QThread::currentThread())
    , m_widget(widget)
    , m_signal(std::make_unique<NuvWidgetSignal>(this))
{
    registerFunctionMetaType();
    QObject::connect(m_signal.get(), &NuvWidgetSignal::onui_auto, m_signal.get(), &NuvWidgetSignal::on_onui_auto,
                     Qt::AutoConnection);
    QObject::connect(m_signal.get(), &NuvWidgetSignal::onui_blocking, m_signal.get(),
                     &NuvWidgetSignal::on_onui_blocking, Qt::BlockingQueuedConnection);
    m_widget->installEventFilter(m_signal.get());
}

NuvWidgetUiBehavior::~NuvWidgetUiBehavior() = default;

void NuvWidgetUiBehavior::onLoad()
{
    qDebug("NuvWidgetSignal::onLoad()");
    m_needsLoad = false;
}

void NuvWidgetUiBehavior::reload()
{
    m_needsLoad = true;
}

void NuvWidgetUiBehavior::runOnUi(std::function<void()> task)
{
    // A blocking queued call on the receiver's own thread would wait for itself.
    if (QThread::currentThread() == m_uiThread)
        emit m_signal->onui_auto(std::move(task));
    else
        emit m_signal->onui_blocking(std::move(task));
}
