// SPDX-License-Identifier: Apache-2.0
#include "tests/core/routing/RoutingRig.h"

#include <gtest/gtest.h>

namespace matrix::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;

class RoutingPresetTest : public ::testing::Test {
protected:
    RoutingRig r{Transport::Com};
    RoutingPage& page() { return *r.page; }

    void showTabAndClear()
    {
        r.showTab();
        r.clearWire();
    }

    // Set clicked on the shown tab, the matrix answering each route after
    // `replyDelayMs`, or not at all.
    static constexpr int kNoReply = -1;
    void startRecall(int replyDelayMs)
    {
        showTabAndClear();
        if (replyDelayMs == kNoReply)
            r.matrix().setSilent(true);
        else
            r.matrix().setReplyDelayMs(replyDelayMs);
        page().clickSet();
    }
    std::vector<std::pair<int, int>> routesOnWire()
    {
        std::vector<std::pair<int, int>> routes;
        for (const CommandFrame& f : r.wire())
            if (f.is(2, 3))
                routes.emplace_back(f.p1(), f.p3());
        return routes;
    }
};

TEST_F(RoutingPresetTest, PresetCellValues)
{
    const std::pair<const char*, int> cases[] = {{"1", 0},  {"2", 1},  {"9", 8},  {"A", 9},  {"a", 9},
                                                 {"F", 14}, {"f", 14}, {"x", 15}, {"G", 15}, {"12", 0}};
    for (auto [text, value] : cases)
        EXPECT_EQ(RoutingPage::presetCellValue(text), value) << text;
}

TEST_F(RoutingPresetTest, FirstRowShowsTheStartingPreset)
{
    EXPECT_EQ(page().presetCell(0, 0), "Setting1");
    EXPECT_EQ(page().presetCell(7, 0), "Setting8");
    for (int k = 1; k <= 8; ++k) {
        EXPECT_EQ(page().presetCell(0, k), "2");
        EXPECT_EQ(page().presetCell(1, k), "");
    }
}

TEST_F(RoutingPresetTest, ListClickCopiesNonEmptyCells)
{
    page().setPresetCell(1, 1, "A");
    page().setPresetCell(1, 2, "x");
    page().setPresetCell(1, 3, "3");
    page().clickPresetRow(1);
    EXPECT_EQ(page().presetRow(), 1);
    EXPECT_EQ(page().presetName(), "Setting2");
    EXPECT_EQ(page().presetRoute(1), 9);
    EXPECT_EQ(page().presetRoute(2), 15);
    EXPECT_EQ(page().presetRoute(3), 2);
    EXPECT_EQ(page().presetRoute(4), 1);  // empty cell: unchanged

    // An empty row changes only the name.
    page().clickPresetRow(5);
    EXPECT_EQ(page().presetName(), "Setting6");
    EXPECT_EQ(page().presetRoute(1), 9);
    page().clickPresetRow(-1);
    EXPECT_EQ(page().presetRow(), 5);
}

TEST_F(RoutingPresetTest, SetRecallsThePresetOutputByOutput)
{
    showTabAndClear();
    page().clickSet();
    EXPECT_EQ(page().recallIdle(), 0);
    EXPECT_FALSE(r.nothingWaits());  // output 1's wait
    EXPECT_EQ(r.link.busy, 0);
    r.run();

    ASSERT_FALSE(r.wire().empty());
    EXPECT_EQ(frameBytes(r.wire()[0]), (Bytes{0xA5, 0x5B, 0x02, 0x03, 0x02, 0x00, 0x01, 0, 0, 0, 0, 0, 0xF8}));
    // Each step after the previous acknowledgement; live outputs only.
    EXPECT_EQ(routesOnWire(), (std::vector<std::pair<int, int>>{{2, 1}, {2, 2}, {2, 3}, {2, 4}}));
    for (int k = 1; k <= 4; ++k) {
        EXPECT_EQ(page().displayText(k), "2");
        EXPECT_EQ(page().checkedInput(k), 2);
        EXPECT_EQ(page().currentInput(k), 2);
        EXPECT_EQ(r.rig.device.routing[k - 1], 2);
    }
    EXPECT_EQ(page().recallIdle(), 1);
    EXPECT_TRUE(page().panelReady());
    EXPECT_TRUE(r.nothingWaits());

    // And it can run again.
    r.clearWire();
    page().clickSet();
    r.run();
    EXPECT_EQ(routesOnWire().size(), 4u);
}

TEST_F(RoutingPresetTest, RecallStepsWaitForEachAcknowledgement)
{
    startRecall(100);
    r.run();
    EXPECT_EQ(routesOnWire().size(), 1u);
    r.advance(100);
    EXPECT_EQ(routesOnWire().size(), 2u);
    r.advance(300);
    EXPECT_EQ(routesOnWire().size(), 4u);
    EXPECT_EQ(page().recallIdle(), 1);
}

// Found by the fault simulation: a recall does not hold the tabs, and the
// tab shown again during it started a refresh that switched the page to
// single routes. The recall's next acknowledgement then finished a single
// route instead of stepping on, and the list, Set and panel stayed locked.
TEST_F(RoutingPresetTest, TabShownAgainDuringARecallLetsTheRecallEnd)
{
    startRecall(100);
    r.advance(150);  // output 1 acknowledged, output 2 on its way
    ASSERT_EQ(page().recallIdle(), 0);
    ASSERT_EQ(r.link.busy, 0) << "a recall does not hold the tabs";
    r.showTab();
    ASSERT_TRUE(r.rig.loop.advanceUntil([&] { return page().recallIdle() == 1 && r.link.busy == 0; }, 30000));
    EXPECT_EQ(routesOnWire().size(), 4u) << "every live output recalled once";
    EXPECT_TRUE(page().panelReady());
    EXPECT_FALSE(r.popups.notice.isOpen());
    for (int k = 1; k <= 4; ++k) {
        EXPECT_EQ(r.rig.device.routing[k - 1], 2);
        EXPECT_EQ(page().checkedInput(k), 2) << k;
    }
    EXPECT_TRUE(r.nothingWaits());
}

// Found by the fault simulation: a recall holds no busy, so the user took
// another tab while it waited on a lost acknowledgement; its re-send and
// its progress popup then came up over that page (after a switch to TCP
// mode, on that page's link).
TEST_F(RoutingPresetTest, RecallLeftBehindByATabSwitchEndsQuietly)
{
    startRecall(kNoReply);
    r.run();
    ASSERT_EQ(page().recallIdle(), 0);
    ASSERT_EQ(r.link.busy, 0);
    r.link.activePage = PageId::Edid;  // what the shell does for another tab
    r.clearWire();
    r.advance(20000);
    EXPECT_TRUE(routesOnWire().empty()) << "nothing sent over the other page";
    EXPECT_FALSE(r.popups.progress.isOpen());
    EXPECT_FALSE(r.popups.notice.isOpen());
    EXPECT_EQ(page().recallIdle(), 1);
    EXPECT_TRUE(page().panelReady());
    EXPECT_TRUE(r.nothingWaits());
}

TEST_F(RoutingPresetTest, RecallTimeOutFreesTheListSetAndPanel)
{
    startRecall(kNoReply);
    r.run();
    page().clickSet();  // ignored: a recall runs
    r.run();
    EXPECT_EQ(routesOnWire(), (std::vector<std::pair<int, int>>{{2, 1}}));

    r.advance(5000);
    EXPECT_TRUE(r.popups.progress.isOpen());
    EXPECT_EQ(routesOnWire(), (std::vector<std::pair<int, int>>{{2, 1}, {2, 1}}));
    EXPECT_FALSE(page().panelReady());
    r.advance(5000);
    EXPECT_EQ(r.popups.notice.text(), "Time out!");
    r.advance(1500);
    EXPECT_EQ(page().recallIdle(), 1);
    EXPECT_TRUE(page().panelReady());
    EXPECT_TRUE(r.nothingWaits());

    r.matrix().setSilent(false);
    r.clearWire();
    page().clickSet();
    r.run();
    EXPECT_EQ(routesOnWire().size(), 4u);
}

TEST_F(RoutingPresetTest, RecallBadSumResendsThenSkips)
{
    showTabAndClear();
    r.matrix().corruptNextChecksum(2);  // both answers for output 1
    page().clickSet();
    r.run();
    EXPECT_EQ(routesOnWire(), (std::vector<std::pair<int, int>>{{2, 1}, {2, 1}, {2, 2}, {2, 3}, {2, 4}}));
    EXPECT_EQ(page().checkedInput(1), 1);  // never acknowledged soundly
    EXPECT_EQ(page().checkedInput(2), 2);
    EXPECT_EQ(page().recallIdle(), 1);
}

TEST_F(RoutingPresetTest, SetNeedsThePagesOwnPort)
{
    page().serialPort().requestClose();
    page().clickSet();
    EXPECT_TRUE(page().messageBoxOpen());
    EXPECT_EQ(page().messageBoxText(), "请打开串口");
    EXPECT_EQ(page().recallIdle(), 1);
    r.run();
    EXPECT_TRUE(r.wire().empty());
    page().dismissMessageBox();
    EXPECT_FALSE(page().messageBoxOpen());
}

TEST_F(RoutingPresetTest, GridIgnoredWhileARecallRuns)
{
    startRecall(kNoReply);
    page().clickGrid(2, 3);
    page().clickNext(3);
    r.run();
    EXPECT_EQ(routesOnWire(), (std::vector<std::pair<int, int>>{{2, 1}}));
    EXPECT_EQ(r.link.busy, 0);
    EXPECT_FALSE(r.popups.notice.isOpen());
}

TEST_F(RoutingPresetTest, EditorPortToPortAndOkStoreTheRouting)
{
    page().clickEdit();
    ASSERT_TRUE(page().editorOpen());
    EXPECT_EQ(page().editorName(), "Setting1");
    EXPECT_EQ(page().editorSelection(1), 1);
    page().editorChooseAllFrom(9);
    page().editorOk();
    EXPECT_FALSE(page().editorOpen());
    for (int k = 1; k <= 8; ++k) {
        EXPECT_EQ(page().presetRoute(k), k - 1);
        EXPECT_EQ(page().presetCell(0, k), std::to_string(k));  // the row follows
    }

    page().clickEdit();
    page().editorChooseAllFrom(3);
    EXPECT_EQ(page().editorSelection(8), 2);
    page().editorCancel();
    EXPECT_EQ(page().presetRoute(8), 7);

    page().clickEdit();
    page().editorSelectInput(2, 3);
    page().editorOk();
    EXPECT_EQ(page().presetRoute(2), 3);
    EXPECT_EQ(page().presetRoute(1), 0);
}

TEST_F(RoutingPresetTest, EditedPresetIsWhatSetSends)
{
    page().clickEdit();
    page().editorChooseAllFrom(9);
    page().editorOk();
    showTabAndClear();
    page().clickSet();
    r.run();
    EXPECT_EQ(routesOnWire(), (std::vector<std::pair<int, int>>{{1, 1}, {2, 2}, {3, 3}, {4, 4}}));
}

// --- output configuration panel ---------------------------------------------

TEST_F(RoutingPresetTest, PanelRoutesOneInputToTheChosenOutput)
{
    showTabAndClear();
    page().selectConfigTarget(2);  // "Output3"
    r.matrix().setSilent(true);
    page().clickConfigInput(2);
    EXPECT_FALSE(r.nothingWaits());  // the route's wait
    EXPECT_FALSE(page().configReady(2));
    EXPECT_EQ(r.link.busy, 0);   // the grid's flag is not used
    page().clickConfigInput(3);  // a second button before the reply: nothing
    r.run();
    ASSERT_EQ(r.wire().size(), 1u);
    EXPECT_EQ(frameBytes(r.wire()[0]), (Bytes{0xA5, 0x5B, 0x02, 0x03, 0x02, 0x00, 0x03, 0, 0, 0, 0, 0, 0xF6}));

    r.matrix().sendNoise(replyBytes(2, 3, 0, 3));
    r.run();
    EXPECT_EQ(page().checkedInput(3), 2);
    EXPECT_EQ(page().displayText(3), "2");
    EXPECT_TRUE(page().panelReady());
    EXPECT_TRUE(r.nothingWaits());
}

TEST_F(RoutingPresetTest, PanelAllOutputRunsARecallOfOneInput)
{
    showTabAndClear();
    page().selectConfigTarget(RoutingPage::kConfigAllOutputs);
    page().clickConfigInput(4);
    for (int k = 1; k <= 8; ++k)
        EXPECT_EQ(page().presetRoute(k), 3);
    r.run();
    EXPECT_EQ(routesOnWire(), (std::vector<std::pair<int, int>>{{4, 1}, {4, 2}, {4, 3}, {4, 4}}));
    for (int k = 1; k <= 4; ++k)
        EXPECT_EQ(page().checkedInput(k), 4);
    EXPECT_TRUE(page().panelReady());
}

TEST_F(RoutingPresetTest, PortToPortSendsAtOnceAndEndsReady)
{
    r.rig.device.routing = {4, 4, 4, 4, 5, 6, 7, 8};
    showTabAndClear();
    page().selectConfigTarget(RoutingPage::kConfigPortToPort);
    EXPECT_EQ(page().recallIdle(), 0);
    r.run();
    EXPECT_EQ(routesOnWire(), (std::vector<std::pair<int, int>>{{1, 1}, {2, 2}, {3, 3}, {4, 4}}));
    for (int k = 1; k <= 4; ++k)
        EXPECT_EQ(page().checkedInput(k), k);
    EXPECT_EQ(page().recallIdle(), 1);
    // With the target on "Port to Port" the input buttons do nothing.
    r.clearWire();
    page().clickConfigInput(1);
    r.run();
    EXPECT_TRUE(r.wire().empty());
}

TEST_F(RoutingPresetTest, PanelNeedsThePagesOwnPort)
{
    page().serialPort().requestClose();
    page().clickConfigInput(1);
    EXPECT_EQ(page().messageBoxText(), "请打开串口");
    EXPECT_TRUE(page().panelReady());
    page().dismissMessageBox();
    page().selectConfigTarget(RoutingPage::kConfigPortToPort);
    EXPECT_EQ(page().messageBoxText(), "请打开串口");
    EXPECT_EQ(page().recallIdle(), 1);
    r.run();
    EXPECT_TRUE(r.wire().empty());
}

TEST_F(RoutingPresetTest, PanelTimeOutSetsEveryConfigFlagAgain)
{
    showTabAndClear();
    r.matrix().setSilent(true);
    page().selectConfigTarget(0);
    page().clickConfigInput(3);
    r.run();
    r.advance(5000 + 5000);
    EXPECT_EQ(r.popups.notice.text(), "Time out!");
    r.advance(1500);
    EXPECT_TRUE(page().panelReady());
    EXPECT_TRUE(r.nothingWaits());
}

TEST_F(RoutingPresetTest, ListClickIgnoredWhilePanelCommandOutstanding)
{
    showTabAndClear();
    r.matrix().setSilent(true);
    page().clickConfigInput(1);
    page().setPresetCell(2, 1, "4");
    page().clickPresetRow(2);
    EXPECT_EQ(page().presetRow(), 0);
    EXPECT_EQ(page().presetRoute(1), 1);
    page().clickSet();
    r.run();
    EXPECT_EQ(routesOnWire().size(), 1u);
}

}  // namespace
}  // namespace matrix::testing
