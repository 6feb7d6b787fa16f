// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/StreamSocket.h"

#include <QObject>

class QTcpSocket;

namespace matrix {

// The program's one link socket on QTcpSocket. Each recreate() makes a new
// QTcpSocket whose events go to the owner named then; the old socket is
// aborted and cut off first, so nothing it still had in flight reaches
// anybody.
//
// Read events behave like the level-triggered readiness the pages were
// written for: after onSocketRead, if the owner took bytes and more are
// waiting, another onSocketRead follows (posted), so an owner that reads in
// small portions still sees everything.
class QtLinkSocket : public QObject, public StreamSocket {
public:
    explicit QtLinkSocket(QObject* parent = nullptr);
    ~QtLinkSocket() override;

    void recreate(StreamSocketOwner* owner) override;
    void connectTo(const std::string& dottedAddress, std::uint16_t port) override;
    long send(const std::uint8_t* data, std::size_t length) override;
    long receive(std::uint8_t* buffer, std::size_t capacity) override;
    void close() override;

    // Error codes handed to onSocketConnect, after the classic socket ones.
    static constexpr int kConnectionRefused = 10061;
    static constexpr int kTimedOut = 10060;
    static constexpr int kNetworkUnreachable = 10051;
    static constexpr int kOtherConnectError = 10000;

private:
    void dropSocket();
    void wire();
    void onConnected();
    void onErrorOccurred(int error);
    void onReadyRead();
    void onDisconnected();
    void reportConnect(int errorCode);
    void notifyRead();

    QTcpSocket* socket_ = nullptr;
    StreamSocketOwner* owner_ = nullptr;
    int generation_ = 0;      // bumped whenever the socket is cut off
    bool connected_ = false;  // this attempt completed its connect
    bool connectReported_ = false;
    bool closeReported_ = false;
    bool inConnectCall_ = false;
    bool readSinceNotify_ = false;
    bool rereadPosted_ = false;
};

}  // namespace matrix
