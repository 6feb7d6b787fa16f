// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/Platform.h"
#include "platform/QtDatagramSocket.h"
#include "platform/QtEventLoop.h"
#include "platform/QtLinkSocket.h"
#include "platform/QtSerialPort.h"

#include <memory>

namespace matrix {

// The program's seams on Qt, wired as every real run wires them: the
// window, the demo and the benchmarks build their session on this.
struct QtPlatform {
    QtEventLoop loop;
    QtLinkSocket linkSocket;
    QtDatagramSocket datagramSocket;
    Platform platform{loop, [] { return std::make_unique<QtSerialPort>(); }, linkSocket, datagramSocket};
};

}  // namespace matrix
