// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "sim/AllCommands.h"
#include "sim/MatrixDevice.h"
#include "sim/MatrixResponder.h"
#include "tests/support/ManualLoop.h"
#include "tests/support/MemorySerial.h"

namespace matrix::testing {

// One simulated matrix on virtual time that answers every command on COM3
// and, once a socket listens with tcpMatrix, at 127.0.0.1:8000: one responder
// per link, one device behind both, as on the real box.
struct SimulatedMatrix {
    static constexpr int kComPort = 3;
    static constexpr const char* kAddress = "127.0.0.1";

    ManualLoop loop;
    sim::MatrixDevice device;
    sim::MatrixResponder serialMatrix{loop, device};
    sim::MatrixResponder tcpMatrix{loop, device};
    MemorySerialHub serialHub{loop};

    SimulatedMatrix()
    {
        sim::installAllCommands(serialMatrix);
        sim::installAllCommands(tcpMatrix);
        serialHub.addPort(kComPort, &serialMatrix);
    }
};

}  // namespace matrix::testing
