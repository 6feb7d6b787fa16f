// SPDX-License-Identifier: Apache-2.0
#include "gui/app/NoticeView.h"

#include "core/app/Popups.h"

namespace matrix::gui {

NoticeView::NoticeView(NoticePopup& model, QWidget* mainWindow)
    : PopupView(mainWindow, {QSize(kWidthPx, kHeightPx), kAlpha, 5}), model_(model)
{
    setObjectName("noticeView");
    subscription_ = model_.changed.subscribe([this] { sync(); });
    sync();
}

NoticeView::~NoticeView() { model_.changed.unsubscribe(subscription_); }

void NoticeView::sync()
{
    if (!model_.isOpen()) {
        hide();
        return;
    }
    setPopupText(QString::fromStdString(model_.text()));
    // Centred on the main window's client rectangle, in screen coordinates.
    const QRect client = mainWindow()->geometry();
    showAt(QPoint(client.left() + (client.width() - width()) / 2, client.top() + (client.height() - height()) / 2));
}

}  // namespace matrix::gui
