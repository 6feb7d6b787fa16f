// SPDX-License-Identifier: Apache-2.0
// The window on Qt's own event loop (QtEventLoop, as the program runs it),
// with the simulated matrix behind in-memory links: popups shown with
// show() must let the core's timers run and close them in real time.
#include "gui/MainWindow.h"

#include "gui/app/PopupViews.h"
#include "gui/pages/general/GeneralView.h"
#include "platform/QtEventLoop.h"
#include "tests/gui/GuiTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace matrix;
using namespace matrix::testing;

namespace {

struct QtLoopRig {
    QtEventLoop loop;
    sim::MatrixDevice device;
    sim::MatrixResponder serialMatrix{loop, device};
    MemorySerialHub serialHub{loop};
    MemoryLinkSocket linkSocket{loop};
    MemoryDatagramSocket datagram;
    Platform platform{loop, [this] { return serialHub.makeSerial(); }, linkSocket, datagram};
    std::unique_ptr<MatrixSession> session;
    std::unique_ptr<gui::MainWindow> window;

    QtLoopRig()
    {
        sim::installGeneralCommands(serialMatrix);
        serialHub.addPort(TestRig::kComPort, &serialMatrix);
        session = std::make_unique<MatrixSession>(platform);
        window = std::make_unique<gui::MainWindow>(*session);
        window->show();
    }
    ~QtLoopRig()
    {
        window.reset();
        session.reset();
    }
    gui::GeneralView* general() const { return static_cast<gui::GeneralView*>(window->pageView(Tab::General)); }
};

}  // namespace

TEST(RealLoop, noticeClosesByItselfWhileShown)
{
    QtLoopRig rig;
    click(child<QPushButton>(rig.general(), "factoryResetButton"));
    ASSERT_TRUE(rig.window->noticeView()->isVisible());
    EXPECT_EQ(rig.window->noticeView()->text(), "Open COM failed!");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !rig.window->noticeView()->isVisible(); }, 4000));
    EXPECT_FALSE(rig.session->popups.notice.held());
}

TEST(RealLoop, comConnectAndStatusRun)
{
    QtLoopRig rig;
    gui::GeneralView* view = rig.general();
    ASSERT_TRUE(QTest::qWaitFor([&] { return child<QComboBox>(view, "comList")->count() == 1; }, 3000));
    click(child<QPushButton>(view, "comConnectButton"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return child<QCheckBox>(view, "beepBox")->isChecked(); }, 3000));
    EXPECT_EQ(child<QPushButton>(view, "comConnectButton")->text(), "Disconnect");

    click(child<QPushButton>(view, "statusButton"));
    EXPECT_TRUE(rig.window->progressView()->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !rig.window->progressView()->isVisible(); }, 5000));
    EXPECT_EQ(child<QLabel>(view, "inputState1")->text(), "HDMI IN1: Connect");
    EXPECT_EQ(child<QLabel>(view, "outputState4")->text(), "HDMI OUTD: Connect");
    EXPECT_FALSE(rig.window->noticeView()->isVisible());
}
