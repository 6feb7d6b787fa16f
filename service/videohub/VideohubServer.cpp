// SPDX-License-Identifier: Apache-2.0
#include "service/videohub/VideohubServer.h"

#include "service/hub/Hub.h"
#include "service/hub/Log.h"
#include "service/tcp/ClientSocket.h"
#include "service/videohub/BlockFormat.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <vector>

namespace matrix::service::videohub {

VideohubServer::VideohubServer(Hub& hub, MatrixUnit& unit, QObject* parent)
    : QObject(parent),
      hub_(hub),
      unit_(unit),
      backend_(unit),
      fanout_(backend_),
      server_(new QTcpServer(this))
{
    connect(server_, &QTcpServer::newConnection, this, &VideohubServer::onNewConnection);
    subscription_ = hub_.subscribe([this](const HubEvent& event) { onEvent(event); });
}

VideohubServer::~VideohubServer()
{
    hub_.unsubscribe(subscription_);
    for (auto& [socket, session] : clients_) {
        socket->disconnect();
        socket->abort();
        unit_.releaseLocks(session->lockId());
    }
}

bool VideohubServer::listen(const QHostAddress& address, quint16 port, std::string* error)
{
    return listenOn(*server_, address, port, error);
}

quint16 VideohubServer::serverPort() const { return server_->serverPort(); }

void VideohubServer::onNewConnection()
{
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        socket->setParent(this);
        socket->setProperty("peer", socket->peerAddress().toString() + ":" + QString::number(socket->peerPort()));
        if (const auto why = refusal(socket)) {
            logLine(unit_.id() + ": videohub client " + peerText(socket) + " refused: " + *why);
            socket->abort();
            socket->deleteLater();
            continue;
        }
        const IdleLimit idle{&unit_.loop(), unit_.config().videohubIdleSeconds * 1000,
                             [this, socket] { drop(socket, "sent nothing for videohub_idle_seconds"); }};
        auto session = std::make_unique<Session>(
            backend_, hub_.newLockOwner(),
            [this, socket](const std::string& bytes) {
                if (!sendToClient(socket, bytes))
                    drop(socket, "does not read its updates");
            },
            idle);
        Session* raw = session.get();
        backend_.setPeer(raw->lockId(), peerText(socket));
        clients_.emplace(socket, std::move(session));
        logLine(unit_.id() + ": videohub client " + peerText(socket) + " connected");

        // The socket is the context of its own handlers: once it is deleted
        // nothing queued for it runs, even if a new socket takes its address.
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
            const auto it = clients_.find(socket);
            if (it == clients_.end())
                return;
            const QByteArray bytes = socket->readAll();
            if (!it->second->receive(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size()))))
                drop(socket, it->second->spokeHttp() ? "sent an HTTP request (a web page posting here?)"
                                                     : "sent 64 KiB without ending a block");
        });
        // Queued: a socket can report its end from inside a write, while an
        // update is still going through the list of clients.
        connect(
            socket, &QTcpSocket::disconnected, socket, [this, socket] { forget(socket); }, Qt::QueuedConnection);
        raw->start();
    }
}

std::optional<std::string> VideohubServer::refusal(const QTcpSocket* socket) const
{
    // The protocol has no authentication: where it listens and who may connect is all the protection it has.
    if (!unit_.config().videohubAllow.allows(socket->peerAddress().toString().toStdString()))
        return "not in videohub_allow";
    if (clients_.size() >= kMaxClients)
        return std::to_string(kMaxClients) + " clients connected";
    std::size_t fromPeer = 0;
    for (const auto& [other, session] : clients_)
        fromPeer += other->peerAddress() == socket->peerAddress();
    if (fromPeer >= kMaxClientsPerAddress)
        return std::to_string(kMaxClientsPerAddress) + " clients connected from that address";
    return std::nullopt;
}

void VideohubServer::drop(QTcpSocket* socket, const char* why)
{
    if (clients_.count(socket) == 0)
        return;
    logLine(unit_.id() + ": videohub client " + peerText(socket) + " dropped: " + why);
    abortAndForgetLater(socket, [this, socket] { forget(socket); });
}

void VideohubServer::forget(QTcpSocket* socket)
{
    const auto it = clients_.find(socket);
    if (it == clients_.end())
        return;
    const LockId owner = it->second->lockId();
    clients_.erase(it);
    backend_.forgetPeer(owner);
    socket->deleteLater();
    logLine(unit_.id() + ": videohub client " + peerText(socket) + " closed");
    // Its locks end with it; the other clients see them go as U.
    unit_.releaseLocks(owner);
}

void VideohubServer::onEvent(const HubEvent& event)
{
    if (eventMatrix(event) != unit_.id())
        return;
    std::vector<Session*> sessions;
    for (auto& [socket, session] : clients_) {
        if (socket->state() == QAbstractSocket::ConnectedState)
            sessions.push_back(session.get());
    }
    // A write may drop a client; its session stays alive until the queued
    // forget() runs, so the pointers taken here remain valid for this event.
    fanout_.deliver(event, sessions);
}

}  // namespace matrix::service::videohub
