// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/transport/Platform.h"
#include "sim/MatrixDevice.h"
#include "sim/NetResponder.h"
#include "tests/support/MemoryUdpSegment.h"
#include "tests/support/TestRig.h"

#include <array>
#include <cstdint>

namespace matrix::testing {

// A simulated matrix with its own identity on the segment.
struct SegmentMatrix {
    SegmentMatrix(std::array<std::uint8_t, 6> mac, std::array<std::uint8_t, 4> ip)
    {
        device.mac = mac;
        device.ip = ip;
    }
    // One that answers on the segment from the start.
    SegmentMatrix(MemoryUdpSegment& segment, std::array<std::uint8_t, 6> mac, std::array<std::uint8_t, 4> ip)
        : SegmentMatrix(mac, ip)
    {
        segment.attach(&responder);
    }
    sim::MatrixDevice device;
    sim::NetResponder responder{device};
};

// The program's seams with discovery going to an in-memory segment instead
// of the rig's datagram socket.
struct SegmentPlatform {
    TestRig rig;
    MemoryUdpSegment segment{rig.loop};
    Platform platform{rig.loop, [this] { return rig.serialHub.makeSerial(); }, rig.linkSocket, segment};
};

}  // namespace matrix::testing
