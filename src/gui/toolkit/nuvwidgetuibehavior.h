// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

#include <functional>
#include <memory>

class NuvWidgetSignal;
class QThread;
class QWidget;

// Mix-in of every page and row widget. It runs the widget's load step (onLoad) the first
// time the widget is shown and again at the first show after reload(), and lets work on
// other threads run a function on the user-interface thread.
//
// Inherit it after QWidget (class Page : public QWidget, private NuvWidgetUiBehavior) and
// construct it with `this`: it installs an event filter on the widget.
class NuvWidgetUiBehavior
{
    Q_DISABLE_COPY_MOVE(NuvWidgetUiBehavior)

public:
    explicit NuvWidgetUiBehavior(QWidget *widget);
    virtual ~NuvWidgetUiBehavior();

    virtual void onLoad();
    virtual void reload();

    // On the user-interface thread the task runs at once. From any other thread it runs
    // on the user-interface thread while the caller waits; that thread must therefore
    // never wait for the caller meanwhile.
    void runOnUi(std::function<void()> task);

private:
    friend class NuvWidgetSignal;

    QThread *m_uiThread = nullptr;
    QWidget *m_widget = nullptr;
    std::unique_ptr<NuvWidgetSignal> m_signal;
    bool m_needsLoad = true;
};
