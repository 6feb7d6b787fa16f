// SPDX-License-Identifier: Apache-2.0
#include "gui/app/ConfigStatusView.h"

#include "core/app/Popups.h"

namespace matrix::gui {

ConfigStatusView::ConfigStatusView(ConfigStatusPopup& model, QWidget* mainWindow)
    : PopupView(mainWindow, {QSize(kWidthPx, kHeightPx), kAlpha, 5}), model_(model)
{
    setObjectName("configStatusView");
    subscription_ = model_.changed.subscribe([this] { sync(); });
    sync();
}

ConfigStatusView::~ConfigStatusView() { model_.changed.unsubscribe(subscription_); }

void ConfigStatusView::sync()
{
    if (!model_.isOpen()) {
        hide();
        return;
    }
    setPopupText(QString::fromStdString(model_.text()));
    const QRect main = mainWindow()->geometry();
    showAt(QPoint(main.left() + (main.width() - width()) / 2, main.top() + (main.height() - height()) / 2));
}

}  // namespace matrix::gui
