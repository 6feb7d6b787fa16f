// SPDX-License-Identifier: Apache-2.0
// The EDID page against the simulated matrix on virtual time, over both
// transports: what crosses the wire, the popups, the flags and the timers.
#include "core/pages/edid/EdidPage.h"
#include "tests/support/RawFrame.h"

#include "core/formats/EdidModes.h"
#include "tests/core/edid/EdidTestFiles.h"
#include "tests/support/PageWorld.h"
#include "tests/support/TestRig.h"
#include "tests/support/Transport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace matrix {
namespace {

using testing::bothTransports;
using testing::RawFrame;
using testing::TestRig;
using testing::Transport;
using testing::transportName;
using Bytes = std::vector<std::uint8_t>;

// One program's worth of shared state with the EDID page on the EDID tab,
// talking to the rig's matrix over the chosen transport.
struct EdidHarness : testing::PageWorld {
    std::unique_ptr<EdidPage> page;
    Transport transport;
    edid::TempEdidDir files;

    explicit EdidHarness(Transport t) : transport(t) { page = std::make_unique<EdidPage>(context); }

    // The tab is shown: hand-over, then the entry query 150 ms later, and
    // the status chain it starts runs to its end.
    void enterTab()
    {
        page->tabSelected(true);
        link.activePage = PageId::Edid;
        if (transport == Transport::Tcp) {
            link.controlMode = ControlMode::Tcp;
            link.matrixAddress = TestRig::kAddress;
            link.setTcpState(TcpState::Reconnecting);
            link.reconnect(PageId::Edid);
        } else {
            link.controlMode = ControlMode::Com;
            link.comOpen = 1;
            link.comPort = TestRig::kComPort;
        }
        rig.loop.runPending();
        rig.loop.advance(150);
        page->activate();
        rig.loop.runPending();
    }

    sim::MatrixResponder& matrixSide() { return transport == Transport::Tcp ? rig.tcpMatrix : rig.serialMatrix; }
    const std::vector<CommandFrame>& wire() { return matrixSide().received(); }
    // Every block the page wrote, frames and raw data alike.
    const std::vector<Bytes>& writes()
    {
        return transport == Transport::Tcp ? rig.linkSocket.sent() : rig.serialHub.writes(TestRig::kComPort);
    }
    void settle() { rig.loop.runPending(); }
    void advance(int ms) { rig.loop.advance(ms); }
    bool noticeShows(const std::string& text) const { return popups.notice.isOpen() && popups.notice.text() == text; }
    // Frames sent after the operation's COM-only first step.
    std::vector<CommandFrame> afterSwitchState()
    {
        std::vector<CommandFrame> frames = wire();
        if (transport == Transport::Com) {
            EXPECT_FALSE(frames.empty());
            if (!frames.empty()) {
                EXPECT_EQ(frames.front(), RawFrame::edid(3, 0x0B, 0, 0, 0));
                frames.erase(frames.begin());
            }
        }
        return frames;
    }
    // No wait of an operation and no animation or notice timer runs.
    bool quiet() { return rig.loop.runningTimerCount() == 0 && page->client().queuedRequests() == 0; }
    void expectIdle()
    {
        EXPECT_EQ(page->edidBusy(), 0);
        EXPECT_FALSE(popups.progress.isOpen());
        EXPECT_FALSE(popups.progress.isOpen());
    }
};

CommandFrame edidFrame(int cmd, int sub, int p1, int p3, int p2) { return RawFrame::edid(cmd, sub, p1, p3, p2); }
CommandFrame statusQuery(int input) { return RawFrame::edid(1, 0x0C, input, 0, 0); }

class EdidPageTest : public ::testing::TestWithParam<Transport> {
protected:
    void SetUp() override
    {
        h = std::make_unique<EdidHarness>(GetParam());
        h->enterTab();
        h->matrixSide().clearReceived();
    }
    std::unique_ptr<EdidHarness> h;
};

// The page entered over the serial link.
class EdidPageCom : public ::testing::Test {
protected:
    void SetUp() override { h.enterTab(); }
    EdidHarness h{Transport::Com};
};

INSTANTIATE_TEST_SUITE_P(BothTransports, EdidPageTest, bothTransports(), transportName);

TEST_P(EdidPageTest, EntryQueriesTheFourInputsInTurnAndStops)
{
    EdidHarness fresh(GetParam());
    fresh.rig.device.edidStatus = {0, 16, 0x13, static_cast<std::int8_t>(0xF0), 1, 1, 1, 1};
    fresh.enterTab();
    const std::vector<CommandFrame> chain = {statusQuery(1), statusQuery(2), statusQuery(3), statusQuery(4)};
    EXPECT_EQ(fresh.wire(), chain);
    EXPECT_EQ(fresh.page->inputStatusText(1), "1080i,Stereo Audio 2.0");
    EXPECT_EQ(fresh.page->inputStatusText(2), "Copy HDMI OUT B");
    EXPECT_EQ(fresh.page->inputStatusText(3), "User define");
    EXPECT_EQ(fresh.page->inputStatusText(4), "User define");
    EXPECT_EQ(fresh.page->inputStatusText(5), "");
    EXPECT_EQ(fresh.page->edidOperation(), EdidPage::kOpRefresh);
    EXPECT_FALSE(fresh.popups.notice.isOpen());
    EXPECT_TRUE(fresh.quiet());
}

TEST_P(EdidPageTest, SetModeRow2OnIn3SendsModeRequestThenSetOneAndRefreshesIn3)
{
    h->page->selectMode(2);
    h->page->selectSetTarget(2);
    h->page->clickSetMode();
    EXPECT_TRUE(h->popups.progress.isOpen());
    EXPECT_EQ(h->popups.progress.nextText(), "Setting . . .");
    h->settle();

    const std::vector<CommandFrame> expected = {edidFrame(3, 0x08, 0xF0, 0, 0), edidFrame(3, 0x02, 3, 3, 0xF0)};
    EXPECT_EQ(h->afterSwitchState(), expected);
    EXPECT_TRUE(h->noticeShows("Set successfully!"));
    EXPECT_EQ(h->shell.pageBusy, std::vector<int>{0});
    h->expectIdle();

    h->matrixSide().clearReceived();
    h->advance(EdidPage::kNoticeMs);
    h->settle();
    EXPECT_FALSE(h->popups.notice.isOpen());
    EXPECT_EQ(h->wire(), std::vector<CommandFrame>{statusQuery(3)}) << "single refresh of IN3 only";
    EXPECT_EQ(h->page->inputStatusText(3), "1080i,HD Audio 7.1");
    EXPECT_EQ(h->rig.device.edidStatus[2], 2);
    EXPECT_TRUE(h->quiet());
}

TEST_P(EdidPageTest, DefaultEdidOnAllInputsRefreshesAllFourWithoutSuccessNotice)
{
    h->rig.device.edidStatus = {9, 9, 9, 9, 9, 9, 9, 9};
    h->page->selectMode(edid::kDefaultEdidRow);
    h->page->selectSetTarget(4);
    h->page->clickSetMode();
    h->settle();
    const std::vector<CommandFrame> expected = {edidFrame(3, 0x08, 0xF0, 0, 0),
                                                edidFrame(3, 0x09, 0xFE, 0, 0),
                                                statusQuery(1),
                                                statusQuery(2),
                                                statusQuery(3),
                                                statusQuery(4)};
    EXPECT_EQ(h->afterSwitchState(), expected);
    EXPECT_EQ(h->popups.notice.timesOpened(), 0);
    for (int input = 1; input <= 4; ++input)
        EXPECT_EQ(h->page->inputStatusText(input), "1080p,Stereo Audio 2.0") << input;
    h->expectIdle();
    EXPECT_TRUE(h->quiet());
}

TEST_P(EdidPageTest, BuiltInModeOnAllInputsShowsSuccessThenFullChain)
{
    h->page->selectMode(13);
    h->page->selectSetTarget(4);
    h->page->clickSetMode();
    h->settle();
    EXPECT_EQ(h->afterSwitchState().back(), edidFrame(3, 0x01, 14, 0, 0xF0));
    EXPECT_TRUE(h->noticeShows("Set successfully!"));
    h->advance(EdidPage::kNoticeMs);
    h->settle();
    for (int input = 1; input <= 4; ++input)
        EXPECT_EQ(h->page->inputStatusText(input), "DVI 1920X1080") << input;
    EXPECT_EQ(h->wire().back(), statusQuery(4));
}

// Found by the fault simulation: Set clicked in the 150 ms between showing
// the tab and its activation. The entry query replaced the running
// operation, whose mode reply then found nothing to go on with, and the
// progress popup and its animation stayed up for good.
TEST_P(EdidPageTest, OperationClickedBeforeActivationStillEnds)
{
    // The tab is shown again; the user clicks before the entry query.
    h->page->tabSelected(true);
    if (GetParam() == Transport::Tcp)
        h->link.reconnect(PageId::Edid);
    h->settle();
    h->page->selectMode(2);
    h->page->selectSetTarget(1);
    // The first answer comes after the activation.
    h->matrixSide().setReplyDelayMs(200);
    h->page->clickSetMode();
    ASSERT_TRUE(h->popups.progress.isOpen());
    h->advance(150);
    h->page->activate();
    h->settle();

    ASSERT_TRUE(h->rig.loop.advanceUntil([&] { return h->noticeShows("Set successfully!"); },
                                         2 * EdidPage::kReplyWaitMs + 1000));
    EXPECT_EQ(h->rig.device.edidStatus[1], 2) << "the set reached the matrix";
    h->advance(3 * EdidPage::kReplyWaitMs);
    h->expectIdle();
    EXPECT_FALSE(h->popups.notice.isOpen());
    EXPECT_TRUE(h->quiet());
}

// Found by the fault simulation: the answer to an operation's first step
// arrived after a standby had ended the operation, and carried it on with
// no popup: the user could take another tab while the page kept sending.
TEST_P(EdidPageTest, LateAnswerAfterAStandbyDoesNotResumeTheOperation)
{
    h->matrixSide().setReplyDelayMs(1000);
    h->page->clickCopy();
    h->advance(100);
    h->matrixSide().setReplyDelayMs(0);
    h->matrixSide().sendStandby();
    h->settle();
    ASSERT_TRUE(h->noticeShows("Matrix is in standby mode!"));
    h->matrixSide().clearReceived();
    h->advance(30000);
    EXPECT_TRUE(h->wire().empty()) << "the ended copy sends nothing more";
    h->expectIdle();
    EXPECT_FALSE(h->popups.notice.isOpen());
    EXPECT_TRUE(h->quiet());
}

// Found by the fault simulation: a late answer of the entry refresh for
// IN4 arrived while a Set waited on its mode request, closed the Set's
// popup and freed the page, and the Set's retry went out on another tab.
TEST_P(EdidPageTest, LateRefreshAnswerDoesNotEndARunningOperation)
{
    h->matrixSide().setSilent(true);
    h->page->selectMode(2);
    h->page->selectSetTarget(1);
    h->page->clickSetMode();
    h->advance(100);
    CommandFrame lateIn4 = CommandFrame().set(2, 0x01).set(3, 0x0C).set(4, 4).set(6, 2).seal();
    h->matrixSide().sendNoise(std::vector<std::uint8_t>(lateIn4.data(), lateIn4.data() + CommandFrame::kSize));
    h->advance(10);
    EXPECT_TRUE(h->popups.progress.isOpen()) << "the Set still shows its popup";
    EXPECT_EQ(h->page->inputStatusText(4), "1080i,HD Audio 7.1") << "the row is still updated";
    // The Set ends as it would have: by its own time-out.
    ASSERT_TRUE(h->rig.loop.advanceUntil([&] { return h->noticeShows("Time out!"); }, 3 * EdidPage::kReplyWaitMs));
    EXPECT_FALSE(h->popups.progress.isOpen());
    h->advance(EdidPage::kNoticeMs * 2);
    EXPECT_TRUE(h->quiet());
}

// The hidden Status button's run moves on only with the answer it asked for.
TEST_P(EdidPageTest, StatusRunTakesOnlyTheAnswerItWaitsFor)
{
    h->matrixSide().setSilent(true);
    h->page->clickStatus();
    EXPECT_EQ(h->popups.progress.nextText(), "Getting status . . .");
    CommandFrame unasked = CommandFrame().set(2, 0x01).set(3, 0x0C).set(4, 4).set(6, 2).seal();
    h->matrixSide().sendNoise(std::vector<std::uint8_t>(unasked.data(), unasked.data() + CommandFrame::kSize));
    h->settle();
    EXPECT_EQ(h->page->inputStatusText(4), "1080i,HD Audio 7.1") << "the row is still updated";
    EXPECT_TRUE(h->popups.progress.isOpen()) << "the run still waits for IN1";
    h->advance(2 * EdidPage::kReplyWaitMs);
    EXPECT_EQ(h->wire(), std::vector<CommandFrame>(2, statusQuery(1)));
    EXPECT_TRUE(h->noticeShows("Time out!"));
    h->expectIdle();
}

// Only the shown tab talks to the matrix: a wait that runs out once another
// tab holds the link ends the operation without a re-send.
TEST_P(EdidPageTest, OperationEndsQuietlyOnceAnotherTabHoldsTheLink)
{
    h->matrixSide().setSilent(true);
    h->page->clickSetMode();
    h->settle();
    const std::size_t sent = h->wire().size();
    h->link.activePage = PageId::General;
    h->advance(EdidPage::kReplyWaitMs);
    EXPECT_EQ(h->wire().size(), sent);
    EXPECT_FALSE(h->popups.notice.isOpen());
    h->expectIdle();
    EXPECT_TRUE(h->quiet());
}

TEST_F(EdidPageCom, SwitchStateFifteenStopsEveryOperation)
{
    h.rig.device.edidSwitchState = 15;
    h.page->openEdidFile(h.files.sample("tv-sony-256.bin"));
    using Click = void (EdidPage::*)();
    for (Click click : {&EdidPage::clickSetMode, &EdidPage::clickCopy, &EdidPage::clickDownload}) {
        h.matrixSide().clearReceived();
        (h.page.get()->*click)();
        h.settle();
        EXPECT_EQ(h.wire(), std::vector<CommandFrame>{edidFrame(3, 0x0B, 0, 0, 0)});
        EXPECT_TRUE(h.noticeShows("Please set the EDID to [1111]!"));
        h.expectIdle();
        h.advance(EdidPage::kNoticeMs);
        EXPECT_TRUE(h.popups.notice.isOpen()) << "this notice stays 2.5 s";
        h.advance(EdidPage::kLongNoticeMs - EdidPage::kNoticeMs);
        EXPECT_FALSE(h.popups.notice.isOpen());
        h.advance(20000);
        h.settle();
        EXPECT_EQ(h.wire().size(), 1u);
        EXPECT_TRUE(h.quiet());
    }
}

TEST_F(EdidPageCom, OtherSwitchStatesGoAhead)
{
    h.rig.device.edidSwitchState = 14;
    h.page->clickSetMode();
    h.settle();
    EXPECT_TRUE(h.noticeShows("Set successfully!"));
}

TEST_P(EdidPageTest, CopyFromOutputWithoutDisplayStopsWithNotice)
{
    h->rig.device.outputCable[1] = false;
    h->page->selectCopySource(1);
    h->page->clickCopy();
    EXPECT_EQ(h->popups.progress.nextText(), "Copying . . .");
    h->settle();
    EXPECT_EQ(h->afterSwitchState(), std::vector<CommandFrame>{edidFrame(1, 0x05, 2, 0, 0)});
    EXPECT_TRUE(h->noticeShows("HDMI OUT B is not connected!"));
    h->expectIdle();
    h->advance(30000);
    h->settle();
    EXPECT_EQ(h->afterSwitchState().size(), 1u) << "nothing more is sent";
    EXPECT_EQ(h->popups.notice.timesOpened(), 1) << "no time-out follows";
}

TEST_P(EdidPageTest, CopyOneInputReadsBackTheCopiedStatus)
{
    h->rig.device.outputCable[3] = true;
    h->page->selectCopySource(3);
    h->page->selectCopyTarget(1);
    h->page->clickCopy();
    h->settle();
    const std::vector<CommandFrame> expected = {edidFrame(1, 0x05, 4, 0, 0), edidFrame(3, 0x08, 0xF0, 0, 0),
                                                edidFrame(3, 0x04, 4, 2, 0)};
    EXPECT_EQ(h->afterSwitchState(), expected);
    EXPECT_TRUE(h->noticeShows("Copy successfully!"));
    h->expectIdle();
    h->advance(EdidPage::kNoticeMs);
    h->settle();
    EXPECT_EQ(h->wire().back(), statusQuery(2));
    EXPECT_EQ(h->page->inputStatusText(2), "Copy HDMI OUT D");
}

TEST_P(EdidPageTest, RejectedCopiesSayCopyFailed)
{
    h->rig.device.rejectEdidCopy = true;
    for (int target : {0, 4}) {
        h->page->selectCopyTarget(target);
        h->page->clickCopy();
        h->settle();
        EXPECT_TRUE(h->noticeShows("Copy failed!")) << "target row " << target;
        h->expectIdle();
        h->matrixSide().clearReceived();
        h->advance(EdidPage::kNoticeMs);
        h->settle();
        EXPECT_TRUE(h->wire().empty()) << "no refresh after a failure";
    }
}

TEST_P(EdidPageTest, DownloadToAllInputsSendsAnnounceThenTheBlock200msLater)
{
    const std::string path = h->files.sample("tv-samsung-256.bin");
    h->page->openEdidFile(path);
    ASSERT_EQ(h->page->pathText(), path);
    h->page->selectDownloadTarget(4);
    h->page->clickDownload();
    EXPECT_EQ(h->popups.progress.nextText(), "Downloading . . .");
    h->settle();
    const std::vector<CommandFrame> handshake = {edidFrame(3, 0x08, 0xF0, 0, 0), edidFrame(3, 0x06, 0xFE, 0, 0xF0),
                                                 RawFrame::edid(3, 0x06, 0x56, 0, 0, true)};
    EXPECT_EQ(h->afterSwitchState(), handshake);
    EXPECT_EQ(h->afterSwitchState().back()[7], 1);
    const std::size_t writesBefore = h->writes().size();

    h->advance(EdidPage::kDataStepDelayMs - 1);
    h->settle();
    EXPECT_EQ(h->writes().size(), writesBefore) << "the block waits 200 ms";
    h->advance(1);
    h->settle();
    ASSERT_EQ(h->writes().size(), writesBefore + 1);
    const Bytes& block = h->writes().back();
    ASSERT_EQ(block.size(), 290u);
    const Bytes file = h->files.read(path);
    EXPECT_EQ(block[0], 0);
    EXPECT_TRUE(std::equal(file.begin(), file.end(), block.begin() + 1));
    EXPECT_TRUE(std::all_of(block.begin() + 257, block.end(), [](std::uint8_t b) { return b == 0; }));

    EXPECT_TRUE(h->noticeShows("Download successfully!"));
    h->expectIdle();
    for (int input = 0; input < 4; ++input)
        EXPECT_EQ(h->rig.device.inputEdid[input], file) << "input " << input + 1;
    h->advance(EdidPage::kNoticeMs);
    h->settle();
    for (int input = 1; input <= 4; ++input)
        EXPECT_EQ(h->page->inputStatusText(input), "User define");
    EXPECT_TRUE(h->quiet());
}

TEST_P(EdidPageTest, DownloadRejectedByTheMatrixSaysDownloadFailed)
{
    h->rig.device.rejectEdidDownload = true;
    h->page->openEdidFile(h->files.sample("monitor-nec-128.bin"));
    h->page->selectDownloadTarget(1);
    h->page->clickDownload();
    h->settle();
    h->advance(EdidPage::kDataStepDelayMs);
    h->settle();
    EXPECT_TRUE(h->noticeShows("Download failed!"));
    h->expectIdle();
    EXPECT_TRUE(h->rig.device.inputEdid[1].empty());
}

TEST_P(EdidPageTest, NoReplyResendsOnceAfter5sThenTimesOut)
{
    h->matrixSide().setSilent(true);
    h->page->clickSetMode();
    h->settle();
    const std::size_t first = h->wire().size();
    ASSERT_GE(first, 1u);
    const CommandFrame request = h->wire().back();
    h->advance(EdidPage::kReplyWaitMs - 1);
    h->settle();
    EXPECT_EQ(h->wire().size(), first);
    h->advance(1);
    h->settle();
    ASSERT_EQ(h->wire().size(), first + 1);
    EXPECT_EQ(h->wire().back(), request);
    h->advance(EdidPage::kReplyWaitMs - 1);
    EXPECT_FALSE(h->popups.notice.isOpen());
    EXPECT_TRUE(h->popups.progress.isOpen());
    h->advance(1);
    EXPECT_TRUE(h->noticeShows("Time out!"));
    h->expectIdle();
    // The mode request gives up with the full time-out, which re-enables the
    // tabs; the COM switch-state query has the short one, which does not.
    EXPECT_EQ(h->shell.pageBusy, GetParam() == Transport::Tcp ? std::vector<int>{0} : std::vector<int>{});
    h->advance(60000);
    h->settle();
    EXPECT_EQ(h->wire().size(), first + 1) << "no command is retried more than once";
    EXPECT_TRUE(h->quiet());
}

// Loses the replies to the command that follows the mode request.
void loseRepliesAfterModeRequest(sim::MatrixResponder& matrix, int count)
{
    matrix.onCommand(0x03, [&matrix, count](const CommandFrame& f) {
        if (f.subCommand() == 0x08)
            matrix.dropNextReplies(count);
    });
}

TEST_P(EdidPageTest, LostSetReplyIsResentOnceAfterItsWait)
{
    loseRepliesAfterModeRequest(h->matrixSide(), 1);
    h->page->selectMode(5);
    h->page->selectSetTarget(4);
    h->page->clickSetMode();
    h->settle();
    const CommandFrame set = edidFrame(3, 0x01, 6, 0, 0xF0);
    const auto sets = [&] { return std::count(h->wire().begin(), h->wire().end(), set); };
    h->advance(EdidPage::kReplyWaitMs - 1);
    EXPECT_EQ(sets(), 1) << "the set waits for its answer";
    EXPECT_EQ(h->page->edidBusy(), 1);
    h->advance(1);
    h->settle();
    const std::vector<CommandFrame> tail(h->wire().end() - 2, h->wire().end());
    EXPECT_EQ(tail, std::vector<CommandFrame>(2, set));
    EXPECT_TRUE(h->noticeShows("Set successfully!"));
    h->advance(3 * EdidPage::kReplyWaitMs);
    EXPECT_EQ(sets(), 2) << "no wait is left after the answer";
}

TEST_P(EdidPageTest, LostCopyAndDownloadRepliesTimeOut)
{
    loseRepliesAfterModeRequest(h->matrixSide(), 2);
    h->page->openEdidFile(h->files.sample("monitor-nec-128.bin"));
    using Click = void (EdidPage::*)();
    for (Click click : {&EdidPage::clickCopy, &EdidPage::clickDownload}) {
        (h->page.get()->*click)();
        h->settle();
        h->advance(2 * EdidPage::kReplyWaitMs - 1);
        EXPECT_FALSE(h->popups.notice.isOpen());
        h->advance(1);
        EXPECT_TRUE(h->noticeShows("Time out!"));
        h->expectIdle();
        h->advance(EdidPage::kNoticeMs);
        EXPECT_TRUE(h->quiet());
    }
}

TEST_P(EdidPageTest, GuardsAndBusy)
{
    h->page->clickDownload();
    EXPECT_TRUE(h->noticeShows("Select the file!"));
    EXPECT_EQ(h->page->edidBusy(), 0);
    EXPECT_FALSE(h->popups.progress.isOpen());
    h->advance(EdidPage::kNoticeMs);

    h->matrixSide().setSilent(true);
    h->page->clickSetMode();
    h->page->clickCopy();
    EXPECT_TRUE(h->noticeShows("Please wait..."));
    EXPECT_EQ(h->page->edidOperation(), EdidPage::kOpSetMode);
    h->advance(2 * EdidPage::kReplyWaitMs);
    EXPECT_EQ(h->page->edidBusy(), 0);
}

TEST(EdidPageGuard, NotConnectedSendsNothing)
{
    for (Transport t : {Transport::Com, Transport::Tcp}) {
        EdidHarness h(t);
        h.link.controlMode = t == Transport::Tcp ? ControlMode::Tcp : ControlMode::Com;
        h.page->clickSetMode();
        EXPECT_TRUE(h.noticeShows(t == Transport::Tcp ? "Connect to Matrix failed!" : "Open COM failed!"));
        EXPECT_EQ(h.page->edidBusy(), 0);
        EXPECT_FALSE(h.popups.progress.isOpen());
        h.settle();
        EXPECT_TRUE(h.wire().empty());
    }
}

TEST(EdidPageTcp, ReplyBeforeTheEntryQueryIsIgnored)
{
    EdidHarness h(Transport::Tcp);
    h.link.controlMode = ControlMode::Tcp;
    h.link.matrixAddress = TestRig::kAddress;
    h.link.reconnect(PageId::Edid);
    h.settle();
    ASSERT_EQ(h.link.socketConnected(), 1);
    h.page->tabSelected(true);
    h.rig.tcpMatrix.reply(1, 0x0C, 1, 0, 5);
    h.rig.tcpMatrix.reply(0x88, 0x88, 0, 0, 0);
    h.settle();
    EXPECT_EQ(h.page->inputStatusText(1), "");
    EXPECT_FALSE(h.popups.notice.isOpen());

    h.page->activate();
    h.settle();
    EXPECT_EQ(h.page->inputStatusText(1), "1080p,Dolby/DTS 5.1");
}

TEST(EdidPageTcp, RepliesSplitOrCoalescedAreAllHandled)
{
    EdidHarness h(Transport::Tcp);
    h.rig.tcpMatrix.setSplitSize(5);
    h.enterTab();
    EXPECT_EQ(h.page->inputStatusText(4), "1080p,Dolby/DTS 5.1");

    // Two replies in one read: both count.
    auto status = [](int input, int code) {
        CommandFrame f = CommandFrame().set(2, 1).set(3, 0x0C).set(4, input).set(6, code).seal();
        return std::vector<std::uint8_t>(f.data(), f.data() + CommandFrame::kSize);
    };
    std::vector<std::uint8_t> both = status(4, 15);
    const auto second = status(8, 16);
    both.insert(both.end(), second.begin(), second.end());
    h.rig.tcpMatrix.sendNoise(both);
    h.settle();
    EXPECT_EQ(h.page->inputStatusText(4), "Copy HDMI OUT A");
    EXPECT_EQ(h.page->inputStatusText(8), "Copy HDMI OUT B");
}

TEST(EdidPageTcp, DisconnectBeforeTheDataStepEndsTheDownloadCleanly)
{
    EdidHarness h(Transport::Tcp);
    h.enterTab();
    h.page->openEdidFile(h.files.sample("tv-lg-256.bin"));
    h.page->clickDownload();
    h.settle();
    ASSERT_EQ(h.wire().back()[7], 1) << "announce sent";
    const std::size_t writes = h.writes().size();
    h.rig.tcpMatrix.closeLink();
    h.settle();
    ASSERT_EQ(h.link.socketConnected(), 0);
    h.advance(EdidPage::kDataStepDelayMs);
    EXPECT_EQ(h.writes().size(), writes) << "no block on a dead socket";
    EXPECT_TRUE(h.noticeShows("Connect to Matrix failed!"));
    h.expectIdle();
    EXPECT_EQ(h.shell.pageBusy, std::vector<int>{0});
    h.advance(EdidPage::kNoticeMs);
    EXPECT_TRUE(h.quiet());
}

TEST_F(EdidPageCom, StandbyEndsTheOperation)
{
    h.rig.serialMatrix.setSilent(true);
    h.page->clickSetMode();
    h.settle();
    h.rig.serialMatrix.setSilent(false);
    h.rig.serialMatrix.sendStandby();
    h.settle();
    EXPECT_TRUE(h.noticeShows("Matrix is in standby mode!"));
    h.expectIdle();
    h.advance(EdidPage::kLongNoticeMs - 1);
    EXPECT_TRUE(h.popups.notice.isOpen());
    h.advance(1);
    EXPECT_FALSE(h.popups.notice.isOpen());
    // The ended operation does not come back on its retry timers.
    const std::size_t sent = h.wire().size();
    h.advance(20000);
    h.settle();
    EXPECT_EQ(h.wire().size(), sent);
    EXPECT_FALSE(h.popups.notice.isOpen());
    EXPECT_TRUE(h.quiet());
}

TEST_F(EdidPageCom, ProgressTextAnimates)
{
    h.rig.serialMatrix.setSilent(true);
    h.page->clickCopy();
    std::vector<std::string> texts;
    for (int i = 0; i < 4; ++i) {
        h.advance(EdidPage::kProgressStepMs);
        texts.push_back(h.popups.progress.text());
    }
    const std::vector<std::string> expected = {"Copying . .  ", "Copying . . .", "Copying .    ", "Copying . .  "};
    EXPECT_EQ(texts, expected);
}

TEST(EdidPageFile, ShorterFileAfterLongerSendsNoOldExtension)
{
    EdidHarness h(Transport::Tcp);
    h.enterTab();
    h.page->openEdidFile(h.files.sample("tv-sony-256.bin"));
    const std::string small = h.files.sample("monitor-lenovo-128.bin");
    h.page->openEdidFile(small);
    ASSERT_EQ(h.page->pathText(), small);
    h.page->selectDownloadTarget(0);
    h.page->clickDownload();
    h.settle();
    h.advance(EdidPage::kDataStepDelayMs);
    h.settle();
    const Bytes& block = h.writes().back();
    ASSERT_EQ(block.size(), 290u);
    const Bytes file = h.files.read(small);
    EXPECT_TRUE(std::equal(file.begin(), file.end(), block.begin() + 1));
    EXPECT_TRUE(std::all_of(block.begin() + 129, block.end(), [](std::uint8_t b) { return b == 0; }));
    EXPECT_TRUE(h.noticeShows("Download successfully!"));
    EXPECT_EQ(h.rig.device.inputEdid[0], Bytes(block.begin() + 1, block.begin() + 257));
}

TEST(EdidPageFile, NoticesAndWhatAFileChoiceChanges)
{
    EdidHarness h(Transport::Tcp);
    const std::string good = h.files.sample("monitor-samsung-128.bin");
    h.page->openEdidFile(good);
    EXPECT_EQ(h.page->pathText(), good);
    EXPECT_FALSE(h.popups.notice.isOpen());
    // 128 bytes echoed: 9 full lines of 13 and 11 bytes.
    EXPECT_EQ(h.page->sentLog().boundText().size(), 128u * 3);
    const edid::EdidBytes data = h.page->edidFileData();

    Bytes bad = h.files.read(good);
    bad[40] ^= 0x01;
    for (const std::string& path : {h.files.write("bad-sum.bin", bad), h.files.write("short.bin", Bytes(200, 0)),
                                    std::string("/nonexistent/edid.bin"), h.files.dir()}) {
        h.page->openEdidFile(path);
        EXPECT_TRUE(h.noticeShows("Please select the correct EDID file!")) << path;
        EXPECT_EQ(h.page->pathText(), good) << path;
        EXPECT_EQ(h.page->edidFileData(), data) << path;
        h.advance(EdidPage::kNoticeMs);
        EXPECT_FALSE(h.popups.notice.isOpen());
    }

    Bytes twoExtensions = h.files.read(h.files.sample("tv-lg-256.bin"));
    twoExtensions[126] = 2;
    const int opened = h.popups.notice.timesOpened();
    h.page->openEdidFile(h.files.write("two-ext.bin", twoExtensions));
    EXPECT_EQ(h.popups.notice.timesOpened(), opened) << "silently ignored";
    EXPECT_EQ(h.page->pathText(), good);
    EXPECT_EQ(h.page->edidFileData(), data);
}

}  // namespace
}  // namespace matrix
