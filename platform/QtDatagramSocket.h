// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/DatagramSocket.h"

#include <QObject>

class QUdpSocket;

namespace matrix {

// The UDP socket of discovery and network configuration on QUdpSocket:
// bound on every IPv4 address, broadcast allowed; one datagram per receive
// call.
class QtDatagramSocket : public QObject, public DatagramSocket {
public:
    enum class PortSharing {
        // The programs: the matrices answer to the port the request came
        // from, so a second socket on it would take some of the replies
        // away. While another socket holds the port, bind fails, and the
        // user sees "Search failed" instead of an empty list.
        Exclusive,
        // Several sockets on one port, as a simulator beside the program on
        // one host needs.
        Shared,
    };

    explicit QtDatagramSocket(QObject* parent = nullptr, PortSharing sharing = PortSharing::Exclusive);
    explicit QtDatagramSocket(PortSharing sharing) : QtDatagramSocket(nullptr, sharing) {}
    ~QtDatagramSocket() override;

    bool bind(std::uint16_t port) override;
    void close() override;
    long sendTo(const std::string& dottedAddress, std::uint16_t port, const std::uint8_t* data,
                std::size_t length) override;
    long receive(std::uint8_t* buffer, std::size_t capacity) override;

private:
    PortSharing sharing_;
    QUdpSocket* socket_ = nullptr;
};

}  // namespace matrix
