// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "sim/app/SimContext.h"

#include <QByteArray>
#include <QObject>
#include <QTcpServer>

#include <deque>
#include <map>
#include <memory>
#include <string>

class QTcpSocket;
class QTimer;

namespace matrix::simapp {

// The matrix's TCP side: port 8000 on one address, one responder per
// connection, all answering for the same device.
class TcpFront : public QObject {
public:
    explicit TcpFront(SimContext& context, QObject* parent = nullptr);
    ~TcpFront() override;

    bool listen(std::uint32_t address, std::uint16_t port, std::string* error);

private:
    struct Connection {
        QTcpSocket* socket = nullptr;
        std::unique_ptr<sim::MatrixResponder> responder;
        // Pieces of split replies, sent one per gap so that each leaves as
        // its own segment and the program really sees a reply in parts.
        std::deque<QByteArray> paced;
        QTimer* pacer = nullptr;
    };

    void onNewConnection();
    void transmit(Connection& connection, const QByteArray& bytes);
    void sendPaced(Connection& connection);
    void drop(QTcpSocket* socket);

    SimContext& context_;
    QTcpServer server_;
    std::map<QTcpSocket*, std::unique_ptr<Connection>> connections_;
};

}  // namespace matrix::simapp
