// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/session/MatrixSession.h"
#include "tests/support/TestRig.h"
#include "tests/support/Transport.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace matrix::testing {

// (command, sub-command, p1, p2, p3): what a test says about a frame.
using Wire = std::tuple<int, int, int, int, int>;

inline Wire wire(const CommandFrame& f) { return {f.command(), f.subCommand(), f.p1(), f.p2(), f.p3()}; }

inline std::vector<Wire> wires(const std::vector<CommandFrame>& frames)
{
    std::vector<Wire> out;
    for (const auto& f : frames)
        out.push_back(wire(f));
    return out;
}

// A whole program on virtual time against the simulated matrix: the rig's
// seams and one session built on them, as start-up builds it.
struct SessionRig {
    TestRig rig;
    MatrixSession session{rig.platform};
    GeneralPage& page = session.general;

    sim::MatrixResponder& matrix(Transport t) { return t == Transport::Com ? rig.serialMatrix : rig.tcpMatrix; }

    // The General page's Connect for the transport, as a user does it.
    void connect(Transport t)
    {
        if (t == Transport::Com) {
            page.selectComMode();
            page.selectComPort("COM3");
            page.comConnectClicked();
            rig.loop.advance(10);
        } else {
            page.selectTcpMode();
            page.setIpText(TestRig::kAddress);
            page.tcpConnectClicked();
            rig.loop.advance(GeneralPage::kConnectCheckMs);
        }
    }

    std::vector<Wire> sentFrames(Transport t) { return wires(matrix(t).received()); }

    // The run's query waits are the client's, whose request is then in flight.
    bool anyStatusTimerRunning() { return page.statusBusy() || page.client().queuedRequests() != 0; }
    // Nothing is left ticking but the COM list's rescan and the closing of an open notice.
    bool nothingElseTicks()
    {
        const std::size_t expected = (page.comListRescanning() ? 1u : 0u) + (session.popups.notice.isOpen() ? 1u : 0u);
        return rig.loop.runningTimerCount() == expected;
    }
};

}  // namespace matrix::testing
