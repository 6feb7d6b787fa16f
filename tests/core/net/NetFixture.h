// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/PageContext.h"
#include "core/app/WindowNetHost.h"
#include "core/net/Discovery.h"
#include "core/net/NetworkConfig.h"
#include "tests/support/ManualLoop.h"
#include "tests/support/MemoryNetwork.h"
#include "tests/support/MemoryUdpSegment.h"
#include "tests/support/PageWorld.h"
#include "tests/support/SegmentMatrix.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace matrix::testing {

// The seams and shared state of the program's network part on one
// in-memory segment, without pages or a window.
struct NetSeams {
    ManualLoop loop;
    MemoryLinkSocket linkSocket{loop};
    MemoryUdpSegment segment{loop};
    Platform platform{loop, [] { return std::unique_ptr<SerialChannel>(); }, linkSocket, segment};
    WindowLink link{platform};
    Popups popups{loop};
};

// Discovery and the configuration model on one in-memory segment, with the
// main window replaced by a recorder.
struct NetFixture : NetSeams {
    RecordingShell shell;
    PageContext context{platform, link, popups, shell};
    WindowNetHost host{context};
    Discovery discovery{platform, host};
    NetworkConfig config{platform, host, discovery};
};

inline std::vector<std::uint8_t> discoveryReply(std::array<std::uint8_t, 6> mac, std::array<std::uint8_t, 4> ip,
                                                std::size_t length = 64, bool signature = true)
{
    std::vector<std::uint8_t> reply(length, 0);
    for (std::size_t i = 0; i < 6 && i < length; ++i)
        reply[i] = mac[i];
    for (std::size_t i = 0; i < 4 && 6 + i < length; ++i)
        reply[6 + i] = ip[i];
    if (signature && length >= 20) {
        reply[18] = 0x77;
        reply[19] = 0x88;
    }
    return reply;
}

}  // namespace matrix::testing
