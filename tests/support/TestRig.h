// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/Platform.h"
#include "tests/support/MemoryDatagram.h"
#include "tests/support/MemoryNetwork.h"
#include "tests/support/SimulatedMatrix.h"

#include <string>

namespace matrix::testing {

// A program's worth of seams wired to one simulated matrix on virtual time.
struct TestRig : SimulatedMatrix {
    MemoryLinkSocket linkSocket{loop};
    MemoryDatagramSocket datagram;
    Platform platform{loop, [this] { return serialHub.makeSerial(); }, linkSocket, datagram};

    TestRig() { linkSocket.listen(kAddress, &tcpMatrix); }
};

}  // namespace matrix::testing
