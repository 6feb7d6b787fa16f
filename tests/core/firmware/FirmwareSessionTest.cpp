// SPDX-License-Identifier: Apache-2.0
#include "core/session/MatrixSession.h"

#include "tests/core/firmware/FirmwareTestFiles.h"
#include "tests/support/TestRig.h"

#include <gtest/gtest.h>

using namespace matrix;
using namespace matrix::testing;

// The page inside the whole program: the shell hands it the link, and an
// upgrade in progress holds the tabs.
TEST(FirmwareInSession, UpgradeHoldsTheTabsUntilItEnds)
{
    TestRig rig;
    MatrixSession session(rig.platform);
    ScratchDir dir;
    session.link.controlMode = ControlMode::Tcp;
    session.link.setTcpState(TcpState::Reconnecting);
    session.link.matrixAddress = TestRig::kAddress;

    ASSERT_TRUE(session.shell.selectTab(Tab::FwUpgrade));
    rig.loop.advance(150);
    rig.loop.runPending();
    EXPECT_EQ(session.firmware.deviceLine(), "Device: HDMI MATRIX 4x4          Version: 1.0");

    ASSERT_TRUE(session.firmware.setFilePath(writeContainer(dir, "a.fw", partImage(0xA5, 0x5A, 1500))));
    session.firmware.upgradeClicked();
    rig.loop.advance(500);
    EXPECT_EQ(session.link.firmwareUpgrading, 1);
    EXPECT_FALSE(session.shell.selectTab(Tab::General)) << "no tab switch while an upgrade runs";
    EXPECT_TRUE(session.shell.tabSelected(Tab::FwUpgrade));

    ASSERT_TRUE(rig.loop.advanceUntil(
        [&] { return session.firmware.messages().find("Firmware upgrade Successfully") != std::string::npos; }, 20000));
    rig.loop.runPending();
    EXPECT_TRUE(session.shell.tabButtonsEnabled());
    EXPECT_TRUE(session.shell.selectTab(Tab::General));

    // Back on the tab, 1/1 is the device type again, not a reboot answer.
    ASSERT_TRUE(session.shell.selectTab(Tab::FwUpgrade));
    rig.loop.advance(150);
    rig.loop.runPending();
    EXPECT_EQ(session.firmware.deviceLine(), "Device: HDMI MATRIX 4x4          Version: 1.0");
}
