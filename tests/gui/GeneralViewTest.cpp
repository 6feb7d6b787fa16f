// SPDX-License-Identifier: Apache-2.0
#include "gui/pages/general/GeneralView.h"

#include "core/pages/general/GeneralPage.h"
#include "core/transport/ComPorts.h"
#include "gui/app/PopupViews.h"
#include "gui/skin/LinkIndicator.h"
#include "tests/gui/GuiTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <gtest/gtest.h>

using namespace matrix;
using namespace matrix::testing;

namespace {

const QColor kGreen(0, 255, 0);
const QColor kRed(255, 0, 0);

struct GeneralGui : GuiRig {
    gui::GeneralView* view = nullptr;
    GeneralGui() { view = static_cast<gui::GeneralView*>(window->pageView(Tab::General)); }

    QColor textColour(QLabel* label) const { return label->palette().color(QPalette::WindowText); }

    // The simulator's cables: IN1 and IN3, OUTA, OUTB and OUTD are attached.
    void expectFullStatus()
    {
        const char* inputs[] = {"HDMI IN1: Connect", "HDMI IN2: Disconnect", "HDMI IN3: Connect",
                                "HDMI IN4: Disconnect"};
        const char* outputs[] = {"HDMI OUTA: Connect", "HDMI OUTB: Connect", "HDMI OUTC: Disconnect",
                                 "HDMI OUTD: Connect"};
        for (int n = 1; n <= 4; ++n) {
            EXPECT_EQ(child<QLabel>(view, "inputState" + QString::number(n))->text(), inputs[n - 1]);
            EXPECT_EQ(child<QLabel>(view, "outputState" + QString::number(n))->text(), outputs[n - 1]);
            EXPECT_EQ(textColour(child<QLabel>(view, "inputState" + QString::number(n))),
                      rig.device.inputCable[n - 1] ? kGreen : kRed)
                << "IN" << n;
            EXPECT_EQ(textColour(child<QLabel>(view, "outputState" + QString::number(n))),
                      rig.device.outputCable[n - 1] ? kGreen : kRed)
                << "OUT" << n;
        }
        for (int n = 5; n <= 8; ++n) {
            EXPECT_TRUE(child<QLabel>(view, "inputState" + QString::number(n))->text().isEmpty());
            EXPECT_FALSE(child<QLabel>(view, "inputState" + QString::number(n))->isVisible());
        }
    }

    void connectCom()
    {
        // The rescan finds the simulated matrix on COM3.
        advance(600);
        ASSERT_EQ(child<QComboBox>(view, "comList")->count(), 1);
        ASSERT_EQ(child<QComboBox>(view, "comList")->currentText(), "COM3");
        click(child<QPushButton>(view, "comConnectButton"));
        advance(50);
    }

    // Connected on COM3 to a matrix that no longer answers, a status run started.
    void startStatusRunOnSilentMatrix()
    {
        connectCom();
        rig.serialMatrix.setSilent(true);
        click(child<QPushButton>(view, "statusButton"));
    }

    // The notice is up with `text`, recorded as the screenshot `shot`.
    void expectNotice(const char* text, const char* shot)
    {
        ASSERT_TRUE(window->noticeView()->isVisible());
        EXPECT_EQ(window->noticeView()->text(), text);
        EXPECT_FALSE(saveScreenshot(*window, shot).isEmpty());
    }
};

}  // namespace

TEST(GeneralView, comConnectAndStatusRunFillTheLabels)
{
    GeneralGui gui;
    EXPECT_TRUE(child<QRadioButton>(gui.view, "comModeRadio")->isChecked());
    EXPECT_FALSE(child<QComboBox>(gui.view, "ipList")->isEnabled());
    EXPECT_FALSE(child<gui::LinkIndicator>(gui.view, "comIndicator")->isConnected());
    for (int n = 1; n <= 4; ++n)
        EXPECT_TRUE(child<QLabel>(gui.view, "inputState" + QString::number(n))->text().isEmpty());
    gui.advance(600);
    EXPECT_FALSE(saveScreenshot(*gui.window, "general_idle").isEmpty());

    // The device path shows as a tooltip of the COM row.
    ASSERT_EQ(child<QComboBox>(gui.view, "comList")->count(), 1);
    EXPECT_FALSE(child<QComboBox>(gui.view, "comList")->itemData(0, Qt::ToolTipRole).toString().isEmpty());

    gui.connectCom();
    EXPECT_EQ(child<QPushButton>(gui.view, "comConnectButton")->text(), "Disconnect");
    EXPECT_TRUE(child<gui::LinkIndicator>(gui.view, "comIndicator")->isConnected());
    EXPECT_FALSE(child<QComboBox>(gui.view, "comList")->isEnabled());
    // The beep query after Connect: the matrix beeps.
    EXPECT_TRUE(child<QCheckBox>(gui.view, "beepBox")->isChecked());

    // A slow matrix, so that the run can be watched half-way.
    gui.rig.serialMatrix.setReplyDelayMs(400);
    click(child<QPushButton>(gui.view, "statusButton"));
    gui.advance(1500);  // timer 91 starts the chain; three replies are in
    EXPECT_EQ(child<QLabel>(gui.view, "inputState1")->text(), "HDMI IN1: Connect");
    EXPECT_TRUE(child<QLabel>(gui.view, "outputState4")->text().isEmpty());
    ASSERT_TRUE(gui.window->progressView()->isVisible());
    EXPECT_TRUE(gui.window->progressView()->text().startsWith("Getting status"));
    EXPECT_FALSE(saveScreenshot(*gui.window, "general_status_running").isEmpty());

    ASSERT_TRUE(gui.rig.loop.advanceUntil([&] { return !gui.session.popups.progress.isOpen(); }, 5000));
    gui.advance(10);
    EXPECT_FALSE(gui.window->progressView()->isVisible());
    gui.expectFullStatus();
    EXPECT_FALSE(gui.window->noticeView()->isVisible());
    EXPECT_FALSE(saveScreenshot(*gui.window, "general_status_done").isEmpty());

    click(child<QPushButton>(gui.view, "clearButton"));
    EXPECT_TRUE(child<QLabel>(gui.view, "inputState1")->text().isEmpty());
    EXPECT_TRUE(child<QLabel>(gui.view, "outputState4")->text().isEmpty());

    click(child<QPushButton>(gui.view, "comConnectButton"));
    EXPECT_EQ(child<QPushButton>(gui.view, "comConnectButton")->text(), "Connect");
    EXPECT_FALSE(child<gui::LinkIndicator>(gui.view, "comIndicator")->isConnected());
    EXPECT_TRUE(child<QComboBox>(gui.view, "comList")->isEnabled());
}

TEST(GeneralView, silentMatrixEndsInTimeOutNotice)
{
    GeneralGui gui;
    gui.startStatusRunOnSilentMatrix();
    gui.advance(5300);
    EXPECT_TRUE(gui.window->progressView()->isVisible()) << "still waiting after the re-send";
    gui.advance(5000);
    EXPECT_FALSE(gui.window->progressView()->isVisible());
    ASSERT_NO_FATAL_FAILURE(gui.expectNotice("Time out!", "general_notice_time_out"));
    gui.advance(1000);
    EXPECT_FALSE(gui.window->noticeView()->isVisible());
}

TEST(GeneralView, beepBoxChangesOnlyOnTheAcknowledgement)
{
    GeneralGui gui;
    gui.connectCom();
    ASSERT_TRUE(child<QCheckBox>(gui.view, "beepBox")->isChecked());
    gui.rig.serialMatrix.setSilent(true);
    click(child<QCheckBox>(gui.view, "beepBox"));
    EXPECT_TRUE(child<QCheckBox>(gui.view, "beepBox")->isChecked()) << "the toolkit's own toggle is undone";
    gui.advance(1000);
    EXPECT_TRUE(child<QCheckBox>(gui.view, "beepBox")->isChecked()) << "no acknowledgement, no change";

    gui.rig.serialMatrix.setSilent(false);
    click(child<QCheckBox>(gui.view, "beepBox"));
    gui.advance(50);
    EXPECT_FALSE(child<QCheckBox>(gui.view, "beepBox")->isChecked());
    EXPECT_FALSE(gui.rig.device.beepOn);
}

TEST(GeneralView, notConnectedClicksShowTheGuardNotice)
{
    GeneralGui gui;
    click(child<QPushButton>(gui.view, "factoryResetButton"));
    ASSERT_TRUE(gui.window->noticeView()->isVisible());
    EXPECT_EQ(gui.window->noticeView()->text(), "Open COM failed!");
    gui.advance(1500);
    EXPECT_FALSE(gui.window->noticeView()->isVisible());
}

TEST(GeneralView, tcpConnectWithTypedAddressAndStatus)
{
    GeneralGui gui;
    click(child<QRadioButton>(gui.view, "tcpModeRadio"));
    EXPECT_TRUE(child<QComboBox>(gui.view, "ipList")->isEnabled());
    EXPECT_FALSE(child<QComboBox>(gui.view, "comList")->isEnabled());
    child<QComboBox>(gui.view, "ipList")->setFocus();
    QTest::keyClicks(child<QComboBox>(gui.view, "ipList")->lineEdit(), TestRig::kAddress);
    EXPECT_EQ(gui.session.general.ipText(), TestRig::kAddress);

    click(child<QPushButton>(gui.view, "tcpConnectButton"));
    gui.advance(150);  // the 100 ms connect check
    EXPECT_EQ(child<QPushButton>(gui.view, "tcpConnectButton")->text(), "Disconnect");
    EXPECT_TRUE(child<gui::LinkIndicator>(gui.view, "tcpIndicator")->isConnected());
    EXPECT_EQ(gui.session.link.tcpLinkUp(), 1);
    EXPECT_TRUE(child<QCheckBox>(gui.view, "beepBox")->isChecked());
    EXPECT_FALSE(saveScreenshot(*gui.window, "general_tcp_connected").isEmpty());

    click(child<QPushButton>(gui.view, "statusButton"));
    ASSERT_TRUE(gui.rig.loop.advanceUntil([&] { return !gui.session.popups.progress.isOpen(); }, 5000));
    gui.advance(10);
    gui.expectFullStatus();
}

TEST(GeneralView, wrongAddressShowsConnectFailedNotice)
{
    GeneralGui gui;
    click(child<QRadioButton>(gui.view, "tcpModeRadio"));
    QTest::keyClicks(child<QComboBox>(gui.view, "ipList")->lineEdit(), "127.0.0.9");
    click(child<QPushButton>(gui.view, "tcpConnectButton"));
    gui.advance(150);
    EXPECT_EQ(child<QPushButton>(gui.view, "tcpConnectButton")->text(), "Connect");
    EXPECT_FALSE(child<gui::LinkIndicator>(gui.view, "tcpIndicator")->isConnected());
    ASSERT_NO_FATAL_FAILURE(gui.expectNotice("Connect to Matrix failed!", "general_notice_connect_failed"));
}

TEST(GeneralView, factoryResetShowsProgressThenSuccessAndChecksBeep)
{
    GeneralGui gui;
    gui.connectCom();
    gui.rig.device.beepOn = false;
    gui.rig.device.routing = {4, 3, 2, 1, 5, 6, 7, 8};
    // Refresh the box from the matrix: a beep click that the matrix acknowledges.
    click(child<QCheckBox>(gui.view, "beepBox"));
    gui.advance(50);
    ASSERT_FALSE(child<QCheckBox>(gui.view, "beepBox")->isChecked());

    gui.rig.serialMatrix.setReplyDelayMs(300);
    click(child<QPushButton>(gui.view, "factoryResetButton"));
    gui.advance(700);
    ASSERT_TRUE(gui.window->progressView()->isVisible());
    EXPECT_TRUE(gui.window->progressView()->text().startsWith("Setting"));
    EXPECT_FALSE(saveScreenshot(*gui.window, "general_factory_reset_running").isEmpty());

    ASSERT_TRUE(gui.rig.loop.advanceUntil([&] { return gui.session.popups.notice.isOpen(); }, 10000));
    gui.advance(10);
    EXPECT_FALSE(gui.window->progressView()->isVisible());
    ASSERT_NO_FATAL_FAILURE(gui.expectNotice("Set successfully!", "general_notice_set_successfully"));
    // The box is checked once the notice has closed.
    gui.advance(1500);
    EXPECT_FALSE(gui.window->noticeView()->isVisible());
    EXPECT_TRUE(child<QCheckBox>(gui.view, "beepBox")->isChecked());
    EXPECT_EQ(gui.rig.device.routing[0], 1);
    EXPECT_EQ(gui.rig.device.routing[3], 4);
}

TEST(GeneralView, standbyDuringAStatusRunClosesTheProgressWithItsNotice)
{
    GeneralGui gui;
    gui.startStatusRunOnSilentMatrix();
    gui.advance(300);
    ASSERT_TRUE(gui.window->progressView()->isVisible());
    gui.rig.serialMatrix.sendStandby();
    gui.advance(50);
    EXPECT_FALSE(gui.window->progressView()->isVisible());
    ASSERT_NO_FATAL_FAILURE(gui.expectNotice("Matrix is in standby mode!", "general_notice_standby"));
    // No "Time out!" follows: the run is over.
    gui.advance(12000);
    EXPECT_FALSE(gui.window->noticeView()->isVisible());
    EXPECT_EQ(gui.session.popups.notice.timesOpened(), 1);
}

TEST(GeneralView, rescanKeepsTheChosenPortAndShowsItsDevice)
{
    GeneralGui gui;
    gui.rig.serialHub.addPort(5);
    gui.advance(600);
    ASSERT_EQ(child<QComboBox>(gui.view, "comList")->count(), 2);
    EXPECT_EQ(child<QComboBox>(gui.view, "comList")->itemText(0), "COM3");
    EXPECT_EQ(child<QComboBox>(gui.view, "comList")->itemText(1), "COM5");
    EXPECT_EQ(child<QComboBox>(gui.view, "comList")->currentText(), "COM3");

    child<QComboBox>(gui.view, "comList")->setFocus();
    QTest::keyClick(child<QComboBox>(gui.view, "comList"), Qt::Key_Down);
    processGuiEvents();
    EXPECT_EQ(gui.session.general.comSelectedText(), "COM5");
    gui.advance(1000);  // two rescans
    EXPECT_EQ(child<QComboBox>(gui.view, "comList")->currentText(), "COM5");
    EXPECT_EQ(child<QComboBox>(gui.view, "comList")->toolTip(), QString::fromStdString(comDevicePath(5)));

    gui.rig.serialHub.unplug(5);
    gui.advance(600);
    ASSERT_EQ(child<QComboBox>(gui.view, "comList")->count(), 1);
    EXPECT_EQ(child<QComboBox>(gui.view, "comList")->currentText(), "COM3");
}
