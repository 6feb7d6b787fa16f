// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/Platform.h"
#include "sim/MatrixDevice.h"
#include "sim/MatrixResponder.h"
#include "tests/support/ManualLoop.h"
#include "tests/support/MemoryDatagram.h"
#include "tests/support/MemoryNetwork.h"
#include "tests/support/MemorySerial.h"

#include <string>

namespace matrix::testing {

// A program's worth of seams wired to one simulated matrix on virtual time:
// the matrix answers on COM3 and at 127.0.0.1:8000 (one responder per link,
// one device behind both, as on the real box).
struct TestRig {
    static constexpr int kComPort = 3;
    static constexpr const char* kAddress = "127.0.0.1";

    ManualLoop loop;
    sim::MatrixDevice device;
    sim::MatrixResponder serialMatrix{loop, device};
    sim::MatrixResponder tcpMatrix{loop, device};
    MemorySerialHub serialHub{loop};
    MemoryLinkSocket linkSocket{loop};
    MemoryDatagramSocket datagram;
    Platform platform{loop, [this] { return serialHub.makeSerial(); }, linkSocket, datagram};

    TestRig()
    {
        sim::installGeneralCommands(serialMatrix);
        sim::installGeneralCommands(tcpMatrix);
        sim::installRoutingCommands(serialMatrix);
        sim::installRoutingCommands(tcpMatrix);
        sim::installEdidCommands(serialMatrix);
        sim::installEdidCommands(tcpMatrix);
        sim::installFirmwareCommands(serialMatrix);
        sim::installFirmwareCommands(tcpMatrix);
        serialHub.addPort(kComPort, &serialMatrix);
        linkSocket.listen(kAddress, &tcpMatrix);
    }
};

}  // namespace matrix::testing
