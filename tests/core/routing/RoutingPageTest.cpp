// SPDX-License-Identifier: Apache-2.0
#include "tests/core/routing/RoutingRig.h"
#include "tests/support/RawFrame.h"

#include <gtest/gtest.h>

namespace matrix::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

class RoutingPageTest : public ::testing::TestWithParam<Transport> {
protected:
    RoutingRig r{GetParam()};
    RoutingPage& page() { return *r.page; }
};

INSTANTIATE_TEST_SUITE_P(BothTransports, RoutingPageTest, bothTransports(), transportName);

TEST_P(RoutingPageTest, FreshPageShowsOneEverywhereAndNothingChecked)
{
    for (int output = 1; output <= RoutingPage::kOutputs; ++output) {
        EXPECT_EQ(page().displayText(output), "1");
        EXPECT_EQ(page().checkedInput(output), 0);
    }
    EXPECT_TRUE(r.wire().empty());
}

// Found by the fault simulation: a grid click in the 150 ms between showing
// the tab and its activation. The refresh then ran beside the route, both
// on the one busy flag; the first to end freed the tabs while the other
// went on sending on a link that another page had taken by then.
TEST_P(RoutingPageTest, GridClickBeforeActivationHoldsBusyUntilNothingIsInFlight)
{
    r.matrix().setReplyDelayMs(300);  // the route's answer comes after the activation
    r.page->tabSelected(true);
    if (r.tcp()) {
        r.link.reconnect(PageId::Routing);
        r.run();
    }
    page().clickGrid(2, 3);
    ASSERT_EQ(r.link.busy, 1);
    r.advance(150);
    page().activate();
    ASSERT_TRUE(r.rig.loop.advanceUntil([&] { return r.link.busy == 0; }, 20000));
    const std::size_t framesWhenFree = r.wire().size();
    r.advance(30000);
    EXPECT_EQ(r.wire().size(), framesWhenFree) << "nothing is sent once the tabs are free";
    EXPECT_EQ(r.rig.device.routing[1], 3);
    EXPECT_EQ(page().checkedInput(2), 3);
    EXPECT_TRUE(r.nothingWaits());
    EXPECT_FALSE(r.popups.notice.isOpen());
}

// Found by the fault simulation: the answers to a refresh that had timed
// out came in afterwards and started the query chain again, with nothing
// holding the tabs, so it went on sending on another page's link.
TEST_P(RoutingPageTest, LateStatusAnswersAfterATimeOutDoNotRestartTheRefresh)
{
    r.matrix().setReplyDelayMs(9000);  // both answers come after the give-up at 8 s
    r.showTab();
    ASSERT_TRUE(r.rig.loop.advanceUntil([&] { return r.link.busy == 0; }, 20000));
    EXPECT_EQ(r.popups.notice.text(), "Time out!");
    r.matrix().setReplyDelayMs(0);
    r.clearWire();
    r.advance(30000);
    EXPECT_TRUE(r.wire().empty()) << "the ended refresh sends nothing more";
    EXPECT_EQ(r.link.busy, 0);
    EXPECT_TRUE(r.nothingWaits());
}

// Found by the fault simulation: a route acknowledged only after its
// time-out, with a refresh running by then: the late acknowledgement
// cleared busy in the middle of the refresh and freed the tabs.
TEST_P(RoutingPageTest, LateRouteAcknowledgementDoesNotEndARunningRefresh)
{
    r.showTab();
    r.matrix().setReplyDelayMs(9000);
    page().clickGrid(2, 3);  // re-sent at 3 s, given up at 8 s: acknowledged at 9 s and 12 s
    ASSERT_TRUE(r.rig.loop.advanceUntil([&] { return r.link.busy == 0 && !r.popups.notice.isOpen(); }, 20000));
    r.matrix().setReplyDelayMs(1000);
    r.showTab();  // each status answer takes a second, the refresh runs past 12 s
    ASSERT_EQ(r.link.busy, 1);
    ASSERT_LT(r.rig.loop.nowMs(), 11500);
    r.advance(12050 - r.rig.loop.nowMs());
    EXPECT_EQ(r.link.busy, 1) << "the refresh is still running";
    ASSERT_TRUE(r.rig.loop.advanceUntil([&] { return r.link.busy == 0; }, 20000));
    for (int k = 1; k <= 4; ++k)
        EXPECT_EQ(page().checkedInput(k), r.rig.device.routing[k - 1]) << k;
}

TEST_P(RoutingPageTest, RefreshQueriesLiveOutputsInOrderAndShowsTheRouting)
{
    r.rig.device.routing = {3, 1, 4, 2, 5, 6, 7, 8};
    r.showTab();

    ASSERT_EQ(r.wire().size(), 4u);
    for (int k = 1; k <= 4; ++k) {
        const CommandFrame& query = r.wire()[k - 1];
        EXPECT_EQ(frameBytes(query), frameBytes(RawFrame::routing(2, 1, k, 0))) << "output " << k;
    }
    const int expected[] = {3, 1, 4, 2};
    for (int k = 1; k <= 4; ++k) {
        EXPECT_EQ(page().checkedInput(k), expected[k - 1]);
        EXPECT_EQ(page().displayText(k), std::to_string(expected[k - 1]));
        EXPECT_EQ(page().currentInput(k), expected[k - 1]);
    }
    EXPECT_EQ(r.link.busy, 0);
    EXPECT_TRUE(r.nothingWaits());
    if (r.tcp()) {
        // Tab buttons held during the refresh and released after output 4.
        EXPECT_EQ(r.shell.pageBusy, (std::vector<int>{1, 1, 1, 0}));
    }
}

TEST_P(RoutingPageTest, GridClickSendsRouteAndReplyChecksTheButton)
{
    r.showTab();
    r.clearWire();
    r.shell.pageBusy.clear();

    page().clickGrid(2, 2);
    ASSERT_EQ(r.wire().size(), 0u);  // not yet on the wire side
    EXPECT_EQ(r.link.busy, 1);
    EXPECT_FALSE(r.nothingWaits());  // the route's wait
    EXPECT_FALSE(page().gridAcceptsClicks());
    r.run();

    ASSERT_EQ(r.wire().size(), 1u);
    EXPECT_EQ(frameBytes(r.wire()[0]), (Bytes{0xA5, 0x5B, 0x02, 0x03, 0x02, 0x00, 0x02, 0, 0, 0, 0, 0, 0xF7}));
    EXPECT_EQ(page().checkedInput(2), 2);
    EXPECT_EQ(page().displayText(2), "2");
    EXPECT_EQ(page().currentInput(2), 2);
    EXPECT_EQ(r.link.busy, 0);
    EXPECT_TRUE(r.nothingWaits());
    EXPECT_EQ(r.shell.pageBusy, (std::vector<int>{0}));
    EXPECT_EQ(r.rig.device.routing[1], 2);
    // Other outputs untouched.
    EXPECT_EQ(page().checkedInput(1), 1);

    // Clicking the checked button still sends; it stays checked.
    page().clickGrid(2, 3);
    r.run();
    ASSERT_EQ(r.wire().size(), 2u);
    EXPECT_EQ(frameBytes(r.wire()[1]), (Bytes{0xA5, 0x5B, 0x02, 0x03, 0x03, 0x00, 0x02, 0, 0, 0, 0, 0, 0xF6}));
    page().clickGrid(2, 3);
    r.run();
    EXPECT_EQ(r.wire().size(), 3u);
    EXPECT_EQ(page().checkedInput(2), 3);
}

TEST_P(RoutingPageTest, NextRefreshReportsWhatTheMatrixWasTold)
{
    r.showTab();
    page().clickGrid(3, 1);
    r.run();
    page().clickGrid(4, 2);
    r.run();
    r.clearWire();
    r.showTab();
    EXPECT_EQ(r.wire().size(), 4u);
    EXPECT_EQ(page().checkedInput(3), 1);
    EXPECT_EQ(page().checkedInput(4), 2);
    EXPECT_EQ(page().displayText(3), "1");
}

TEST_P(RoutingPageTest, ClicksWhileBusyDoNothingAtAll)
{
    r.routeUnanswered(1, 3);
    const int noticesBefore = r.popups.notice.timesOpened();

    page().clickGrid(3, 1);
    page().clickNext(1);
    page().clickPrevious(4);
    r.run();

    EXPECT_EQ(r.wire().size(), 1u);
    EXPECT_EQ(r.popups.notice.timesOpened(), noticesBefore);
    EXPECT_EQ(page().pendingInput(), 3);
    // Only the first route waits: its re-send is the one frame that follows.
    r.advance(3000);
    ASSERT_EQ(r.wire().size(), 2u);
    EXPECT_EQ(r.wire()[1], r.wire()[0]);
}

TEST_P(RoutingPageTest, StepButtonsWrapWithinTheLiveInputs)
{
    r.rig.device.routing = {4, 1, 2, 3, 5, 6, 7, 8};
    r.showTab();
    r.clearWire();

    struct Case {
        bool next;
        int output;
        int expectedInput;
    } cases[] = {{true, 1, 1}, {false, 2, 4}, {false, 3, 1}, {true, 4, 4}, {true, 4, 1}, {false, 1, 4}};
    for (const Case& c : cases) {
        const int carried = page().currentInput(c.output);
        r.clearWire();
        c.next ? page().clickNext(c.output) : page().clickPrevious(c.output);
        r.run();
        ASSERT_EQ(r.wire().size(), 1u) << (c.next ? "next" : "previous") << " output " << c.output;
        EXPECT_EQ(r.wire()[0].p1(), c.expectedInput) << "from input " << carried;
        EXPECT_EQ(r.wire()[0].p3(), c.output);
        EXPECT_EQ(page().currentInput(c.output), c.expectedInput);
    }
}

TEST_P(RoutingPageTest, NoReplyGivesProgressThenTimeOutThenClicksWorkAgain)
{
    r.routeUnanswered(3, 2);

    r.advance(2999);
    EXPECT_FALSE(r.popups.progress.isOpen());
    r.advance(1);
    EXPECT_TRUE(r.popups.progress.isOpen());
    EXPECT_EQ(r.popups.progress.text(), "Please wait . . .");
    r.run();
    ASSERT_EQ(r.wire().size(), 2u);
    EXPECT_EQ(r.wire()[1], r.wire()[0]);  // the same route, re-sent

    r.advance(500);
    EXPECT_EQ(r.popups.progress.text(), "Please wait . .  ");
    r.advance(500);
    EXPECT_EQ(r.popups.progress.text(), "Please wait . . .");
    r.advance(500);
    EXPECT_EQ(r.popups.progress.text(), "Please wait .    ");

    r.advance(5000 - 1500 - 1);
    EXPECT_FALSE(r.popups.notice.isOpen());
    r.advance(1);
    EXPECT_FALSE(r.popups.progress.isOpen());
    EXPECT_TRUE(r.popups.notice.isOpen());
    EXPECT_EQ(r.popups.notice.text(), "Time out!");
    EXPECT_EQ(r.rig.loop.runningTimerCount(), 1u) << "only the notice's close is left";
    EXPECT_EQ(r.wire().size(), 2u) << "no third try";
    // busy holds until the notice has closed.
    EXPECT_EQ(r.link.busy, 1);
    r.advance(1500);
    EXPECT_FALSE(r.popups.notice.isOpen());
    EXPECT_EQ(r.link.busy, 0);
    EXPECT_EQ(r.shell.pageBusy.back(), 0);
    EXPECT_TRUE(r.nothingWaits());
    EXPECT_EQ(page().checkedInput(3), 3);  // grid kept its state

    r.matrix().setSilent(false);
    page().clickGrid(3, 2);
    r.run();
    EXPECT_EQ(page().checkedInput(3), 2);
    EXPECT_EQ(r.link.busy, 0);
}

TEST_P(RoutingPageTest, StatusQueryTimeOutEndsTheRefresh)
{
    r.matrix().setSilent(true);
    r.showTab();
    r.advance(3000);
    EXPECT_TRUE(r.popups.progress.isOpen());
    EXPECT_EQ(r.wire().size(), 2u);  // the query re-sent under the popup
    r.advance(5000);
    EXPECT_EQ(r.popups.notice.text(), "Time out!");
    r.advance(1500);
    EXPECT_EQ(r.link.busy, 0);
    EXPECT_TRUE(r.nothingWaits());
    ASSERT_EQ(r.wire().size(), 2u);
    EXPECT_EQ(r.wire()[1], r.wire()[0]);
}

TEST_P(RoutingPageTest, StandbyStopsEverythingAndClearsBusy)
{
    r.routeUnanswered(1, 2);
    r.advance(3000);
    ASSERT_TRUE(r.popups.progress.isOpen());

    r.matrix().sendStandby();
    r.run();
    EXPECT_FALSE(r.popups.progress.isOpen());
    EXPECT_TRUE(r.popups.notice.isOpen());
    EXPECT_EQ(r.popups.notice.text(), "Matrix is in standby mode!");
    EXPECT_EQ(r.link.busy, 0);
    EXPECT_EQ(r.rig.loop.runningTimerCount(), 1u) << "only the standby notice's close is left";
    EXPECT_EQ(r.shell.pageBusy.back(), 0);

    r.advance(2499);
    EXPECT_TRUE(r.popups.notice.isOpen());
    r.advance(1);
    EXPECT_FALSE(r.popups.notice.isOpen());
    EXPECT_TRUE(r.nothingWaits());
    EXPECT_TRUE(page().gridAcceptsClicks());
}

TEST_P(RoutingPageTest, StandbyReplacesAnOpenNotice)
{
    r.routeUnanswered(1, 2);
    r.advance(8000);
    ASSERT_EQ(r.popups.notice.text(), "Time out!");
    r.matrix().sendStandby();
    r.run();
    EXPECT_TRUE(r.popups.notice.isOpen());
    EXPECT_EQ(r.popups.notice.text(), "Matrix is in standby mode!");
    EXPECT_TRUE(r.popups.notice.held());
    EXPECT_EQ(r.link.busy, 0);
}

TEST_P(RoutingPageTest, NotConnectedShowsTheGuardNoticeAndSendsNothing)
{
    if (r.tcp())
        r.link.setTcpState(TcpState::Down);
    else
        page().serialPort().requestClose();  // as when another tab was shown
    page().clickGrid(1, 2);
    r.run();
    EXPECT_TRUE(r.wire().empty());
    EXPECT_TRUE(r.popups.notice.isOpen());
    EXPECT_EQ(r.popups.notice.text(), r.tcp() ? "Connect to Matrix failed!" : "Open COM failed!");
    EXPECT_EQ(r.link.busy, 0);
    EXPECT_EQ(page().checkedInput(1), 0);
    r.advance(1500);
    EXPECT_FALSE(r.popups.notice.isOpen());
    EXPECT_TRUE(r.nothingWaits());
}

TEST_P(RoutingPageTest, RefreshWithoutLinkShowsNotice)
{
    if (r.tcp())
        r.rig.linkSocket.stopListening(TestRig::kAddress);
    else
        r.link.comOpen = 0;
    r.showTab();
    EXPECT_EQ(r.popups.notice.text(), r.tcp() ? "Connect to Matrix failed!" : "Open COM failed!");
    EXPECT_EQ(r.link.busy, 0);
    EXPECT_TRUE(r.wire().empty());
}

// --- transport-specific --------------------------------------------------

class RoutingSerialTest : public ::testing::Test {
protected:
    RoutingRig r{Transport::Com};
    RoutingPage& page() { return *r.page; }

    // Input 3 to output 1, with the matrix spoiling the checksum of its next `count` replies.
    void routeWithBadChecksums(int count)
    {
        r.showTab();
        r.clearWire();
        r.matrix().corruptNextChecksum(count);
        page().clickGrid(1, 3);
        r.run();
    }
};

TEST_F(RoutingSerialTest, BadChecksumIsAnsweredByOneResend)
{
    routeWithBadChecksums(1);
    ASSERT_EQ(r.wire().size(), 2u);
    EXPECT_EQ(r.wire()[1], r.wire()[0]);
    EXPECT_EQ(page().checkedInput(1), 3);
    EXPECT_EQ(r.link.busy, 0);
    EXPECT_TRUE(r.nothingWaits());
}

TEST_F(RoutingSerialTest, SecondBadChecksumEndsTheRouteLikeATimeOut)
{
    routeWithBadChecksums(2);
    EXPECT_EQ(r.wire().size(), 2u);
    EXPECT_EQ(r.popups.notice.text(), "Time out!");
    EXPECT_TRUE(r.popups.notice.isOpen());
    EXPECT_EQ(page().checkedInput(1), 1);
    r.advance(1500);
    EXPECT_EQ(r.link.busy, 0);
    EXPECT_EQ(r.shell.pageBusy.back(), 0);
    EXPECT_TRUE(r.nothingWaits());
    EXPECT_TRUE(page().gridAcceptsClicks());
}

TEST_F(RoutingSerialTest, ResendAfterBadSumIsStillWatchedByATimer)
{
    r.routeUnanswered(2, 3);
    Bytes bad = replyBytes(2, 3, 0, 2);
    bad[12] = static_cast<std::uint8_t>(bad[12] + 1);
    r.matrix().sendNoise(bad);
    r.run();
    EXPECT_EQ(r.wire().size(), 2u);
    EXPECT_EQ(r.link.busy, 1);
    r.advance(4999);
    EXPECT_FALSE(r.popups.notice.isOpen());
    EXPECT_EQ(r.wire().size(), 2u) << "the re-send's wait is the last";
    r.advance(1);
    EXPECT_EQ(r.popups.notice.text(), "Time out!");
    r.advance(1500);
    EXPECT_EQ(r.link.busy, 0);
}

TEST_F(RoutingSerialTest, StatusInputOutsideLiveInputsOnlyReachesTheDisplay)
{
    r.rig.device.routing = {6, 2, 3, 4, 5, 6, 7, 8};
    r.showTab();
    EXPECT_EQ(page().displayText(1), "6");
    EXPECT_EQ(page().checkedInput(1), 0);
    EXPECT_EQ(page().currentInput(1), 1);
}

TEST_F(RoutingSerialTest, BytesBeforeTheFirstSyncAreEchoedButNotStored)
{
    r.showTab();
    r.matrix().sendNoise({0x11, 0x22});
    r.matrix().sendNoise(replyBytes(2, 3, 0, 4));
    r.run();
    EXPECT_NE(r.page->receivedLog().boxText().find("11 22 A5 5B 02 03 00 00 04"), std::string::npos);
    // The stray acknowledgement finished "a route" of output 4 from pendingInput.
    EXPECT_EQ(page().displayText(4), std::to_string(page().pendingInput()));
}

TEST_F(RoutingSerialTest, SerialBytesAreIgnoredInTcpControlMode)
{
    r.showTab();
    r.link.controlMode = ControlMode::Tcp;
    r.matrix().sendStandby();
    r.run();
    EXPECT_FALSE(r.popups.notice.isOpen());
}

class RoutingTcpTest : public ::testing::Test {
protected:
    RoutingRig r{Transport::Tcp};
    RoutingPage& page() { return *r.page; }
};

TEST_F(RoutingTcpTest, RefreshSurvivesRepliesSplitIntoSmallPieces)
{
    r.rig.device.routing = {2, 3, 4, 1, 5, 6, 7, 8};
    r.rig.tcpMatrix.setSplitSize(4);
    r.showTab();
    for (int k = 1; k <= 4; ++k)
        EXPECT_EQ(page().checkedInput(k), r.rig.device.routing[k - 1]);
    EXPECT_EQ(r.link.busy, 0);
}

TEST_F(RoutingTcpTest, EveryFrameOfOneReadIsHandledAndTheTailKept)
{
    r.routeUnanswered(2, 4);

    Bytes block{0x00, 0x42};  // noise before the first sync
    Bytes ack = replyBytes(2, 3, 0, 2);
    Bytes standby = replyBytes(0x88, 0x88, 0, 0);
    block.insert(block.end(), ack.begin(), ack.end());
    block.insert(block.end(), standby.begin(), standby.begin() + 6);
    r.matrix().sendNoise(block);
    r.run();
    EXPECT_EQ(page().checkedInput(2), 4);
    EXPECT_EQ(r.link.busy, 0);
    EXPECT_FALSE(r.popups.notice.isOpen());

    r.matrix().sendNoise(Bytes(standby.begin() + 6, standby.end()));
    r.run();
    EXPECT_EQ(r.popups.notice.text(), "Matrix is in standby mode!");
}

// The socket path checks the sum too, and answers a bad one as the serial line does.
TEST_F(RoutingTcpTest, BadSumOnTheSocketPathIsAnsweredByOneResend)
{
    r.showTab();
    r.clearWire();
    r.matrix().corruptNextChecksum(1);
    page().clickGrid(3, 1);
    r.run();
    EXPECT_EQ(page().checkedInput(3), 1);
    ASSERT_EQ(r.wire().size(), 2u);  // the route and its re-send
    EXPECT_EQ(r.wire()[1], r.wire()[0]);
}

TEST_F(RoutingTcpTest, StatusInputOutsideTheProtocolOnlyReachesTheDisplay)
{
    r.rig.device.routing = {6, 2, 3, 0xFF, 5, 6, 7, 8};
    r.showTab();
    // Inputs 5..8 are protocol values: the grid has no button, the steps count from them.
    EXPECT_EQ(page().displayText(1), "6");
    EXPECT_EQ(page().currentInput(1), 6);
    EXPECT_EQ(page().checkedInput(1), 6);  // a hidden button: none of the four is lit
    // 0xFF is no input at all: only the display shows it.
    EXPECT_EQ(page().displayText(4), "255");
    EXPECT_EQ(page().currentInput(4), 1);
    EXPECT_EQ(page().checkedInput(4), 0);
    r.clearWire();
    page().clickPrevious(1);
    r.run();
    ASSERT_EQ(r.wire().size(), 1u);
    EXPECT_EQ(r.wire()[0].p1(), 5);
}

TEST_F(RoutingTcpTest, SocketDataIsIgnoredWhileReceivingIsOff)
{
    r.showTab();
    r.page->tabSelected(true);
    r.matrix().sendStandby();
    r.run();
    EXPECT_FALSE(r.popups.notice.isOpen());
}

TEST_F(RoutingTcpTest, ReconnectMakesANewSocketForThePage)
{
    const int before = r.rig.linkSocket.recreations();
    r.link.setTcpState(TcpState::Connected);
    r.link.reconnect(PageId::Routing);
    EXPECT_EQ(r.link.socketConnected(), 0);
    EXPECT_EQ(r.rig.linkSocket.recreations(), before + 1);
    r.run();
    EXPECT_EQ(r.link.socketConnected(), 1);
}

}  // namespace
}  // namespace matrix::testing
