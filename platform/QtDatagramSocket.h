// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/DatagramSocket.h"

#include <QObject>

class QUdpSocket;

namespace matrix {

// The UDP socket of discovery and network configuration on QUdpSocket:
// bound on every IPv4 address, shared with other sockets on the same port,
// broadcast allowed; one datagram per receive call.
class QtDatagramSocket : public QObject, public DatagramSocket {
public:
    explicit QtDatagramSocket(QObject* parent = nullptr);
    ~QtDatagramSocket() override;

    bool bind(std::uint16_t port) override;
    void close() override;
    long sendTo(const std::string& dottedAddress, std::uint16_t port, const std::uint8_t* data,
                std::size_t length) override;
    long receive(std::uint8_t* buffer, std::size_t capacity) override;

private:
    QUdpSocket* socket_ = nullptr;
};

}  // namespace matrix
