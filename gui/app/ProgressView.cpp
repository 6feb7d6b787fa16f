// SPDX-License-Identifier: Apache-2.0
#include "gui/app/ProgressView.h"

#include "core/app/Popups.h"

namespace matrix::gui {

ProgressView::ProgressView(ProgressPopup& model, QWidget* mainWindow)
    : PopupView(mainWindow, {QSize(kWidthPx, kHeightPx), kAlpha, 3}), model_(model)
{
    setObjectName("progressView");
    subscription_ = model_.changed.subscribe([this] { sync(); });
    sync();
}

ProgressView::~ProgressView() { model_.changed.unsubscribe(subscription_); }

void ProgressView::sync()
{
    if (!model_.isOpen()) {
        hide();
        return;
    }
    setPopupText(QString::fromStdString(model_.text()));
    const QPoint origin = mainWindow()->geometry().topLeft();
    const int centreX = kLeftPx + kWidthPx / 2;
    showAt(origin + QPoint(centreX - width() / 2, kTopPx));
}

}  // namespace matrix::gui
