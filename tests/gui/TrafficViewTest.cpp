// SPDX-License-Identifier: Apache-2.0
// The installers' traffic view: hidden until Ctrl+L, the shown page's sent
// and received bytes as the pages log them, Clear and Copy.
#include "gui/app/TrafficView.h"

#include "core/link/HexLog.h"
#include "gui/pages/general/GeneralView.h"
#include "tests/gui/GuiTestSupport.h"

#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace matrix;
using namespace matrix::testing;

namespace {

// What the page's log must show for the frames the matrix took off the
// line: "%02X " per byte, a line break after every 13 bytes.
QString hexLines(const std::vector<CommandFrame>& frames)
{
    QString text;
    for (const CommandFrame& f : frames) {
        for (std::size_t i = 0; i < CommandFrame::kSize; ++i)
            text += QString::fromStdString(HexLog::hexByte(f.data()[i]));
        text += "\n";
    }
    return text;
}

void pressKeys(QWidget* w)
{
    QTest::keyClick(w, Qt::Key_L, Qt::ControlModifier);
    processGuiEvents();
}

void selectTab(gui::MainWindow& w, Tab tab)
{
    QTest::mouseClick(&w, Qt::LeftButton, Qt::NoModifier, w.tabLabel(tab)->geometry().center());
    processGuiEvents();
}

}  // namespace

TEST(TrafficView, ctrlLShowsTheShownPagesBytesAndClearAndCopyActOnTheViewOnly)
{
    GuiRig gui;
    gui::MainWindow& w = *gui.window;
    gui::TrafficView* traffic = w.trafficView();
    ASSERT_NE(traffic, nullptr);
    EXPECT_FALSE(traffic->isVisible()) << "hidden unless asked for";

    // COM Connect on the General page: its beep query goes out.
    auto* general = w.findChild<gui::GeneralView*>("generalView");
    gui.advance(600);
    click(child<QPushButton>(general, "comConnectButton"));
    gui.advance(200);

    w.activateWindow();
    pressKeys(&w);
    ASSERT_TRUE(traffic->isVisible());
    EXPECT_EQ(traffic->pageTitle(), "Page: General");
    EXPECT_EQ(traffic->sentText(), hexLines(gui.rig.serialMatrix.received()));
    EXPECT_TRUE(traffic->receivedText().startsWith("A5 5B 01 0B ")) << traffic->receivedText().toStdString();

    // The Matrix tab: the view follows, and shows the refresh's queries.
    gui.rig.serialMatrix.clearReceived();
    selectTab(w, Tab::Matrix);
    gui.advance(1000);
    traffic->refresh();
    EXPECT_EQ(traffic->pageTitle(), "Page: Matrix");
    ASSERT_FALSE(gui.rig.serialMatrix.received().empty());
    EXPECT_EQ(traffic->sentText(), hexLines(gui.rig.serialMatrix.received()));
    const QStringList replies = traffic->receivedText().split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(replies.isEmpty());
    for (const QString& line : replies)
        EXPECT_TRUE(line.startsWith("A5 5B 02 ") && line.size() == 13 * 3) << line.toStdString();
    EXPECT_FALSE(saveScreenshot(*traffic, "traffic_view_matrix").isEmpty());

    // Copy takes what is shown, headed by page and direction.
    click(child<QPushButton>(traffic, "trafficCopy"));
    const QString copied = QApplication::clipboard()->text();
    EXPECT_TRUE(copied.startsWith("Page: Matrix\nSent:\n" + traffic->sentText())) << copied.toStdString();
    EXPECT_TRUE(copied.contains("Received:\n" + traffic->receivedText()));

    // Clear: only bytes after it show; the page's own log keeps everything.
    const std::size_t pageLogBefore = gui.session.routing.sentLog().boxText().size();
    click(child<QPushButton>(traffic, "trafficClear"));
    EXPECT_TRUE(traffic->sentText().isEmpty());
    EXPECT_TRUE(traffic->receivedText().isEmpty());
    EXPECT_EQ(gui.session.routing.sentLog().boxText().size(), pageLogBefore);
    gui.rig.serialMatrix.clearReceived();
    selectTab(w, Tab::Matrix);  // a second refresh
    gui.advance(1000);
    traffic->refresh();
    EXPECT_EQ(traffic->sentText(), hexLines(gui.rig.serialMatrix.received()));

    // Back on General: its log again, not cleared by the Matrix tab's Clear.
    selectTab(w, Tab::General);
    gui.advance(200);
    EXPECT_EQ(traffic->pageTitle(), "Page: General");
    EXPECT_TRUE(traffic->sentText().startsWith("A5 5B 01 0B "));

    pressKeys(traffic);
    EXPECT_FALSE(traffic->isVisible()) << "the same keys close it from the traffic window";
}
