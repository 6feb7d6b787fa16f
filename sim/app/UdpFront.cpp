// SPDX-License-Identifier: Apache-2.0
#include "sim/app/UdpFront.h"

#include "core/transport/Ipv4.h"

#include <QHostAddress>
#include <QUdpSocket>

#include <iostream>

namespace matrix::simapp {

UdpFront::UdpFront(SimContext& context, QObject* parent) : QObject(parent), responder_(context.device()) {}

UdpFront::~UdpFront() = default;

bool UdpFront::start(std::string* error)
{
    const auto bindPort = [&](std::uint16_t port) -> QUdpSocket* {
        auto* socket = new QUdpSocket(this);
        if (!socket->bind(QHostAddress::AnyIPv4, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
            *error = "cannot bind UDP port " + std::to_string(port) + ": " + socket->errorString().toStdString();
            delete socket;
            return nullptr;
        }
        connect(socket, &QUdpSocket::readyRead, this, [this, socket, port] { drain(socket, port); });
        return socket;
    };
    discovery_ = bindPort(sim::NetResponder::kDiscoveryPort);
    if (!discovery_)
        return false;
    config_ = bindPort(sim::NetResponder::kConfigPort);
    return config_ != nullptr;
}

void UdpFront::drain(QUdpSocket* socket, std::uint16_t port)
{
    while (socket->hasPendingDatagrams()) {
        QByteArray datagram;
        datagram.resize(static_cast<int>(std::max<qint64>(socket->pendingDatagramSize(), 0)));
        QHostAddress sender;
        quint16 senderPort = 0;
        const qint64 got = socket->readDatagram(datagram.data(), datagram.size(), &sender, &senderPort);
        if (got < 0)
            continue;
        const sim::NetResponder::Bytes bytes(datagram.begin(), datagram.begin() + got);
        const auto before = responder_.configurationsApplied();
        const auto answer = responder_.onDatagram(port, bytes);
        if (responder_.configurationsApplied() != before) {
            const auto& ip = responder_.device().ip;
            std::cout << "address mode " << (responder_.device().autoIp ? "auto" : "static") << " "
                      << formatDottedIpv4((std::uint32_t(ip[0]) << 24) | (ip[1] << 16) | (ip[2] << 8) | ip[3])
                      << std::endl;
        }
        if (!answer)
            continue;
        socket->writeDatagram(reinterpret_cast<const char*>(answer->data()), static_cast<qint64>(answer->size()),
                              sender, senderPort);
    }
}

}  // namespace matrix::simapp
