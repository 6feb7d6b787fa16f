// SPDX-License-Identifier: Apache-2.0
#include "platform/QtLinkSocket.h"

#include "core/transport/Ipv4.h"
#include "platform/DiscardSocket.h"

#include <QHostAddress>
#include <QMetaObject>
#include <QTcpSocket>

namespace matrix {

namespace {

int connectErrorCode(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError: return QtLinkSocket::kConnectionRefused;
    case QAbstractSocket::SocketTimeoutError: return QtLinkSocket::kTimedOut;
    case QAbstractSocket::NetworkError: return QtLinkSocket::kNetworkUnreachable;
    default: return QtLinkSocket::kOtherConnectError + static_cast<int>(error) + 1;
    }
}

}  // namespace

QtLinkSocket::QtLinkSocket(QObject* parent) : QObject(parent) {}

QtLinkSocket::~QtLinkSocket() { dropSocket(); }

void QtLinkSocket::dropSocket()
{
    ++generation_;
    connected_ = false;
    connectReported_ = false;
    closeReported_ = false;
    rereadPosted_ = false;
    // Its buffered bytes belong to nobody now.
    discardSocket(socket_, this);
}

void QtLinkSocket::wire()
{
    connect(socket_, &QTcpSocket::connected, this, &QtLinkSocket::onConnected);
    connect(socket_, &QTcpSocket::errorOccurred, this,
            [this](QAbstractSocket::SocketError error) { onErrorOccurred(static_cast<int>(error)); });
    connect(socket_, &QTcpSocket::readyRead, this, &QtLinkSocket::onReadyRead);
    connect(socket_, &QTcpSocket::disconnected, this, &QtLinkSocket::onDisconnected);
}

void QtLinkSocket::recreate(StreamSocketOwner* owner)
{
    dropSocket();
    owner_ = owner;
    socket_ = new QTcpSocket(this);
    wire();
}

void QtLinkSocket::connectTo(const std::string& dottedAddress, std::uint16_t port)
{
    const auto address = parseDottedIpv4(dottedAddress);
    if (!address)
        return;  // not an address: no attempt at all; the caller's check reports it
    if (socket_ && socket_->state() != QAbstractSocket::UnconnectedState)
        dropSocket();
    if (!socket_) {
        socket_ = new QTcpSocket(this);
        wire();
    }
    connected_ = false;
    connectReported_ = false;
    closeReported_ = false;
    inConnectCall_ = true;
    socket_->connectToHost(QHostAddress(static_cast<quint32>(*address)), port);
    inConnectCall_ = false;
}

long QtLinkSocket::send(const std::uint8_t* data, std::size_t length)
{
    if (!socket_ || socket_->state() != QAbstractSocket::ConnectedState)
        return -1;
    const qint64 written = socket_->write(reinterpret_cast<const char*>(data), static_cast<qint64>(length));
    socket_->flush();
    return static_cast<long>(written);
}

long QtLinkSocket::receive(std::uint8_t* buffer, std::size_t capacity)
{
    if (!socket_ || capacity == 0)
        return 0;
    readSinceNotify_ = true;
    const qint64 got = socket_->read(reinterpret_cast<char*>(buffer), static_cast<qint64>(capacity));
    return got > 0 ? static_cast<long>(got) : 0;
}

void QtLinkSocket::close() { dropSocket(); }

void QtLinkSocket::reportConnect(int errorCode)
{
    if (connectReported_)
        return;
    connectReported_ = true;
    StreamSocketOwner* owner = owner_;
    if (!owner)
        return;
    if (!inConnectCall_) {
        owner->onSocketConnect(errorCode);
        return;
    }
    // Never from inside connectTo: the caller clears its "connected" flag
    // right after the call and must not overwrite a result it has not seen.
    const int generation = generation_;
    QMetaObject::invokeMethod(
        this,
        [this, generation, errorCode] {
            if (generation == generation_ && owner_)
                owner_->onSocketConnect(errorCode);
        },
        Qt::QueuedConnection);
}

void QtLinkSocket::onConnected()
{
    // Replies are 13 bytes; waiting to fill a segment only adds latency.
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connected_ = true;
    reportConnect(0);
}

void QtLinkSocket::onErrorOccurred(int error)
{
    if (!connected_) {
        reportConnect(connectErrorCode(static_cast<QAbstractSocket::SocketError>(error)));
        return;
    }
    // A connected socket that failed ends in "disconnected", which reports
    // the close; this only covers a socket that dropped without saying so.
    if (socket_ && socket_->state() == QAbstractSocket::UnconnectedState)
        onDisconnected();
}

void QtLinkSocket::onReadyRead() { notifyRead(); }

void QtLinkSocket::notifyRead()
{
    if (!owner_ || !socket_)
        return;
    const int generation = generation_;
    readSinceNotify_ = false;
    owner_->onSocketRead();
    if (generation != generation_ || !socket_)
        return;
    if (readSinceNotify_ && socket_->bytesAvailable() > 0 && !rereadPosted_) {
        rereadPosted_ = true;
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (generation != generation_)
                    return;
                rereadPosted_ = false;
                if (socket_ && socket_->bytesAvailable() > 0)
                    notifyRead();
            },
            Qt::QueuedConnection);
    }
}

void QtLinkSocket::onDisconnected()
{
    if (!connected_ || closeReported_)
        return;
    closeReported_ = true;
    if (owner_)
        owner_->onSocketClose();
}

}  // namespace matrix
