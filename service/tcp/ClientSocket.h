// SPDX-License-Identifier: Apache-2.0
#pragma once

// What the TCP front-ends (text lines, Videohub blocks) do alike with their
// listening socket and the socket of each client, on the Qt loop.

#include <QHostAddress>
#include <QMetaObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QVariant>

#include <string>
#include <utility>

namespace matrix::service {

// Listens; false with a message ("cannot listen on 127.0.0.1:4001: ...")
// when the port cannot be had.
inline bool listenOn(QTcpServer& server, const QHostAddress& address, quint16 port, std::string* error)
{
    if (server.listen(address, port))
        return true;
    if (error) {
        *error = "cannot listen on " + address.toString().toStdString() + ":" + std::to_string(port) + ": " +
                 server.errorString().toStdString();
    }
    return false;
}

// A client that stops reading while this much waits for it is dropped,
// instead of letting its unsent text grow without end.
constexpr qint64 kMaxUnsentBytes = 1024 * 1024;

// The client's address as kept on the socket at connect ("peer"): once the
// socket has closed, its peer address is gone.
inline std::string peerText(const QTcpSocket* socket) { return socket->property("peer").toString().toStdString(); }

// Sends to a connected client; false when the client has left more than
// kMaxUnsentBytes unread and is to be dropped.
inline bool sendToClient(QTcpSocket* socket, const std::string& bytes)
{
    if (socket->state() != QAbstractSocket::ConnectedState)
        return true;
    socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
    return socket->bytesToWrite() <= kMaxUnsentBytes;
}

// Ends a client's connection now; `forget` runs later from the loop, not
// from inside a pass over the list of clients. The socket is the context:
// once it is deleted nothing queued for it runs.
template <class Forget>
void abortAndForgetLater(QTcpSocket* socket, Forget forget)
{
    socket->abort();
    QMetaObject::invokeMethod(socket, std::move(forget), Qt::QueuedConnection);
}

}  // namespace matrix::service
