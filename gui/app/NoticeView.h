// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "gui/app/PopupView.h"

namespace matrix {
class NoticePopup;
}

namespace matrix::gui {

// The notice box: opens when its model opens, centred on the main window's
// client rectangle, and hides when the model's closing timer closes it.
class NoticeView : public PopupView {
    Q_OBJECT
public:
    static constexpr int kWidthPx = 266;   // 133 x 50 dialog units
    static constexpr int kHeightPx = 100;
    static constexpr int kAlpha = 190;

    NoticeView(NoticePopup& model, QWidget* mainWindow);
    ~NoticeView() override;

private:
    void sync();
    NoticePopup& model_;
    int subscription_;
};

}  // namespace matrix::gui
