// SPDX-License-Identifier: Apache-2.0
#include "platform/QtDatagramSocket.h"

#include "core/transport/Ipv4.h"
#include "platform/DiscardSocket.h"

#include <QHostAddress>
#include <QUdpSocket>

#include <sys/socket.h>

#include <cstdlib>

namespace matrix {

QtDatagramSocket::QtDatagramSocket(QObject* parent, PortSharing sharing) : QObject(parent), sharing_(sharing) {}

QtDatagramSocket::~QtDatagramSocket() { close(); }

bool QtDatagramSocket::bind(std::uint16_t port)
{
    close();
    socket_ = new QUdpSocket(this);
    // Without SO_REUSEADDR on our side no other socket can join the port,
    // and we cannot join one that another socket holds.
    const QAbstractSocket::BindMode mode = sharing_ == PortSharing::Shared
                                               ? QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint
                                               : QUdpSocket::DontShareAddress;
    if (!socket_->bind(QHostAddress::AnyIPv4, port, mode)) {
        close();
        return false;
    }
    // Qt enables broadcast on UDP sockets itself; say so explicitly, since
    // discovery depends on it.
    const int on = 1;
    ::setsockopt(static_cast<int>(socket_->socketDescriptor()), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    connect(socket_, &QUdpSocket::readyRead, this, [this] { notifyReadable(); });
    return true;
}

void QtDatagramSocket::close() { discardSocket(socket_, this); }

long QtDatagramSocket::sendTo(const std::string& dottedAddress, std::uint16_t port, const std::uint8_t* data,
                              std::size_t length)
{
    if (!socket_)
        return -1;
    const auto target = datagramDestination(dottedAddress, std::getenv("MATRIX_BROADCAST_ADDRESS"));
    if (!target)
        return -1;
    return static_cast<long>(socket_->writeDatagram(reinterpret_cast<const char*>(data), static_cast<qint64>(length),
                                                    QHostAddress(static_cast<quint32>(*target)), port));
}

long QtDatagramSocket::receive(std::uint8_t* buffer, std::size_t capacity)
{
    if (!socket_ || !socket_->hasPendingDatagrams())
        return -1;
    // Reading with a smaller buffer drops the rest of the datagram, which is
    // the truncation the interface promises.
    const qint64 got = socket_->readDatagram(reinterpret_cast<char*>(buffer), static_cast<qint64>(capacity));
    return got < 0 ? -1 : static_cast<long>(got);
}

}  // namespace matrix
