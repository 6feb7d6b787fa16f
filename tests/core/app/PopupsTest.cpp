// SPDX-License-Identifier: Apache-2.0
#include "core/app/Popups.h"
#include "tests/support/ManualLoop.h"

#include <gtest/gtest.h>

using namespace matrix;

TEST(NoticePopup, ClosedByTheCallersTimerThenRunsItsContinuation)
{
    ManualLoop loop;
    Popups popups(loop);
    Timer close(loop);
    bool continued = false;
    const ControlMode mode = ControlMode::Com;
    PageNotice(popups, close, mode).show(2500, "Matrix is in standby mode!", [&] { continued = true; });
    EXPECT_TRUE(popups.notice.isOpen());
    EXPECT_TRUE(popups.notice.held());
    EXPECT_EQ(popups.notice.recordedText(), "Matrix is in standby mode!");
    loop.advance(2499);
    EXPECT_TRUE(popups.notice.isOpen());
    EXPECT_FALSE(continued);
    loop.advance(1);
    EXPECT_FALSE(popups.notice.isOpen());
    EXPECT_FALSE(popups.notice.held());
    EXPECT_TRUE(continued);
    EXPECT_FALSE(close.running());
}

TEST(NoticePopup, TimeOutNoticesDoNotStackButGuardNoticesDo)
{
    ManualLoop loop;
    Popups popups(loop);
    Timer close(loop);
    ControlMode mode = ControlMode::Com;
    PageNotice notice(popups, close, mode);
    notice.show(1500, "Time out!");
    notice.showIfNoneOpen(1000, "Matrix is in standby mode!");
    EXPECT_EQ(popups.notice.text(), "Time out!");
    EXPECT_EQ(popups.notice.timesOpened(), 1);

    mode = ControlMode::Com;
    EXPECT_FALSE(notice.guard(false));
    EXPECT_EQ(popups.notice.text(), "Open COM failed!");
    mode = ControlMode::Tcp;
    EXPECT_FALSE(notice.guard(false));
    EXPECT_EQ(popups.notice.text(), "Connect to Matrix failed!");
    EXPECT_TRUE(notice.guard(true));
    loop.advance(1500);
    EXPECT_FALSE(popups.notice.isOpen());
}

TEST(ProgressPopup, OpensOnceAndReadsTheTextOnRefresh)
{
    ManualLoop loop;
    Popups popups(loop);
    popups.progress.setText("Setting .    ");
    popups.progress.open();
    popups.progress.setText("Setting . .  ");
    popups.progress.open();  // already open: nothing new
    EXPECT_EQ(popups.progress.text(), "Setting .    ");
    popups.progress.refresh();
    EXPECT_EQ(popups.progress.text(), "Setting . .  ");
    popups.progress.close();
    EXPECT_FALSE(popups.progress.isOpen());
}

TEST(ConfigStatusPopup, AnimatesTimesOutAndKeepsItsPhaseAcrossOpenings)
{
    ManualLoop loop;
    Popups popups(loop);
    auto& popup = popups.configStatus;
    popup.open();
    EXPECT_EQ(popup.text(), "Configuring . . .");
    loop.advance(500);
    EXPECT_EQ(popup.text(), "Configuring . .  ");
    loop.advance(500);
    EXPECT_EQ(popup.text(), "Configuring . . .");
    loop.advance(9000);
    EXPECT_EQ(popup.text(), "configure failed!");
    loop.advance(1999);
    EXPECT_TRUE(popup.isOpen());
    loop.advance(1);
    EXPECT_FALSE(popup.isOpen());
    EXPECT_EQ(loop.runningTimerCount(), 0u);

    // 20 animation steps so far: the phase carries on from there.
    const auto phase = popup.phase();
    popup.open();
    loop.advance(500);
    EXPECT_NE(popup.phase(), phase);
    popup.setText("Searching Matrix IP . . .");
    loop.advance(20000);
    EXPECT_EQ(popup.text(), "Searching Matrix IP . . .");
    EXPECT_TRUE(popup.isOpen());
    popup.close();
    EXPECT_EQ(loop.runningTimerCount(), 0u);
}

TEST(ConfigStatusPopup, AcknowledgedAttemptEndsWithSuccessAndClearsTheFlag)
{
    ManualLoop loop;
    Popups popups(loop);
    popups.configStatus.open();
    popups.configStatus.configAcknowledged = 1;
    loop.advance(10000);
    EXPECT_EQ(popups.configStatus.text(), "Matrix configuration completed successfully!");
    EXPECT_EQ(popups.configStatus.configAcknowledged, 0);
}
