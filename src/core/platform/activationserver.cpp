// SPDX-License-Identifier: MIT
#include "core/platform/activationserver.h"

#include "core/platform/processhelpers.h"

#include <QCoreApplication>
#include <QDebug>
#include <QLocalServer>
#include <QLocalSocket>

ActivationServer::ActivationServer(Handler activate, QObject *parent)
    : QObject(parent)
    , m_activate(std::move(activate))
    , m_server(new QLocalServer(this))
{
    const QString name = activationSocketName(QCoreApplication::applicationPid());
    // The name carries our own pid, so a socket file left by a killed process of the
    // same pid is stale and ours to take over.
    QLocalServer::removeServer(name);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(name))
        qWarning().noquote() << QStringLiteral("ActivationServer::listen failed:") << m_server->errorString();
    connect(m_server, &QLocalServer::newConnection, this, &ActivationServer::onNewConnection);
}

ActivationServer::~ActivationServer()
{
    close();
}

void ActivationServer::close()
{
    m_server->close();
}

bool ActivationServer::isListening() const
{
    return m_server->isListening();
}

void ActivationServer::onNewConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine())
                return;
            const QByteArray request = socket->readLine().trimmed();
            const bool visible = request == "activate" && m_activate && m_activate();
            socket->write(visible ? "visible\n" : "hidden\n");
            socket->flush();
            socket->disconnectFromServer();
        });
    }
}
