// SPDX-License-Identifier: Apache-2.0
#include "sim/app/TcpFront.h"

#include <QHostAddress>
#include <QMetaObject>
#include <QTcpSocket>
#include <QTimer>

namespace matrix::simapp {

TcpFront::TcpFront(SimContext& context, QObject* parent) : QObject(parent), context_(context)
{
    connect(&server_, &QTcpServer::newConnection, this, &TcpFront::onNewConnection);
}

TcpFront::~TcpFront()
{
    for (auto& [socket, connection] : connections_) {
        context_.detach(connection->responder.get());
        QObject::disconnect(socket, nullptr, this, nullptr);
    }
}

bool TcpFront::listen(std::uint32_t address, std::uint16_t port, std::string* error)
{
    if (server_.listen(QHostAddress(static_cast<quint32>(address)), port))
        return true;
    if (error)
        *error = server_.errorString().toStdString();
    return false;
}

void TcpFront::onNewConnection()
{
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        auto connection = std::make_unique<Connection>();
        connection->socket = socket;
        connection->responder = context_.makeResponder();
        connection->pacer = new QTimer(socket);
        connection->pacer->setSingleShot(true);
        Connection* raw = connection.get();

        raw->responder->setTransmit([this, raw](const sim::MatrixResponder::Bytes& bytes) {
            transmit(*raw,
                     QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())));
        });
        // Closed from the loop, never from inside the responder's own
        // receive pass; the peer sees an orderly close after pending bytes.
        raw->responder->setLinkCloser([socket] {
            QMetaObject::invokeMethod(
                socket, [socket] { socket->disconnectFromHost(); }, Qt::QueuedConnection);
        });
        connect(raw->pacer, &QTimer::timeout, this, [this, raw] { sendPaced(*raw); });
        connect(socket, &QTcpSocket::readyRead, this, [socket, raw] {
            const QByteArray bytes = socket->readAll();
            raw->responder->receive(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                    static_cast<std::size_t>(bytes.size()));
        });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] { drop(socket); });

        if (context_.knobs().standbyAfterMs > 0) {
            sim::MatrixResponder* responder = raw->responder.get();
            QTimer::singleShot(context_.knobs().standbyAfterMs, socket, [responder] { responder->sendStandby(); });
        }
        context_.attach(raw->responder.get(), LinkKind::Tcp);
        connections_[socket] = std::move(connection);
    }
}

void TcpFront::transmit(Connection& connection, const QByteArray& bytes)
{
    const int gapMs = context_.knobs().splitBytes > 0 ? context_.knobs().splitGapMs : 0;
    if (gapMs <= 0) {
        connection.socket->write(bytes);
        connection.socket->flush();
        return;
    }
    connection.paced.push_back(bytes);
    if (!connection.pacer->isActive())
        sendPaced(connection);
}

void TcpFront::sendPaced(Connection& connection)
{
    if (connection.paced.empty())
        return;
    connection.socket->write(connection.paced.front());
    connection.socket->flush();
    connection.paced.pop_front();
    // The gap holds even when the next piece is not queued yet: the rest of
    // the reply is usually handed over right after this piece.
    connection.pacer->start(context_.knobs().splitGapMs);
}

void TcpFront::drop(QTcpSocket* socket)
{
    auto it = connections_.find(socket);
    if (it == connections_.end())
        return;
    Connection* connection = it->second.get();
    context_.detach(connection->responder.get());
    connection->responder->setTransmit(nullptr);
    connection->responder->setLinkCloser(nullptr);
    QObject::disconnect(socket, nullptr, this, nullptr);
    connection->pacer->stop();
    // Freed from the loop: "disconnected" may come from inside a handler
    // that is still using the responder.
    std::shared_ptr<Connection> doomed(it->second.release());
    connections_.erase(it);
    // The socket goes first: its timers (pacing, standby) reach the responder.
    QMetaObject::invokeMethod(
        this,
        [doomed] {
            delete doomed->socket;
            doomed->socket = nullptr;
        },
        Qt::QueuedConnection);
}

}  // namespace matrix::simapp
