// SPDX-License-Identifier: Apache-2.0
#include "gui/pages/routing/RoutingView.h"

#include "core/pages/routing/RoutingPage.h"
#include "gui/app/PopupView.h"
#include "gui/skin/GradientButton.h"
#include "gui/skin/ImageButton.h"
#include "gui/skin/SegmentDisplay.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/support/Transport.h"

#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace matrix;
using namespace matrix::testing;

namespace {

gui::RoutingView* openMatrixTab(GuiRig& gui, Transport transport)
{
    return qobject_cast<gui::RoutingView*>(gui.openTab(Tab::Matrix, transport));
}

int checkedButton(gui::RoutingView* view, int output)
{
    int checked = 0;
    for (int input = 1; input <= gui::RoutingView::kInputs; ++input)
        if (child<gui::ImageButton>(view, "input" + outputLetter(output) + QString::number(input))->check())
            checked = checked ? -1 : input;
    return checked;
}

class RoutingViewTest : public ::testing::TestWithParam<Transport> {};

INSTANTIATE_TEST_SUITE_P(BothTransports, RoutingViewTest, bothTransports(), transportName);

TEST_P(RoutingViewTest, TabShowsTheMatrixRoutingAfterRefresh)
{
    GuiRig gui;
    gui.rig.device.routing = {2, 4, 1, 3, 5, 6, 7, 8};
    gui::RoutingView* view = openMatrixTab(gui, GetParam());
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(view->isVisible());

    const char* titles[] = {"OUTPUT A", "OUTPUT B", "OUTPUT C", "OUTPUT D"};
    const int expected[] = {2, 4, 1, 3};
    for (int k = 1; k <= 4; ++k) {
        EXPECT_EQ(child<QGroupBox>(view, "outputGroup" + outputLetter(k))->title(), titles[k - 1]);
        EXPECT_EQ(child<gui::SegmentDisplay>(view, "display" + outputLetter(k))->text(),
                  QString::number(expected[k - 1]));
        EXPECT_EQ(checkedButton(view, k), expected[k - 1]) << "output " << k;
    }
    EXPECT_EQ(gui.session.link.busy, 0);
    EXPECT_FALSE(child<QFrame>(view, "routingSidePanel")->isVisible());

    // Everything visible sits inside the page and inside its own group.
    for (QWidget* w : view->findChildren<QWidget*>()) {
        if (!w->isVisible())
            continue;
        const QRect r(w->mapTo(view, QPoint(0, 0)), w->size());
        EXPECT_TRUE(view->rect().contains(r)) << w->objectName().toStdString();
    }
    if (GetParam() == Transport::Com) {
        EXPECT_FALSE(saveScreenshot(*gui.window, "routing_after_refresh").isEmpty());
    }
}

TEST_P(RoutingViewTest, GridClickChangesDigitAndCheckedButton)
{
    GuiRig gui;
    gui::RoutingView* view = openMatrixTab(gui, GetParam());
    ASSERT_NE(view, nullptr);
    ASSERT_EQ(checkedButton(view, 2), 2);

    click(child<gui::ImageButton>(view, "inputB3"));
    gui.settle();
    EXPECT_EQ(child<gui::SegmentDisplay>(view, "displayB")->text(), "3");
    EXPECT_EQ(checkedButton(view, 2), 3);
    EXPECT_EQ(gui.rig.device.routing[1], 3);

    click(child<gui::ImageButton>(view, "nextD"));
    gui.settle();
    EXPECT_EQ(child<gui::SegmentDisplay>(view, "displayD")->text(), "1");
    EXPECT_EQ(checkedButton(view, 4), 1);
    click(child<gui::ImageButton>(view, "previousD"));
    gui.settle();
    EXPECT_EQ(checkedButton(view, 4), 4);
}

TEST(RoutingView, RouteWithoutReplyShowsProgressAndKeepsTheGrid)
{
    GuiRig gui;
    gui::RoutingView* view = openMatrixTab(gui, Transport::Com);
    ASSERT_NE(view, nullptr);
    gui.rig.serialMatrix.setSilent(true);

    click(child<gui::ImageButton>(view, "inputA4"));
    gui.settle();
    // The click's own toggle is undone: only a reply changes the grid.
    EXPECT_EQ(checkedButton(view, 1), 1);
    EXPECT_FALSE(child<gui::ImageButton>(view, "inputA4")->check());
    // A second click while the route is out changes nothing.
    click(child<gui::ImageButton>(view, "inputC2"));
    EXPECT_EQ(checkedButton(view, 3), 3);

    gui.advance(3100);
    ASSERT_TRUE(gui.session.popups.progress.isOpen());
    bool progressShown = false;
    for (gui::PopupView* popup : gui.window->popupViews())
        progressShown = progressShown || (popup && popup->isVisible());
    EXPECT_TRUE(progressShown);
    EXPECT_FALSE(saveScreenshot(*gui.window, "routing_route_progress").isEmpty());

    gui.advance(5000);
    EXPECT_EQ(gui.session.popups.notice.text(), "Time out!");
    gui.advance(1600);
    EXPECT_EQ(gui.session.link.busy, 0);
    EXPECT_EQ(checkedButton(view, 1), 1);
}

TEST(RoutingView, SidePanelRecallsAPresetAndEditsIt)
{
    GuiRig gui;
    gui::RoutingView* view = openMatrixTab(gui, Transport::Com);
    ASSERT_NE(view, nullptr);

    click(child<QToolButton>(view, "panelToggle"));
    ASSERT_TRUE(child<QFrame>(view, "routingSidePanel")->isVisible());
    EXPECT_TRUE(view->rect().contains(child<QFrame>(view, "routingSidePanel")->geometry()));
    EXPECT_EQ(child<QTableWidget>(view, "presetList")->item(0, 0)->text(), "Setting1");
    EXPECT_EQ(child<QTableWidget>(view, "presetList")->item(0, 1)->text(), "2");
    EXPECT_EQ(child<QTableWidget>(view, "presetList")->horizontalHeaderItem(1)->text(), "Output1");
    // The list's columns are 80 and 70 pixels; the name and Output1..4 show
    // whole in the panel, the other outputs are behind the scroll bar.
    QTableWidget* list = child<QTableWidget>(view, "presetList");
    EXPECT_EQ(list->columnWidth(0), 80);
    for (int column = 1; column <= 8; ++column)
        EXPECT_EQ(list->columnWidth(column), 70) << column;
    EXPECT_LE(list->columnViewportPosition(4) + 70, list->viewport()->width());
    EXPECT_EQ(child<QComboBox>(view, "configTargetList")->itemText(9), "Port to Port");
    EXPECT_EQ(child<gui::GradientButton>(view, "editButton")->text(), "Edit");
    EXPECT_FALSE(saveScreenshot(*gui.window, "routing_side_panel").isEmpty());

    click(child<gui::GradientButton>(view, "setButton"));
    gui.settle();
    for (int k = 1; k <= 4; ++k) {
        EXPECT_EQ(child<gui::SegmentDisplay>(view, "display" + outputLetter(k))->text(), "2");
        EXPECT_EQ(checkedButton(view, k), 2);
    }

    click(child<gui::GradientButton>(view, "editButton"));
    ASSERT_TRUE(child<QDialog>(view, "presetEditor")->isVisible());
    auto* allFrom = child<QDialog>(view, "presetEditor")->findChild<QComboBox*>("presetAllFrom");
    ASSERT_NE(allFrom, nullptr);
    allFrom->setCurrentIndex(9);
    emit allFrom->activated(9);
    processGuiEvents();
    EXPECT_EQ(child<QDialog>(view, "presetEditor")->findChild<QComboBox*>("presetInput3")->currentIndex(), 2);
    EXPECT_FALSE(saveScreenshot(*child<QDialog>(view, "presetEditor"), "routing_preset_editor").isEmpty());
    click(child<QDialog>(view, "presetEditor")->findChild<QPushButton*>("presetOk"));
    EXPECT_FALSE(child<QDialog>(view, "presetEditor")->isVisible());
    EXPECT_EQ(child<QTableWidget>(view, "presetList")->item(0, 3)->text(), "3");

    click(child<QToolButton>(view, "panelToggle"));
    EXPECT_FALSE(child<QFrame>(view, "routingSidePanel")->isVisible());
}

TEST(RoutingView, PanelWithoutThePagesPortAsksForIt)
{
    GuiRig gui;
    gui::RoutingView* view = openMatrixTab(gui, Transport::Tcp);
    ASSERT_NE(view, nullptr);
    click(child<QToolButton>(view, "panelToggle"));
    click(child<gui::GradientButton>(view, "setButton"));
    ASSERT_TRUE(child<QMessageBox>(view, "routingMessageBox")->isVisible());
    EXPECT_EQ(child<QMessageBox>(view, "routingMessageBox")->text(), "请打开串口");
    child<QMessageBox>(view, "routingMessageBox")->button(QMessageBox::Ok)->click();
    processGuiEvents();
    EXPECT_FALSE(gui.session.routing.messageBoxOpen());
    EXPECT_FALSE(child<QMessageBox>(view, "routingMessageBox")->isVisible());
}

}  // namespace
