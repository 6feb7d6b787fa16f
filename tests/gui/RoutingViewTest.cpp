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
        if (view->inputButton(output, input)->check())
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
        EXPECT_EQ(view->outputGroup(k)->title(), titles[k - 1]);
        EXPECT_EQ(view->display(k)->text(), QString::number(expected[k - 1]));
        EXPECT_EQ(checkedButton(view, k), expected[k - 1]) << "output " << k;
    }
    EXPECT_EQ(gui.session.link.busy, 0);
    EXPECT_FALSE(view->sidePanel()->isVisible());

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

    click(view->inputButton(2, 3));
    gui.settle();
    EXPECT_EQ(view->display(2)->text(), "3");
    EXPECT_EQ(checkedButton(view, 2), 3);
    EXPECT_EQ(gui.rig.device.routing[1], 3);

    click(view->nextButton(4));
    gui.settle();
    EXPECT_EQ(view->display(4)->text(), "1");
    EXPECT_EQ(checkedButton(view, 4), 1);
    click(view->previousButton(4));
    gui.settle();
    EXPECT_EQ(checkedButton(view, 4), 4);
}

TEST(RoutingView, RouteWithoutReplyShowsProgressAndKeepsTheGrid)
{
    GuiRig gui;
    gui::RoutingView* view = openMatrixTab(gui, Transport::Com);
    ASSERT_NE(view, nullptr);
    gui.rig.serialMatrix.setSilent(true);

    click(view->inputButton(1, 4));
    gui.settle();
    // The click's own toggle is undone: only a reply changes the grid.
    EXPECT_EQ(checkedButton(view, 1), 1);
    EXPECT_FALSE(view->inputButton(1, 4)->check());
    // A second click while the route is out changes nothing.
    click(view->inputButton(3, 2));
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

    click(view->panelToggle());
    ASSERT_TRUE(view->sidePanel()->isVisible());
    EXPECT_TRUE(view->rect().contains(view->sidePanel()->geometry()));
    EXPECT_EQ(view->presetList()->item(0, 0)->text(), "Setting1");
    EXPECT_EQ(view->presetList()->item(0, 1)->text(), "2");
    EXPECT_EQ(view->presetList()->horizontalHeaderItem(1)->text(), "Output1");
    // The list's columns are 80 and 70 pixels; the name and Output1..4 show
    // whole in the panel, the other outputs are behind the scroll bar.
    QTableWidget* list = view->presetList();
    EXPECT_EQ(list->columnWidth(0), 80);
    for (int column = 1; column <= 8; ++column)
        EXPECT_EQ(list->columnWidth(column), 70) << column;
    EXPECT_LE(list->columnViewportPosition(4) + 70, list->viewport()->width());
    EXPECT_EQ(view->configTargetList()->itemText(9), "Port to Port");
    EXPECT_EQ(view->editButton()->text(), "Edit");
    EXPECT_FALSE(saveScreenshot(*gui.window, "routing_side_panel").isEmpty());

    click(view->setButton());
    gui.settle();
    for (int k = 1; k <= 4; ++k) {
        EXPECT_EQ(view->display(k)->text(), "2");
        EXPECT_EQ(checkedButton(view, k), 2);
    }

    click(view->editButton());
    ASSERT_TRUE(view->presetEditor()->isVisible());
    auto* allFrom = view->presetEditor()->findChild<QComboBox*>("presetAllFrom");
    ASSERT_NE(allFrom, nullptr);
    allFrom->setCurrentIndex(9);
    emit allFrom->activated(9);
    processGuiEvents();
    EXPECT_EQ(view->presetEditor()->findChild<QComboBox*>("presetInput3")->currentIndex(), 2);
    EXPECT_FALSE(saveScreenshot(*view->presetEditor(), "routing_preset_editor").isEmpty());
    click(view->presetEditor()->findChild<QPushButton*>("presetOk"));
    EXPECT_FALSE(view->presetEditor()->isVisible());
    EXPECT_EQ(view->presetList()->item(0, 3)->text(), "3");

    click(view->panelToggle());
    EXPECT_FALSE(view->sidePanel()->isVisible());
}

TEST(RoutingView, PanelWithoutThePagesPortAsksForIt)
{
    GuiRig gui;
    gui::RoutingView* view = openMatrixTab(gui, Transport::Tcp);
    ASSERT_NE(view, nullptr);
    click(view->panelToggle());
    click(view->setButton());
    ASSERT_TRUE(view->messageBox()->isVisible());
    EXPECT_EQ(view->messageBox()->text(), "请打开串口");
    view->messageBox()->button(QMessageBox::Ok)->click();
    processGuiEvents();
    EXPECT_FALSE(gui.session.routing.messageBoxOpen());
    EXPECT_FALSE(view->messageBox()->isVisible());
}

}  // namespace
