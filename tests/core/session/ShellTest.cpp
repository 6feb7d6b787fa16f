// SPDX-License-Identifier: Apache-2.0
#include "core/app/Shell.h"

#include "tests/core/general/SessionRig.h"

#include <gtest/gtest.h>

#include <vector>

using namespace matrix;
using namespace matrix::testing;

namespace {

// A page that only counts what the shell asks of it, with its own port.
class CountingPage : public Page {
public:
    explicit CountingPage(TestRig& rig) : serial_(rig.serialHub.makeSerial()) {}
    SerialChannel& serialPort() override { return *serial_; }
    void activate() override { ++activations; }
    void tabSelected(bool shown) override { selections.push_back(shown); }
    int activations = 0;
    std::vector<bool> selections;

private:
    std::unique_ptr<SerialChannel> serial_;
};

class ShellTest : public ::testing::Test, public SessionRig {
protected:
    Shell& shell = session.shell;
    // The other tabs get pages that only count, so that these tests see the
    // shell's part alone, whatever pages the session holds.
    std::unique_ptr<CountingPage> edid = std::make_unique<CountingPage>(rig);
    std::unique_ptr<CountingPage> routing = std::make_unique<CountingPage>(rig);
    std::unique_ptr<CountingPage> firmware = std::make_unique<CountingPage>(rig);

    ShellTest()
    {
        shell.registerPage(Tab::Edid, *edid);
        shell.registerPage(Tab::Matrix, *routing);
        shell.registerPage(Tab::FwUpgrade, *firmware);
    }
};

TEST_F(ShellTest, StartsOnTheGeneralTabWithoutActivatingIt)
{
    EXPECT_EQ(shell.tabSelectedFlags(), (std::array<int, kTabCount>{1, 0, 0, 0}));
    EXPECT_EQ(shell.shownTab(), Tab::General);
    EXPECT_EQ(shell.shownPage(), &session.general);
    EXPECT_TRUE(shell.pageCreated(Tab::General));
    EXPECT_FALSE(shell.pageCreated(Tab::Edid));
    EXPECT_EQ(session.link.activePage, PageId::General);
    EXPECT_TRUE(page.comModeSelected());
    EXPECT_FALSE(page.tcpGroupEnabled());
    EXPECT_TRUE(page.comListRescanning());
    // No activation: the re-open would have shown "Open COM failed!".
    rig.loop.advance(1000);
    EXPECT_EQ(session.popups.notice.timesOpened(), 0);
    EXPECT_EQ(page.comPorts(), std::vector<std::string>{"COM3"});
}

TEST_F(ShellTest, TabSwitchIsRefusedWhileBusyOrUpgrading)
{
    for (int which = 0; which < 2; ++which) {
        if (which == 0)
            session.link.busy = 1;
        else
            session.link.firmwareUpgrading = 1;
        EXPECT_FALSE(shell.selectTab(Tab::Edid));
        EXPECT_FALSE(shell.selectTab(Tab::General));
        EXPECT_EQ(shell.tabSelectedFlags(), (std::array<int, kTabCount>{1, 0, 0, 0}));
        EXPECT_EQ(session.link.activePage, PageId::General);
        EXPECT_FALSE(shell.pageCreated(Tab::Edid));
        rig.loop.advance(1000);
        EXPECT_EQ(edid->activations, 0);
        EXPECT_EQ(session.popups.notice.timesOpened(), 0);
        session.link.busy = 0;
        session.link.firmwareUpgrading = 0;
    }
    EXPECT_TRUE(shell.selectTab(Tab::Edid));
    EXPECT_EQ(shell.tabSelectedFlags(), (std::array<int, kTabCount>{0, 1, 0, 0}));
}

TEST_F(ShellTest, SelectionSetsFlagsAndActivatesAfter150Ms)
{
    struct Case {
        Tab tab;
        PageId page;
    };
    const Case cases[] = {
        {Tab::Edid, PageId::Edid},
        {Tab::Matrix, PageId::Routing},
        {Tab::FwUpgrade, PageId::Firmware},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(shell.selectTab(c.tab));
        EXPECT_EQ(session.link.activePage, c.page);
        EXPECT_EQ(shell.shownTab(), c.tab);
        EXPECT_TRUE(shell.pageCreated(c.tab));
        auto* counting = static_cast<CountingPage*>(shell.shownPage());
        // Every page hears of the selection, the shown one as its own.
        for (CountingPage* other : {edid.get(), routing.get(), firmware.get()}) {
            ASSERT_FALSE(other->selections.empty());
            EXPECT_EQ(other->selections.back(), other == counting);
        }
        rig.loop.advance(Shell::kActivationMs - 1);
        EXPECT_EQ(counting->activations, 0);
        rig.loop.advance(1);
        EXPECT_EQ(counting->activations, 1);
        rig.loop.advance(Shell::kActivationMs);  // once only
        EXPECT_EQ(counting->activations, 1);
    }

    // Selecting the shown tab again repeats the steps. COM mode: no socket.
    shell.selectTab(Tab::FwUpgrade);
    rig.loop.advance(Shell::kActivationMs);
    EXPECT_EQ(firmware->activations, 2);
    EXPECT_EQ(rig.linkSocket.connectAttempts(), 0);
}

TEST_F(ShellTest, TcpModeWithoutTheLinkShowsTheNoticeAndDoesNotActivate)
{
    page.selectTcpMode();
    ASSERT_TRUE(shell.selectTab(Tab::Matrix));
    EXPECT_EQ(shell.shownTab(), Tab::Matrix);
    EXPECT_TRUE(session.popups.notice.isOpen());
    EXPECT_EQ(session.popups.notice.text(), "Connect to Matrix failed!");
    rig.loop.advance(Shell::kActivationMs);
    EXPECT_EQ(routing->activations, 0);
    rig.loop.advance(Shell::kNoticeMs - Shell::kActivationMs - 1);
    EXPECT_TRUE(session.popups.notice.isOpen());
    rig.loop.advance(1);
    EXPECT_FALSE(session.popups.notice.isOpen());
    EXPECT_EQ(routing->activations, 0);
    EXPECT_EQ(rig.linkSocket.connectAttempts(), 0);

    // Back on General, also without activation (its re-open would notice again).
    ASSERT_TRUE(shell.selectTab(Tab::General));
    rig.loop.advance(Shell::kNoticeMs + Shell::kActivationMs);
    EXPECT_EQ(session.popups.notice.timesOpened(), 2);
    EXPECT_EQ(rig.linkSocket.connectAttempts(), 0);
}

TEST_F(ShellTest, TcpModeWithTheLinkUpReconnectsThePageThenActivatesIt)
{
    connect(Transport::Tcp);
    ASSERT_EQ(session.link.tcpLinkUp(), 1);
    const int firstAttempts = rig.linkSocket.connectAttempts();
    ASSERT_TRUE(shell.selectTab(Tab::Edid));
    EXPECT_EQ(rig.linkSocket.connectAttempts(), firstAttempts + 1);
    rig.loop.advance(Shell::kActivationMs);
    EXPECT_EQ(edid->activations, 1);

    // The General page takes the socket back: a new socket, a new connect.
    const int attempts = rig.linkSocket.connectAttempts();
    const int recreations = rig.linkSocket.recreations();
    ASSERT_TRUE(shell.selectTab(Tab::General));
    EXPECT_EQ(rig.linkSocket.connectAttempts(), attempts + 1);
    EXPECT_EQ(rig.linkSocket.recreations(), recreations + 1);
    rig.loop.advance(Shell::kActivationMs);
    EXPECT_EQ(session.link.socketConnected(), 1);
    EXPECT_FALSE(session.popups.notice.isOpen());

    // And the page works on the new socket.
    rig.tcpMatrix.clearReceived();
    page.statusClicked();
    rig.loop.advance(10);
    EXPECT_EQ(rig.tcpMatrix.received().size(), 8u);
    EXPECT_EQ(page.outputLabel(4), "HDMI OUTD: Connect");
}

TEST_F(ShellTest, ComModeHandsThePortToTheShownPage)
{
    connect(Transport::Com);
    ASSERT_NE(rig.serialHub.holder(3), nullptr);
    ASSERT_TRUE(shell.selectTab(Tab::Matrix));
    // The General page let go of the port; the Routing page may take it.
    EXPECT_EQ(rig.serialHub.holder(3), nullptr);
    EXPECT_EQ(session.link.comOpen, 1);
    EXPECT_TRUE(routing->serialPort().open(3, liveSerialSettings()));
    rig.loop.advance(Shell::kActivationMs);
    EXPECT_EQ(routing->activations, 1);

    // Back on General: the Routing port is told to close and, 150 ms later,
    // the General page re-opens its port.
    ASSERT_TRUE(shell.selectTab(Tab::General));
    EXPECT_FALSE(routing->serialPort().isOpen());
    EXPECT_TRUE(session.general.serialPort().isOpen() == false);
    rig.loop.advance(Shell::kActivationMs);
    EXPECT_TRUE(session.general.serialPort().isOpen());
    EXPECT_FALSE(session.popups.notice.isOpen());

    // The first Status after coming back re-opens the port, then runs.
    rig.serialMatrix.clearReceived();
    page.statusClicked();
    rig.loop.advance(300);
    EXPECT_EQ(rig.serialMatrix.received().size(), 9u);  // beep query + chain
    EXPECT_EQ(page.outputLabel(4), "HDMI OUTD: Connect");
    EXPECT_FALSE(session.popups.progress.isOpen());
}

TEST_F(ShellTest, OnlyTheLastSelectedTabIsActivated)
{
    connect(Transport::Com);
    ASSERT_TRUE(shell.selectTab(Tab::Matrix));
    rig.loop.advance(Shell::kActivationMs / 2);
    ASSERT_TRUE(shell.selectTab(Tab::General));
    rig.loop.advance(Shell::kActivationMs);
    // The Routing page was left before its activation: it must not take
    // the port back from the page that is shown.
    EXPECT_EQ(routing->activations, 0);
    EXPECT_TRUE(session.general.serialPort().isOpen());
    EXPECT_FALSE(session.popups.notice.isOpen());
}

TEST_F(ShellTest, ComReopenWithoutConnectShowsOpenComFailed)
{
    ASSERT_TRUE(shell.selectTab(Tab::Matrix));
    ASSERT_TRUE(shell.selectTab(Tab::General));
    rig.loop.advance(Shell::kActivationMs);
    EXPECT_EQ(session.popups.notice.text(), "Open COM failed!");
    EXPECT_TRUE(page.comListRescanning());
}

TEST_F(ShellTest, VanishedSerialDeviceDropsTheComLinkAndAllowsReconnect)
{
    connect(Transport::Com);
    ASSERT_EQ(session.link.comOpen, 1);
    ASSERT_TRUE(edid->serialPort().open(5, liveSerialSettings()) == false);

    rig.serialHub.unplug(3);
    rig.loop.runPending();
    EXPECT_EQ(session.link.comOpen, 0);
    EXPECT_EQ(page.comConnectText(), std::string("Connect"));
    EXPECT_FALSE(page.comIndicatorConnected());
    EXPECT_TRUE(page.comListEnabled());
    EXPECT_EQ(rig.serialHub.holder(3), nullptr);
    EXPECT_TRUE(page.comListRescanning());

    rig.loop.advance(GeneralPage::kRescanMs);
    EXPECT_TRUE(page.comPorts().empty());

    rig.serialHub.addPort(3, &rig.serialMatrix);
    rig.loop.advance(GeneralPage::kRescanMs);
    EXPECT_EQ(page.comPorts(), std::vector<std::string>{"COM3"});
    page.comConnectClicked();
    rig.loop.runPending();
    EXPECT_EQ(session.link.comOpen, 1);
    rig.serialMatrix.clearReceived();
    page.statusClicked();
    rig.loop.advance(300);
    EXPECT_EQ(page.outputLabel(4), "HDMI OUTD: Connect");
    EXPECT_EQ(rig.serialMatrix.received().size(), 8u);
}

TEST_F(ShellTest, SerialFaultClosesTheOtherPagesPorts)
{
    rig.serialHub.addPort(5);
    ASSERT_TRUE(routing->serialPort().open(5, liveSerialSettings()));
    ASSERT_TRUE(routing->serialPort().startWorker());
    shell.postShellRequest(ShellRequest::SerialFault);
    EXPECT_TRUE(routing->serialPort().isOpen());  // posted, not run yet
    rig.loop.runPending();
    EXPECT_FALSE(routing->serialPort().isOpen());
    EXPECT_EQ(session.link.comOpen, 0);
}

TEST_F(ShellTest, PageBusyPostsSwitchTheHiddenTabButtons)
{
    shell.postPageBusy(1);
    EXPECT_TRUE(shell.tabButtonsEnabled());
    rig.loop.runPending();
    EXPECT_FALSE(shell.tabButtonsEnabled());
    shell.postPageBusy(2);
    rig.loop.runPending();
    EXPECT_FALSE(shell.tabButtonsEnabled());
    shell.postPageBusy(0);
    rig.loop.runPending();
    EXPECT_TRUE(shell.tabButtonsEnabled());
}

TEST_F(ShellTest, ConfigurationSuccessRunsTheRediscoverySequence)
{
    int searches = 0;
    page.setSearchHook([&] { ++searches; });
    connect(Transport::Tcp);
    ConfigStatusPopup& popup = session.popups.configStatus;
    const std::size_t timersBefore = rig.loop.runningTimerCount();

    shell.postShellRequest(ShellRequest::OpenConfigStatus);
    rig.loop.runPending();
    ASSERT_TRUE(popup.isOpen());
    EXPECT_EQ(popup.text(), "Configuring . . .");

    shell.postNetConfigStatus(NetConfigStatus::Configured);
    rig.loop.runPending();
    EXPECT_EQ(popup.configAcknowledged, 1);
    EXPECT_EQ(popup.text(), "Matrix configuration completed successfully!");
    EXPECT_EQ(session.popups.notice.recordedText(), "Matrix configuration completed successfully!");

    rig.loop.advance(Shell::kConfigSuccessMs);
    EXPECT_EQ(popup.text(), "Searching Matrix IP . . .");
    EXPECT_EQ(searches, 0);
    rig.loop.advance(Shell::kSearchAgainMs);
    EXPECT_EQ(searches, 1);
    EXPECT_EQ(session.link.tcpLinkUp(), 0);  // a search drops the TCP link
    EXPECT_TRUE(page.ipEntries().empty());

    rig.loop.advance(Shell::kSearchTimeoutMs);
    EXPECT_EQ(popup.text(), "Search Matrix IP failed!");
    EXPECT_TRUE(popup.isOpen());
    rig.loop.advance(Shell::kSearchCloseMs);
    EXPECT_FALSE(popup.isOpen());
    EXPECT_EQ(rig.loop.runningTimerCount(), timersBefore);
}

TEST_F(ShellTest, DiscoveryReplyDuringRediscoveryClosesThePopupAtOnce)
{
    ConfigStatusPopup& popup = session.popups.configStatus;
    shell.postShellRequest(ShellRequest::OpenConfigStatus);
    shell.postNetConfigStatus(NetConfigStatus::Configured);
    rig.loop.advance(Shell::kConfigSuccessMs + Shell::kSearchAgainMs);
    ASSERT_EQ(popup.text(), "Searching Matrix IP . . .");
    shell.postNetConfigStatus(NetConfigStatus::DiscoveryReply);
    rig.loop.runPending();
    EXPECT_FALSE(popup.isOpen());
    rig.loop.advance(10000);
    EXPECT_FALSE(popup.isOpen());
    EXPECT_EQ(popup.text(), "Searching Matrix IP . . .");  // no time-out after the reply
    // Harmless when nothing is open.
    shell.postNetConfigStatus(NetConfigStatus::DiscoveryReply);
    shell.postNetConfigStatus(static_cast<NetConfigStatus>(5));
    rig.loop.runPending();
    EXPECT_FALSE(popup.isOpen());
}

TEST(MatrixSessionLifetime, PostedCallsAfterTheSessionIsGoneDoNothing)
{
    TestRig rig;
    {
        MatrixSession session(rig.platform);
        session.general.selectTcpMode();
        session.general.setIpText(TestRig::kAddress);
        session.general.tcpConnectClicked();
        session.shell.postPageBusy(1);
        session.shell.postShellRequest(ShellRequest::SerialFault);
    }
    rig.loop.advance(10000);
    EXPECT_EQ(rig.loop.runningTimerCount(), 0u);
}

}  // namespace

// The EDID, Matrix and FW Upgrade pages are made on the first selection of
// their tabs, and only then take the COM link the user connected: at once,
// before their activation 150 ms later, and never again on later selections.
// After a Disconnect, or in TCP mode, they leave the port alone.
TEST(PageStart, PagesTakeTheConnectedComPortWhenTheirTabIsFirstSelected)
{
    enum class Link { ComConnected, ComDisconnected, Tcp };
    const struct {
        Link link;
        bool takesPort;
    } cases[] = {{Link::ComConnected, true}, {Link::ComDisconnected, false}, {Link::Tcp, false}};
    for (const auto& c : cases) {
        for (Tab tab : {Tab::Edid, Tab::Matrix, Tab::FwUpgrade}) {
            SessionRig s;
            s.connect(c.link == Link::Tcp ? Transport::Tcp : Transport::Com);
            if (c.link == Link::ComDisconnected) {
                s.page.comConnectClicked();  // Disconnect
                s.rig.loop.advance(10);
            }
            const int opensBefore = s.rig.serialHub.openCount(TestRig::kComPort);
            ASSERT_TRUE(s.session.shell.selectTab(tab));
            SerialChannel& port = s.session.shell.shownPage()->serialPort();
            const std::string what = std::string(Shell::tabTitle(tab)) + " case " + std::to_string(int(c.link));
            EXPECT_EQ(port.isOpen(), c.takesPort) << what;
            EXPECT_EQ(s.rig.serialHub.openCount(TestRig::kComPort) - opensBefore, c.takesPort ? 1 : 0) << what;

            // Shown again later: the page exists, only the activation opens.
            s.rig.loop.advance(Shell::kActivationMs);
            ASSERT_TRUE(s.session.shell.selectTab(Tab::General));
            s.rig.loop.advance(Shell::kActivationMs);
            const int opensAgain = s.rig.serialHub.openCount(TestRig::kComPort);
            ASSERT_TRUE(s.session.shell.selectTab(tab));
            EXPECT_EQ(s.rig.serialHub.openCount(TestRig::kComPort), opensAgain) << what;
            EXPECT_FALSE(port.isOpen()) << what;
        }
    }
}
