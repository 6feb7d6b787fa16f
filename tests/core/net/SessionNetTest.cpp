// SPDX-License-Identifier: Apache-2.0
// Discovery and configuration as the assembled program uses them: through
// the General page's "Search", IP list and "Config..." and the main window.
#include "core/session/MatrixSession.h"
#include "tests/core/net/NetFixture.h"
#include "tests/support/TestRig.h"

#include <gtest/gtest.h>

namespace matrix::testing {
namespace {

struct NetSession : SegmentPlatform {
    SegmentMatrix first{segment, {0x00, 0x1C, 0x91, 0x03, 0x40, 0x5A}, {192, 168, 0, 77}};
    SegmentMatrix second{segment, {0x61, 0x1C, 0x91, 0x03, 0x40, 0x01}, {192, 168, 0, 78}};
    MatrixSession session{platform};

    NetSession() { session.general.selectTcpMode(); }
};

}  // namespace

TEST(SessionNet, SearchFillsTheIpListAndConfigAddressesTheChosenMatrix)
{
    NetSession s;
    MatrixSession& m = s.session;
    m.general.searchClicked();
    s.rig.loop.runPending();
    EXPECT_EQ(m.general.ipEntries(), (std::vector<std::string>{"192.168.0.77", "192.168.0.78"}));
    EXPECT_EQ(m.general.ipSelection(), 0);
    EXPECT_EQ(m.link.matrixAddress, "192.168.0.77");
    // The replies were echoed into the page's hidden received-bytes log.
    EXPECT_EQ(m.general.receivedLog().boundText().substr(0, 6), "00 1C ");

    m.general.selectIpEntry(1);
    m.general.configClicked();
    EXPECT_TRUE(m.netConfig.isVisible());
    EXPECT_EQ(m.netConfig.addressField(3), "78");
    EXPECT_EQ(m.netConfig.macField(0), "61");
    m.netConfig.setAutoIp(false);
    m.netConfig.setAddressField(3, "90");
    m.netConfig.ok();
    s.rig.loop.runPending();
    EXPECT_EQ(s.second.device.ip, (std::array<std::uint8_t, 4>{192, 168, 0, 90}));
    EXPECT_EQ(s.first.device.ip, (std::array<std::uint8_t, 4>{192, 168, 0, 77}));
    EXPECT_EQ(m.popups.configStatus.text(), "Matrix configuration completed successfully!");

    // The main window searches again and the list shows the new address.
    s.rig.loop.advance(2500);
    s.rig.loop.runPending();
    EXPECT_FALSE(m.popups.configStatus.isOpen());
    EXPECT_EQ(m.general.ipEntries(), (std::vector<std::string>{"192.168.0.77", "192.168.0.90"}));
}

TEST(SessionNet, SearchWhileConnectedDropsTheLink)
{
    NetSession s;
    MatrixSession& m = s.session;
    m.general.setIpText(TestRig::kAddress);
    m.general.tcpConnectClicked();
    s.rig.loop.advance(100);
    ASSERT_EQ(m.link.tcpLinkUp(), 1);
    s.first.responder.setSilent(true);
    s.second.responder.setSilent(true);
    m.general.searchClicked();
    s.rig.loop.runPending();
    EXPECT_EQ(m.link.tcpLinkUp(), 0);
    EXPECT_EQ(m.link.socketConnected(), 0);
    EXPECT_FALSE(s.rig.linkSocket.connected());
    EXPECT_STREQ(m.general.tcpConnectText(), "Connect");
    EXPECT_TRUE(m.general.ipEntries().empty());
}

}  // namespace matrix::testing
