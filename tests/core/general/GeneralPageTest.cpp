// SPDX-License-Identifier: Apache-2.0
#include "core/pages/general/GeneralPage.h"

#include "tests/core/general/SessionRig.h"

#include <gtest/gtest.h>

using namespace matrix;
using namespace matrix::testing;

namespace {

const std::vector<Wire> kStatusChain = {
    {1, 4, 1, 0, 0}, {1, 5, 1, 0, 0}, {1, 4, 2, 0, 0}, {1, 5, 2, 0, 0},
    {1, 4, 3, 0, 0}, {1, 5, 3, 0, 0}, {1, 4, 4, 0, 0}, {1, 5, 4, 0, 0},
};

const Wire kBeepQuery{1, 0x0B, 0, 0, 0};
const Wire kIrQuery{1, 0x0A, 0, 0, 0};

class GeneralPageOver : public ::testing::TestWithParam<Transport>, public SessionRig {
protected:
    Transport t() const { return GetParam(); }
    // Connected; from then on the matrix answers nothing, and what it
    // received is what the test's clicks send.
    void connectToSilentMatrix()
    {
        connect(t());
        matrix(t()).clearReceived();
        matrix(t()).setSilent(true);
    }
};

INSTANTIATE_TEST_SUITE_P(BothTransports, GeneralPageOver, bothTransports(), transportName);

TEST_P(GeneralPageOver, FullStatusRunFillsEightLabelsWithTextsAndColours)
{
    connect(t());
    ASSERT_EQ(sentFrames(t()), std::vector<Wire>{kBeepQuery});
    matrix(t()).clearReceived();

    page.statusClicked();
    EXPECT_TRUE(session.popups.progress.isOpen());
    EXPECT_EQ(session.popups.progress.text(), "Getting status . . .");
    rig.loop.advance(300);

    EXPECT_EQ(sentFrames(t()), kStatusChain);
    // Device: inputs 1 and 3 and outputs A, B and D have cables.
    EXPECT_EQ(page.inputLabel(1), "HDMI IN1: Connect");
    EXPECT_EQ(page.inputLabel(2), "HDMI IN2: Disconnect");
    EXPECT_EQ(page.inputLabel(3), "HDMI IN3: Connect");
    EXPECT_EQ(page.inputLabel(4), "HDMI IN4: Disconnect");
    EXPECT_EQ(page.outputLabel(1), "HDMI OUTA: Connect");
    EXPECT_EQ(page.outputLabel(2), "HDMI OUTB: Connect");
    EXPECT_EQ(page.outputLabel(3), "HDMI OUTC: Disconnect");
    EXPECT_EQ(page.outputLabel(4), "HDMI OUTD: Connect");
    const bool inputs[] = {true, false, true, false};
    const bool outputs[] = {true, true, false, true};
    for (int n = 1; n <= 4; ++n) {
        EXPECT_EQ(page.inputConnected(n), inputs[n - 1]) << "input " << n;
        EXPECT_EQ(page.outputConnected(n), outputs[n - 1]) << "output " << n;
    }
    for (int n = 5; n <= 8; ++n) {
        EXPECT_EQ(page.inputLabel(n), "");
        EXPECT_EQ(page.outputLabel(n), "");
    }
    // The run is over: popup closed, nothing left ticking, tabs free.
    EXPECT_FALSE(session.popups.progress.isOpen());
    EXPECT_EQ(session.popups.progress.isOpen(), 0);
    EXPECT_FALSE(anyStatusTimerRunning());
    EXPECT_FALSE(session.popups.notice.isOpen());
    EXPECT_TRUE(session.shell.tabButtonsEnabled());

    page.clearClicked();
    EXPECT_EQ(page.inputLabel(1), "");
    EXPECT_EQ(page.outputLabel(4), "");
}

TEST_P(GeneralPageOver, SilentMatrixGetsOneResendThenTimeOut)
{
    connectToSilentMatrix();

    page.statusClicked();
    rig.loop.advance(300);
    const Wire in1{1, 4, 1, 0, 0};
    EXPECT_EQ(sentFrames(t()), std::vector<Wire>{in1});

    rig.loop.advance(GeneralPage::kReplyTimeoutMs);
    EXPECT_EQ(sentFrames(t()), (std::vector<Wire>{in1, in1}));
    EXPECT_TRUE(session.popups.progress.isOpen());
    EXPECT_FALSE(session.popups.notice.isOpen());

    rig.loop.advance(GeneralPage::kReplyTimeoutMs);
    EXPECT_TRUE(session.popups.notice.isOpen());
    EXPECT_EQ(session.popups.notice.text(), "Time out!");
    EXPECT_FALSE(session.popups.progress.isOpen());
    EXPECT_FALSE(anyStatusTimerRunning());
    EXPECT_EQ(sentFrames(t()).size(), 2u);

    rig.loop.advance(GeneralPage::kTimeoutNoticeMs);
    EXPECT_FALSE(session.popups.notice.isOpen());
    EXPECT_TRUE(nothingElseTicks());
    rig.loop.advance(60000);
    EXPECT_EQ(sentFrames(t()).size(), 2u);
    EXPECT_EQ(session.popups.notice.timesOpened(), 1);
}

TEST_P(GeneralPageOver, ReplyToTheResentLastQueryEndsTheRunWithoutTimeOut)
{
    connect(t());
    matrix(t()).clearReceived();
    // Replies take 100 ms, so the chain can be caught between IN4 and OUT4.
    matrix(t()).setReplyDelayMs(100);
    const int start = t() == Transport::Com ? GeneralPage::kStatusStartMs : 0;
    page.statusClicked();
    // IN4's reply is on its way at start + 650; drop the one after it (OUT4).
    rig.loop.advance(start + 650);
    ASSERT_EQ(sentFrames(t()).size(), 7u);
    matrix(t()).dropNextReplies(1);
    rig.loop.advance(50 + GeneralPage::kReplyTimeoutMs - 1);
    EXPECT_EQ(sentFrames(t()).size(), 8u);
    EXPECT_TRUE(session.popups.progress.isOpen());
    rig.loop.advance(1);
    EXPECT_EQ(sentFrames(t()).back(), (Wire{1, 5, 4, 0, 0}));
    EXPECT_EQ(sentFrames(t()).size(), 9u);
    EXPECT_TRUE(anyStatusTimerRunning()) << "the last query waits again";
    rig.loop.advance(100);
    EXPECT_EQ(page.outputLabel(4), "HDMI OUTD: Connect");
    EXPECT_FALSE(session.popups.progress.isOpen());
    EXPECT_FALSE(anyStatusTimerRunning());
    rig.loop.advance(20000);
    EXPECT_EQ(session.popups.notice.timesOpened(), 0);
}

TEST_P(GeneralPageOver, StandbyFrameStopsTheRunWithoutTimeOut)
{
    connect(t());
    matrix(t()).setSilent(true);
    page.statusClicked();
    rig.loop.advance(300);
    ASSERT_TRUE(session.popups.progress.isOpen());

    matrix(t()).sendStandby();
    rig.loop.runPending();
    EXPECT_FALSE(session.popups.progress.isOpen());
    EXPECT_TRUE(session.popups.notice.isOpen());
    EXPECT_EQ(session.popups.notice.text(), "Matrix is in standby mode!");
    EXPECT_FALSE(anyStatusTimerRunning());

    rig.loop.advance(GeneralPage::kStandbyNoticeMs - 1);
    EXPECT_TRUE(session.popups.notice.isOpen());
    rig.loop.advance(1);
    EXPECT_FALSE(session.popups.notice.isOpen());
    rig.loop.advance(30000);
    EXPECT_EQ(session.popups.notice.timesOpened(), 1);
    EXPECT_EQ(session.popups.notice.recordedText(), "Matrix is in standby mode!");
}

// Found by the fault simulation: the answer to a port query that arrives
// after a standby ended the run restarted the query chain, without its
// popup, so the user could take another tab while the General page went
// on sending on the link.
TEST_P(GeneralPageOver, ReplyArrivingAfterAStandbyDoesNotRestartTheRun)
{
    connect(t());
    matrix(t()).setReplyDelayMs(1000);
    page.statusClicked();
    rig.loop.advance(400);  // the query for input 1 is out; its answer comes later
    matrix(t()).setReplyDelayMs(0);
    matrix(t()).sendStandby();
    rig.loop.runPending();
    ASSERT_FALSE(session.popups.progress.isOpen());
    matrix(t()).clearReceived();
    rig.loop.advance(30000);
    EXPECT_TRUE(matrix(t()).received().empty()) << "the ended run sends nothing more";
    EXPECT_FALSE(anyStatusTimerRunning());
    EXPECT_FALSE(session.popups.anyModalOpen());
}

// Found by the fault simulation: a standby during a factory reset closed
// its popup but left the reset's timers (above the range a standby stops)
// running, so the reset went on sending with no popup, on any tab.
TEST_P(GeneralPageOver, StandbyDuringAFactoryResetEndsIt)
{
    connect(t());
    matrix(t()).setReplyDelayMs(1000);
    page.factoryResetClicked();
    rig.loop.advance(100);
    ASSERT_TRUE(page.factoryResetRunning());
    matrix(t()).setReplyDelayMs(0);
    matrix(t()).sendStandby();
    rig.loop.runPending();
    EXPECT_FALSE(page.factoryResetRunning());
    EXPECT_FALSE(session.popups.progress.isOpen());
    matrix(t()).clearReceived();
    rig.loop.advance(30000);
    EXPECT_TRUE(matrix(t()).received().empty()) << "the ended reset sends nothing more";
    EXPECT_TRUE(nothingElseTicks());
    EXPECT_EQ(page.client().queuedRequests(), 0u) << "no reset step still waits";
    EXPECT_FALSE(session.popups.anyModalOpen());
}

TEST_P(GeneralPageOver, FactoryResetSendsSevenRequestsInOrderThenChecksBeep)
{
    rig.device.beepOn = false;
    rig.device.routing = {4, 3, 2, 1, 5, 6, 7, 8};
    connect(t());
    ASSERT_FALSE(page.beepChecked());
    matrix(t()).clearReceived();

    page.factoryResetClicked();
    EXPECT_TRUE(session.popups.progress.isOpen());
    EXPECT_EQ(session.popups.progress.text(), "Setting . . .");
    rig.loop.runPending();

    const std::vector<Wire> expected = {
        {2, 3, 1, 0, 1},    {2, 3, 2, 0, 2},    {2, 3, 3, 0, 3},    {2, 3, 4, 0, 4},
        {3, 8, 0xF0, 0, 0}, {3, 1, 4, 0xF0, 0}, {6, 1, 0x0F, 0, 0},
    };
    EXPECT_EQ(sentFrames(t()), expected);
    EXPECT_EQ(rig.device.routing[0], 1);
    EXPECT_EQ(rig.device.routing[3], 4);
    EXPECT_TRUE(rig.device.beepOn);

    EXPECT_FALSE(page.factoryResetRunning());
    EXPECT_FALSE(session.popups.progress.isOpen());
    EXPECT_TRUE(nothingElseTicks());
    EXPECT_EQ(page.client().queuedRequests(), 0u) << "no reset step still waits";
    EXPECT_TRUE(session.popups.notice.isOpen());
    EXPECT_EQ(session.popups.notice.text(), "Set successfully!");
    // The final beep acknowledgement checks the box, but only once the
    // notice has closed.
    EXPECT_FALSE(page.beepChecked());
    rig.loop.advance(GeneralPage::kSuccessNoticeMs);
    EXPECT_FALSE(session.popups.notice.isOpen());
    EXPECT_TRUE(page.beepChecked());
}

TEST_P(GeneralPageOver, FactoryResetStepWithoutReplyResendsOnceThenTimesOut)
{
    connectToSilentMatrix();
    page.factoryResetClicked();
    rig.loop.advance(GeneralPage::kReplyTimeoutMs);
    const Wire route1{2, 3, 1, 0, 1};
    EXPECT_EQ(sentFrames(t()), (std::vector<Wire>{route1, route1}));
    EXPECT_TRUE(session.popups.progress.isOpen());
    rig.loop.advance(GeneralPage::kReplyTimeoutMs);
    EXPECT_EQ(session.popups.notice.text(), "Time out!");
    EXPECT_FALSE(page.factoryResetRunning());
    EXPECT_FALSE(session.popups.progress.isOpen());
    EXPECT_TRUE(nothingElseTicks());
    EXPECT_EQ(page.client().queuedRequests(), 0u) << "no reset step still waits";
    // A late acknowledgement does not revive the chain.
    matrix(t()).setSilent(false);
    matrix(t()).sendNoise(frameBytes(2, 3, 0, 0, 1));
    rig.loop.advance(10);
    EXPECT_EQ(sentFrames(t()).size(), 2u);
}

// Found by the fault simulation: the beep acknowledgement of an earlier
// reset, arriving while a new reset waited on its first step, ended the new
// one with "Set successfully!" while that step's timers went on sending.
TEST_P(GeneralPageOver, ResetAcknowledgementOfAStepNotWaitingIsIgnored)
{
    connectToSilentMatrix();
    page.factoryResetClicked();
    rig.loop.advance(100);
    matrix(t()).sendNoise(frameBytes(6, 1, 0, 0, 0));  // the last step's answer
    matrix(t()).sendNoise(frameBytes(3, 8, 0, 0, 0));  // and the fifth's
    rig.loop.advance(10);
    EXPECT_TRUE(page.factoryResetRunning());
    EXPECT_TRUE(session.popups.progress.isOpen());
    EXPECT_FALSE(session.popups.notice.isOpen());
    EXPECT_EQ(sentFrames(t()), (std::vector<Wire>{{2, 3, 1, 0, 1}})) << "no step skipped";
    // The waiting step still times out as usual, and then nothing is left.
    rig.loop.advance(2 * GeneralPage::kReplyTimeoutMs);
    EXPECT_EQ(session.popups.notice.text(), "Time out!");
    EXPECT_TRUE(nothingElseTicks());
    EXPECT_EQ(page.client().queuedRequests(), 0u) << "no reset step still waits";
}

// Found by the fault simulation: a reset clicked while a TCP status run
// waited for its connect check lost its popup when that run ended, and its
// resends went out unseen after the user had taken another tab.
class GeneralPageTcpStatus : public ::testing::Test, public SessionRig {};

TEST_F(GeneralPageTcpStatus, ResetClickedWhileAStatusRunConnectsIsIgnored)
{
    page.selectTcpMode();
    page.setIpText(TestRig::kAddress);
    page.statusClicked();  // connects first; the run starts after the check
    rig.loop.advance(1);   // the link is up, the check still waits
    ASSERT_EQ(session.link.socketConnected(), 1);
    page.factoryResetClicked();
    EXPECT_FALSE(page.factoryResetRunning());
    rig.loop.advance(30000);
    for (const Wire& frame : sentFrames(Transport::Tcp))
        EXPECT_NE(std::get<0>(frame), 2) << "no reset request went out";
    EXPECT_FALSE(session.popups.anyModalOpen());
    EXPECT_FALSE(anyStatusTimerRunning());
}

TEST_P(GeneralPageOver, ResetProgressTextAnimatesOnTheSharedCounter)
{
    connectToSilentMatrix();
    page.factoryResetClicked();
    rig.loop.advance(GeneralPage::kAnimationMs);
    const std::string first = session.popups.progress.text();
    rig.loop.advance(GeneralPage::kAnimationMs);
    EXPECT_NE(session.popups.progress.text(), first);
    EXPECT_EQ(session.popups.progress.text().size(), std::string("Setting . . .").size());
    EXPECT_EQ(session.popups.progress.text().rfind("Setting .", 0), 0u);
}

TEST_P(GeneralPageOver, BeepBoxChangesOnlyOnTheAcknowledgement)
{
    rig.device.beepOn = false;
    connect(t());
    ASSERT_FALSE(page.beepChecked());
    matrix(t()).clearReceived();

    matrix(t()).setSilent(true);
    page.beepClicked();
    rig.loop.advance(20000);
    EXPECT_EQ(sentFrames(t()), (std::vector<Wire>{{6, 1, 0x0F, 0, 0}}));
    EXPECT_FALSE(page.beepChecked());
    EXPECT_FALSE(session.popups.notice.isOpen());

    // An acknowledgement with a failure code changes nothing.
    matrix(t()).sendNoise(frameBytes(6, 1, 0, 0, 1));
    rig.loop.runPending();
    EXPECT_FALSE(page.beepChecked());

    matrix(t()).setSilent(false);
    page.beepClicked();
    rig.loop.runPending();
    EXPECT_TRUE(page.beepChecked());
    EXPECT_TRUE(rig.device.beepOn);

    // Clicking the checked box asks for off.
    matrix(t()).clearReceived();
    page.beepClicked();
    rig.loop.runPending();
    EXPECT_EQ(sentFrames(t()), (std::vector<Wire>{{6, 1, 0xF0, 0, 0}}));
    EXPECT_FALSE(page.beepChecked());
    EXPECT_FALSE(rig.device.beepOn);
}

TEST_P(GeneralPageOver, IrBoxFollowsTheMatrix)
{
    connect(t());
    matrix(t()).clearReceived();
    ASSERT_FALSE(page.irChecked());
    page.irClicked();
    rig.loop.runPending();
    EXPECT_EQ(sentFrames(t()), (std::vector<Wire>{{5, 1, 0x0F, 0, 0}}));
    EXPECT_TRUE(page.irChecked());

    // An IR state reply sets the box and asks for the beep state next.
    matrix(t()).clearReceived();
    matrix(t()).sendNoise(frameBytes(1, 0x0A, 0, 0, 0xFF));
    rig.loop.runPending();
    EXPECT_FALSE(page.irChecked());
    EXPECT_EQ(sentFrames(t()), std::vector<Wire>{kBeepQuery});
}

TEST_P(GeneralPageOver, CommandsWithoutTheLinkShowTheGuardNoticeAndSendNothing)
{
    if (t() == Transport::Tcp)
        page.selectTcpMode();
    page.beepClicked();
    page.factoryResetClicked();
    rig.loop.runPending();
    EXPECT_TRUE(session.popups.notice.isOpen());
    EXPECT_EQ(session.popups.notice.text(), t() == Transport::Com ? "Open COM failed!" : "Connect to Matrix failed!");
    EXPECT_TRUE(matrix(t()).received().empty());
    EXPECT_TRUE(rig.serialHub.writes(TestRig::kComPort).empty());
    EXPECT_TRUE(rig.linkSocket.sent().empty());
    EXPECT_FALSE(page.factoryResetRunning());
    EXPECT_FALSE(session.popups.progress.isOpen());
    rig.loop.advance(GeneralPage::kGuardNoticeMs);
    EXPECT_FALSE(session.popups.notice.isOpen());
}

TEST_P(GeneralPageOver, SplitRepliesAreAssembled)
{
    connect(t());
    matrix(t()).setSplitSize(5);
    page.statusClicked();
    rig.loop.advance(300);
    EXPECT_EQ(page.outputLabel(4), "HDMI OUTD: Connect");
    EXPECT_FALSE(session.popups.progress.isOpen());
}

// ------------------------------------------------------------ serial only

class GeneralPageSerial : public ::testing::Test, public SessionRig {};

TEST_F(GeneralPageSerial, BadChecksumPortReplyIsIgnoredUntilTheResend)
{
    connect(Transport::Com);
    rig.serialMatrix.clearReceived();
    rig.serialMatrix.corruptNextChecksum(1);
    page.statusClicked();
    rig.loop.advance(300);
    EXPECT_EQ(page.inputLabel(1), "");
    EXPECT_EQ(sentFrames(Transport::Com), (std::vector<Wire>{{1, 4, 1, 0, 0}}));
    EXPECT_TRUE(session.popups.progress.isOpen());

    rig.loop.advance(GeneralPage::kReplyTimeoutMs);
    EXPECT_EQ(page.inputLabel(1), "HDMI IN1: Connect");
    EXPECT_EQ(page.outputLabel(4), "HDMI OUTD: Connect");
    EXPECT_EQ(sentFrames(Transport::Com).size(), 9u);
    EXPECT_FALSE(session.popups.progress.isOpen());
    EXPECT_FALSE(session.popups.notice.isOpen());
}

TEST_F(GeneralPageSerial, NoiseBeforeAFrameIsEchoedButNotStored)
{
    connect(Transport::Com);
    std::vector<std::uint8_t> bytes = {0x00, 0x11};
    auto frame = frameBytes(1, 0x0B, 0, 0, 0xFF);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    ASSERT_TRUE(page.beepChecked());
    rig.serialMatrix.sendNoise(bytes);
    rig.loop.runPending();
    EXPECT_FALSE(page.beepChecked());
    EXPECT_NE(page.receivedLog().boxText().find("00 11 A5 5B 01 0B 00 00 FF"), std::string::npos);
}

TEST_F(GeneralPageSerial, DeviceTypeReplyRunsTheIdentificationIntoThePortChain)
{
    rig.device.deviceType = 2;
    rig.device.versionMajor = 3;
    rig.device.versionMinor = 7;
    connect(Transport::Com);
    EXPECT_EQ(page.deviceTypeText(), "Not Known");
    rig.serialMatrix.clearReceived();
    rig.serialMatrix.sendNoise(frameBytes(1, 1, 2, 0, 0));
    rig.loop.advance(10);
    EXPECT_EQ(page.deviceTypeText(), "HDBT MATRIX 4X4");
    EXPECT_EQ(page.versionText(), "3.7");
    std::vector<Wire> expected = {{1, 2, 0, 0, 0}, {1, 3, 0, 0, 0}};
    expected.insert(expected.end(), kStatusChain.begin(), kStatusChain.end());
    EXPECT_EQ(sentFrames(Transport::Com), expected);
    EXPECT_FALSE(anyStatusTimerRunning());
}

// Found by the fault simulation: the identification after a COM connect
// (it has no popup) waited on a lost reply while the user took TCP mode
// and another tab; its re-send then went out on the TCP link, into the
// conversation of the page shown.
TEST_F(GeneralPageSerial, IdentificationLeftBehindByATabSwitchEndsQuietly)
{
    connect(Transport::Com);
    rig.serialMatrix.setSilent(true);
    rig.serialMatrix.sendNoise(frameBytes(1, 1, 1, 0, 0));  // device type: the chain goes on
    rig.loop.advance(10);
    ASSERT_TRUE(anyStatusTimerRunning());
    page.selectTcpMode();
    page.setIpText(TestRig::kAddress);
    page.tcpConnectClicked();
    rig.loop.advance(GeneralPage::kConnectCheckMs);
    ASSERT_TRUE(session.shell.selectTab(Tab::Edid));
    rig.loop.advance(200);
    rig.tcpMatrix.clearReceived();
    rig.loop.advance(4 * GeneralPage::kReplyTimeoutMs);
    for (const Wire& frame : sentFrames(Transport::Tcp))
        EXPECT_NE(std::get<0>(frame), 1) << "no General query on the EDID page's link";
    EXPECT_FALSE(anyStatusTimerRunning());
    EXPECT_FALSE(session.popups.notice.isOpen() && session.popups.notice.text() == "Time out!");
}

TEST_F(GeneralPageSerial, BytesOnTheLineAreIgnoredInTcpMode)
{
    connect(Transport::Com);
    page.selectTcpMode();
    EXPECT_EQ(page.comConnectText(), std::string("Disconnect"));
    EXPECT_TRUE(page.comIndicatorConnected());
    rig.serialMatrix.sendNoise(frameBytes(1, 0x0B, 0, 0, 0xFF));
    rig.loop.runPending();
    EXPECT_TRUE(page.beepChecked());
}

TEST_F(GeneralPageSerial, ComConnectFailureShowsNoticeAndKeepsRescanning)
{
    rig.serialHub.holdElsewhere(TestRig::kComPort);
    page.selectComPort("COM3");
    page.comConnectClicked();
    EXPECT_EQ(session.popups.notice.text(), "Open COM failed!");
    EXPECT_EQ(session.link.comOpen, 0);
    EXPECT_TRUE(page.comListRescanning());
    EXPECT_EQ(page.comConnectText(), std::string("Connect"));
}

TEST_F(GeneralPageSerial, ConnectAndDisconnectSwitchTheRescanAndTheList)
{
    connect(Transport::Com);
    EXPECT_EQ(session.link.comOpen, 1);
    EXPECT_EQ(session.link.comPort, 3);
    EXPECT_FALSE(page.comListEnabled());
    EXPECT_FALSE(page.comListRescanning());
    EXPECT_EQ(rig.serialHub.lastSettings(3).stopBits, 2);

    page.comConnectClicked();
    EXPECT_EQ(session.link.comOpen, 0);
    EXPECT_EQ(page.comConnectText(), std::string("Connect"));
    EXPECT_TRUE(page.comListEnabled());
    EXPECT_TRUE(page.comListRescanning());
    EXPECT_EQ(rig.serialHub.holder(3), nullptr);
    // Rescans after a Connect probe with the stored two stop bits.
    rig.loop.advance(GeneralPage::kRescanMs);
    EXPECT_EQ(rig.serialHub.lastSettings(3).stopBits, 2);
    EXPECT_EQ(rig.serialHub.holder(3), nullptr);
}

// --------------------------------------------------------------- rescan

TEST(GeneralPageRescan, ListsOnlyPresentPortsAndKeepsTheSelection)
{
    TestRig rig;
    rig.serialHub.addPort(1);
    rig.serialHub.addPort(7);
    rig.serialHub.holdElsewhere(7);
    MatrixSession session(rig.platform);
    GeneralPage& page = session.general;

    EXPECT_EQ(page.comPorts(), (std::vector<std::string>{"COM1", "COM3"}));
    EXPECT_EQ(page.comSelectedText(), "COM1");
    // A probe leaves nothing held.
    EXPECT_EQ(rig.serialHub.holder(1), nullptr);
    EXPECT_EQ(rig.serialHub.holder(3), nullptr);

    page.selectComPort("COM3");
    rig.serialHub.addPort(5);
    rig.loop.advance(GeneralPage::kRescanMs);
    EXPECT_EQ(page.comPorts(), (std::vector<std::string>{"COM1", "COM3", "COM5"}));
    EXPECT_EQ(page.comSelectedText(), "COM3");

    rig.serialHub.unplug(3);
    rig.loop.advance(GeneralPage::kRescanMs);
    EXPECT_EQ(page.comPorts(), (std::vector<std::string>{"COM1", "COM5"}));
    EXPECT_EQ(page.comSelectedText(), "COM1");

    rig.serialHub.unplug(1);
    rig.serialHub.unplug(5);
    rig.loop.advance(GeneralPage::kRescanMs);
    EXPECT_TRUE(page.comPorts().empty());
    EXPECT_EQ(page.comSelection(), -1);
    EXPECT_TRUE(page.comListRescanning());
}

// ------------------------------------------------------------------ TCP

class GeneralPageTcp : public ::testing::Test, public SessionRig {};

TEST_F(GeneralPageTcp, ConnectCheckAfter100MsReportsAFailedConnect)
{
    page.selectTcpMode();
    page.setIpText("127.0.0.9");  // nobody listens there
    page.tcpConnectClicked();
    rig.loop.advance(GeneralPage::kConnectCheckMs);
    EXPECT_EQ(session.link.tcpLinkUp(), 0);
    EXPECT_EQ(page.tcpConnectText(), std::string("Connect"));
    EXPECT_EQ(session.popups.notice.text(), "Connect to Matrix failed!");
    rig.loop.advance(GeneralPage::kConnectFailedNoticeMs);
    EXPECT_FALSE(session.popups.notice.isOpen());

    page.setIpText("not an address");
    page.tcpConnectClicked();
    rig.loop.advance(GeneralPage::kConnectCheckMs);
    EXPECT_EQ(session.popups.notice.text(), "Connect to Matrix failed!");
    EXPECT_EQ(rig.linkSocket.connectAttempts(), 1);
}

TEST_F(GeneralPageTcp, ConnectThenDisconnect)
{
    connect(Transport::Tcp);
    EXPECT_EQ(session.link.tcpLinkUp(), 1);
    EXPECT_EQ(session.link.matrixAddress, TestRig::kAddress);
    EXPECT_EQ(page.tcpConnectText(), std::string("Disconnect"));
    EXPECT_TRUE(page.tcpIndicatorConnected());
    EXPECT_FALSE(session.popups.notice.isOpen());

    page.tcpConnectClicked();
    EXPECT_EQ(session.link.tcpLinkUp(), 0);
    EXPECT_EQ(session.link.socketConnected(), 0);
    EXPECT_FALSE(rig.linkSocket.connected());
    EXPECT_EQ(page.tcpConnectText(), std::string("Connect"));
}

TEST_F(GeneralPageTcp, StatusWhileNotConnectedConnectsAsksIrThenRuns)
{
    page.selectTcpMode();
    page.setIpText(TestRig::kAddress);
    page.statusClicked();
    EXPECT_TRUE(page.statusPending());
    EXPECT_FALSE(session.popups.progress.isOpen());
    rig.loop.advance(GeneralPage::kConnectCheckMs);
    EXPECT_TRUE(session.popups.progress.isOpen());
    EXPECT_EQ(session.link.tcpLinkUp(), 1);
    rig.loop.advance(GeneralPage::kStatusStartMs);

    std::vector<Wire> expected = {kIrQuery, kBeepQuery};
    expected.insert(expected.end(), kStatusChain.begin(), kStatusChain.end());
    EXPECT_EQ(sentFrames(Transport::Tcp), expected);
    EXPECT_EQ(page.outputLabel(4), "HDMI OUTD: Connect");
    EXPECT_FALSE(session.popups.progress.isOpen());
    EXPECT_FALSE(anyStatusTimerRunning());
}

TEST_F(GeneralPageTcp, LateConnectStillReportsTheFailure)
{
    rig.linkSocket.setConnectDelayMs(200);
    page.selectTcpMode();
    page.setIpText(TestRig::kAddress);
    page.tcpConnectClicked();
    rig.loop.advance(GeneralPage::kConnectCheckMs);
    EXPECT_EQ(session.popups.notice.text(), "Connect to Matrix failed!");
    EXPECT_EQ(session.link.tcpLinkUp(), 0);
    rig.loop.advance(200);
    EXPECT_EQ(session.link.socketConnected(), 1);
    EXPECT_EQ(session.link.tcpLinkUp(), 0);
    EXPECT_EQ(page.tcpConnectText(), std::string("Connect"));
}

TEST_F(GeneralPageTcp, StatusClickWhileItsConnectIsPendingIsIgnored)
{
    rig.linkSocket.setConnectDelayMs(50);
    page.selectTcpMode();
    page.setIpText(TestRig::kAddress);
    page.statusClicked();
    rig.loop.advance(60);
    page.statusClicked();  // connected now, but the first click's run is pending
    EXPECT_FALSE(session.popups.progress.isOpen());
    EXPECT_TRUE(rig.tcpMatrix.received().empty());
    rig.loop.advance(40 + GeneralPage::kStatusStartMs);
    EXPECT_EQ(page.outputLabel(4), "HDMI OUTD: Connect");
    EXPECT_EQ(rig.tcpMatrix.received().size(), 10u);  // IR, beep, eight states
}

// Found by the fault simulation: a standby frame between a Status click's
// connect and its 100 ms check stopped the check but left the run pending,
// and from then on every Status click on the connected link was ignored.
TEST_F(GeneralPageTcp, StandbyBeforeTheStatusConnectCheckLeavesStatusWorking)
{
    rig.linkSocket.setConnectDelayMs(50);
    page.selectTcpMode();
    page.setIpText(TestRig::kAddress);
    page.statusClicked();
    rig.loop.advance(60);  // connected; the check is still to come
    rig.tcpMatrix.sendStandby();
    rig.loop.runPending();
    EXPECT_EQ(session.popups.notice.text(), "Matrix is in standby mode!");
    EXPECT_FALSE(page.statusPending());
    rig.loop.advance(GeneralPage::kStandbyNoticeMs);
    ASSERT_FALSE(session.popups.anyModalOpen());

    page.statusClicked();
    EXPECT_TRUE(session.popups.progress.isOpen()) << "the run starts on the link that is up";
    rig.loop.advance(1000);
    EXPECT_EQ(page.outputLabel(4), "HDMI OUTD: Connect");
    EXPECT_FALSE(session.popups.anyModalOpen());
    EXPECT_FALSE(anyStatusTimerRunning());
}

// Found by the fault simulation: Status clicked while the link was down,
// then another tab within the 100 ms connect check. The check started the
// status run anyway, on the link the other page had taken, and its queries
// landed inside that page's conversation: after a firmware block's
// announce they became part of the block.
TEST_F(GeneralPageTcp, StatusClickedJustBeforeATabSwitchSendsNothingOnTheOtherPagesLink)
{
    connect(Transport::Tcp);
    rig.tcpMatrix.closeLink();
    rig.loop.runPending();
    ASSERT_EQ(session.link.socketConnected(), 0);
    page.statusClicked();  // connects first, runs after the 100 ms check
    rig.loop.advance(20);
    ASSERT_TRUE(session.shell.selectTab(Tab::FwUpgrade));
    rig.tcpMatrix.clearReceived();
    rig.loop.advance(20000);
    for (const auto& [command, sub, p1, p2, p3] : sentFrames(Transport::Tcp))
        EXPECT_FALSE(command == 1 && (sub == 0x0A || sub == 4 || sub == 5)) << "General query " << sub << "/" << p1;
    EXPECT_FALSE(page.statusPending());
    EXPECT_FALSE(anyStatusTimerRunning());
    EXPECT_NE(session.popups.notice.text(), "Time out!");
}

TEST_F(GeneralPageTcp, PortStateRepliesOutsideARunChangeNothing)
{
    connect(Transport::Tcp);
    rig.tcpMatrix.sendNoise(frameBytes(1, 4, 1, 0, 0));
    rig.loop.runPending();
    EXPECT_EQ(page.inputLabel(1), "");
    EXPECT_TRUE(rig.linkSocket.sent().size() == 1u);  // only the beep query
}

TEST_F(GeneralPageTcp, SeveralRepliesInOneReadAreAllHandled)
{
    connect(Transport::Tcp);
    ASSERT_TRUE(page.beepChecked());
    ASSERT_FALSE(page.irChecked());
    auto bytes = frameBytes(1, 0x0B, 0, 0, 0xFF);
    auto second = frameBytes(5, 1, 0, 0, 0);
    bytes.insert(bytes.end(), second.begin(), second.end());
    bytes.insert(bytes.end(), {0xA5, 0x5B, 6});  // the head of a third, kept
    rig.tcpMatrix.sendNoise(bytes);
    rig.loop.runPending();
    EXPECT_FALSE(page.beepChecked());
    EXPECT_TRUE(page.irChecked());
    // The tail completes with the next read: a beep acknowledgement.
    auto third = frameBytes(6, 1, 0, 0, 0);
    rig.tcpMatrix.sendNoise(std::vector<std::uint8_t>(third.begin() + 3, third.end()));
    rig.loop.runPending();
    EXPECT_TRUE(page.beepChecked());
}

TEST_F(GeneralPageTcp, RepliesWhileAnotherTabIsShownAreDropped)
{
    connect(Transport::Tcp);
    session.link.activePage = PageId::Routing;
    rig.tcpMatrix.sendNoise(frameBytes(1, 0x0B, 0, 0, 0xFF));
    rig.loop.runPending();
    EXPECT_TRUE(page.beepChecked());
}

TEST_F(GeneralPageTcp, PeerCloseClearsSocketConnectedSilently)
{
    connect(Transport::Tcp);
    rig.tcpMatrix.closeLink();
    rig.loop.runPending();
    EXPECT_EQ(session.link.socketConnected(), 0);
    EXPECT_EQ(session.link.tcpLinkUp(), 1);
    EXPECT_FALSE(session.popups.notice.isOpen());
    page.beepClicked();
    EXPECT_EQ(session.popups.notice.text(), "Connect to Matrix failed!");
}

TEST_F(GeneralPageTcp, SearchAndIpSelectionDropTheLink)
{
    connect(Transport::Tcp);
    int searches = 0;
    page.setSearchHook([&] { ++searches; });
    page.searchClicked();
    EXPECT_EQ(searches, 1);
    EXPECT_TRUE(page.ipEntries().empty());
    EXPECT_EQ(session.link.tcpLinkUp(), 0);
    EXPECT_EQ(session.link.socketConnected(), 0);
    EXPECT_FALSE(rig.linkSocket.connected());
    EXPECT_EQ(page.tcpConnectText(), std::string("Connect"));

    page.addDiscoveredAddress("127.0.0.1");
    page.addDiscoveredAddress("127.0.0.2");
    EXPECT_EQ(page.ipText(), "127.0.0.1");
    EXPECT_EQ(session.link.matrixAddress, "127.0.0.1");
    page.tcpConnectClicked();
    rig.loop.advance(GeneralPage::kConnectCheckMs);
    ASSERT_EQ(session.link.tcpLinkUp(), 1);

    int selected = -1;
    page.setIpSelectedHook([&](int index) { selected = index; });
    page.selectIpEntry(1);
    EXPECT_EQ(selected, 1);
    EXPECT_EQ(session.link.matrixAddress, "127.0.0.2");
    EXPECT_EQ(session.link.tcpLinkUp(), 0);
    EXPECT_FALSE(rig.linkSocket.connected());
    EXPECT_FALSE(session.popups.notice.isOpen());
}

}  // namespace
