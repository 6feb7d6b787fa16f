// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "service/hub/AddressAllowList.h"
#include "service/text/Session.h"

#include <QHostAddress>
#include <QObject>

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <string>

class QTcpServer;
class QTcpSocket;

namespace matrix::service::text {

// The text protocol on TCP for one matrix: a Session per connection, every
// event to every connection. Control processors hold one connection for
// days, so idle ones stay; TCP keep-alive finds the ones whose peer is gone.
// Loop thread only.
class TextServer : public QObject {
public:
    // A room's control system and a few panels, with room to spare; past
    // these a connection is closed at once.
    static constexpr std::size_t kMaxClients = 16;
    static constexpr std::size_t kMaxClientsPerAddress = 4;

    TextServer(Backend& backend, std::string matrixId, AddressAllowList allow, QObject* parent = nullptr);
    ~TextServer() override;

    // False with a message ("cannot listen on 127.0.0.1:4001: ...") when the port cannot be had.
    bool listen(const QHostAddress& address, quint16 port, std::string* error);
    std::size_t clientCount() const { return clients_.size(); }
    void event(const Event& event);

private:
    struct Client {
        std::unique_ptr<Session> session;
        std::string address;
    };
    void onNewConnection();
    bool admit(QTcpSocket* socket, const std::string& address);
    void readFrom(QTcpSocket* socket);
    void drop(QTcpSocket* socket, const char* why);
    void forget(QTcpSocket* socket);

    Backend& backend_;
    std::string matrixId_;
    AddressAllowList allow_;
    QTcpServer* server_ = nullptr;
    std::map<QTcpSocket*, Client> clients_;
    // A refused address is logged once a minute, so a flood of attempts cannot flood the journal.
    std::map<std::string, std::chrono::steady_clock::time_point> refusalLogged_;
};

}  // namespace matrix::service::text
