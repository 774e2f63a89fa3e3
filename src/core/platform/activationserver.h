// SPDX-License-Identifier: MIT
#pragma once

#include <QObject>

#include <functional>

class QLocalServer;

// Listens on this process's activation socket. Another instance that starts for a
// session we already run connects and asks us to bring our window to the front; the
// handler does that and says whether the window is visible.
class ActivationServer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ActivationServer)

public:
    using Handler = std::function<bool()>;

    ActivationServer(Handler activate, QObject *parent = nullptr);
    ~ActivationServer() override;

    bool isListening() const;
    // Stops listening and removes the socket file (the destructor does it too).
    void close();

private:
    void onNewConnection();

    Handler m_activate;
    QLocalServer *m_server = nullptr;
};
