// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "sim/NetResponder.h"
#include "sim/app/SimContext.h"

#include <QObject>

#include <cstdint>
#include <string>

class QUdpSocket;

namespace matrix::simapp {

// The matrix's UDP side: discovery requests on port 30600 and address-mode
// messages on 30601, on every IPv4 address, each answered to its sender.
// It only ever answers; it never broadcasts on its own.
class UdpFront : public QObject {
public:
    explicit UdpFront(SimContext& context, QObject* parent = nullptr);
    ~UdpFront() override;

    bool start(std::string* error);
    sim::NetResponder& responder() { return responder_; }

private:
    void drain(QUdpSocket* socket, std::uint16_t port);

    sim::NetResponder responder_;
    QUdpSocket* discovery_ = nullptr;
    QUdpSocket* config_ = nullptr;
};

}  // namespace matrix::simapp
