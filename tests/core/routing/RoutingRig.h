// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "core/app/PageContext.h"
#include "core/pages/routing/RoutingPage.h"
#include "tests/support/PageWorld.h"
#include "tests/support/TestRig.h"
#include "tests/support/Transport.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace matrix::testing {

// One Routing page wired to the simulated matrix over either transport.
struct RoutingRig : PageWorld {
    explicit RoutingRig(Transport t) : transport(t)
    {
        if (transport == Transport::Tcp) {
            link.controlMode = ControlMode::Tcp;
            link.setTcpState(TcpState::Reconnecting);
            link.matrixAddress = TestRig::kAddress;
        } else {
            link.comOpen = 1;
            link.comPort = TestRig::kComPort;
        }
        link.activePage = PageId::Routing;  // the page is the one shown
        page = std::make_unique<RoutingPage>(context);
        // As the window does when it first shows the tab: the page takes
        // the connected COM port.
        page->startPage();
    }

    bool tcp() const { return transport == Transport::Tcp; }
    sim::MatrixResponder& matrix() { return tcp() ? rig.tcpMatrix : rig.serialMatrix; }
    void run() { rig.loop.runPending(); }
    void advance(int ms) { rig.loop.advance(ms); }

    // What the main window does when the tab is shown, 150 ms apart.
    void showTab()
    {
        page->tabSelected(true);
        link.activePage = PageId::Routing;
        if (tcp())
            link.reconnect(PageId::Routing);
        run();
        page->activate();
        run();
    }

    // No wait, animation or notice close is left: nothing more will happen.
    bool nothingWaits() const { return rig.loop.runningTimerCount() == 0; }

    // Frames the matrix received since the last clear.
    const std::vector<CommandFrame>& wire() { return matrix().received(); }
    void clearWire() { matrix().clearReceived(); }

    // A route clicked on the shown tab that the matrix, silent from then on,
    // never answers; the wire holds that route alone.
    void routeUnanswered(int output, int input)
    {
        showTab();
        matrix().setSilent(true);
        clearWire();
        page->clickGrid(output, input);
        run();
    }

    Transport transport;
    std::unique_ptr<RoutingPage> page;
};

inline std::vector<std::uint8_t> replyBytes(int command, int sub, int p1, int p3)
{
    return frameBytes(command, sub, p1, 0, p3);
}

}  // namespace matrix::testing
