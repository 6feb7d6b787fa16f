// SPDX-License-Identifier: Apache-2.0
#include "service/text/TextServer.h"

#include "service/hub/Log.h"
#include "service/tcp/ClientSocket.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <utility>
#include <vector>

namespace matrix::service::text {

namespace {

constexpr qint64 kReadChunkBytes = 4096;

// A dead peer (power cut, cable pulled) is noticed after about two minutes,
// not the kernel's default of more than two hours.
void keepAlive(QTcpSocket* socket)
{
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    const auto fd = socket->socketDescriptor();
    if (fd < 0)
        return;
    const int idleSeconds = 60, intervalSeconds = 10, probes = 6;
    ::setsockopt(static_cast<int>(fd), IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds);
    ::setsockopt(static_cast<int>(fd), IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof intervalSeconds);
    ::setsockopt(static_cast<int>(fd), IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}

}  // namespace

TextServer::TextServer(Backend& backend, std::string matrixId, AddressAllowList allow, QObject* parent)
    : QObject(parent),
      backend_(backend),
      matrixId_(std::move(matrixId)),
      allow_(std::move(allow)),
      server_(new QTcpServer(this))
{
    connect(server_, &QTcpServer::newConnection, this, &TextServer::onNewConnection);
}

TextServer::~TextServer()
{
    for (auto& [socket, client] : clients_) {
        socket->disconnect();
        socket->abort();
    }
}

bool TextServer::listen(const QHostAddress& address, quint16 port, std::string* error)
{
    return listenOn(*server_, address, port, error);
}

bool TextServer::admit(QTcpSocket* socket, const std::string& address)
{
    const char* why = nullptr;
    bool ok = false;
    const quint32 ipv4 = socket->peerAddress().toIPv4Address(&ok);
    std::size_t fromAddress = 0;
    for (const auto& [other, client] : clients_)
        fromAddress += client.address == address ? 1 : 0;
    if (ok ? !allow_.allows(ipv4) : !allow_.allows(address))
        why = "not in text_allow";
    else if (clients_.size() >= kMaxClients)
        why = "16 connections already";
    else if (fromAddress >= kMaxClientsPerAddress)
        why = "4 connections from this address already";
    if (!why)
        return true;
    const auto now = std::chrono::steady_clock::now();
    auto [it, first] = refusalLogged_.try_emplace(address, now);
    if (first || now - it->second >= std::chrono::minutes(1)) {
        it->second = now;
        logLine(matrixId_ + ": " + peerText(socket) + " refused: " + why);
    }
    if (refusalLogged_.size() > 1024)
        refusalLogged_.clear();  // a sweep of many addresses must not grow this without end
    return false;
}

void TextServer::onNewConnection()
{
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        socket->setParent(this);
        const std::string address = socket->peerAddress().toString().toStdString();
        socket->setProperty("peer",
                            QString::fromStdString("text " + address + ":") + QString::number(socket->peerPort()));
        if (!admit(socket, address)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        keepAlive(socket);
        // Unread input stays in the kernel, so TCP slows a client that
        // sends faster than its requests are answered.
        socket->setReadBufferSize(Session::kMaxBacklogBytes);
        auto session = std::make_unique<Session>(backend_, peerText(socket), [this, socket](const std::string& bytes) {
            if (!sendToClient(socket, bytes))
                drop(socket, "does not read what it is sent");
        });
        session->onBacklogDrained = [this, socket] {
            // Later, not from inside the session's own pass.
            QMetaObject::invokeMethod(
                socket, [this, socket] { readFrom(socket); }, Qt::QueuedConnection);
        };
        clients_.emplace(socket, Client{std::move(session), address});
        logLine(matrixId_ + ": " + peerText(socket) + " connected");

        // The socket is the context of its own handlers: once it is deleted
        // nothing queued for it runs.
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { readFrom(socket); });
        // Queued: a socket can report its end from inside a write, while an
        // event is still going through the list of clients.
        connect(
            socket, &QTcpSocket::disconnected, socket, [this, socket] { forget(socket); }, Qt::QueuedConnection);
        readFrom(socket);
    }
}

void TextServer::readFrom(QTcpSocket* socket)
{
    const auto it = clients_.find(socket);
    if (it == clients_.end())
        return;
    Session& session = *it->second.session;
    char buffer[kReadChunkBytes];
    while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesAvailable() > 0 &&
           session.backlogBytes() < Session::kMaxBacklogBytes) {
        const qint64 got = socket->read(buffer, sizeof buffer);
        if (got <= 0)
            return;
        if (!session.receive(std::string_view(buffer, static_cast<std::size_t>(got)))) {
            drop(socket, session.closeReason());
            return;
        }
    }
}

void TextServer::drop(QTcpSocket* socket, const char* why)
{
    if (clients_.count(socket) == 0 || socket->state() == QAbstractSocket::UnconnectedState)
        return;
    logLine(matrixId_ + ": " + peerText(socket) + " dropped: " + why);
    abortAndForgetLater(socket, [this, socket] { forget(socket); });
}

void TextServer::forget(QTcpSocket* socket)
{
    const auto it = clients_.find(socket);
    if (it == clients_.end())
        return;
    clients_.erase(it);
    socket->deleteLater();
    logLine(matrixId_ + ": " + peerText(socket) + " closed");
}

void TextServer::event(const Event& event)
{
    // A write may drop a client; its session lives on until the queued
    // forget(), so the pointers taken here stay valid for this event.
    std::vector<Session*> sessions;
    for (auto& [socket, client] : clients_)
        if (socket->state() == QAbstractSocket::ConnectedState)
            sessions.push_back(client.session.get());
    for (Session* session : sessions)
        session->event(event);
}

}  // namespace matrix::service::text
