// SPDX-License-Identifier: Apache-2.0
// "Search" and "Config..." on the General page, the network configuration
// dialog and the configuration status popup, on the real widgets with two
// simulated matrices on an in-memory segment.
#include "tests/gui/GuiTestSupport.h"

#include "gui/app/PopupViews.h"
#include "gui/net/NetworkConfigDialog.h"
#include "gui/pages/general/GeneralView.h"
#include "gui/skin/ImageButton.h"
#include "platform/QtDatagramSocket.h"
#include "tests/support/SegmentMatrix.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QUdpSocket>

#include <gtest/gtest.h>

using namespace matrix;
using namespace matrix::testing;

namespace {

// The window on a segment with two matrices.
struct NetGuiRig : SegmentPlatform {
    SegmentMatrix first{segment, {0x00, 0x1C, 0x91, 0x03, 0x40, 0x5A}, {192, 168, 1, 20}};
    SegmentMatrix second{segment, {0x00, 0x1C, 0x91, 0x07, 0xBE, 0xEF}, {192, 168, 1, 21}};
    MatrixSession session{platform};
    std::unique_ptr<gui::MainWindow> window;

    NetGuiRig()
    {
        window = std::make_unique<gui::MainWindow>(session);
        window->show();
        processGuiEvents();
    }
    ~NetGuiRig() { window.reset(); }

    void settle()
    {
        rig.loop.runPending();
        processGuiEvents();
    }
    void advance(std::int64_t ms)
    {
        for (std::int64_t done = 0; done < ms; done += 10) {
            rig.loop.advance(std::min<std::int64_t>(10, ms - done));
            QApplication::processEvents();
        }
        processGuiEvents();
    }
    gui::GeneralView* general() const { return window->findChild<gui::GeneralView*>("generalView"); }
    gui::NetworkConfigDialog* dialog() const { return window->networkConfigDialog(); }
    template <typename T>
    T* find(const char* name) const
    {
        return child<T>(window.get(), name);
    }
    void search()
    {
        click(find<QRadioButton>("tcpModeRadio"));
        click(child<QPushButton>(general(), "searchButton"));
        settle();
    }
    // The window with the dialog and the popups over it, as the user sees it.
    QString screenshot(const QString& name)
    {
        processGuiEvents();
        QImage image = grabWithPopups(*window);
        if (dialog()->isVisible()) {
            QPainter painter(&image);
            painter.drawImage(dialog()->geometry().topLeft() - window->geometry().topLeft(),
                              dialog()->grab().toImage());
        }
        const QString path = screenshotPath(name);
        return image.save(path) ? path : QString();
    }
    // After OK: the status popup is up with `text`, recorded as `shot`.
    void expectStatusPopup(const char* text, const char* shot)
    {
        settle();
        auto* status = window->configStatusView();
        ASSERT_TRUE(status->isVisible());
        EXPECT_EQ(status->text(), text);
        EXPECT_FALSE(screenshot(shot).isEmpty());
    }
};

QStringList comboTexts(QComboBox* combo)
{
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i)
        texts << combo->itemText(i);
    return texts;
}

}  // namespace

TEST(NetworkConfigView, SearchFillsTheIpList)
{
    NetGuiRig gui;
    QComboBox* ipList = gui.find<QComboBox>("ipList");
    ASSERT_NE(ipList, nullptr);
    gui.search();
    EXPECT_EQ(comboTexts(ipList), (QStringList{"192.168.1.20", "192.168.1.21"}));
    EXPECT_EQ(ipList->currentText(), "192.168.1.20");
    EXPECT_FALSE(gui.screenshot("net-search-list").isEmpty());
}

TEST(NetworkConfigView, DialogSendsTheStaticAddressAndThePopupFollowsTheAttempt)
{
    NetGuiRig gui;
    gui.search();
    gui::NetworkConfigDialog* dialog = gui.dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(dialog->isVisible());

    click(gui.find<QPushButton>("configButton"));
    ASSERT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->isModal());
    EXPECT_TRUE(dialog->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(child<QLabel>(dialog, "netConfigTitle")->text(), " TCP  Configuration");
    EXPECT_TRUE(child<QRadioButton>(dialog, "autoIpRadio")->isChecked());
    EXPECT_FALSE(child<QLineEdit>(dialog, "addressField1")->isEnabled());
    EXPECT_EQ(child<QLineEdit>(dialog, "addressField1")->text(), "192");
    EXPECT_EQ(child<QLineEdit>(dialog, "addressField4")->text(), "20");
    EXPECT_EQ(child<QLineEdit>(dialog, "macField6")->text(), "5A");

    click(child<QRadioButton>(dialog, "staticIpRadio"));
    EXPECT_TRUE(child<QLineEdit>(dialog, "addressField4")->isEnabled());
    child<QLineEdit>(dialog, "addressField4")->selectAll();
    QTest::keyClicks(child<QLineEdit>(dialog, "addressField4"), "5x0");  // digits only
    EXPECT_EQ(child<QLineEdit>(dialog, "addressField4")->text(), "50");
    child<QLineEdit>(dialog, "macField6")->selectAll();
    QTest::keyClicks(child<QLineEdit>(dialog, "macField6"), "5b");
    EXPECT_EQ(child<QLineEdit>(dialog, "macField6")->text(), "5B");  // typed in upper case
    EXPECT_FALSE(gui.screenshot("net-config-dialog").isEmpty());
    const QString dialogPath = screenshotPath("net-config-dialog-alone");
    EXPECT_TRUE(dialog->grab().save(dialogPath));

    // This box takes the address but its acknowledgement never arrives.
    gui.first.responder.setAckSilent(true);
    click(child<QPushButton>(dialog, "netConfigOk"));
    EXPECT_FALSE(dialog->isVisible());
    ASSERT_FALSE(gui.segment.sent.empty());
    const auto& message = gui.segment.sent.back().data;
    ASSERT_EQ(message.size(), 76u);
    EXPECT_EQ(message[9], 50);
    EXPECT_EQ(message[24], 0x5B);

    ASSERT_NO_FATAL_FAILURE(gui.expectStatusPopup("Configuring . . .", "net-config-status"));
    auto* status = gui.window->configStatusView();
    gui.advance(10000);
    EXPECT_EQ(status->text(), "configure failed!");
    gui.advance(2000);
    EXPECT_FALSE(status->isVisible());
}

TEST(NetworkConfigView, AcknowledgedAttemptEndsWithTheNewAddressListed)
{
    NetGuiRig gui;
    gui.search();
    click(gui.find<QPushButton>("configButton"));
    gui::NetworkConfigDialog* dialog = gui.dialog();
    click(child<QRadioButton>(dialog, "staticIpRadio"));
    child<QLineEdit>(dialog, "addressField4")->selectAll();
    QTest::keyClicks(child<QLineEdit>(dialog, "addressField4"), "99");
    click(child<QPushButton>(dialog, "netConfigOk"));
    ASSERT_NO_FATAL_FAILURE(
        gui.expectStatusPopup("Matrix configuration completed successfully!", "net-config-success"));
    auto* status = gui.window->configStatusView();
    gui.advance(2000);
    EXPECT_EQ(status->text(), "Searching Matrix IP . . .");
    gui.advance(500);
    gui.settle();
    EXPECT_FALSE(status->isVisible());
    EXPECT_EQ(comboTexts(gui.find<QComboBox>("ipList")), (QStringList{"192.168.1.99", "192.168.1.21"}));
}

TEST(NetworkConfigView, CancelAndCloseSendNothingAndTheDialogDrags)
{
    NetGuiRig gui;
    gui.search();
    const std::size_t sent = gui.segment.sent.size();
    click(gui.find<QPushButton>("configButton"));
    gui::NetworkConfigDialog* dialog = gui.dialog();
    click(child<QPushButton>(dialog, "netConfigCancel"));
    EXPECT_FALSE(dialog->isVisible());
    click(gui.find<QPushButton>("configButton"));
    ASSERT_TRUE(dialog->isVisible());
    click(child<gui::ImageButton>(dialog, "netConfigClose"));
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(gui.segment.sent.size(), sent);

    click(gui.find<QPushButton>("configButton"));
    // Enter, Escape and Space do nothing here either: no close, no send.
    child<QPushButton>(dialog, "netConfigOk")->setFocus();
    for (int key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Space})
        QTest::keyClick(child<QPushButton>(dialog, "netConfigOk"), static_cast<Qt::Key>(key));
    QTest::keyClick(child<QLineEdit>(dialog, "macField1"), Qt::Key_Space);
    processGuiEvents();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(gui.segment.sent.size(), sent);
    EXPECT_EQ(child<QLineEdit>(dialog, "macField1")->text(), "00");

    const QPoint before = dialog->pos();
    QLabel* title = child<QLabel>(dialog, "netConfigTitle");
    QTest::mousePress(title, Qt::LeftButton, {}, QPoint(40, 10));
    QTest::mouseMove(title, QPoint(90, 40));
    QTest::mouseRelease(title, Qt::LeftButton, {}, QPoint(90, 40));
    processGuiEvents();
    EXPECT_EQ(dialog->pos(), before + QPoint(50, 30));
}

// Another program holds the discovery port: the window's own socket (the
// real one, as the program binds it) cannot join it, and the user reads
// "Search failed" instead of an empty list. The holder binds loopback only;
// if something else already holds the port, the window's bind fails all the
// same. Nothing is sent: a failed bind ends the search (and should the bind
// ever succeed, the broadcast is redirected to loopback).
TEST(NetworkConfigView, SecondBindOfTheDiscoveryPortShowsSearchFailed)
{
    qputenv("MATRIX_BROADCAST_ADDRESS", "127.255.255.255");
    TestRig rig;
    QtDatagramSocket windowSocket;  // as the program makes it
    Platform platform{rig.loop, [&] { return rig.serialHub.makeSerial(); }, rig.linkSocket, windowSocket};
    MatrixSession session(platform);
    auto window = std::make_unique<gui::MainWindow>(session);
    window->show();

    QUdpSocket otherProgram;
    otherProgram.bind(QHostAddress::LocalHost, kDiscoveryPort, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);

    click(window->findChild<QRadioButton*>("tcpModeRadio"));
    click(child<QPushButton>(window.get(), "searchButton"));
    rig.loop.runPending();
    processGuiEvents();
    EXPECT_TRUE(window->noticeView()->isVisible());
    EXPECT_EQ(session.popups.notice.text(), "Search failed");
    EXPECT_EQ(window->findChild<QComboBox*>("ipList")->count(), 0);
    EXPECT_FALSE(saveScreenshot(*window, "net-search-failed").isEmpty());

    rig.loop.advance(3000);
    processGuiEvents();
    EXPECT_FALSE(window->noticeView()->isVisible()) << "the notice closes by its timer";
    window.reset();
    qunsetenv("MATRIX_BROADCAST_ADDRESS");
}
