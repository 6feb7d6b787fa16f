// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/DatagramSocket.h"
#include "core/transport/EventLoop.h"
#include "core/transport/SerialChannel.h"
#include "core/transport/StreamSocket.h"

#include <functional>
#include <memory>

namespace matrix {

// Everything the core needs from the outside world, handed to the session
// by reference: the real Qt adapters in the programs, in-memory doubles in
// the tests.
struct Platform {
    EventLoop& loop;
    // One serial object per page; each call makes a new one.
    std::function<std::unique_ptr<SerialChannel>()> makeSerial;
    StreamSocket& linkSocket;
    DatagramSocket& datagramSocket;
};

}  // namespace matrix
