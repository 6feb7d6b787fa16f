// SPDX-License-Identifier: Apache-2.0
#include "gui/app/PopupViews.h"

#include "core/app/Popups.h"

namespace matrix::gui {

namespace {

QPoint centredOn(const QRect& main, const QSize& box)
{
    return {main.left() + (main.width() - box.width()) / 2, main.top() + (main.height() - box.height()) / 2};
}

QPoint atProgressSpot(const QRect& main, const QSize& box)
{
    const QRect spot = ProgressView::kTemplate;
    return main.topLeft() + QPoint(spot.left() + spot.width() / 2 - box.width() / 2, spot.top());
}

}  // namespace

ModelPopupView::ModelPopupView(PopupModel& model, QWidget* mainWindow, const Look& look, Placement placement)
    : PopupView(mainWindow, look),
      model_(model),
      placement_(placement)
{
    subscription_ = ChangeNotifier::Subscription(model_.changed, [this] { sync(); });
    sync();
}

void ModelPopupView::sync()
{
    if (!model_.isOpen()) {
        hide();
        return;
    }
    setPopupText(QString::fromStdString(model_.text()));
    showAt(placement_(mainWindow()->geometry(), size()));
}

// 133 x 50 dialog units.
NoticeView::NoticeView(NoticePopup& model, QWidget* mainWindow)
    : ModelPopupView(model, mainWindow, {QSize(266, 100), 190, 5}, centredOn)
{
    setObjectName("noticeView");
}

ProgressView::ProgressView(ProgressPopup& model, QWidget* mainWindow)
    : ModelPopupView(model, mainWindow, {kTemplate.size(), 200, 3}, atProgressSpot)
{
    setObjectName("progressView");
}

// 168 x 55 dialog units.
ConfigStatusView::ConfigStatusView(ConfigStatusPopup& model, QWidget* mainWindow)
    : ModelPopupView(model, mainWindow, {QSize(336, 110), 210, 5}, centredOn)
{
    setObjectName("configStatusView");
}

}  // namespace matrix::gui
