// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/videohub/BlockFormat.h"
#include "service/videohub/EventFanout.h"
#include "service/videohub/Session.h"
#include "service/videohub/UnitBackend.h"

#include "service/hub/HubEvent.h"

#include <QHostAddress>
#include <QObject>

#include <array>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>

class QTcpServer;
class QTcpSocket;

namespace matrix::service {
class Hub;
class MatrixUnit;
}  // namespace matrix::service

namespace matrix::service::videohub {

// The Videohub front-end of one matrix: a TCP server whose clients each get a
// Session over the hub's unit. Changes announced on the hub's event bus for
// this matrix go out to every client. Loop thread only.
class VideohubServer : public QObject {
public:
    // Far more controllers than one room has; past it a new connection is
    // closed at once rather than let anyone use up the daemon's descriptors.
    static constexpr std::size_t kMaxClients = 64;
    // One address cannot take the room's share: a control system needs one
    // or two connections, a busy touch panel a few.
    static constexpr std::size_t kMaxClientsPerAddress = 8;

    VideohubServer(Hub& hub, MatrixUnit& unit, QObject* parent = nullptr);
    ~VideohubServer() override;

    // False with a message ("cannot listen on 127.0.0.1:9990: ...") when the
    // port cannot be had.
    bool listen(const QHostAddress& address, quint16 port, std::string* error);
    quint16 serverPort() const;
    std::size_t clientCount() const { return clients_.size(); }

private:
    void onNewConnection();
    void onEvent(const HubEvent& event);
    // Why a new connection is closed at once, or nothing when it may stay.
    std::optional<std::string> refusal(const QTcpSocket* socket) const;
    void drop(QTcpSocket* socket, const char* why);
    void forget(QTcpSocket* socket);

    Hub& hub_;
    MatrixUnit& unit_;
    UnitBackend backend_;
    EventFanout fanout_;  // the events' Videohub form
    QTcpServer* server_ = nullptr;
    int subscription_ = 0;
    std::map<QTcpSocket*, std::unique_ptr<Session>> clients_;
};

}  // namespace matrix::service::videohub
