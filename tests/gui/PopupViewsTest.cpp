// SPDX-License-Identifier: Apache-2.0
#include "gui/app/PopupViews.h"

#include "tests/gui/GuiTestSupport.h"

#include <QKeyEvent>

#include <gtest/gtest.h>

using namespace matrix;
using namespace matrix::testing;

namespace {

// The alpha of the box's middle pixel as the popup paints it.
int centreAlpha(QWidget& popup)
{
    const QImage image = popup.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    return qAlpha(image.pixel(4, image.height() / 2));
}

// Centred to the pixel (odd sizes round down).
void expectCentredOn(const QRect& box, const QRect& on)
{
    EXPECT_NEAR(box.left() + box.width() / 2.0, on.left() + on.width() / 2.0, 1.0);
    EXPECT_NEAR(box.top() + box.height() / 2.0, on.top() + on.height() / 2.0, 1.0);
}

}  // namespace

TEST(PopupViews, noticeOpensCentredOnTheMainWindowAndClosesWithItsTimer)
{
    GuiRig gui;
    gui::NoticeView* view = gui.window->noticeView();
    ASSERT_FALSE(view->isVisible());

    Timer close(gui.session.platform.loop);
    PageNotice(gui.session.popups, close, gui.session.link.controlMode).show(1500, "Time out!");
    processGuiEvents();
    ASSERT_TRUE(view->isVisible());
    EXPECT_EQ(view->text(), "Time out!");
    EXPECT_EQ(view->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(view->windowFlags() & Qt::FramelessWindowHint);
    const QRect main = gui.window->geometry();
    expectCentredOn(view->geometry(), main);
    EXPECT_NEAR(centreAlpha(*view), 190, 1);
    const QString shot = saveScreenshot(*gui.window, "notice_time_out");
    EXPECT_FALSE(shot.isEmpty());

    // No key closes it; the core's timer does.
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(view, &escape);
    view->close();
    EXPECT_TRUE(view->isVisible());
    gui.advance(1490);
    EXPECT_TRUE(view->isVisible());
    gui.advance(20);
    EXPECT_FALSE(view->isVisible());
    EXPECT_FALSE(gui.session.popups.notice.held());
}

TEST(PopupViews, progressFollowsEveryRefreshAndKeepsItsPlace)
{
    GuiRig gui;
    gui::ProgressView* view = gui.window->progressView();
    gui.session.popups.progress.setText("Setting .    ");
    gui.session.popups.progress.open();
    processGuiEvents();
    ASSERT_TRUE(view->isVisible());
    EXPECT_EQ(view->text(), "Setting .    ");
    EXPECT_NEAR(centreAlpha(*view), 200, 1);
    const QPoint origin = gui.window->geometry().topLeft();
    const QRect placed = view->geometry().translated(-origin);
    EXPECT_EQ(placed.top(), gui::ProgressView::kTemplate.top());
    EXPECT_EQ(placed.left() + placed.width() / 2,
              gui::ProgressView::kTemplate.left() + gui::ProgressView::kTemplate.width() / 2);

    gui.session.popups.progress.setText("Setting . . .");
    gui.session.popups.progress.refresh();
    EXPECT_EQ(view->text(), "Setting . . .");
    // A long text widens the box around the same centre; nothing is clipped.
    gui.session.popups.progress.setText("Getting status . . .");
    gui.session.popups.progress.refresh();
    const QRect wide = view->geometry().translated(-origin);
    EXPECT_GE(wide.width(), view->fontMetrics().horizontalAdvance(view->text()) + 20);
    EXPECT_NEAR(wide.left() + wide.width() / 2, placed.left() + placed.width() / 2, 1);

    gui.session.popups.progress.close();
    EXPECT_FALSE(view->isVisible());
}

TEST(PopupViews, configStatusAnimatesThenTimesOutAndCloses)
{
    GuiRig gui;
    gui::ConfigStatusView* view = gui.window->configStatusView();
    gui.session.popups.configStatus.open();
    processGuiEvents();
    ASSERT_TRUE(view->isVisible());
    EXPECT_EQ(view->text(), "Configuring . . .");
    EXPECT_NEAR(centreAlpha(*view), 210, 1);
    expectCentredOn(view->geometry(), gui.window->geometry());
    gui.advance(500);
    EXPECT_EQ(view->text(), "Configuring . .  ");
    saveScreenshot(*gui.window, "config_status_configuring");
    gui.advance(9500);
    EXPECT_EQ(view->text(), "configure failed!");
    gui.advance(2000);
    EXPECT_FALSE(view->isVisible());
}
